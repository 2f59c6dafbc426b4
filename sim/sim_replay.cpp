#include "sim_replay.hpp"

#include "recording/row_datagram.hpp"

#include <cmath>
#include <filesystem>
#include <system_error>
#include <utility>

namespace VELKOR {
namespace SIM {

SimReplay::SimReplay(std::string path, bool loop, double speed)
    : path_(std::move(path)), loop_(loop), speed_(speed > 0.0 && std::isfinite(speed) ? speed : 1.0)
{
}

bool SimReplay::open(std::string& error)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path_, ec)) {
        error =
            std::filesystem::exists(path_, ec) ? path_ + " is not a regular file" : "cannot open " + path_;
        return false;
    }
    file_.open(path_, std::ios::in | std::ios::binary);
    if (!file_.is_open()) {
        error = "cannot open " + path_;
        return false;
    }
    rewind();
    Record first;
    if (!read_record(first)) {
        error = path_ + " holds no datagram";
        return false;
    }
    rewind();
    return true;
}

void SimReplay::rewind()
{
    reader_ = std::make_unique<RecordReader>(file_, 0, RecordReader::stream_size(file_));
    have_pending_ = false;
    have_previous_ = false;
    have_frame_stamp_ = false;
    sent_this_pass_ = false;
}

bool SimReplay::is_frame_start(const std::vector<uint8_t>& payload)
{
    return RowDatagram(payload.data(), payload.size()).begins_frame();
}

bool SimReplay::read_record(Record& record)
{
    // The reader ends at a truncated record, or a length no file of this
    // size holds.
    while (reader_ && reader_->next()) {
        if (reader_->header().length > kMaxDatagram) {
            continue;
        }
        record.stamp_us = reader_->header().time_us;
        return reader_->payload(record.payload);
    }
    return false;
}

bool SimReplay::next_frame(std::vector<std::vector<uint8_t>>& datagrams)
{
    std::vector<int64_t> times_us;
    return next_timed_frame(datagrams, times_us);
}

bool SimReplay::next_timed_frame(std::vector<std::vector<uint8_t>>& datagrams, std::vector<int64_t>& times_us)
{
    datagrams.clear();
    times_us.clear();
    bool rewound = false;
    for (;;) {
        Record record;
        if (have_pending_) {
            record = std::move(pending_);
            have_pending_ = false;
        } else if (!read_record(record)) {
            if (!datagrams.empty()) {
                return true;
            }
            const bool sent_any = sent_this_pass_;
            ++passes_;
            rewind();
            // A pass that sent nothing would loop for ever without a datagram.
            if (!loop_ || !sent_any || rewound) {
                return false;
            }
            rewound = true;
            continue;
        }
        const bool frame_start = is_frame_start(record.payload);
        if (frame_start && !datagrams.empty()) {
            pending_ = std::move(record);
            have_pending_ = true;
            return true;
        }

        if (have_previous_) {
            int64_t gap = record.stamp_us - previous_stamp_;
            gap = gap < 0 ? 0 : (gap > kMaxGapUs ? kMaxGapUs : gap);
            replay_us_ += gap;
        } else if (started_) {
            replay_us_ += frame_gap_us_; // a new pass: one frame period after the last
        }
        started_ = true;
        have_previous_ = true;
        previous_stamp_ = record.stamp_us;
        if (frame_start) {
            const int64_t gap = record.stamp_us - last_frame_stamp_;
            if (have_frame_stamp_ && gap > 0 && gap <= kMaxGapUs) {
                frame_gap_us_ = gap;
            }
            last_frame_stamp_ = record.stamp_us;
            have_frame_stamp_ = true;
        }

        times_us.push_back(std::llround(static_cast<double>(replay_us_) / speed_));
        datagrams.push_back(std::move(record.payload));
        sent_this_pass_ = true;
        if (datagrams.size() >= kMaxChunk) {
            return true;
        }
    }
}

} // namespace SIM
} // namespace VELKOR
