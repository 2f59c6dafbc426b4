#pragma once

// What a `.bin` recording holds, as `tqz info` reports it and the Python
// package's Recording.info() returns it: one computation, one set of keys.

#include <cstdint>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

namespace VELKOR {
namespace EXPORT {

struct RecordingInfo {
    uint64_t bytes = 0;
    uint64_t records = 0;
    std::map<uint64_t, uint64_t> sizes;  // payload size -> records
    int64_t first_time = 0;              // us since 1970 of the first record
    int64_t last_time = 0;
    uint64_t short_records = 0;    // too short to be a data row
    uint64_t out_of_sequence = 0;  // rows that do not follow the previous one
    uint64_t frame_starts = 0;
    int64_t first_start_time = 0;
    int64_t last_start_time = 0;
    uint64_t truncated_at = 0;  // offset of an incomplete last record
    uint64_t truncated_bytes = 0;
    uint64_t frames = 0;  // frames in the recorder's index

    uint64_t broken() const { return short_records + out_of_sequence; }
    double duration_s() const;
    double mean_fps() const;
};

// Walks the records with a bounded buffer (length fields checked against the
// file size, payloads skipped, never loaded) and counts the frames the
// recorder indexes. False when the file cannot be opened.
bool read_recording_info(const std::string& path, RecordingInfo& info);

// The document `tqz info --json` prints; `path` as given is its "file".
nlohmann::json recording_info_json(const std::string& path, const RecordingInfo& info);

}  // namespace EXPORT
}  // namespace VELKOR
