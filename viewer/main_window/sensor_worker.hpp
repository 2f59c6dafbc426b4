#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include "api/lidar_tq.hpp"

// The sensor's side of Nimbra Studio, on a thread of its own: owns the one
// LidarTQ, connects it, waits for its scenes (get_scene runs the whole
// processing chain) and replays recorded frames, so that the GUI thread only
// draws. Finished scenes are handed over latest-wins: a GUI that falls behind
// finds the newest scene, never a backlog.
//
// open_stream, open_replay and want_frame return at once and answer with a
// signal; call() runs an operation on the worker's thread and waits for it.
// Every other member is called on the GUI thread.
class sensor_worker : public QObject {
    Q_OBJECT

public:
    // What the status strip shows of the source; negative where unknown.
    struct rates_t {
        double sensor_fps = -1.0;
        double loss_percent = -1.0;
        double megabytes_per_s = -1.0;
        // The recording stopped because a write to its file failed.
        bool recording_failed = false;
    };

    sensor_worker(VELKOR::fw_status_callback_t fw_status, void* fw_user);
    ~sensor_worker() override;

    // Connects and runs a sensor; answers with stream_opened.
    void open_stream(const VELKOR::IP_ADDRESS_T& device, const VELKOR::IP_ADDRESS_T& pc);
    // Opens a recording; answers with replay_opened.
    void open_replay(const std::string& path);
    // Ends the source (play_stop, or stop and disconnect) and drops the
    // sensor. A connect under way, or asked for and not yet begun, gives up
    // at once (its stream_opened still comes, with why "interrupted"). Waits
    // for the close unless `wait` is false.
    void close(bool wait = true);
    // Runs `op` on the sensor on the worker's thread and returns when it has
    // run; false (op not run) without a sensor.
    bool call(const std::function<void(VELKOR::LidarTQ&)>& op);
    // Asks for frame `index` of the open recording; a later request replaces
    // one not yet served. Answered with scene_ready.
    void want_frame(uint64_t index);
    // Moves the newest finished scene into `scene` (swapping buffers); false
    // when none is waiting.
    bool take_scene(VELKOR::LidarTQ::scene_t& scene);
    rates_t rates() const;
    // Ends the worker's thread once everything queued before has run; a
    // connect under way gives up first.
    void finish();

signals:
    // connected: connect succeeded; running: run succeeded too. why: the
    // library's reason when connect failed.
    void stream_opened(bool connected, bool running, QString why);
    // frames: frames in the file; rate: frames per second of its record
    // time stamps, 0 when they are unusable.
    void replay_opened(bool opened, quint64 frames, double rate);
    // A scene is waiting (stream), or a replay request was served (ok: a
    // scene is waiting; false: the frame gave none).
    void scene_ready(bool ok);

private:
    void do_open_stream(VELKOR::IP_ADDRESS_T device, VELKOR::IP_ADDRESS_T pc, uint64_t ticket);
    void interrupt_opens();
    void do_open_replay(std::string path);
    void do_close();
    void stream_step();
    void serve_frame();
    void make_sensor();
    void publish();
    void update_rates(bool force);

    enum class mode_t { none, stream, replay };

    // Touched on the worker's thread only.
    VELKOR::fw_status_callback_t fw_status_;
    void* fw_user_;
    std::unique_ptr<VELKOR::LidarTQ> sensor_;
    mode_t mode_ = mode_t::none;
    VELKOR::LidarTQ::scene_t work_;
    QElapsedTimer rate_clock_;
    VELKOR::SESSION_STATS_T last_stats_;
    uint64_t scenes_ = 0, last_scenes_ = 0;
    double replay_megabytes_per_s_ = -1.0;

    // Touched on the GUI thread only: stream opens asked for so far.
    uint64_t opens_asked_ = 0;

    // Shared with the GUI thread.
    mutable std::mutex mutex_;
    // The sensor while its connect runs, and the last open a close gave up.
    VELKOR::LidarTQ* connecting_ = nullptr;
    uint64_t opens_given_up_ = 0;
    VELKOR::LidarTQ::scene_t latest_;
    bool has_latest_ = false;
    uint64_t wanted_ = 0;
    bool frame_queued_ = false;
    rates_t rates_;
};
