#include <chrono>
#include <iostream>

#include "recording/logger.hpp"
#include "session/device_session.hpp"
#include "session/frame_assembler.hpp"
#include "session/scene_fill.hpp"
#include "util/log_sink.hpp"

namespace TQZ {

namespace {

// Longest wait of the stream worker for a datagram: it wakes at once when one
// is pushed, and looks at its running flag and its source at least this
// often. On the live queue stop wakes it (packet_queue.wake), so there it
// may wait longer: an idle link then costs a few wake-ups a second.
constexpr auto kIdleWait = std::chrono::milliseconds(20);
constexpr auto kLiveIdleWait = std::chrono::milliseconds(250);

}  // namespace

// Waits up to `wait` for the next datagram: from the recorder while it is
// open for reading (and until record_stop releases it), otherwise from the
// live packet queue.
bool DeviceSession::wait_datagram(ByteVector& datagram)
{
    // The recorder pointer is swapped by record/play calls on the caller's thread.
    const std::shared_ptr<VELKOR::Logger> source = std::atomic_load(&recorder);
    return source && source->is_read()
               ? source->packet_queue.pop_for(datagram, kIdleWait)
               : packet_queue.pop_for(datagram, kLiveIdleWait, [this] { return !running.load(); });
}

void DeviceSession::publish(Frame frame)
{
    frames_published.fetch_add(1, std::memory_order_relaxed);
    if (frame_queue.push(std::move(frame))) {
        frames_dropped.fetch_add(1, std::memory_order_relaxed);
    }
}

void DeviceSession::stream_worker_process()
{
    FrameAssembler assembler(slot_mask, &flag_counts);
    ByteVector datagram;
    while (running) {
        if (!wait_datagram(datagram)) {
            continue;
        }
        switch (assembler.feed(datagram.data(), datagram.size())) {
        case FrameAssembler::Result::frame_complete:
            publish(assembler.publish_frame());
            break;
        case FrameAssembler::Result::frame_incomplete:
            slot_losses.fetch_add(1, std::memory_order_relaxed);
            VELKOR::LogLine(VELKOR::log_level::info, VELKOR::log_stream::out) << "slot_loss";
            break;
        default:
            break;
        }
    }
}

// Assembles the datagrams read_once placed in the recorder's queue; false
// once they run out before a frame is complete. Nothing is waited for: the
// file's datagrams are all there when read_once returns.
bool DeviceSession::replay_assemble(VELKOR::Logger& source)
{
    FrameAssembler assembler(slot_mask, &flag_counts);
    ByteVector datagram;
    while (source.packet_queue.pop(datagram)) {
        if (assembler.feed(datagram.data(), datagram.size()) == FrameAssembler::Result::frame_complete) {
            publish(assembler.publish_frame());
            return true;
        }
    }
    return false;
}

bool DeviceSession::get_scene(scene_t& scene)
{
    Frame frame;
    if (!frame_queue.pop(frame) || !frame) {
        return false;
    }
    fill_scene(*frame, scene);
    chain.run(scene);
    return true;
}

bool DeviceSession::wait_scene(scene_t& scene, std::chrono::milliseconds timeout)
{
    Frame frame;
    if (!frame_queue.pop_for(frame, timeout) || !frame) {
        return false;
    }
    fill_scene(*frame, scene);
    chain.run(scene);
    return true;
}

bool DeviceSession::get_scene(scene_t& scene, int index)
{
    const std::shared_ptr<VELKOR::Logger> source = std::atomic_load(&recorder);
    // Only a recording open for playback is replayed: while one is being
    // written the datagrams belong to the live stream.
    if (index >= 0 && source && source->is_read()) {
        // Datagrams the previous replayed frame left behind (the rest of a
        // broken frame read along with it) would otherwise come first and
        // could crowd this frame out of the queue.
        source->packet_queue.clear();
        source->read_once(index);
        if (!replay_assemble(*source)) {
            return false;
        }
    }
    return get_scene(scene);
}

}  // namespace TQZ
