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

/// An IPv4 endpoint as dotted text and port.
struct IP_ADDRESS_T {
    std::string ip;
    int port = 0;
};

/// Firmware-upload status callback; called on the caller's thread during the
/// handshake and on the upload thread afterwards.
typedef void (*fw_status_callback_t)(void* user, std::string message);

/// Severity of a diagnostic line of the libraries. By default info lines go to
/// standard output and warnings and errors to standard error, as they always
/// have; a handler set with LidarTQ::set_log_handler receives them instead.
enum class log_level_t { info = 0, warning = 1, error = 2 };
typedef void (*log_handler_t)(void* user, log_level_t level, const std::string& text);

/// Counters of one handle since its last connect (or play_start).
struct SESSION_STATS_T {
    uint64_t datagrams_received = 0;
    uint64_t emb_crc_errors = 0;
    uint64_t act_crc_errors = 0;
    uint64_t slot_losses = 0;
    uint64_t frames_published = 0;
    /// Frames discarded because the caller did not take them in time.
    uint64_t frames_dropped = 0;
    uint64_t deepest_packet_queue = 0;
    /// 1 when the current or last recording stopped because a write to its
    /// file failed (disk full, I/O error); last_error() then says why. The
    /// file keeps every record written whole.
    uint64_t recording_failed = 0;
    /// Bytes of the datagrams counted in datagrams_received.
    uint64_t bytes_received = 0;
};

/// Handle to one TQ-Z sensor: connect, stream, take processed scenes, settings,
/// recording and replay, firmware upload. All work is done by the session the
/// handle points to; copies of a handle share that session, which lives as long
/// as the last handle.
///
/// Threads: a session is driven by one thread at a time. Use each handle (and
/// its copies) from one thread, or serialise its calls with a lock of your
/// own. Two handles with sessions of their own are independent and safe to
/// use on two threads at once: each session assembles its frames on its own
/// threads and processes its scenes with its own processing chain and its own
/// sensor's walk-error coefficients. The static calls,
/// set_signal_data_processing and interrupt may be made from any thread.
///
/// Failures: calls report through their bool result and never throw; after a
/// false, last_error() tells why.
class LidarTQ {
public:
    struct point_t {
        double spare = 0;      ///< never written by the library
        double azimuth = 0;    ///< rad, positive looks left
        double elevation = 0;  ///< rad, positive looks up
        double x = 0;          ///< mm
        double y = 0;          ///< mm
        double z = 0;          ///< mm
        double intensity = 0;
    };

    /// One frame, row-major images. depth is the round-trip time in ns
    /// (0 = no return); cols is 192 as assembled, 576 after depth completion.
    typedef struct _TQZ_SCENE_T {
        int32_t rows = 0;
        int32_t cols = 0;
        std::vector<uint32_t> ambient;  ///< rows x (576 or 192), 24-bit values
        std::vector<float> depth;
        std::vector<uint16_t> intensity;
        std::vector<point_t> pointcloud;
    } scene_t;

    /// Creates a handle with a session of its own, not connected. Does not block.
    LidarTQ();
    /// Drops this handle's share of the session; the last handle ends whatever
    /// still runs (stream worker, upload, links) and joins its threads.
    ~LidarTQ();
    /// Makes this handle share `other`'s session (and drops its own share).
    LidarTQ& operator=(const LidarTQ& other);

    /// "VELKOR LiDAR TQ-Z API v" + version() + " build(" + build time + ")".
    static std::string api_info();
    /// The libraries' version, "MAJOR.MINOR.PATCH".
    static std::string version();

