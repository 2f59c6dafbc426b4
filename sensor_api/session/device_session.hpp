#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/lidar_tq.hpp"
#include "processing/processing_chain.hpp"
#include "protocol/tcp_protocol.hpp"
#include "session/frame_assembler.hpp"
#include "session/frame_types.hpp"
#include "util/bounded_queue.hpp"

namespace VELKOR {
class ExtInterface_TCP_client;
class ExtInterface_UDP_client;
class Logger;
}  // namespace VELKOR

namespace TQZ {

using ByteVector = std::vector<uint8_t>;
using scene_t = VELKOR::LidarTQ::scene_t;

// Everything behind one LidarTQ handle: the transports of one sensor, the
// queues through which their traffic reaches the caller, the stream worker,
// the recorder and the state of a firmware upload.
//
// Threads: the caller's thread runs every public operation, the replay
// assembler and the processing chain; the TCP and UDP receive threads run the two callbacks; the stream
// worker assembles frames; the upload thread sends firmware.
class DeviceSession {
public:
    DeviceSession();
    ~DeviceSession();

    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Link (device_session.cpp)
    bool connect(const VELKOR::IP_ADDRESS_T& sensor, const VELKOR::IP_ADDRESS_T& local);
    void disconnect();
    bool run();
    bool stop();

    // Frames (stream_assembler.cpp)
    bool get_scene(scene_t& scene);
    bool get_scene(scene_t& scene, int index);
    // Waits on frame_queue up to `timeout`; processing runs after the wait.
    bool wait_scene(scene_t& scene, std::chrono::milliseconds timeout);

    // Why the last failing call failed; set by the caller's thread.
    std::string last_error() const;
    void set_error(const std::string& text);
    VELKOR::SESSION_STATS_T stats() const;
    // Counters since connect or play_start, written by the receive and
    // worker threads.
    void reset_stats();

    // Commands and settings (command_channel.cpp)
    bool get_setting(nlohmann::json& out);
    bool send_json(nlohmann::json& message);
    bool json_read_from_memory();
    bool json_write_to_memory();
    static bool json_read_from_file(const char* path, nlohmann::json& out);
    static bool json_write_to_file(const char* path, nlohmann::json& value);

    // Recording and replay (session_recording.cpp)
    bool record_start(const std::string& path);
    void record_stop();
    // Why the current or last recording stopped on a failed write ("No space
    // left on device", ...); empty when it did not.
    std::string recording_failure() const;
    bool play_start(const std::string& path);
    void play_stop();
    bool get_file_size(uint64_t& size);

    // Firmware (fw_upload.cpp)
    bool tcp_fw_upload(const char* path);
    void register_fw_status_callback(VELKOR::fw_status_callback_t callback, void* user);

    // Receive callbacks registered on the transports; `user` is the session.
    static void tcp_receive_callback(void* user, char* data, unsigned int length);
    static void udp_receive_callback(void* user, char* data, unsigned int length);

    std::shared_ptr<VELKOR::ExtInterface_UDP_client> udp;
    std::shared_ptr<VELKOR::ExtInterface_TCP_client> tcp;

    // Where the next parsed JSON reply goes: 0 general_replies, 1 setting_replies.
    std::atomic<uint8_t> reply_route{0};
    VELKOR::BoundedQueue<nlohmann::json> general_replies{3};
    VELKOR::BoundedQueue<nlohmann::json> setting_replies{3};
    VELKOR::BoundedQueue<Frame> frame_queue{3};
    // Datagrams waiting for the stream worker: some 18 frames, so that a
    // worker descheduled for a moment on a busy host (the soak run saw over
    // two frames waiting) loses nothing. A worker that stays behind still
    // loses the oldest datagrams, never the newest.
    VELKOR::BoundedQueue<ByteVector> packet_queue{1024};

    std::unique_ptr<std::thread> stream_worker;
    std::atomic<bool> running{false};
    // Slots received for the frame under assembly (bit n = slot n).
    std::atomic<uint64_t> slot_mask{0};

    // Firmware upload state.
    std::unique_ptr<VELKOR::_TCP_PROTOCOL_T> command_frame;
    VELKOR::BoundedQueue<ByteVector> raw_replies{3};
    std::ifstream fw_file;
    std::string fw_path;
    int64_t fw_bytes_left = 0;
    uint16_t fw_packets_left = 0;
    std::unique_ptr<std::thread> upload_thread;
    // Tells a running upload thread to end at its next step (disconnect and
    // destruction set it: the thread must not use a link being closed).
    std::atomic<bool> fw_cancel{false};
    std::atomic<bool> json_mode{true};
    int64_t reply_timeout_s = 10;

    std::shared_ptr<VELKOR::Logger> recorder;
    // The recorder of the last successful record_start, kept after
    // record_stop for its file name and for how it ended (read with
    // atomic_load: any thread may ask).
    std::shared_ptr<VELKOR::Logger> last_recording;

    std::atomic<uint64_t> datagrams_received{0};
    std::atomic<uint64_t> slot_losses{0};
    std::atomic<uint64_t> frames_published{0};
    std::atomic<uint64_t> frames_dropped{0};
    std::atomic<uint64_t> deepest_packet_queue{0};
    assembly_counters flag_counts;

    // The processing every scene of this session goes through, run by the
    // thread that takes the scene; connect loads this sensor's walk-error
    // coefficients into it.
    processing_chain chain;

    VELKOR::fw_status_callback_t fw_status_callback = nullptr;
    void* fw_status_user = nullptr;

private:
    // Publishes a completed frame, counting one that pushes out an untaken one.
    void publish(Frame frame);
    void stream_worker_process();
    // Assembles one frame of the file being replayed synchronously onto
    // frame_queue (stream_assembler.cpp).
    bool replay_assemble(VELKOR::Logger& source);
    bool wait_datagram(ByteVector& datagram);
    void fw_upload_thread_process();
    // Stops a running upload thread and joins it (fw_upload.cpp).
    void end_upload();
    // Passes text to the status callback, if one is registered.
    void fw_status(const std::string& text);

    mutable std::mutex error_mutex_;
    std::string last_error_;
};

}  // namespace TQZ
