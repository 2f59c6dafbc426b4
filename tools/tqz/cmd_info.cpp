// tqz info FILE.bin [--json]: what a recording holds.
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

#include "command.hpp"
#include "recording_info.hpp"

namespace {

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

int run_info(const tqz::Args& args)
{
    std::string path;
    bool as_json = false;
    for (const auto& arg : args) {
        if (arg == "--json") {
            as_json = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return tqz::usage_error("info", "unknown option '" + arg + "'");
        } else if (path.empty()) {
            path = arg;
        } else {
            return tqz::usage_error("info", "one file at a time");
        }
    }
    if (path.empty()) {
        return tqz::usage_error("info", "usage: tqz info FILE.bin [--json]");
    }
    // A directory opens as a stream too, with a size no file has.
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && !std::filesystem::is_regular_file(path, ec)) {
        return tqz::fail("info", path + " is not a regular file");
    }
    VELKOR::EXPORT::RecordingInfo stats;
    if (!VELKOR::EXPORT::read_recording_info(path, stats)) {
        return tqz::fail("info", "cannot open " + path);
    }

    const uint64_t broken = stats.broken();
    if (as_json) {
        const nlohmann::json out = VELKOR::EXPORT::recording_info_json(path, stats);
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
    std::printf("duration:        %.6f s\n", stats.duration_s());
    std::printf("mean frame rate: %.2f fps\n", stats.mean_fps());
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

const char kHelp[] = "Usage: tqz info FILE.bin [OPTIONS]\n"
                     "\n"
                     "What a recording holds: records, bytes, datagram sizes, frames indexed,\n"
                     "time span, frame rate, broken and truncated records.\n"
                     "\n"
                     "Options:\n"
                     "  --json  the same as one JSON object (default: text)\n"
                     "\n"
                     "Exit status: 0 on success, 1 when FILE cannot be read, 2 for bad usage.\n";

const tqz::CommandRegistrar registrar({"info", "info FILE.bin [--json]  what a recording holds", kHelp, run_info});

}  // namespace