    /// Connects TCP to `sensor` from `local` (ip "0.0.0.0" and port 0 let the
    /// system choose), binds UDP to the same local address and port, asks for
    /// the sensor's settings and loads their "PL_Reg" -> "walk_err_param"
    /// into this session's walk-error correction. Blocks up to 3 s for the
    /// TCP connect and then up to 10 s for the settings reply.
    /// @return false when the sensor's address does not resolve, the TCP
    ///         connect is refused or times out, UDP cannot
    ///         bind, the request cannot be sent or no settings reply comes
    ///         within 10 s. Unusable walk-error coefficients do not fail it:
    ///         the correction is then left out for this sensor.
    bool connect(IP_ADDRESS_T sensor, IP_ADDRESS_T local);
    /// Ends a firmware upload in progress and closes both links, joining
    /// their receive threads. Does not stop the stream worker (stop does).
    void disconnect();
    /// For a handle about to be given up while another thread is blocked in
    /// it (a program shutting down, a window closed during a connect): a
    /// connect, wait_scene, wait_setting or wait_reply under way returns
    /// false at once, and so does every later one, with last_error()
    /// "interrupted" (a wait still takes a scene or reply that is already
    /// there). A connection already made stays up; stop, disconnect,
    /// play_stop and the destructor work as before. Unlike the other calls
    /// it may be made from any thread while another thread uses the handle;
    /// it does not block.
    void interrupt();
    /// Starts the stream worker (also when not connected) and sends
    /// {"command":"run"}. Pauses 1 ms after the write.
    /// @return false when not connected or the write fails.
    bool run();
    /// Sends {"command":"stop"}, drops the frames and datagrams not yet taken
    /// and joins the stream worker.
    /// @return false when not connected or the write fails; the worker is
    ///         joined either way.
    bool stop();

    /// Takes the oldest assembled frame's raw scene, which the stream worker
    /// filled as the frame's rows arrived, then runs the processing chain
    /// over it on the calling thread (a few ms; with processing off the
    /// worker has already placed the points, and only the global offset is
    /// left, some microseconds). The ready scene's storage
    /// is exchanged with `scene`'s: the vectors `scene` held before go back
    /// to the session, which fills them with later frames (pointers into a
    /// scene's vectors do not outlive its next get_scene or wait_scene).
    /// Does not wait for a frame.
    /// @return false (scene untouched) when no frame is waiting.
    bool get_scene(scene_t& scene);
    /// With `index` >= 0 and a recording opened by play_start: reads frame
    /// `index` from the file, assembles and fills it on the calling thread
    /// and takes it as get_scene does (blocks for one frame's read, fill and
    /// processing). Otherwise (a negative
    /// index, no replay open) it is get_scene(scene).
    /// @return false (scene untouched) when the frame is not in the file or
    ///         does not assemble (rows missing or broken).
    bool get_scene(scene_t& scene, int index);
    /// As get_scene, but blocks until an assembled frame is ready or
    /// `timeout` has passed.
    /// @return false (scene untouched) on time-out.
    bool wait_scene(scene_t& scene, std::chrono::milliseconds timeout);

    /// Why the last failing call on this handle failed ("connection refused",
    /// "connect timed out", "not connected", "no reply to json_read within
    /// 10 s", ...); empty when none has failed. Does not block.
    std::string last_error() const;
    /// The session's counters since the last connect or play_start. Does not
    /// block.
    SESSION_STATS_T stats() const;
    /// The file the last successful record_start created (also after
    /// record_stop); empty before. Does not block.
    std::string recording_path() const;

    /// Routes the diagnostic lines of both libraries, process-wide, to
    /// `handler` (called with `user` on whichever thread prints the line);
    /// nullptr restores the default printing. Callable from any thread.
    static void set_log_handler(log_handler_t handler, void* user);

