#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "api/lidar_tq.hpp"
#include "processing/processing_chain.hpp"
#include "session/command_link.hpp"
#include "session/error_text.hpp"
#include "session/firmware_upload.hpp"
#include "session/session_recording.hpp"
#include "session/stream_pipeline.hpp"

namespace TQZ {

using scene_t = VELKOR::LidarTQ::scene_t;

// Everything behind one LidarTQ handle, as four components with one owner
// each: the command link (TCP, commands and replies), the stream pipeline
// (UDP, packet queue, stream worker, frame queue, counters), recording and
// replay, and the firmware upload; plus the processing chain every scene of
// this session goes through and the text of the last error.
//
// Threads: the caller's thread runs every public operation, the replay
// assembly and fill, and the processing chain (the stream worker fills live
// raw scenes); the components name the threads they
// run on their own.
class DeviceSession {
public:
    DeviceSession();
    // Whatever still runs is ended here: the upload before the command link
    // it writes on, the stream worker, then both links.
    ~DeviceSession();

    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Link
    bool connect(const VELKOR::IP_ADDRESS_T& sensor, const VELKOR::IP_ADDRESS_T& local);
    void disconnect();
    bool run();
    bool stop();

    // Frames
    bool get_scene(scene_t& scene);
    bool get_scene(scene_t& scene, int index);
    // Waits for a frame up to `timeout`; processing runs after the wait.
    bool wait_scene(scene_t& scene, std::chrono::milliseconds timeout);
    // Any thread: a connect or wait under way on the caller's thread, and
    // every later one, gives up ("interrupted").
    void interrupt();

    // Why the last failing call failed; set by the caller's thread.
    std::string last_error() const { return error_.get(); }
    void set_error(const std::string& text) { error_.set(text); }
    // Counters since connect or play_start.
    VELKOR::SESSION_STATS_T stats() const { return stream_.stats(); }
    void reset_stats() { stream_.reset_stats(); }

    // Commands and settings
    bool get_setting(nlohmann::json& out) { return link_.take_setting(out); }
    // Wait up to `timeout` for the settings reply / the oldest other reply;
    // false with the error text on time-out.
    bool wait_setting(nlohmann::json& out, std::chrono::milliseconds timeout);
    bool wait_reply(nlohmann::json& out, std::chrono::milliseconds timeout);
    bool send_json(const nlohmann::json& message) { return link_.send_json(message); }
    bool json_read_from_memory() { return link_.request_settings(); }
    bool json_write_to_memory() { return link_.save_settings(); }

    // Recording and replay
    bool record_start(const std::string& path) { return recording_.record_start(path); }
    void record_stop() { recording_.record_stop(); }
    std::string recording_failure() const { return recording_.recording_failure(); }
    std::string recording_path() const { return recording_.recording_path(); }
    bool play_start(const std::string& path);
    void play_stop();
    bool get_file_size(uint64_t& size) { return recording_.get_file_size(size); }

    // Firmware
    bool tcp_fw_upload(const char* path) { return firmware_.start(path); }
    void register_fw_status_callback(VELKOR::fw_status_callback_t callback, void* user)
    {
        firmware_.set_status_callback(callback, user);
    }

    // Limit for the sensor's replies: the settings reply of connect and the
    // firmware answers (10 s unless a test shortens it).
    void set_reply_timeout(std::chrono::seconds timeout);

    // The components, for the tools, tests, benchmarks and fuzzers that
    // drive one part directly (feeding datagrams or replies as if received).
    CommandLink& command_link() { return link_; }
    StreamPipeline& stream() { return stream_; }
    SessionRecording& recording() { return recording_; }
    FirmwareUpload& firmware() { return firmware_; }
    // The processing every scene of this session goes through; connect loads
    // this sensor's walk-error coefficients into it.
    processing_chain& chain() { return chain_; }

private:
    void run_chain(scene_t& scene, const worker_points& points);

    // Declared in the order they are built; each is destroyed before what it
    // uses (the upload before the link, the pipeline before the recording).
    ErrorText error_;
    SessionRecording recording_;
    CommandLink link_;
    StreamPipeline stream_;
    FirmwareUpload firmware_;
    processing_chain chain_;
    std::chrono::seconds reply_timeout_{10};
    std::atomic<bool> interrupted_{false};
};

}  // namespace TQZ
