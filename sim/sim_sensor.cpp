#include "sim_sensor.hpp"

#include "protocol/json_string_tracker.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "recording/row_datagram.hpp"
#include "sim_room.hpp"

namespace VELKOR {
namespace SIM {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxPendingCommand = 65536;  // unterminated text beyond this is dropped
constexpr std::size_t kAmbientEnd192 = 0x3B0;
constexpr std::size_t kAmbientEnd576 = 0x9B0;

uint32_t next_random(uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

bool chance(uint32_t& state, double rate)
{
    return rate > 0.0 && next_random(state) < rate * 4294967296.0;
}

uint16_t get_u16(const std::vector<uint8_t>& d, std::size_t at)
{
    return static_cast<uint16_t>(d[at] | (d[at + 1] << 8));
}

// Sets the error flag of one pixel block, found from the datagram's own fields.
void flag_block(std::vector<uint8_t>& d, uint32_t& rng)
{
    if (d.size() < kAmbientEnd192 + 136) {
        return;
    }
    const std::size_t blocks = get_u16(d, 0x46);
    const std::size_t start = (d[0xA5] == 1 ? kAmbientEnd576 : kAmbientEnd192) + 136;
    if (blocks == 0 || d.size() <= start) {
        return;
    }
    const std::size_t size = (d.size() - start) / blocks;
    if (size == 0) {
        return;
    }
    const std::size_t k = next_random(rng) % blocks;
    d[start + k * size + size - 1] = 1;
}

// Length of the first complete JSON value at the start of `text` (objects and
// arrays only), or 0 while it is incomplete.
std::size_t complete_value_length(const std::string& text)
{
    int depth = 0;
    TQZ::JsonStringTracker strings;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (strings.in_string(c)) {
            continue;
        }
        if (c == '{' || c == '[') {
            ++depth;
        } else if ((c == '}' || c == ']') && --depth == 0) {
            return i + 1;
        }
    }
    return 0;
}

}  // namespace

// The accepted command connection.
class SimSensor::Link : public SimLink {
public:
    explicit Link(int fd) : fd(fd) {}
    ~Link() override { ::close(fd); }

    bool send(const void* data, std::size_t length) override
    {
        const auto* bytes = static_cast<const char*>(data);
        while (length > 0) {
            const ssize_t n = ::send(fd, bytes, length, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            bytes += n;
            length -= static_cast<std::size_t>(n);
        }
        return true;
    }

    int fd;
    std::string pending;               // command text not yet complete
    std::unique_ptr<RawHandler> raw;   // set once the link has gone raw
};

SimSensor::SimSensor(SimOptions options)
    : options_(std::move(options)),
      reply_fault_(options_.reply_fault),
      loss_rate_(options_.loss_rate),
      settings_(options_.settings.is_null() ? default_settings() : options_.settings),
      saved_settings_(settings_)
{
}

SimSensor::~SimSensor() { stop(); }

nlohmann::json SimSensor::default_settings()
{
    return {
        {"PL_Reg",
         {{"walk_err_param", {-56548.832, 0.17180148, 56550.078, 0.17181453, 1258.0, 702.8}},
          {"frame_rate", 10}}},
        {"IP_Setting",
         {{"tq_ip", "192.168.1.10"},
          {"tq_port", 2000},
          {"pc_ip", "192.168.1.15"},
          {"pc_port", 2000},
          {"gateway", "192.168.1.1"},
          {"netmask", "255.255.255.0"}}},
        {"Device", {{"model", "TQ-Z"}, {"serial", "SIM-0001"}, {"firmware", "sim-1.0"}}},
    };
}

void SimSensor::set_datagram_source(std::shared_ptr<DatagramSource> source) { source_ = std::move(source); }

void SimSensor::set_raw_handler_factory(RawHandlerFactory factory) { raw_factory_ = std::move(factory); }

nlohmann::json SimSensor::settings() const
{
    std::lock_guard<std::mutex> lock(settings_mutex_);
    return settings_;
}

nlohmann::json SimSensor::saved_settings() const
{
    std::lock_guard<std::mutex> lock(settings_mutex_);
    return saved_settings_;
}

void SimSensor::set_settings(const nlohmann::json& settings)
{
    std::lock_guard<std::mutex> lock(settings_mutex_);
    settings_ = settings;
}

// Opens, binds and listens the command socket; port 0 lets the system choose.
bool SimSensor::listen_on(uint16_t port, std::string& error)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, options_.bind_ip.c_str(), &addr.sin_addr) != 1) {
        error = "not an IPv4 address: " + options_.bind_ip;
        return false;
    }
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_fd_, 4) != 0) {
        error = "cannot listen on " + options_.bind_ip + ":" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(listen_fd_);
        listen_fd_ = -1;
        return false;
    }
    socklen_t len = sizeof addr;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    return true;
}

