#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace TQZ {
class DeviceSession;
}

namespace VELKOR {

// An IPv4 endpoint as dotted text and port.
struct IP_ADDRESS_T {
    std::string ip;
    int port = 0;
};

// Firmware-upload status callback; called on the caller's thread during the
// handshake and on the upload thread afterwards.
typedef void (*fw_status_callback_t)(void* user, std::string message);

// Severity of a diagnostic line of the libraries. By default info lines go to
// standard output and warnings and errors to standard error, as they always
// have; a handler set with LidarTQ::set_log_handler receives them instead.
enum class log_level_t { info = 0, warning = 1, error = 2 };
typedef void (*log_handler_t)(void* user, log_level_t level, const std::string& text);

// Counters of one handle since its last connect (or play_start).
struct SESSION_STATS_T {
    uint64_t datagrams_received = 0;
    uint64_t emb_crc_errors = 0;
    uint64_t act_crc_errors = 0;
    uint64_t slot_losses = 0;
    uint64_t frames_published = 0;
    // Frames discarded because the caller did not take them in time.
    uint64_t frames_dropped = 0;
    uint64_t deepest_packet_queue = 0;
    // 1 when the current or last recording stopped because a write to its
    // file failed (disk full, I/O error); last_error() then says why. The
    // file keeps every record written whole.
    uint64_t recording_failed = 0;
};

// Handle to one TQ-Z sensor: connect, stream, take processed scenes, settings,
// recording and replay, firmware upload. All work is done by the session the
// handle points to; copies of a handle share that session, which lives as long
// as the last handle.
class LidarTQ {
public:
    struct point_t {
        double spare = 0;      // never written by the library
        double azimuth = 0;    // rad, positive looks left
        double elevation = 0;  // rad, positive looks up
        double x = 0;          // mm
        double y = 0;          // mm
        double z = 0;          // mm
        double intensity = 0;
    };

    // One frame, row-major images. depth is the round-trip time in ns
    // (0 = no return); cols is 192 as assembled, 576 after depth completion.
    typedef struct _TQZ_SCENE_T {
        int32_t rows = 0;
        int32_t cols = 0;
        std::vector<uint32_t> ambient;  // rows x (576 or 192), 24-bit values
        std::vector<float> depth;
        std::vector<uint16_t> intensity;
        std::vector<point_t> pointcloud;
    } scene_t;

    LidarTQ();
    ~LidarTQ();
    LidarTQ& operator=(const LidarTQ& other);

    static std::string api_info();
    // The libraries' version, "MAJOR.MINOR.PATCH".
    static std::string version();

    bool connect(IP_ADDRESS_T sensor, IP_ADDRESS_T local);
    void disconnect();
    bool run();
    bool stop();

    // Takes the oldest assembled frame; false (scene untouched) when none waits.
    bool get_scene(scene_t& scene);
    // Replays frame `index` of the open recording first (index >= 0).
    bool get_scene(scene_t& scene, int index);
    // Blocks until an assembled frame is ready or `timeout` has passed; false
    // (scene untouched) on time-out.
    bool wait_scene(scene_t& scene, std::chrono::milliseconds timeout);

    // Why the last failing call on this handle failed ("connection refused",
    // "not connected", ...); empty when none has failed.
    std::string last_error() const;
    SESSION_STATS_T stats() const;
    // The file the last successful record_start created (also after
    // record_stop); empty before.
    std::string recording_path() const;

    // Routes the diagnostic lines of both libraries, process-wide; nullptr
    // restores the default printing.
    static void set_log_handler(log_handler_t handler, void* user);

    bool get_setting(nlohmann::json& out);
    bool send_json(nlohmann::json& message);
    bool json_read_from_file(const char* path, nlohmann::json& out);
    bool json_write_to_file(const char* path, nlohmann::json& value);
    bool json_read_from_memory();
    bool json_write_to_memory();

    bool record_start(std::string path);
    void record_stop();
    bool play_start(std::string path);
    void play_stop();
    bool get_file_size(uint64_t& size);

    bool tcp_fw_upload(const char* path);
    void register_fw_status_callback(fw_status_callback_t callback, void* user);

    // Switches the correcting modules of the process-wide processing chain.
    void set_signal_data_processing(bool enable);

private:
    std::shared_ptr<TQZ::DeviceSession> session_;
};

}  // namespace VELKOR