    /// Takes the sensor's reply to json_read_from_memory, if it has arrived;
    /// does not wait.
    /// @return false (out set to null) when no reply is waiting.
    bool get_setting(nlohmann::json& out);
    /// As get_setting, but blocks until the reply to json_read_from_memory
    /// arrives or `timeout` has passed.
    /// @return false (out untouched) on time-out; last_error() is then "no
    ///         settings reply within N ms".
    bool wait_setting(nlohmann::json& out, std::chrono::milliseconds timeout);
    /// Takes the oldest reply of the sensor to a command other than
    /// json_read_from_memory (send_json, json_write_to_memory, run, stop, or
    /// one that came unasked; the 3 newest are kept), blocking until one
    /// arrives or `timeout` has passed. A zero timeout only takes one that is
    /// waiting. Replies stop coming once a firmware upload has switched the
    /// link to binary frames.
    /// @return false (reply untouched) on time-out; last_error() is then "no
    ///         reply within N ms".
    bool wait_reply(nlohmann::json& reply, std::chrono::milliseconds timeout);
    /// Writes `message` as compact JSON on the command link, then pauses
    /// 100 ms for the sensor to take it.
    /// @return false when not connected, the write fails or the value cannot
    ///         be written as JSON (invalid UTF-8).
    bool send_json(nlohmann::json& message);
    /// Reads one JSON document from the file at `path`. Blocks for the read.
    /// @return false (out unchanged) when path is null, is not a regular file,
    ///         cannot be read or does not hold one JSON document.
    bool json_read_from_file(const char* path, nlohmann::json& out);
    /// Writes `value` to `path`, one member per line. Blocks for the write.
    /// @return false when the value cannot be written as JSON (the file is
    ///         then not touched), path is null, or the file cannot be written.
    bool json_write_to_file(const char* path, nlohmann::json& value);
    /// Sends {"command":"json_read"}; the sensor's settings then come through
    /// get_setting. Pauses 1 ms after the write.
    /// @return false when not connected or the write fails.
    bool json_read_from_memory();
    /// Sends {"command":"json_save"}, which has the sensor store its current
    /// settings in flash. Pauses 100 ms after the write.
    /// @return false when not connected or the write fails.
    bool json_write_to_memory();

    /// Starts recording every received datagram to a new file path +
    /// "%m-%d-%H-%M-%S" (local time) + ".bin" ("-1", "-2", ... before ".bin"
    /// when that name is taken), written by a thread of the recorder. Blocks for
    /// the file's creation only.
    /// @return false when the session already has a recorder (a recording, or
    ///         a replay opened by play_start: record_stop first) or the file
    ///         cannot be created (record_stop is then needed as well).
    bool record_start(std::string path);
    /// Ends the recording: blocks until the recorder has written every queued
    /// datagram, then closes the file and joins its thread.
    void record_stop();
    /// Opens a recording for replay by get_scene(scene, index) and builds its
    /// frame index, reading the whole file once (blocks for that read).
    /// @return false when a recording is already open or the file cannot be
    ///         opened.
    bool play_start(std::string path);
    /// Closes the replayed file and joins the stream worker, if one runs.
    void play_stop();
    /// The last frame number of the open replay: indexed frames minus one
    /// (4294967295 when the index is empty). Does not block.
    /// @return false when the session has no recorder (neither a recording
    ///         nor a replay has been started).
    bool get_file_size(uint64_t& size);

    /// Asks the sensor for a firmware upgrade and, once it agrees, uploads the
    /// image at `path` on an upload thread that reports through the status
    /// callback. Blocks until the sensor's answer (up to 10 s); waits first
    /// for a previous upload thread to end.
    /// @return false when the file cannot be opened, the request cannot be
    ///         sent, the sensor refuses or does not answer within 10 s, the
    ///         image size is not acceptable, or the start frame cannot be
    ///         sent. The upload's own outcome comes through the callback.
    bool tcp_fw_upload(const char* path);
    /// Sets the callback for firmware-upload status messages.
    void register_fw_status_callback(fw_status_callback_t callback, void* user);

    /// Switches processing for every handle in the process, including those
    /// created later, from any thread: each session's chain takes the switch
    /// before its next scene. On: all correcting modules (offset calibration,
    /// back-beam removal, walk error, adaptive threshold, depth completion;
    /// scenes leave 576 columns wide). Off: only the global offset and the
    /// points are computed (192 columns). Before the first call every module
    /// but back-beam removal is on.
    void set_signal_data_processing(bool enable);

private:
    std::shared_ptr<TQZ::DeviceSession> session_;
};

}  // namespace VELKOR
