#include "session/stream_pipeline.hpp"

#include <algorithm>
#include <cstring>

#include "recording/logger.hpp"
#include "recording/row_datagram.hpp"
#include "session/session_recording.hpp"
#include "util/log_sink.hpp"

namespace TQZ {

namespace {

// Longest wait of the stream worker for a datagram: it wakes at once when one
// is pushed, and looks at its running flag and its source at least this
// often. On the live queue halt wakes it (packet_queue_.wake), so there it
// may wait longer: an idle link then costs a few wake-ups a second.
constexpr auto kIdleWait = std::chrono::milliseconds(20);
constexpr auto kLiveIdleWait = std::chrono::milliseconds(250);

// A row before its frame's last gives the worker nothing to publish: it is
// queued without waking the worker, which then takes several rows per
// wake-up. A backlog of kRowsPerWake rows wakes it, one of
// kRowsPerWakeNearTheEnd in a frame's last kNearTheEndRows rows, and each of
// the last kLastRows rows and anything that is no row wake it at once: the
// worker has filled every other row when the last comes (the scene is ready
// one row's work after it), and rows that come in bursts (a sensor may send a
// few at once) are worked through while the rest of the burst arrives.
constexpr std::size_t kRowsPerWake = 16;
constexpr std::size_t kRowsPerWakeNearTheEnd = 4;
constexpr int kNearTheEndRows = 8;
constexpr int kLastRows = 4;

std::size_t wake_depth_of(const VELKOR::RowDatagram& row)
{
    if (!row.is_row() || row.slot() + kLastRows >= row.slots()) {
        return 1;
    }
    return row.slot() + kNearTheEndRows >= row.slots() ? kRowsPerWakeNearTheEnd : kRowsPerWake;
}

}  // namespace

StreamPipeline::StreamPipeline(SessionRecording& recording)
    : recording_(recording), udp_(std::make_shared<VELKOR::ExtInterface_UDP_client>())
{
    udp_->set_datagram_sink(this);
}

StreamPipeline::~StreamPipeline()
{
    running_ = false;
    packet_queue_.wake();
    if (worker_ && worker_->joinable()) {
        worker_->join();
    }
    udp_->disconnect();
}

bool StreamPipeline::connect(VELKOR::ExtInterface_UDP_client::IpSettings& settings)
{
    return udp_->connect(settings);
}

void StreamPipeline::disconnect() { udp_->disconnect(); }

void StreamPipeline::set_receive_callback(VELKOR::ExtInterfaceBase::RecvCallback callback, void* user)
{
    observer_ = callback;
    observer_user_ = user;
}

bool StreamPipeline::take_datagram(ByteVector& datagram)
{
    OwnedDatagram taken;
    if (!packet_queue_.pop(taken)) {
        return false;
    }
    datagram.assign(taken.bytes.get(), taken.bytes.get() + taken.length);
    return true;
}

void StreamPipeline::start()
{
    arm();
    if (!worker_) {
        worker_ = std::make_unique<std::thread>(&StreamPipeline::worker_loop, this);
    }
}

void StreamPipeline::arm()
{
    frame_queue_.clear();
    packet_queue_.clear();
    running_ = true;
}

void StreamPipeline::halt()
{
    frame_queue_.clear();
    packet_queue_.clear();
    running_ = false;
    packet_queue_.wake();
    if (worker_) {
        worker_->join();
        worker_.reset();
    }
    frame_queue_.clear();
    packet_queue_.clear();
}

bool StreamPipeline::take_scene(VELKOR::LidarTQ::scene_t& scene, worker_points& points)
{
    ReadyScene ready;
    if (!frame_queue_.pop(ready) || !ready.scene) {
        return false;
    }
    hand_over(ready, scene, points);
    return true;
}

bool StreamPipeline::wait_scene(VELKOR::LidarTQ::scene_t& scene, std::chrono::milliseconds timeout,
                                worker_points& points, const std::atomic<bool>& give_up)
{
    ReadyScene ready;
    if (!frame_queue_.pop_for(ready, timeout, [&give_up] { return give_up.load(); }) || !ready.scene) {
        return false;
    }
    hand_over(ready, scene, points);
    return true;
}

// The caller gets the ready scene's storage; its own goes to the pool.
void StreamPipeline::hand_over(ReadyScene& ready, VELKOR::LidarTQ::scene_t& scene, worker_points& points)
{
    std::swap(scene, *ready.scene);
    scene_pool_.give(std::move(ready.scene));
    points = ready.points;
}

VELKOR::SESSION_STATS_T StreamPipeline::stats() const
{
    VELKOR::SESSION_STATS_T out;
    out.datagrams_received = datagrams_received_.load();
    out.bytes_received = bytes_received_.load();
    out.emb_crc_errors = flag_counts_.emb_crc_errors.load();
    out.act_crc_errors = flag_counts_.act_crc_errors.load();
    out.slot_losses = slot_losses_.load();
    out.frames_published = frames_published_.load();
    out.frames_dropped = frames_dropped_.load();
    out.deepest_packet_queue = deepest_packet_queue_.load();
    return out;
}

void StreamPipeline::reset_stats()
{
    datagrams_received_ = 0;
    bytes_received_ = 0;
    flag_counts_.emb_crc_errors = 0;
    flag_counts_.act_crc_errors = 0;
    slot_losses_ = 0;
    frames_published_ = 0;
    frames_dropped_ = 0;
    deepest_packet_queue_ = 0;
}

// ---- The hot path: receive thread -> packet queue -> worker -> frame queue.

// UDP receive thread: a spare buffer to receive into (null: the transport
// makes one).
std::unique_ptr<uint8_t[]> StreamPipeline::lend_buffer() { return spare_buffers_.take(); }

// UDP receive thread: every datagram goes to the stream worker and, while a
// recorder is in place, to the recorder.
void StreamPipeline::deliver(OwnedDatagram datagram)
{
    const uint8_t* data = datagram.bytes.get();
    const std::size_t length = datagram.length;
    if (observer_ != nullptr) {
        observer_(observer_user_, reinterpret_cast<char*>(datagram.bytes.get()), static_cast<unsigned int>(length));
    }
    // Recorded before the hand-over: once queued, the buffer is the worker's.
    recording_.record(data, length);
    const VELKOR::RowDatagram row(data, length);
    const std::size_t wake_depth = wake_depth_of(row);
    std::size_t depth = 0;
    packet_queue_.push_batched(std::move(datagram), wake_depth, depth);
    datagrams_received_.fetch_add(1, std::memory_order_relaxed);
    bytes_received_.fetch_add(length, std::memory_order_relaxed);
    if (depth > deepest_packet_queue_.load(std::memory_order_relaxed)) {
        deepest_packet_queue_.store(depth, std::memory_order_relaxed);
    }
}

void StreamPipeline::receive(const uint8_t* data, std::size_t length)
{
    OwnedDatagram copy;
    if (length <= VELKOR::ExtInterface_UDP_client::kSinkBufferBytes) {
        copy.bytes = spare_buffers_.take();
    }
    if (!copy.bytes) {
        copy.bytes.reset(new uint8_t[std::max(length, VELKOR::ExtInterface_UDP_client::kSinkBufferBytes)]);
    }
    if (length > 0) {
        std::memcpy(copy.bytes.get(), data, length);
    }
    copy.length = length;
    deliver(std::move(copy));
}

// Waits for the next datagram: from the recorder while it is open for
// reading (and until record_stop releases it), otherwise from the live packet
// queue, where halt ends the wait at once. The buffer of the datagram before
// goes back to the spares.
bool StreamPipeline::wait_datagram(WorkerDatagram& next)
{
    if (next.received.bytes) {
        spare_buffers_.give(std::move(next.received.bytes));
    }
    const std::shared_ptr<VELKOR::Logger> source = recording_.replay_source();
    if (source) {
        if (!source->packet_queue.pop_for(next.replayed, kIdleWait)) {
            return false;
        }
        next.data = next.replayed.data();
        next.size = next.replayed.size();
        return true;
    }
    if (!packet_queue_.pop_for(next.received, kLiveIdleWait, [this] { return !running_.load(); })) {
        return false;
    }
    next.data = next.received.bytes.get();
    next.size = next.received.length;
    return true;
}

void StreamPipeline::worker_loop()
{
    FrameAssembler assembler = make_assembler();
    SceneBuilder builder(scene_pool_, &recipes_);
    WorkerDatagram datagram;
    while (running_) {
        if (!wait_datagram(datagram)) {
            continue;
        }
        const FrameAssembler::Result result = assembler.feed(datagram.data, datagram.size);
        if (result != FrameAssembler::Result::dropped) {
            // Every result but dropped stored the datagram's slot (a slot
            // beyond the rows a frame holds is ignored by the builder).
            builder.row_stored(assembler.range(), DatagramView(datagram.data, datagram.size).slot());
        }
        switch (result) {
        case FrameAssembler::Result::frame_complete:
            publish_scene(builder.finish(assembler.range()));
            break;
        case FrameAssembler::Result::frame_incomplete:
            slot_losses_.fetch_add(1, std::memory_order_relaxed);
            VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "slot_loss";
            break;
        default:
            break;
        }
    }
}

void StreamPipeline::publish(const Frame& frame)
{
    if (!frame) {
        return;
    }
    ReadyScene ready;
    ready.scene = scene_pool_.take();
    fill_scene(*frame, *ready.scene);
    publish_scene(std::move(ready));
}

void StreamPipeline::publish_scene(ReadyScene ready)
{
    if (!ready.scene) {
        return;
    }
    if (frame_queue_.push(std::move(ready))) {
        frames_dropped_.fetch_add(1, std::memory_order_relaxed);
    }
    // Counted last, with release: whoever reads this count (stats) also sees
    // the drop this publication caused.
    frames_published_.fetch_add(1, std::memory_order_release);
}

}  // namespace TQZ
