#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ext_interface_base.hpp"

namespace VELKOR {

class HandleUdpClient;

// UDP socket of the sensor's measurement stream. connect binds the local
// address and starts the receive thread, which hands every datagram (from any
// sender) to the receive callback - or, with a datagram sink, hands the sink
// buffers that the datagrams were received into; write sends one datagram to
// the remote endpoint given at connect.
class ExtInterface_UDP_client : public ExtInterfaceBase {
public:
    // Size of the buffers a sink lends: a datagram that fits is received
    // straight into one and handed over with it, no copy made; a longer one
    // (up to the largest UDP payload) comes in a buffer of its own length.
    static constexpr std::size_t kSinkBufferBytes = 16384;

    // One datagram and the buffer that holds it: bytes[0, length).
    struct OwnedDatagram {
        std::unique_ptr<uint8_t[]> bytes;
        std::size_t length = 0;
    };

    // Takes the datagrams with their buffers instead of the receive
    // callback. Both calls run on the receive thread.
    class DatagramSink {
    public:
        virtual ~DatagramSink() = default;
        // A buffer of kSinkBufferBytes to receive into (the sink's spare
        // one, or a new one).
        virtual std::unique_ptr<uint8_t[]> lend_buffer() = 0;
        // Every datagram, whole and in the order received; it is the sink's.
        virtual void deliver(OwnedDatagram datagram) = 0;
    };

    class IpSettings : public PortBase {
    public:
        IpSettings() = default;
        IpSettings(std::string local_ip, int local_port, std::string remote_ip, int remote_port,
                   int reserved)
            : local_ip(std::move(local_ip)),
              local_port(local_port),
              remote_ip(std::move(remote_ip)),
              remote_port(remote_port),
              reserved(reserved)
        {
        }

        std::string local_ip;   // IPv4 literal to bind
        int local_port = 0;     // low 16 bits used; 0 = ephemeral
        std::string remote_ip;  // IPv4 literal every write goes to
        int remote_port = 0;
        int reserved = 0;       // carried, never read
    };

    ExtInterface_UDP_client();
    ~ExtInterface_UDP_client() override;

    bool connect(PortBase& settings) override;
    void disconnect() override;
    bool write(char* data, unsigned int length) override;

    bool is_running();
    bool is_connected();

    // Datagrams go to `sink` (null: to the receive callback) from the next
    // connect on. Set it before connect; the sink must outlive the receive
    // thread (disconnect or destruction ends it).
    void set_datagram_sink(DatagramSink* sink);

private:
    void receive_thread_process() override;

    std::unique_ptr<HandleUdpClient> handler_;
};

}  // namespace VELKOR
