#include <chrono>
#include <iostream>

#include "recording/logger.hpp"
#include "session/device_session.hpp"
#include "session/frame_assembler.hpp"
#include "session/scene_fill.hpp"

namespace TQZ {

namespace {

// Idle poll interval of the stream worker. Every wake-up costs the worker
// a few microseconds of a core whether a datagram waits or not, so the poll is
// as long as the stream allows: at 100 fps about six datagrams arrive per
// millisecond, far below the 128 that packet_queue holds, and a frame is
// published at most a millisecond later than it completes.
constexpr auto kIdlePoll = std::chrono::milliseconds(1);

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

void DeviceSession::stream_worker_process()
{
    FrameAssembler assembler(slot_mask);
    ByteVector datagram;
    while (running) {
        bool from_recorder = false;
        if (!take_datagram(datagram, from_recorder)) {
            std::this_thread::sleep_for(kIdlePoll);
            continue;
        }
        switch (assembler.feed(datagram.data(), datagram.size())) {
        case FrameAssembler::Result::frame_complete:
            frame_queue.push(assembler.publish_frame());
            break;
        case FrameAssembler::Result::frame_incomplete:
            std::cout << "slot_loss" << std::endl;
            break;
        default:
            break;
        }
    }
}

bool DeviceSession::replay_assemble()
{
    FrameAssembler assembler(slot_mask);
    ByteVector datagram;
    // Without a file the datagrams come from the live queue; a stream that
    // never completes a frame must not hold the caller forever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(replay_wait_ms);
    for (;;) {
        bool from_recorder = false;
        if (!take_datagram(datagram, from_recorder)) {
            if (from_recorder || std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(kIdlePoll);
            continue;
        }
        if (assembler.feed(datagram.data(), datagram.size()) == FrameAssembler::Result::frame_complete) {
            frame_queue.push(assembler.publish_frame());
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
    chain.run(scene);
    return true;
}

bool DeviceSession::get_scene(scene_t& scene, int index)
{
    const std::shared_ptr<VELKOR::Logger> source = std::atomic_load(&recorder);
    if (index >= 0 && source) {
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