bool SimSensor::start()
{
    if (active_) {
        return true;
    }
    if (!listen_on(static_cast<uint16_t>(options_.port), start_error_)) {
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    inet_pton(AF_INET, options_.bind_ip.c_str(), &addr.sin_addr);
    udp_fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    addr.sin_port = 0;
    ::bind(udp_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);

    if (!source_) {
        source_ = std::make_shared<SimRoom>(options_);
    }
    active_ = true;
    command_thread_ = std::thread(&SimSensor::command_loop, this);
    stream_thread_ = std::thread(&SimSensor::stream_loop, this);
    return true;
}

void SimSensor::stop()
{
    active_ = false;
    if (command_thread_.joinable()) {
        command_thread_.join();
    }
    if (stream_thread_.joinable()) {
        stream_thread_.join();
    }
    link_.reset();
    streaming_ = false;
    client_connected_ = false;
    if (listen_fd_ >= 0) {
        ::close(listen_fd_);
        listen_fd_ = -1;
    }
    if (udp_fd_ >= 0) {
        ::close(udp_fd_);
        udp_fd_ = -1;
    }
}

void SimSensor::drop_client()
{
    streaming_ = false;
    client_connected_ = false;
    link_.reset();
}

// One client at a time: a new connection replaces the old one, as a sensor
// that is re-connected after a host crash would.
void SimSensor::command_loop()
{
    std::vector<char> buffer(65536);
    while (active_) {
        if (restart_requested_.exchange(false)) {
            drop_client();
            ::close(listen_fd_);
            listen_fd_ = -1;
            // The port was ours a moment ago; a failed bind is retried on
            // the next request rather than ending the loop.
            std::string error;
            if (!listen_on(port_, error)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                restart_requested_ = true;
                continue;
            }
            ++restarts_done_;
        }
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {link_ ? link_->fd : -1, POLLIN, 0}};
        if (::poll(fds, 2, 50) <= 0) {
            continue;
        }
        if (fds[0].revents & POLLIN) {
            sockaddr_in peer{};
            socklen_t len = sizeof peer;
            const int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
            if (fd >= 0) {
                drop_client();
                const int on = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                link_ = std::make_unique<Link>(fd);
                client_addr_ = peer.sin_addr.s_addr;
                client_port_ = peer.sin_port;
                client_connected_ = true;
            }
            continue;  // the old descriptor in fds[1] may be gone
        }
        if (link_ && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::recv(link_->fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                drop_client();
            } else {
                serve_chunk(*link_, buffer.data(), static_cast<std::size_t>(n));
            }
        }
    }
}

