#include "session/device_session.hpp"

#include <chrono>
#include <iostream>

#include "processing/processing_chain.hpp"
#include "protocol/json_error_report.hpp"
#include "recording/logger.hpp"
#include "recording/row_datagram.hpp"
#include "transport/ext_interface_tcp_client.hpp"
#include "transport/ext_interface_udp_client.hpp"
#include "util/log_sink.hpp"

namespace TQZ {

namespace {
const char kRunCommand[] = "{\"command\":\"run\"}";
const char kStopCommand[] = "{\"command\":\"stop\"}";
}  // namespace

DeviceSession::DeviceSession()
    : udp(std::make_shared<VELKOR::ExtInterface_UDP_client>()),
      tcp(std::make_shared<VELKOR::ExtInterface_TCP_client>()),
      command_frame(std::make_unique<VELKOR::_TCP_PROTOCOL_T>())
{
    *command_frame = VELKOR::_TCP_PROTOCOL_T{};
}

// Callers normally stop and disconnect first; whatever still runs is ended
// here, before the queues and buffers it uses go away.
DeviceSession::~DeviceSession()
{
    running = false;
    packet_queue.wake();
    if (stream_worker && stream_worker->joinable()) {
        stream_worker->join();
    }
    // The upload thread writes on the TCP link: it ends before the link does.
    end_upload();
    tcp->disconnect();
    udp->disconnect();
}

bool DeviceSession::connect(const VELKOR::IP_ADDRESS_T& sensor, const VELKOR::IP_ADDRESS_T& local)
{
    // One settings object for both links: the TCP connect writes its local
    // endpoint back, so UDP binds the very address and port TCP uses.
    VELKOR::ExtInterface_TCP_client::IpSettings settings(local.ip, local.port, sensor.ip, sensor.port, 1000);

    reset_stats();
    tcp->registRecvCallback(&DeviceSession::tcp_receive_callback, this);
    if (!tcp->connect(settings)) {
        set_error(tcp->connect_error());
        return false;
    }
    udp->registRecvCallback(&DeviceSession::udp_receive_callback, this);
    if (!udp->connect(settings)) {
        set_error("cannot open the UDP socket on " + settings.local_ip);
        return false;
    }
    if (!json_read_from_memory()) {
        return false;
    }

    // The sensor answers the settings request within moments; one that never
    // does must not hold connect forever.
    nlohmann::json reply;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(reply_timeout_s);
    bool answered = false;
    while (!answered) {
        const auto now = std::chrono::steady_clock::now();
        answered = now < deadline && setting_replies.pop_for(reply, deadline - now);
        if (!answered) {
            set_error("no reply to json_read within " + std::to_string(reply_timeout_s) + " s");
            VELKOR::LogLine(VELKOR::log_level::error, VELKOR::log_stream::err) << "settings reply timed out";
            return false;
        }
    }

    // The coefficients are this sensor's own and go to this session's chain
    // only. A settings document whose walk-error coefficients are unusable
    // leaves the module a pass-through: the link itself is up, so connect
    // still succeeds.
    try {
        if (!chain.load_walk_error_parameters(reply)) {
            VELKOR::LogLine(VELKOR::log_level::error, VELKOR::log_stream::err) << "walk_err_param ignored";
        }
    } catch (const nlohmann::json::exception& error) {
        report_json_error(error);
    }
    return true;
}

void DeviceSession::disconnect()
{
    // An upload cannot outlive its link, and must not use it while it closes.
    end_upload();
    tcp->disconnect();
    udp->disconnect();
}

bool DeviceSession::run()
{
    reply_route = 0;
    frame_queue.clear();
    packet_queue.clear();
    running = true;
    if (!stream_worker) {
        stream_worker = std::make_unique<std::thread>(&DeviceSession::stream_worker_process, this);
    }
    if (!tcp->is_connected()) {
        set_error("not connected");
        return false;
    }
    std::string bytes(kRunCommand);
    const bool ok = tcp->write(bytes.data(), static_cast<unsigned int>(bytes.size()));
    if (ok) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return ok;
}

bool DeviceSession::stop()
{
    reply_route = 0;
    bool ok = false;
    if (tcp->is_connected()) {
        std::string bytes(kStopCommand);
        ok = tcp->write(bytes.data(), static_cast<unsigned int>(bytes.size()));
        if (ok) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    } else {
        set_error("not connected");
    }
    frame_queue.clear();
    packet_queue.clear();
    running = false;
    packet_queue.wake();
    if (stream_worker) {
        stream_worker->join();
        stream_worker.reset();
    }
    return ok;
}

// TCP receive thread: one chunk is one reply.
void DeviceSession::tcp_receive_callback(void* user, char* data, unsigned int length)
{
    auto* self = static_cast<DeviceSession*>(user);
    if (!self->json_mode) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(data);
        self->raw_replies.push(ByteVector(bytes, bytes + length));
        return;
    }
    try {
        nlohmann::json reply = nlohmann::json::parse(data, data + length);
        if (self->reply_route == 1) {
            self->setting_replies.push(std::move(reply));
            self->reply_route = 0;
        } else {
            self->general_replies.push(std::move(reply));
        }
    } catch (const nlohmann::json::exception& error) {
        report_json_error(error);
    }
}

