#include "transport/ext_interface_udp_client.hpp"

#include <iostream>

#include "transport/handler_base.hpp"
#include "util/log_sink.hpp"

namespace VELKOR {

class HandleUdpClient : public HandlerBase {
public:
    HandleUdpClient() : HandlerBase(65536), socket(io) {}

    asio::ip::udp::socket socket;
    asio::ip::udp::endpoint remote;
};

namespace {
// Dotted IPv4 text to an address; IPv6 raises "bad address cast", anything
// else that is no address the invalid-argument error.
asio::ip::address_v4 parse_ipv4(const std::string& text)
{
    return asio::ip::make_address(text).to_v4();
}
}  // namespace

ExtInterface_UDP_client::ExtInterface_UDP_client() : handler_(std::make_unique<HandleUdpClient>()) {}

ExtInterface_UDP_client::~ExtInterface_UDP_client() { disconnect(); }

bool ExtInterface_UDP_client::connect(PortBase& settings)
{
    auto& ip = static_cast<IpSettings&>(settings);
    auto& h = *handler_;
    try {
        h.remote = asio::ip::udp::endpoint(parse_ipv4(ip.remote_ip),
                                           static_cast<uint16_t>(ip.remote_port & 0xFFFF));
        const asio::ip::udp::endpoint local(parse_ipv4(ip.local_ip),
                                            static_cast<uint16_t>(ip.local_port & 0xFFFF));
        h.running = true;
        h.socket.open(asio::ip::udp::v4());
        h.socket.set_option(asio::socket_base::reuse_address(true));
        // Room for several frames of rows in the socket's queue, so that a
        // receive thread descheduled for a few milliseconds on a busy machine
        // loses no datagram (the default holds about 20 rows, 4 ms at
        // 100 fps). The kernel caps the size at its own limit.
        asio::error_code ignored;
        h.socket.set_option(asio::socket_base::receive_buffer_size(8 << 20), ignored);
        h.socket.bind(local);
        if (!h.socket.is_open()) {
            return false;
        }
        // The first asynchronous receive would switch the socket to
        // non-blocking mode on the receive thread, writing state that a
        // concurrent write on the caller's thread reads. Switch it here,
        // before that thread exists; writes still wait for the socket.
        h.socket.native_non_blocking(true);
        start_thread();
        return true;
    } catch (const std::exception& e) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Receiving socket error :: " << e.what();
        return false;
    }
}

void ExtInterface_UDP_client::disconnect()
{
    stop_receive_loop(*handler_, handler_->socket, [this] { stop_thread(); });
}

bool ExtInterface_UDP_client::write(char* data, unsigned int length)
{
    auto& h = *handler_;
    try {
        std::error_code error;
        const std::size_t sent = h.socket.send_to(asio::buffer(data, length), h.remote, 0, error);
        if (!error && sent > 0) {
            return true;
        }
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Sending socket error :: " << error.message();
        return false;
    } catch (const std::exception& e) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Sending socket error :: " << e.what();
        return false;
    }
}

bool ExtInterface_UDP_client::is_running() { return handler_->running; }

bool ExtInterface_UDP_client::is_connected() { return handler_->socket.is_open(); }

void ExtInterface_UDP_client::receive_thread_process()
{
    run_receive_loop(*handler_, handler_->socket,
                     [this](char* data, unsigned int length) { received(data, length); });
    VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "VELKOR::ExtInterface_UDP_client::receive_thread_process :: Done.";
}

}  // namespace VELKOR
