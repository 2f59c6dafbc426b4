#include "session/device_session.hpp"

#include <chrono>
#include <iostream>

#include "processing/processing_chain.hpp"
#include "protocol/json_error_report.hpp"
#include "recording/logger.hpp"
#include "transport/ext_interface_tcp_client.hpp"
#include "transport/ext_interface_udp_client.hpp"

namespace TQZ {

namespace {
const char kRunCommand[] = "{\"command\":\"run\"}";
const char kStopCommand[] = "{\"command\":\"stop\"}";
constexpr auto kSettingsPoll = std::chrono::milliseconds(100);
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

    tcp->registRecvCallback(&DeviceSession::tcp_receive_callback, this);
    if (!tcp->connect(settings)) {
        return false;
    }
    udp->registRecvCallback(&DeviceSession::udp_receive_callback, this);
    if (!udp->connect(settings)) {
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
        std::this_thread::sleep_for(kSettingsPoll);
        while (!setting_replies.empty() && !answered) {
            answered = get_setting(reply);
        }
        if (!answered && std::chrono::steady_clock::now() >= deadline) {
            std::cerr << "settings reply timed out" << std::endl;
            return false;
        }
    }

    // The coefficients are this sensor's own and go to this session's chain
    // only. A settings document whose walk-error coefficients are unusable
    // leaves the module a pass-through: the link itself is up, so connect
    // still succeeds.
    try {
        if (!chain.load_walk_error_parameters(reply)) {
            std::cerr << "walk_err_param ignored" << std::endl;
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
    }
    frame_queue.clear();
    packet_queue.clear();
    running = false;
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
    self->packet_queue.push(ByteVector(bytes, bytes + length));
    // The caller's thread may replace the recorder while datagrams arrive.
    const std::shared_ptr<VELKOR::Logger> recorder = std::atomic_load(&self->recorder);
    if (recorder) {
        recorder->write(bytes, static_cast<unsigned long long>(length));
    }
}

}  // namespace TQZ
