#include <chrono>
#include <iostream>

#include "processing/processing_chain.hpp"
#include "recording/logger.hpp"
#include "session/device_session.hpp"
#include "session/frame_assembler.hpp"
#include "session/scene_fill.hpp"
#include "util/log_sink.hpp"

namespace TQZ {

namespace {

// Longest wait of the stream worker for a datagram: it wakes at once when one
// is pushed, and looks at its running flag at least this often, so stop joins
// it within this time.
constexpr auto kIdleWait = std::chrono::milliseconds(20);

}  // namespace

// Takes the next datagram from the recorder while it replays a file,
// otherwise from the live packet queue. `from_recorder` tells which was used.
bool DeviceSession::take_datagram(ByteVector& datagram, bool& from_recorder)
{
    // The recorder pointer is swapped by record/play calls on the caller's thread.
    const std::shared_ptr<VELKOR::Logger> source = std::atomic_load(&recorder);
    from_recorder = source && source->is_read();
    return from_recorder ? source->packet_queue.pop(datagram) : packet_queue.pop(datagram);
}

// As take_datagram, but waits for a datagram up to `wait`.
bool DeviceSession::wait_datagram(ByteVector& datagram, bool& from_recorder, std::chrono::milliseconds wait)
{
    const std::shared_ptr<VELKOR::Logger> source = std::atomic_load(&recorder);
    from_recorder = source && source->is_read();
    return from_recorder ? source->packet_queue.pop_for(datagram, wait) : packet_queue.pop_for(datagram, wait);
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
        bool from_recorder = false;
        if (!wait_datagram(datagram, from_recorder, kIdleWait)) {
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

bool DeviceSession::replay_assemble()
{
    FrameAssembler assembler(slot_mask, &flag_counts);
    ByteVector datagram;
    // Without a file the datagrams come from the live queue; a stream that
    // never completes a frame must not hold the caller forever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(replay_wait_ms);
    for (;;) {
        bool from_recorder = false;
        if (!take_datagram(datagram, from_recorder)) {
            const auto now = std::chrono::steady_clock::now();
            if (from_recorder || now >= deadline) {
                return false;
            }
            if (!wait_datagram(datagram, from_recorder,
                               std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                                   std::chrono::milliseconds(1))) {
                continue;
            }
        }
        if (assembler.feed(datagram.data(), datagram.size()) == FrameAssembler::Result::frame_complete) {
            publish(assembler.publish_frame());
            return true;
        }
        if (!from_recorder && std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
    }
}

bool DeviceSession::get_scene(scene_t& scene)
{
    Frame frame;
    if (!frame_queue.pop(frame) || !frame) {
        return false;
    }
    fill_scene(*frame, scene);
    run_processing_chain(scene);
    return true;
}

bool DeviceSession::wait_scene(scene_t& scene, std::chrono::milliseconds timeout)
{
    Frame frame;
    if (!frame_queue.pop_for(frame, timeout) || !frame) {
        return false;
    }
    fill_scene(*frame, scene);
    run_processing_chain(scene);
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
        if (!replay_assemble()) {
            return false;
        }
    }
    return get_scene(scene);
}

}  // namespace TQZ
