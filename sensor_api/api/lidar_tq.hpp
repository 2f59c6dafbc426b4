#pragma once

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

    bool connect(IP_ADDRESS_T sensor, IP_ADDRESS_T local);
    void disconnect();
    bool run();
    bool stop();

    // Takes the oldest assembled frame; false (scene untouched) when none waits.
    bool get_scene(scene_t& scene);
    // Replays frame `index` of the open recording first (index >= 0).
    bool get_scene(scene_t& scene, int index);

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
