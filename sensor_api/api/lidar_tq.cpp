#include "api/lidar_tq.hpp"

#include <thread>

#include "processing/processing_chain.hpp"
#include "recording/logger.hpp"
#include "session/device_session.hpp"

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
bool LidarTQ::run() { return session_->run(); }
bool LidarTQ::stop() { return session_->stop(); }

bool LidarTQ::get_scene(scene_t& scene) { return session_->get_scene(scene); }
bool LidarTQ::get_scene(scene_t& scene, int index) { return session_->get_scene(scene, index); }

// Provisional: waits in short steps until the session's frame queue can wait
// on its own.
bool LidarTQ::wait_scene(scene_t& scene, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!session_->get_scene(scene)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string LidarTQ::last_error() const
{
    const std::string failure = session_->recording_failure();
    return failure.empty() ? std::string() : "recording stopped: " + failure;
}

SESSION_STATS_T LidarTQ::stats() const
{
    SESSION_STATS_T stats;
    stats.recording_failed = session_->recording_failure().empty() ? 0 : 1;
    return stats;
}

std::string LidarTQ::recording_path() const
{
    const auto last = std::atomic_load(&session_->last_recording);
    return last ? last->file_name() : std::string();
}

void LidarTQ::set_log_handler(log_handler_t, void*) {}

bool LidarTQ::get_setting(nlohmann::json& out) { return session_->get_setting(out); }
bool LidarTQ::send_json(nlohmann::json& message) { return session_->send_json(message); }

bool LidarTQ::json_read_from_file(const char* path, nlohmann::json& out)
{
    return TQZ::DeviceSession::json_read_from_file(path, out);
}

bool LidarTQ::json_write_to_file(const char* path, nlohmann::json& value)
{
    return TQZ::DeviceSession::json_write_to_file(path, value);
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
