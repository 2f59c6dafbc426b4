#pragma once

#include <memory>
#include <string>

#include "ext_interface_base.hpp"

namespace VELKOR {

class HandleUdpClient;

// UDP socket of the sensor's measurement stream. connect binds the local
// address and starts the receive thread, which hands every datagram (from any
// sender) to the receive callback; write sends one datagram to the remote
// endpoint given at connect.
class ExtInterface_UDP_client : public ExtInterfaceBase {
public:
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

private:
    void receive_thread_process() override;

    std::unique_ptr<HandleUdpClient> handler_;
};

}  // namespace VELKOR
