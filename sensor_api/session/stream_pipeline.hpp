#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

#include "api/lidar_tq.hpp"
#include "session/frame_assembler.hpp"
#include "session/frame_types.hpp"
#include "session/scene_fill.hpp"
#include "session/spare_pool.hpp"
#include "transport/ext_interface_udp_client.hpp"
#include "util/bounded_queue.hpp"

namespace TQZ {

class SessionRecording;

// The data path of one sensor: UDP client -> receive callback -> packet
// queue -> stream worker -> frame assembler and scene builder -> queue of
// ready raw scenes -> the caller. It also keeps the counters behind stats().
//
// Threads: the UDP receive thread receives each datagram straight into a
// buffer the pipeline lends it and hands it over (no copy on the way to the
// worker); the stream worker assembles and fills each row into a pooled
// scene as the row is stored, so a complete frame is a ready scene once its
// last row is filled, and gives the buffer back; the caller's thread starts
// and stops the worker and takes scenes by swapping storage with them. The
// counters are atomics that any thread may read.
class StreamPipeline : private VELKOR::ExtInterface_UDP_client::DatagramSink {
public:
    using OwnedDatagram = VELKOR::ExtInterface_UDP_client::OwnedDatagram;

    // `recording` gets every received datagram and, while a file is open for
    // replay, feeds the worker instead of the live queue.
    explicit StreamPipeline(SessionRecording& recording);
    // Ends the worker and closes the link, joining both threads.
    ~StreamPipeline() override;

    StreamPipeline(const StreamPipeline&) = delete;
    StreamPipeline& operator=(const StreamPipeline&) = delete;

    // Binds the UDP socket as `settings` say; its datagrams come to this pipeline.
    bool connect(VELKOR::ExtInterface_UDP_client::IpSettings& settings);
    void disconnect();

    // Drops waiting frames and datagrams and lets the worker run, starting it
    // unless one already runs.
    void start();
    // Drops waiting frames and datagrams and lets a worker run, without
    // starting one (a replay assembles on the caller's thread).
    void arm();
    // Ends and joins the worker, if one runs, and drops what waits.
    void halt();
    bool running() const { return running_; }
    bool worker_started() const { return worker_ != nullptr; }

    // The oldest ready raw scene, at once or waiting up to `timeout`: its
    // storage is swapped into `scene`, whose old storage the worker fills
    // again later. False (scene untouched) when none is ready.
    // `points` gets what the worker did to the scene's points (see
    // SceneBuilder); processing_chain::run(scene, points) finishes them.
    bool take_scene(VELKOR::LidarTQ::scene_t& scene, worker_points& points);
    // wait_scene also ends (false) once `give_up` is set and
    // wake_scene_waiters() is called; a scene already ready is still taken.
    bool wait_scene(VELKOR::LidarTQ::scene_t& scene, std::chrono::milliseconds timeout, worker_points& points,
                    const std::atomic<bool>& give_up);
    void wake_scene_waiters() { frame_queue_.wake(); }
    // The recipe the worker places the points of the next frames with, or
    // none. The thread that runs the session's chain sets it.
    void set_point_recipe(const std::optional<raw_point_recipe>& recipe) { recipes_.set(recipe); }
    // Fills a scene from `frame` on the calling thread and queues it as the
    // worker queues its own (replay, tests).
    void publish(const Frame& frame);
    // An assembler that shares the worker's slot mask and counters (replay).
    FrameAssembler make_assembler() { return FrameAssembler(slot_mask_, &flag_counts_); }

    // Counters since the last reset (recording_failed is not set here).
    VELKOR::SESSION_STATS_T stats() const;
    void reset_stats();

    // Takes a copy of one datagram as if it had been received: queued for
    // the worker, counted, and recorded while a recorder is in place (tools
    // and tests feed datagrams this way).
    void receive(const uint8_t* data, std::size_t length);
    // Shows every datagram the pipeline takes to `callback` first, on the
    // thread that delivers it (a benchmark counts or times them). Set it
    // before connect.
    void set_receive_callback(VELKOR::ExtInterfaceBase::RecvCallback callback, void* user);

    // What waits, for tests and tools that pace their feeding.
    std::size_t packets_waiting() const { return packet_queue_.size(); }
    int packet_capacity() const { return packet_queue_.capacity(); }
    std::size_t frames_waiting() const { return frame_queue_.size(); }
    int frame_capacity() const { return frame_queue_.capacity(); }
    // Takes the oldest waiting datagram (tests; the worker takes them otherwise).
    bool take_datagram(ByteVector& datagram);

private:
    // The datagram the worker works on: a replayed copy or a received one,
    // whose buffer goes back to the spares when the worker takes the next.
    struct WorkerDatagram {
        ByteVector replayed;
        OwnedDatagram received;
        const uint8_t* data = nullptr;
        std::size_t size = 0;
    };

    // The transport's sink (receive thread).
    std::unique_ptr<uint8_t[]> lend_buffer() override;
    void deliver(OwnedDatagram datagram) override;

    void worker_loop();
    bool wait_datagram(WorkerDatagram& next);

    SessionRecording& recording_;
    std::shared_ptr<VELKOR::ExtInterface_UDP_client> udp_;

    using ScenePtr = std::unique_ptr<VELKOR::LidarTQ::scene_t>;
    // Queues a ready scene for the caller, counting one that pushes out an untaken one.
    void publish_scene(ReadyScene ready);
    void hand_over(ReadyScene& ready, VELKOR::LidarTQ::scene_t& scene, worker_points& points);

    // Ready scenes: the oldest is dropped (and counted) when a fourth comes.
    VELKOR::BoundedQueue<ReadyScene> frame_queue_{3};
    PointRecipeBox recipes_;
    // Storage for the scenes to come: one being filled, three queued, one
    // the caller gave back, one the replay fills.
    ScenePool scene_pool_{6};
    // Datagrams waiting for the stream worker: some 18 frames, so that a
    // worker descheduled for a moment on a busy host (the soak run saw over
    // two frames waiting) loses nothing. A worker that stays behind still
    // loses the oldest datagrams, never the newest.
    VELKOR::BoundedQueue<OwnedDatagram> packet_queue_{1024};
    // Receive buffers the worker is done with, lent to the receive thread
    // again: a steady stream allocates none.
    SparePool<uint8_t[]> spare_buffers_{64};
    VELKOR::ExtInterfaceBase::RecvCallback observer_ = nullptr;
    void* observer_user_ = nullptr;

    std::unique_ptr<std::thread> worker_;
    std::atomic<bool> running_{false};
    // Slots received for the frame under assembly (bit n = slot n), shared
    // by the worker's and the replay's assembler.
    std::atomic<uint64_t> slot_mask_{0};

    std::atomic<uint64_t> datagrams_received_{0};
    std::atomic<uint64_t> bytes_received_{0};
    std::atomic<uint64_t> slot_losses_{0};
    std::atomic<uint64_t> frames_published_{0};
    std::atomic<uint64_t> frames_dropped_{0};
    std::atomic<uint64_t> deepest_packet_queue_{0};
    assembly_counters flag_counts_;
};

}  // namespace TQZ
