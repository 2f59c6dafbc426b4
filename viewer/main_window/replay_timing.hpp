#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The pace of a replay, taken from the recording's own record time stamps.
namespace replay_timing {

// Replay rate at speed 1 when a recording's stamps are unusable.
constexpr double kFallbackRate = 10.0;
// A gap between two frames longer than this is no frame period: the
// recording was paused, or the stamps are broken.
constexpr int64_t kMaxFrameGapUs = 2000000;

// The record time stamp (us) of the first record of every indexed frame of
// the recording at `path`; empty when it cannot be read. `file_bytes` gets
// the file's size.
std::vector<int64_t> frame_stamps(const std::string& path, uint64_t& file_bytes);

// Frames per second the stamps show: (frames - 1) over the time from the
// first to the last. 0 when they are unusable: fewer than two frames, a
// zero stamp, a stamp not after the one before, or a gap over kMaxFrameGapUs.
double recorded_rate(const std::vector<int64_t>& stamps_us);

}  // namespace replay_timing
