// tqz info FILE.bin [--json]: what a recording holds.
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

#include "command.hpp"
#include "record_walk.hpp"
#include "recording/logger.hpp"

namespace {

struct RecordingStats {
    uint64_t bytes = 0;
    uint64_t records = 0;
    std::map<uint64_t, uint64_t> sizes;  // payload size -> records
    int64_t first_time = 0;
    int64_t last_time = 0;
    uint64_t short_records = 0;     // too short to be a data row
    uint64_t out_of_sequence = 0;   // rows that do not follow the previous one
    uint64_t frame_starts = 0;
    int64_t first_start_time = 0;
    int64_t last_start_time = 0;
    uint64_t truncated_at = 0;      // offset of an incomplete last record
    uint64_t truncated_bytes = 0;
    uint64_t frames = 0;            // frames in the recorder's index
};

// Walks the records with a bounded buffer: length fields are checked against
// the file size and payloads are skipped, never loaded.
bool walk(const std::string& path, RecordingStats& stats)
{
    int previous = -1;
    const tqz::RecordWalk walk = tqz::walk_records(path, [&](int64_t time, uint64_t length, const VELKOR::RowDatagram& row) {
        if (stats.records == 0) {
            stats.first_time = time;
        }
        stats.last_time = time;
        ++stats.records;
        ++stats.sizes[length];
        if (!row.is_row()) {
            ++stats.short_records;
            return;
        }
        const int sequence = row.slot();
        if (sequence == 0) {
            if (stats.frame_starts == 0) {
                stats.first_start_time = time;
            }
            stats.last_start_time = time;
            ++stats.frame_starts;
        } else if (previous < 0 || sequence != previous + 1) {
            ++stats.out_of_sequence;
        }
        previous = sequence;
    });
    if (!walk.opened) {
        return false;
    }
    stats.bytes = walk.bytes;
    if (walk.end < walk.bytes) {
        stats.truncated_at = walk.end;
        stats.truncated_bytes = walk.bytes - walk.end;
    }
    return true;
}

std::string utc_text(int64_t microseconds)
{
    const std::time_t seconds = static_cast<std::time_t>(microseconds / 1000000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &utc);
    char fraction[16];
    std::snprintf(fraction, sizeof(fraction), ".%06" PRId64 "Z", microseconds % 1000000);
    return std::string(text, n) + fraction;
}

double duration_s(const RecordingStats& s) { return s.records ? (s.last_time - s.first_time) / 1e6 : 0.0; }

double mean_fps(const RecordingStats& s)
{
    const double span = (s.last_start_time - s.first_start_time) / 1e6;
    return s.frame_starts > 1 && span > 0 ? (s.frame_starts - 1) / span : 0.0;
}

int run_info(const tqz::Args& args)
{
    std::string path;
    bool as_json = false;
    for (const auto& arg : args) {
        if (arg == "--json") {
            as_json = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return tqz::fail("info", "unknown option " + arg);
        } else if (path.empty()) {
            path = arg;
        } else {
            return tqz::fail("info", "one file at a time");
        }
    }
    if (path.empty()) {
        return tqz::fail("info", "usage: tqz info FILE.bin [--json]");
    }
    // A directory opens as a stream too, with a size no file has.
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && !std::filesystem::is_regular_file(path, ec)) {
        return tqz::fail("info", path + " is not a regular file");
    }
    RecordingStats stats;
    if (!walk(path, stats)) {
        return tqz::fail("info", "cannot open " + path);
    }
    {
        VELKOR::Logger logger;
        logger.open({path, true});
        // The index holds the frame starts and the end marker; an empty
        // index is 0 frames (its "last frame number" is not a count).
        stats.frames = logger.frame_index().size() - 1;
    }

    const uint64_t broken = stats.short_records + stats.out_of_sequence;
    if (as_json) {
        nlohmann::json sizes = nlohmann::json::object();
        for (const auto& [size, count] : stats.sizes) {
            sizes[std::to_string(size)] = count;
        }
        nlohmann::json out = {
            {"file", path},
            {"bytes", stats.bytes},
            {"records", stats.records},
            {"datagram_sizes", sizes},
            {"frames", stats.frames},
            {"first_time_us", stats.first_time},
            {"last_time_us", stats.last_time},
            {"duration_s", duration_s(stats)},
            {"mean_fps", mean_fps(stats)},
            {"broken", broken},
            {"short", stats.short_records},
            {"out_of_sequence", stats.out_of_sequence},
            {"truncated", stats.truncated_bytes > 0},
            {"truncated_bytes", stats.truncated_bytes},
        };
        std::printf("%s\n", out.dump(2).c_str());
        return 0;
    }

    std::printf("file:            %s\n", path.c_str());
    std::printf("bytes:           %" PRIu64 "\n", stats.bytes);
    std::printf("records:         %" PRIu64 "\n", stats.records);
    std::printf("datagram sizes: ");
    if (stats.sizes.empty()) {
        std::printf(" none");
    }
    std::size_t shown = 0;
    for (const auto& [size, count] : stats.sizes) {
        if (++shown > 8) {
            std::printf(" ... (%zu sizes)", stats.sizes.size());
            break;
        }
        std::printf(" %" PRIu64 " x %" PRIu64 "%s", size, count, shown < stats.sizes.size() ? "," : "");
    }
    std::printf("\nframes indexed:  %" PRIu64 "\n", stats.frames);
    if (stats.records > 0) {
        std::printf("first time:      %s\n", utc_text(stats.first_time).c_str());
        std::printf("last time:       %s\n", utc_text(stats.last_time).c_str());
    }
    std::printf("duration:        %.6f s\n", duration_s(stats));
    std::printf("mean frame rate: %.2f fps\n", mean_fps(stats));
    std::printf("broken records:  %" PRIu64 " (%" PRIu64 " short, %" PRIu64 " out of sequence)\n", broken,
                stats.short_records, stats.out_of_sequence);
    if (stats.truncated_bytes > 0) {
        std::printf("truncated:       yes, %" PRIu64 " bytes at offset %" PRIu64 "\n", stats.truncated_bytes,
                    stats.truncated_at);
    } else {
        std::printf("truncated:       no\n");
    }
    return 0;
}

const tqz::CommandRegistrar registrar({"info", "info FILE.bin [--json]      what a recording holds", run_info});

}  // namespace