void SimSensor::serve_chunk(Link& link, const char* data, std::size_t length)
{
    if (link.raw) {
        link.raw->on_bytes(link, reinterpret_cast<const uint8_t*>(data), length);
        return;
    }
    link.pending.append(data, length);
    while (!link.pending.empty() && !link.raw) {
        // Anything before a value's opening bracket is noise.
        const std::size_t start = link.pending.find_first_of("{[");
        if (start == std::string::npos) {
            link.pending.clear();
            break;
        }
        link.pending.erase(0, start);
        const std::size_t n = complete_value_length(link.pending);
        if (n == 0) {
            if (link.pending.size() > kMaxPendingCommand) {
                link.pending.clear();
            }
            break;
        }
        const nlohmann::json command = nlohmann::json::parse(link.pending.begin(), link.pending.begin() + n,
                                                             nullptr, false);
        link.pending.erase(0, n);
        handle_command(link, command);
    }
    // Bytes that followed the firmware request belong to the raw handler.
    if (link.raw && !link.pending.empty()) {
        const std::string rest = std::move(link.pending);
        link.pending.clear();
        link.raw->on_bytes(link, reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
    }
}

void SimSensor::handle_command(Link& link, const nlohmann::json& command)
{
    ++commands_received_;
    if (!command.is_object()) {
        reply(link, {{"result", false}, {"error", "not a JSON object"}});
        return;
    }
    const auto name = command.find("command");
    if (name != command.end() && name->is_string()) {
        const std::string& text = name->get_ref<const std::string&>();
        if (text == "run") {
            streaming_ = true;
        } else if (text == "stop") {
            streaming_ = false;
        } else if (text == "json_read") {
            reply(link, settings());
            return;
        } else if (text == "json_save") {
            std::lock_guard<std::mutex> lock(settings_mutex_);
            saved_settings_ = settings_;
        } else {
            reply(link, {{"command", text}, {"result", false}});
            return;
        }
        reply(link, {{"command", text}, {"result", true}});
        return;
    }
    const auto mode = command.find("system_mode");
    if (mode != command.end()) {
        if (!raw_factory_ || *mode != "firmware_upgrade") {
            reply(link, {{"firmware_upgrade", false}});
            return;
        }
        streaming_ = false;
        link.raw = raw_factory_();
        const std::string answer = link.raw ? link.raw->json_answer() : std::string();
        if (!answer.empty()) {
            link.send(answer.data(), answer.size());
        }
        return;
    }
    // Any other object is a settings change, "IP_Setting" included: merged
    // into the live document (json_save makes it permanent).
    {
        std::lock_guard<std::mutex> lock(settings_mutex_);
        settings_.merge_patch(command);
    }
    reply(link, {{"command", "json_write"}, {"result", true}});
}

void SimSensor::reply(Link& link, const nlohmann::json& value)
{
    const std::string text = value.dump();
    switch (reply_fault_.load()) {
    case ReplyFault::none:
        link.send(text.data(), text.size());
        break;
    case ReplyFault::no_reply:
        break;
    case ReplyFault::invalid_json: {
        const std::string bad = "{\"result\":tru" + text.substr(0, text.size() / 2);
        link.send(bad.data(), bad.size());
        break;
    }
    case ReplyFault::split: {
        const std::size_t half = text.size() / 2;
        link.send(text.data(), half);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        link.send(text.data() + half, text.size() - half);
        break;
    }
    case ReplyFault::doubled: {
        const std::string twice = text + text;
        link.send(twice.data(), twice.size());
        break;
    }
    }
}

void SimSensor::stream_loop()
{
    uint32_t rng = options_.seed * 2654435761u + 12345u;
    if (rng == 0) {
        rng = 1;
    }
    std::vector<std::vector<uint8_t>> datagrams;
    std::vector<int64_t> times_us;
    const double fps = options_.fps > 0.0 ? options_.fps : 10.0;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps));
    auto frame_start = Clock::now();
    while (active_) {
        if (!streaming_ || !client_connected_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            frame_start = Clock::now();
            timed_resync_ = true;
            continue;
        }
        if (!source_->next_timed_frame(datagrams, times_us)) {
            streaming_ = false;
            continue;
        }
        if (!times_us.empty() && times_us.size() == datagrams.size()) {
            if (send_timed_frame(datagrams, times_us, rng)) {
                ++frames_intact_;
            }
            ++frames_sent_;
            continue;
        }
        // Rows go out spread over the frame period, as a scanning sensor
        // sends them, rather than in one burst.
        const std::size_t count = datagrams.size();
        bool intact = count > 0;
        std::size_t i = 0;
        for (; i < count && streaming_ && active_; ++i) {
            if (i % 4 == 0) {
                std::this_thread::sleep_until(frame_start + period * static_cast<long>(i) / static_cast<long>(count));
            }
            if (i + 1 < count && chance(rng, options_.reorder_rate)) {
                std::swap(datagrams[i], datagrams[i + 1]);
                intact = false;
            }
            intact = send_datagram(datagrams[i], rng) && intact;
        }
        if (intact && i == count) {
            ++frames_intact_;
        }
        ++frames_sent_;
        frame_start += period;
        const auto now = Clock::now();
        if (frame_start < now - period) {
            frame_start = now;  // fell behind: do not try to catch up in a burst
        }
        std::this_thread::sleep_until(frame_start);
    }
}

