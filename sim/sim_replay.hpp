#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "recording/record_format.hpp"
#include "sim_sensor.hpp"

namespace VELKOR {
namespace SIM {

// Serves a `.bin` recording as the simulator's data stream: every record's
// payload is sent as one datagram, in file order, at the time its record
// stamp gives relative to the first record (divided by the speed).
//
// A chunk handed to the simulator runs from one frame start (a row of slot 0,
// row_datagram.hpp) to the next, so the
// simulator's frame counter counts the recording's frames. Records that are
// no frame row (short, out of order) are sent as they are, inside the chunk
// they fall in.
//
// Hostile files are bounded: a length field that runs past the end of the
// file ends the recording there (a truncated last record), a payload too
// large for one UDP datagram is skipped, a chunk holds at most kMaxChunk
// datagrams, and the gap between two stamps is taken as 0 when the clock ran
// backwards and as at most kMaxGapUs when it jumps ahead, so a bad stamp can
// neither burst nor stall the stream.
class SimReplay : public DatagramSource {
public:
    static constexpr std::size_t kMaxChunk = 256;
    static constexpr uint64_t kMaxDatagram = 65507; // largest UDP payload over IPv4
    static constexpr int64_t kMaxGapUs = 1000000;

    // `speed` scales time: 2 sends twice as fast as recorded. With `loop` the
    // recording starts over after its last record, one frame period later.
    SimReplay(std::string path, bool loop, double speed);

    // Opens the file and checks that it holds at least one datagram; false
    // with the reason in `error` otherwise.
    bool open(std::string& error);

    bool next_frame(std::vector<std::vector<uint8_t>>& datagrams) override;
    bool next_timed_frame(std::vector<std::vector<uint8_t>>& datagrams,
                          std::vector<int64_t>& times_us) override;

    // Complete passes over the file so far (for --loop).
    uint64_t passes() const { return passes_; }

private:
    struct Record {
        int64_t stamp_us = 0;
        std::vector<uint8_t> payload;
    };

    // Reads the next sendable record; false at the end of the file or at a
    // record that cannot be complete.
    bool read_record(Record& record);
    void rewind();
    static bool is_frame_start(const std::vector<uint8_t>& payload);

    std::string path_;
    bool loop_;
    double speed_;
    std::ifstream file_;
    std::unique_ptr<RecordReader> reader_; // over the whole file, from its start

    Record pending_; // a frame start read ahead, sent first next time
    bool have_pending_ = false;

    // Replay time in recorded microseconds since the replay began: the
    // bounded stamp gaps summed over everything sent, across passes.
    int64_t replay_us_ = 0;
    bool started_ = false;
    int64_t previous_stamp_ = 0;
    bool have_previous_ = false;    // false at the start of each pass
    int64_t frame_gap_us_ = 100000; // last gap between two frame starts
    int64_t last_frame_stamp_ = 0;
    bool have_frame_stamp_ = false;
    bool sent_this_pass_ = false;
    uint64_t passes_ = 0;
};

} // namespace SIM
} // namespace VELKOR