// UDP receive thread: every datagram goes to the stream worker and, while a
// recorder exists, to the recorder.
void DeviceSession::udp_receive_callback(void* user, char* data, unsigned int length)
{
    auto* self = static_cast<DeviceSession*>(user);
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);
    // A row before its frame's last gives the worker nothing to publish:
    // it is queued without waking the worker, which then takes a few rows
    // per wake-up instead of one. The frame's last row, anything that is no
    // row, and a backlog of kRowsPerWake rows wake it.
    constexpr std::size_t kRowsPerWake = 8;
    const VELKOR::RowDatagram row(bytes, length);
    const std::size_t wake_depth = row.is_row() && !row.ends_frame() ? kRowsPerWake : 1;
    std::size_t depth = 0;
    self->packet_queue.push_batched(ByteVector(bytes, bytes + length), wake_depth, depth);
    self->datagrams_received.fetch_add(1, std::memory_order_relaxed);
    if (depth > self->deepest_packet_queue.load(std::memory_order_relaxed)) {
        self->deepest_packet_queue.store(depth, std::memory_order_relaxed);
    }
    // The caller's thread may replace the recorder while datagrams arrive.
    const std::shared_ptr<VELKOR::Logger> recorder = std::atomic_load(&self->recorder);
    if (recorder) {
        recorder->write(bytes, static_cast<unsigned long long>(length));
    }
}

std::string DeviceSession::last_error() const
{
    std::lock_guard<std::mutex> lock(error_mutex_);
    return last_error_;
}

void DeviceSession::set_error(const std::string& text)
{
    std::lock_guard<std::mutex> lock(error_mutex_);
    last_error_ = text;
}

VELKOR::SESSION_STATS_T DeviceSession::stats() const
{
    VELKOR::SESSION_STATS_T out;
    out.datagrams_received = datagrams_received.load();
    out.emb_crc_errors = flag_counts.emb_crc_errors.load();
    out.act_crc_errors = flag_counts.act_crc_errors.load();
    out.slot_losses = slot_losses.load();
    out.frames_published = frames_published.load();
    out.frames_dropped = frames_dropped.load();
    out.deepest_packet_queue = deepest_packet_queue.load();
    return out;
}

void DeviceSession::reset_stats()
{
    datagrams_received = 0;
    flag_counts.emb_crc_errors = 0;
    flag_counts.act_crc_errors = 0;
    slot_losses = 0;
    frames_published = 0;
    frames_dropped = 0;
    deepest_packet_queue = 0;
}

}  // namespace TQZ
