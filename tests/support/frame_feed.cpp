#include "frame_feed.hpp"

#include <cstring>
#include <memory>
#include <thread>

namespace TESTSUPPORT {

FeedResult feed(TQZ::FrameAssembler& assembler, const Datagrams& datagrams)
{
    FeedResult result;
    for (const auto& datagram : datagrams) {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[datagram.size() + (datagram.empty() ? 1 : 0)]);
        if (!datagram.empty()) {
            std::memcpy(exact.get(), datagram.data(), datagram.size());
        }
        switch (assembler.feed(exact.get(), datagram.size())) {
        case TQZ::FrameAssembler::Result::frame_complete:
            result.frames.push_back(assembler.publish_frame());
            break;
        case TQZ::FrameAssembler::Result::frame_incomplete:
            ++result.incomplete;
            break;
        case TQZ::FrameAssembler::Result::dropped:
            ++result.dropped;
            break;
        default:
            break;
        }
    }
    return result;
}

bool feed_session(TQZ::DeviceSession& session, const Datagrams& datagrams, std::size_t frames,
                  std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    TQZ::StreamPipeline& stream = session.stream();
    const std::size_t room = static_cast<std::size_t>(stream.packet_capacity()) / 2;
    for (const auto& datagram : datagrams) {
        while (stream.packets_waiting() >= room) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        stream.receive(datagram.data(), datagram.size());
    }
    while (stream.frames_waiting() < frames) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void append(Datagrams& a, const Datagrams& b) { a.insert(a.end(), b.begin(), b.end()); }

}  // namespace TESTSUPPORT