// Sends each datagram at its own time. Falling further behind than kMaxLag
// (a slow machine, a high replay speed) moves the epoch instead of sending
// the backlog in one burst.
bool SimSensor::send_timed_frame(std::vector<std::vector<uint8_t>>& datagrams, const std::vector<int64_t>& times_us,
                                 uint32_t& rng)
{
    bool intact = !datagrams.empty();
    constexpr auto kMaxLag = std::chrono::milliseconds(100);
    constexpr auto kLongestSleep = std::chrono::milliseconds(20);  // stop and shutdown stay prompt
    const std::size_t count = datagrams.size();
    std::size_t i = 0;
    for (; i < count && streaming_ && active_; ++i) {
        const auto offset = std::chrono::microseconds(times_us[i]);
        auto now = Clock::now();
        if (timed_resync_ || now > timed_epoch_ + offset + kMaxLag) {
            timed_epoch_ = now - offset;
            timed_resync_ = false;
        }
        const auto due = timed_epoch_ + offset;
        while (now < due && streaming_ && active_) {
            std::this_thread::sleep_for(std::min<Clock::duration>(due - now, kLongestSleep));
            now = Clock::now();
        }
        if (!streaming_ || !active_) {
            return false;
        }
        if (i + 1 < count && chance(rng, options_.reorder_rate)) {
            std::swap(datagrams[i], datagrams[i + 1]);
            intact = false;
        }
        intact = send_datagram(datagrams[i], rng) && intact;
    }
    return intact && i == count;
}

bool SimSensor::send_datagram(std::vector<uint8_t>& datagram, uint32_t& rng)
{
    if (chance(rng, loss_rate_.load())) {
        return false;
    }
    bool unchanged = true;
    std::vector<uint8_t> garbage;
    const std::vector<uint8_t>* out = &datagram;
    if (chance(rng, options_.garbage_rate)) {
        garbage.resize(next_random(rng) % 3000 + 1);
        for (auto& b : garbage) {
            b = static_cast<uint8_t>(next_random(rng));
        }
        out = &garbage;
        unchanged = false;
    } else if (datagram.size() > 0xB0) {
        if (options_.slots_field != 56) {
            datagram[0xA0] = static_cast<uint8_t>(options_.slots_field & 0xFF);
            datagram[0xA1] = static_cast<uint8_t>(options_.slots_field >> 8);
            unchanged = false;
        }
        if (chance(rng, options_.crc_rate)) {
            datagram[0xAF] = 1;
            unchanged = false;
        }
        if (chance(rng, options_.block_crc_rate)) {
            flag_block(datagram, rng);
            unchanged = false;
        }
    }
    const RowDatagram row(out->data(), out->size());
    if (row.ends_frame()) {
        const uint32_t sequence = static_cast<uint32_t>((*out)[0] | ((*out)[1] << 8) | ((*out)[2] << 16)) |
                                  (static_cast<uint32_t>((*out)[3]) << 24);
        const auto since_epoch = Clock::now().time_since_epoch();
        frame_end_sent_ns_[sequence % kSentStamps].store(
            std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count(), std::memory_order_release);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = client_addr_;
    to.sin_port = client_port_;
    if (::sendto(udp_fd_, out->data(), out->size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) {
        ++datagrams_sent_;
        return unchanged;
    }
    return false;
}

}  // namespace SIM
}  // namespace VELKOR
