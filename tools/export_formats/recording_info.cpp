#include "recording_info.hpp"

#include "record_walk.hpp"
#include "recording/logger.hpp"

namespace VELKOR {
namespace EXPORT {

double RecordingInfo::duration_s() const
{
    return records ? (last_time - first_time) / 1e6 : 0.0;
}

double RecordingInfo::mean_fps() const
{
    const double span = (last_start_time - first_start_time) / 1e6;
    return frame_starts > 1 && span > 0 ? (frame_starts - 1) / span : 0.0;
}

bool read_recording_info(const std::string& path, RecordingInfo& info)
{
    info = RecordingInfo{};
    int previous = -1;
    const RecordWalk walk = walk_records(path, [&](int64_t time, uint64_t length, const RowDatagram& row) {
        if (info.records == 0) {
            info.first_time = time;
        }
        info.last_time = time;
        ++info.records;
        ++info.sizes[length];
        if (!row.is_row()) {
            ++info.short_records;
            return;
        }
        const int sequence = row.slot();
        if (sequence == 0) {
            if (info.frame_starts == 0) {
                info.first_start_time = time;
            }
            info.last_start_time = time;
            ++info.frame_starts;
        } else if (previous < 0 || sequence != previous + 1) {
            ++info.out_of_sequence;
        }
        previous = sequence;
    });
    if (!walk.opened) {
        return false;
    }
    info.bytes = walk.bytes;
    if (walk.end < walk.bytes) {
        info.truncated_at = walk.end;
        info.truncated_bytes = walk.bytes - walk.end;
    }
    Logger logger;
    logger.open({path, true});
    // The index holds the frame starts and the end marker; an empty index is
    // 0 frames (its "last frame number" is not a count).
    const std::size_t entries = logger.frame_index().size();
    info.frames = entries > 0 ? entries - 1 : 0;
    return true;
}

nlohmann::json recording_info_json(const std::string& path, const RecordingInfo& info)
{
    nlohmann::json sizes = nlohmann::json::object();
    for (const auto& [size, count] : info.sizes) {
        sizes[std::to_string(size)] = count;
    }
    return {
        {"file", path},
        {"bytes", info.bytes},
        {"records", info.records},
        {"datagram_sizes", sizes},
        {"frames", info.frames},
        {"first_time_us", info.first_time},
        {"last_time_us", info.last_time},
        {"duration_s", info.duration_s()},
        {"mean_fps", info.mean_fps()},
        {"broken", info.broken()},
        {"short", info.short_records},
        {"out_of_sequence", info.out_of_sequence},
        {"truncated", info.truncated_bytes > 0},
        {"truncated_bytes", info.truncated_bytes},
    };
}

}  // namespace EXPORT
}  // namespace VELKOR
