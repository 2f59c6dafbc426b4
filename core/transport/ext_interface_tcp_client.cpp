#include "transport/ext_interface_tcp_client.hpp"

#include <iostream>

#include "transport/handler_base.hpp"
#include "util/log_sink.hpp"

namespace VELKOR {

class HandleTcpClient : public HandlerBase {
public:
    HandleTcpClient() : HandlerBase(65536), socket(io) {}

    asio::ip::tcp::socket socket;
    // Set by the receive thread when the peer closed or reset the connection;
    // cleared by connect. Nothing is sent on a connection the peer has left.
    std::atomic<bool> peer_lost{false};
};

namespace {
constexpr std::chrono::nanoseconds kConnectTimeout{3000000000LL};

// Result codes that handle_connect leaves for connect.
constexpr unsigned char kConnected = 0;
constexpr unsigned char kTimedOut = 1;
constexpr unsigned char kConnectFailed = 2;
}  // namespace

ExtInterface_TCP_client::ExtInterface_TCP_client() : handler_(std::make_unique<HandleTcpClient>()) {}

ExtInterface_TCP_client::~ExtInterface_TCP_client() { disconnect(); }

bool ExtInterface_TCP_client::connect(PortBase& settings)
{
    auto& ip = static_cast<IpSettings&>(settings);
    auto& h = *handler_;
    if (interrupted_) {
        connect_error_ = "interrupted";
        return false;
    }
    // A second connect while connected: the old receive loop must be gone
    // before this thread runs the I/O context and replaces the socket.
    if (h.running) {
        stop_receiving();
    }
    // A receive loop that ended on its own (the peer went away) left its
    // finished thread behind; it must be joined before a new one starts.
    stop_thread();
    h.peer_lost = false;
    connect_error_ = "connect failed";
    try {
        if (h.socket.is_open()) {
            h.socket.close();
        }
        h.socket.open(asio::ip::tcp::v4());
        if (!h.socket.is_open()) {
            VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Socket open error!";
            return false;
        }
        h.socket.set_option(asio::socket_base::reuse_address(true));
        const auto local_address = asio::ip::make_address(ip.local_ip).to_v4();
        h.socket.bind(asio::ip::tcp::endpoint(local_address, static_cast<uint16_t>(ip.local_port & 0xFFFF)));

        // The socket is IPv4, so only IPv4 entries of the resolver are of use.
        asio::ip::tcp::resolver resolver(h.io);
        const auto entries =
            resolver.resolve(asio::ip::tcp::v4(), ip.remote_ip, std::to_string(ip.remote_port));
        if (entries.empty()) {
            VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Receiving socket error :: resolve: no IPv4 address for " << ip.remote_ip;
            return false;
        }

        unsigned char code = kConnectFailed;
        h.socket.async_connect(entries.begin()->endpoint(),
                               [this, &code](const std::error_code& error) { handle_connect(error, &code); });
        run_with_timeout(kConnectTimeout);
        if (interrupted_) {
            // Also a connect that completed just as the interrupt came.
            std::error_code ignored;
            h.socket.close(ignored);
            connect_error_ = "interrupted";
            return false;
        }
        if (code != kConnected) {
            return false;
        }

        const auto local = h.socket.local_endpoint();
        connect_error_.clear();
        h.running = true;
        start_thread();
        VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "TCP: " << local;
        ip.local_ip = local.address().to_string();
        ip.local_port = local.port();
        return true;
    } catch (const std::exception& e) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Receiving socket error :: " << e.what();
        connect_error_ = e.what();
        return false;
    }
}

void ExtInterface_TCP_client::run_with_timeout(std::chrono::nanoseconds timeout)
{
    auto& h = *handler_;
    h.io.restart();
    h.io.run_for(timeout);
    if (h.io.stopped()) {
        return;  // the connect completed in time
    }
    // Closing cancels the pending connect; its completion then sees the
    // socket closed and reports the time-out.
    h.socket.close();
    h.io.run();
}

// The socket is closed on the connect's own thread, by a handler the I/O
// context runs there; a receive loop that runs the context instead (the
// connect made it in time) finds the client running and leaves its socket be.
void ExtInterface_TCP_client::interrupt_connect()
{
    interrupted_ = true;
    auto& h = *handler_;
    asio::post(h.io, [&h] {
        if (!h.running) {
            std::error_code ignored;
            h.socket.close(ignored);
        }
    });
}

void ExtInterface_TCP_client::handle_connect(const std::error_code& error, unsigned char* result)
{
    if (interrupted_) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Connect interrupted";
        *result = kConnectFailed;
    } else if (!handler_->socket.is_open()) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Connect timed out";
        connect_error_ = "connect timed out";
        *result = kTimedOut;
    } else if (error) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Connect error: " << error.message();
        connect_error_ = error == asio::error::connection_refused ? "connection refused" : error.message();
        *result = kConnectFailed;
    } else {
        VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "Connected!";
        *result = kConnected;
    }
}

void ExtInterface_TCP_client::stop_receiving()
{
    auto& h = *handler_;
    h.running = false;
    asio::post(h.io, [&h] {
        std::error_code ignored;
        h.socket.cancel(ignored);
    });
    stop_thread();
    h.io.restart();
    h.io.poll();
    h.io.restart();
}

void ExtInterface_TCP_client::disconnect()
{
    stop_receive_loop(*handler_, handler_->socket, [this] { stop_thread(); });
}

bool ExtInterface_TCP_client::write(char* data, unsigned int length)
{
    auto& h = *handler_;
    if (h.peer_lost) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Sending socket error :: send: connection closed by the sensor";
        return false;
    }
    try {
        std::error_code error;
        // asio::write continues partial sends until every byte is out or the
        // socket fails, so success always means the whole message went.
        const std::size_t sent = asio::write(h.socket, asio::buffer(data, length), error);
        if (error) {
            VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Sending socket error :: send: " << error.message();
            return false;
        }
        if (sent == 0) {
            VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Sending socket error :: " << std::error_code().message();
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Sending socket error :: " << e.what();
        return false;
    }
}

bool ExtInterface_TCP_client::is_running() { return handler_->running; }

bool ExtInterface_TCP_client::is_connected() { return handler_->socket.is_open() && !handler_->peer_lost; }

void ExtInterface_TCP_client::receive_thread_process()
{
    auto& h = *handler_;
    // End of stream or a reset: the sensor is gone. The loop ends rather than
    // retrying a receive that can only fail again; disconnect still closes.
    run_receive_loop(
        h, h.socket, [this](char* data, unsigned int length) { received(data, length); },
        [&h](const std::error_code& error) {
            if (error == asio::error::eof || error == asio::error::connection_reset ||
                error == asio::error::connection_aborted || error == asio::error::broken_pipe ||
                error == asio::error::not_connected) {
                h.peer_lost = true;
                VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "TCP: connection closed by the sensor";
                return true;
            }
            return false;
        });
    VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "VELKOR::ExtInterface_TCP_client::receive_thread_process :: Done.";
}

}  // namespace VELKOR
