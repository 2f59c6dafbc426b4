#include "transport/ext_interface_udp_client.hpp"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <system_error>

#include "transport/handler_base.hpp"
#include "util/log_sink.hpp"

namespace VELKOR {

namespace {

// Datagrams taken from the socket per system call at most. Rows come one by
// one while the receive thread keeps up; a backlog left by a thread that was
// descheduled for a while is then taken in batches.
constexpr unsigned kBatch = 8;
// Longest a blocked receive waits before it looks at the running flag again.
// disconnect wakes it at once (shutdown); this only bounds the wait should
// that wake-up ever be missed.
constexpr long kReceiveTimeoutMs = 200;

}  // namespace

class HandleUdpClient : public HandlerBase {
public:
    // Every slot holds the largest UDP payload; the handler's own buffer is
    // the first slot.
    HandleUdpClient() : HandlerBase(kBatch * kSlotBytes), socket(io)
    {
        for (unsigned k = 0; k < kBatch; ++k) {
            slots[k].iov_base = buffer.get() + k * kSlotBytes;
            slots[k].iov_len = kSlotBytes;
        }
    }

    static constexpr std::size_t kSlotBytes = 65536;

    asio::ip::udp::socket socket;
    asio::ip::udp::endpoint remote;
    iovec slots[kBatch] = {};
    mmsghdr messages[kBatch] = {};
    // With a sink: each message goes to a lent buffer first, and the rest of
    // a longer datagram to the slot's own memory.
    ExtInterface_UDP_client::DatagramSink* sink = nullptr;
    iovec sink_parts[kBatch][2] = {};
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
        // The receive thread blocks in the kernel until datagrams come (no
        // I/O context runs per datagram); the time-out only bounds how long
        // it goes without looking at the running flag.
        timeval wait{};
        wait.tv_sec = kReceiveTimeoutMs / 1000;
        wait.tv_usec = (kReceiveTimeoutMs % 1000) * 1000;
        if (::setsockopt(h.socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) {
            throw std::system_error(errno, std::generic_category(), "SO_RCVTIMEO");
        }
        start_thread();
        return true;
    } catch (const std::exception& e) {
        VELKOR::LogLine(VELKOR::log_level::warning, VELKOR::log_stream::out) << "Receiving socket error :: " << e.what();
        return false;
    }
}

void ExtInterface_UDP_client::disconnect()
{
    auto& h = *handler_;
    h.running = false;
    if (h.socket.is_open()) {
        // Wakes a receive blocked on this socket at once (it returns no
        // datagram); on an unbound UDP socket Linux reports ENOTCONN but
        // still shuts the receiving side, which is all that is wanted here.
        ::shutdown(h.socket.native_handle(), SHUT_RD);
    }
    stop_thread();
    std::error_code ignored;
    if (h.socket.is_open()) {
        h.socket.close(ignored);
    }
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

void ExtInterface_UDP_client::set_datagram_sink(DatagramSink* sink) { handler_->sink = sink; }

bool ExtInterface_UDP_client::is_connected() { return handler_->socket.is_open(); }

namespace {

// A buffer of `bytes` left uninitialised: it is received or copied into.
std::unique_ptr<uint8_t[]> raw_buffer(std::size_t bytes) { return std::unique_ptr<uint8_t[]>(new uint8_t[bytes]); }

}  // namespace

void ExtInterface_UDP_client::receive_thread_process()
{
    auto& h = *handler_;
    const int fd = h.socket.native_handle();
    // Read once: the sink is set before connect and stays for this thread.
    DatagramSink* const sink = h.sink;
    std::unique_ptr<uint8_t[]> lent[kBatch];
    while (h.running) {
        for (unsigned k = 0; k < kBatch; ++k) {
            h.messages[k].msg_hdr = msghdr{};
            h.messages[k].msg_len = 0;
            if (sink == nullptr) {
                h.messages[k].msg_hdr.msg_iov = &h.slots[k];
                h.messages[k].msg_hdr.msg_iovlen = 1;
                continue;
            }
            if (!lent[k]) {
                lent[k] = sink->lend_buffer();
                if (!lent[k]) {
                    lent[k] = raw_buffer(kSinkBufferBytes);
                }
            }
            h.sink_parts[k][0] = {lent[k].get(), kSinkBufferBytes};
            h.sink_parts[k][1] = {h.slots[k].iov_base, HandleUdpClient::kSlotBytes - kSinkBufferBytes};
            h.messages[k].msg_hdr.msg_iov = h.sink_parts[k];
            h.messages[k].msg_hdr.msg_iovlen = 2;
        }
        // Blocks for the first datagram, then takes what else is queued.
        const int count = ::recvmmsg(fd, h.messages, kBatch, MSG_WAITFORONE, nullptr);
        if (count < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && h.running) {
                receive_error_backoff();
            }
            continue;
        }
        for (int k = 0; k < count && h.running; ++k) {
            const std::size_t length = h.messages[k].msg_len;
            if (length == 0) {
                continue;
            }
            if (sink == nullptr) {
                received(static_cast<char*>(h.slots[k].iov_base), static_cast<unsigned int>(length));
            } else if (length <= kSinkBufferBytes) {
                sink->deliver({std::move(lent[k]), length});
            } else {
                // Longer than a lent buffer: joined into one of its own.
                std::unique_ptr<uint8_t[]> whole = raw_buffer(length);
                std::memcpy(whole.get(), lent[k].get(), kSinkBufferBytes);
                std::memcpy(whole.get() + kSinkBufferBytes, h.slots[k].iov_base, length - kSinkBufferBytes);
                sink->deliver({std::move(whole), length});
            }
        }
    }
    VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "VELKOR::ExtInterface_UDP_client::receive_thread_process :: Done.";
}

}  // namespace VELKOR
