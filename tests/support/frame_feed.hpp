#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "session/device_session.hpp"
#include "session/frame_assembler.hpp"

namespace TESTSUPPORT {

using Datagrams = std::vector<std::vector<uint8_t>>;

// What feeding a run of datagrams to an assembler produced.
struct FeedResult {
    std::vector<TQZ::Frame> frames;  // range frames, in completion order
    int incomplete = 0;              // last slots reached with slots missing
    int dropped = 0;
};

// Feeds each datagram from an exactly sized heap copy, so that a read past
// its end is caught by AddressSanitizer.
FeedResult feed(TQZ::FrameAssembler& assembler, const Datagrams& datagrams);

// Feeds the datagrams to the session's stream pipeline as if received,
// pacing so its packet queue never overflows, and waits until its frame
// queue holds `frames` frames or
// `limit` passes. True when the frames arrived.
bool feed_session(TQZ::DeviceSession& session, const Datagrams& datagrams, std::size_t frames,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

// Appends b to a.
void append(Datagrams& a, const Datagrams& b);

}  // namespace TESTSUPPORT
