#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <system_error>

#include "ext_interface_base.hpp"
#include "ext_interface_udp_client.hpp"

namespace VELKOR {

class HandleTcpClient;

// TCP client of the sensor's command channel. connect binds the local
// address, connects with a 3-second time-out and starts the receive thread,
// which hands every chunk of the byte stream to the receive callback without
// any framing. write sends on the caller's thread. When the sensor closes or
// resets the connection the receive thread ends, and from then on
// is_connected is false and write fails until the next connect.
class ExtInterface_TCP_client : public ExtInterfaceBase {
public:
    // The settings type is shared with the UDP transport, so the session can
    // hand one object to both connects. After a successful connect local_ip
    // and local_port hold the local endpoint actually in use.
    using IpSettings = ExtInterface_UDP_client::IpSettings;

    ExtInterface_TCP_client();
    ~ExtInterface_TCP_client() override;

    bool connect(PortBase& settings) override;
    void disconnect() override;
    // Sends all `length` bytes or reports failure (always, once the peer left).
    bool write(char* data, unsigned int length) override;

    bool is_running();
    bool is_connected();
    // For a client about to be given up while another thread is in connect:
    // that connect, and every later one, fails at once with connect_error()
    // "interrupted". A connection already made is left as it is. May be
    // called from any thread.
    void interrupt_connect();
    // Why the last connect failed, in a few lower-case words ("connection
    // refused", "connect timed out", the socket library's text otherwise);
    // empty after a successful one. Read on the thread that called connect.
    std::string connect_error() const { return connect_error_; }

private:
    void receive_thread_process() override;
    virtual void run_with_timeout(std::chrono::nanoseconds timeout);
    virtual void handle_connect(const std::error_code& error, unsigned char* result);

    // Ends the receive loop and joins it; the socket stays as it is.
    void stop_receiving();

    std::unique_ptr<HandleTcpClient> handler_;
    std::string connect_error_;
    std::atomic<bool> interrupted_{false};
};

}  // namespace VELKOR
