#include "api/lidar_tq.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "processing/processing_chain.hpp"
#include "session/device_session.hpp"
#include "session/settings_file.hpp"
#include "util/log_sink.hpp"

namespace VELKOR {

// When the library was built; written by the build into a source of its own.
extern const char kBuildTimestamp[];

LidarTQ::LidarTQ() : session_(std::make_shared<TQZ::DeviceSession>()) {}

LidarTQ::~LidarTQ() = default;

// Both handles then share one session; it is destroyed with the last handle.
LidarTQ& LidarTQ::operator=(const LidarTQ& other)
{
    session_ = other.session_;
    return *this;
}

std::string LidarTQ::api_info()
{
    return std::string("VELKOR LiDAR TQ-Z API v") + VELKOR_VERSION + " build(" + kBuildTimestamp + ")";
}

std::string LidarTQ::version() { return VELKOR_VERSION; }

bool LidarTQ::connect(IP_ADDRESS_T sensor, IP_ADDRESS_T local) { return session_->connect(sensor, local); }
void LidarTQ::disconnect() { session_->disconnect(); }
void LidarTQ::interrupt() { session_->interrupt(); }
bool LidarTQ::run() { return session_->run(); }
bool LidarTQ::stop() { return session_->stop(); }

bool LidarTQ::get_scene(scene_t& scene) { return session_->get_scene(scene); }
bool LidarTQ::get_scene(scene_t& scene, int index) { return session_->get_scene(scene, index); }

bool LidarTQ::wait_scene(scene_t& scene, std::chrono::milliseconds timeout)
{
    return session_->wait_scene(scene, timeout);
}

// A recording stopped by a failed write is named first: it happened behind
// the caller's back, and the calls that follow (stop, record_stop) succeed.
std::string LidarTQ::last_error() const
{
    const std::string failure = session_->recording_failure();
    return failure.empty() ? session_->last_error() : "recording stopped: " + failure;
}

SESSION_STATS_T LidarTQ::stats() const
{
    SESSION_STATS_T stats = session_->stats();
    stats.recording_failed = session_->recording_failure().empty() ? 0 : 1;
    return stats;
}

std::string LidarTQ::recording_path() const
{
    return session_->recording_path();
}

namespace {

// The handler the API was given, with its user pointer; the core sink calls
// the forwarder below, which reads the pair as one.
std::mutex g_api_handler_mutex;
log_handler_t g_api_handler = nullptr;
void* g_api_user = nullptr;

void forward_to_api_handler(void*, log_level level, const std::string& text)
{
    log_handler_t handler = nullptr;
    void* user = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_api_handler_mutex);
        handler = g_api_handler;
        user = g_api_user;
    }
    if (handler != nullptr) {
        handler(user, static_cast<log_level_t>(level), text);
    }
}

}  // namespace

void LidarTQ::set_log_handler(log_handler_t handler, void* user)
{
    {
        std::lock_guard<std::mutex> lock(g_api_handler_mutex);
        g_api_user = user;
        g_api_handler = handler;
    }
    set_log_sink_handler(handler != nullptr ? &forward_to_api_handler : nullptr, nullptr);
}

bool LidarTQ::get_setting(nlohmann::json& out) { return session_->get_setting(out); }
bool LidarTQ::send_json(nlohmann::json& message) { return session_->send_json(message); }

bool LidarTQ::wait_setting(nlohmann::json& out, std::chrono::milliseconds timeout)
{
    return session_->wait_setting(out, timeout);
}

bool LidarTQ::wait_reply(nlohmann::json& reply, std::chrono::milliseconds timeout)
{
    return session_->wait_reply(reply, timeout);
}

bool LidarTQ::json_read_from_file(const char* path, nlohmann::json& out)
{
    if (TQZ::read_settings_file(path, out)) {
        return true;
    }
    const std::string name = path != nullptr ? path : "";
    std::error_code ec;
    if (!std::filesystem::exists(name, ec)) {
        session_->set_error("cannot open " + name + ": " + std::strerror(ENOENT));
    } else if (!std::filesystem::is_regular_file(name, ec)) {
        session_->set_error("cannot open " + name + ": not a regular file");
    } else {
        errno = 0;
        std::ifstream probe(name, std::ios::binary);
        session_->set_error(!probe ? "cannot open " + name + ": " + std::strerror(errno != 0 ? errno : EACCES)
                                   : "cannot read " + name + ": not one JSON document");
    }
    return false;
}

bool LidarTQ::json_write_to_file(const char* path, nlohmann::json& value)
{
    if (TQZ::write_settings_file(path, value)) {
        return true;
    }
    session_->set_error("cannot write " + std::string(path != nullptr ? path : ""));
    return false;
}

bool LidarTQ::json_read_from_memory() { return session_->json_read_from_memory(); }
bool LidarTQ::json_write_to_memory() { return session_->json_write_to_memory(); }

bool LidarTQ::record_start(std::string path) { return session_->record_start(path); }
void LidarTQ::record_stop() { session_->record_stop(); }
bool LidarTQ::play_start(std::string path) { return session_->play_start(path); }
void LidarTQ::play_stop() { session_->play_stop(); }
bool LidarTQ::get_file_size(uint64_t& size) { return session_->get_file_size(size); }

bool LidarTQ::tcp_fw_upload(const char* path) { return session_->tcp_fw_upload(path); }

void LidarTQ::register_fw_status_callback(fw_status_callback_t callback, void* user)
{
    session_->register_fw_status_callback(callback, user);
}

void LidarTQ::set_signal_data_processing(bool enable) { TQZ::set_signal_data_processing(enable); }

}  // namespace VELKOR
