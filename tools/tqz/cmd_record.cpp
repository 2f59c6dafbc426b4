// tqz record: records a sensor's live data stream into a `.bin` file and
// prints the file's path.
//
// The recorder opens before the run command goes out, so the file begins
// with the first datagram the sensor sends; it closes after the stop command
// and a moment for the datagrams still in flight, so the last frame in the
// file is usually cut short by the stop. The file is named as the recorder
// names it: DIR/"%m-%d-%H-%M-%S".bin in local time, with "-1", "-2", ...
// before ".bin" when another recording has that name already.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

#include "api/lidar_tq.hpp"
#include "command.hpp"
#include "link_options.hpp"
#include "record_walk.hpp"

namespace {

const char kName[] = "record";
const char kUsage[] =
    "record --sensor ADDR[:PORT] --out DIR [--frames N | --seconds S] [--local ADDR[:PORT]] "
    "[--timeout S]  record the live stream, print the file's path";
const char kHelp[] = "Usage: tqz record --sensor ADDR[:PORT] --out DIR [OPTIONS]\n"
                     "\n"
                     "Records every UDP datagram the sensor sends into DIR/MM-DD-hh-mm-ss.bin\n"
                     "(local time; DIR is created if missing; MM-DD-hh-mm-ss-1.bin, ... when\n"
                     "that name is taken) and prints that path on stdout. When a write fails\n"
                     "(disk full) the recording stops and the tool exits 1 with the cause.\n"
                     "Without --frames or --seconds it records until SIGINT or SIGTERM (Ctrl-C),\n"
                     "which end the recording as a limit does. A summary line goes to stderr.\n"
                     "\n"
                     "Options:\n"
                     "  --sensor ADDR[:PORT]  the sensor's IPv4 command address (port 2000 if none)\n"
                     "  --out DIR             directory of the recording\n"
                     "  --frames N            stop after N frames have arrived (the file then\n"
                     "                        holds at least N complete frames; default: no limit)\n"
                     "  --seconds S           stop after S seconds (default: no limit)\n"
                     "  --local ADDR[:PORT]   the PC's own IPv4 address (default 0.0.0.0: any,\n"
                     "                        port 0: chosen by the system)\n"
                     "  --timeout S           give up when no frame has arrived for S seconds\n"
                     "                        (default 10)\n"
                     "\n"
                     "Exit status: 0 when the recording was made, 1 when it failed (one line on\n"
                     "stderr), 2 for bad usage, 130 when Ctrl-C came before the recording began.\n";

struct RecordOptions {
    VELKOR::IP_ADDRESS_T sensor;
    VELKOR::IP_ADDRESS_T local{"0.0.0.0", 0};
    std::string dir;
    long frames = 0;      // 0: no frame limit
    double seconds = 0.0; // 0: no time limit
    double timeout_s = 10.0;
};

// Empty string on success, else the error text.
std::string parse(const tqz::Args& args, RecordOptions& o)
{
    bool have_sensor = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg != "--sensor" && arg != "--local" && arg != "--out" && arg != "--frames" &&
            arg != "--seconds" && arg != "--timeout") {
            return "unknown option '" + arg + "'";
        }
        if (!tqz::option_value(args, i, value)) {
            return arg + " needs a value";
        }
        std::string error;
        if (arg == "--out") {
            if (value.empty()) {
                return "--out needs a directory";
            }
            o.dir = value;
        } else if (arg == "--frames") {
            error = tqz::parse_count(arg, value, o.frames);
        } else if (arg == "--seconds" || arg == "--timeout") {
            error = tqz::parse_seconds(arg, value, arg == "--seconds" ? o.seconds : o.timeout_s);
        } else {
            tqz::parse_link_option(arg, value, o.sensor, o.local, have_sensor, error);
        }
        if (!error.empty()) {
            return error;
        }
    }
    if (!have_sensor) {
        return "--sensor ADDR[:PORT] is required";
    }
    if (o.dir.empty()) {
        return "--out DIR is required";
    }
    if (o.frames > 0 && o.seconds > 0) {
        return "give --frames or --seconds, not both";
    }
    return "";
}

// The directory as the recorder's name prefix, created when missing.
bool prepare_dir(const std::string& dir, std::string& prefix, std::string& error)
{
    std::error_code ec;
    if (!std::filesystem::exists(dir, ec)) {
        std::filesystem::create_directories(dir, ec);
        if (ec) {
            error = "cannot create directory " + dir + ": " + ec.message();
            return false;
        }
    } else if (!std::filesystem::is_directory(dir, ec)) {
        error = dir + " is not a directory";
        return false;
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        error = "cannot write in " + dir + ": " + std::strerror(errno);
        return false;
    }
    prefix = dir.back() == '/' ? dir : dir + "/";
    return true;
}

struct FileSummary {
    uint64_t records = 0;
    uint64_t bytes = 0;
    uint64_t whole_frames = 0; // runs of rows 0..55 in order
};

constexpr int kRowsPerFrame = 56;

// Counts the records of a recording by their length fields, and the frames
// whose rows all follow one another in it. Reads the 6 bytes up to a row's
// number of each payload only.
FileSummary summarise(const std::string& path)
{
    FileSummary s;
    int run = 0; // rows of the current frame seen in order
    s.bytes = VELKOR::EXPORT::walk_records(path, [&](int64_t, uint64_t, const VELKOR::RowDatagram& datagram) {
                  ++s.records;
                  if (!datagram.is_row()) {
                      return; // no row: other traffic between the rows breaks no frame
                  }
                  const int row = datagram.slot();
                  run = row == 0 ? 1 : (run > 0 && row == run ? run + 1 : 0);
                  if (run == kRowsPerFrame) {
                      ++s.whole_frames;
                      run = 0;
                  }
              }).bytes;
    return s;
}

int run_record(const tqz::Args& args)
{
    RecordOptions o;
    std::string error = parse(args, o);
    if (!error.empty()) {
        return tqz::usage_error(kName, error);
    }
    std::string prefix;
    if (!prepare_dir(o.dir, prefix, error)) {
        return tqz::fail(kName, error);
    }

    // A stop signal ends the recording as a limit does; during the connect,
    // before any file exists, it ends the command at once.
    const tqz::StopSignals stop(kName);
    const tqz::LibraryLog log(kName);
    std::string path;
    long frames = 0;
    double elapsed_s = 0.0;
    {
        tqz::QuietLibraryOutput quiet;
        VELKOR::LidarTQ lidar;
        // Scenes are only counted here: the correcting modules would cost CPU
        // for nothing. The recording holds the raw datagrams either way.
        lidar.set_signal_data_processing(false);
        error = tqz::connect_sensor(lidar, o.sensor, o.local);
        if (!error.empty()) {
            return tqz::fail(kName, error);
        }
        if (!lidar.record_start(prefix)) {
            lidar.record_stop();
            lidar.disconnect();
            return tqz::fail(kName, "cannot create a recording in " + o.dir);
        }
        path = lidar.recording_path();
        if (!lidar.run()) {
            lidar.stop();
            lidar.record_stop();
            lidar.disconnect();
            if (!path.empty()) {
                std::remove(path.c_str());
            }
            return tqz::fail(kName, "the sensor did not take the run command");
        }

        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        auto last_frame = start;
        const auto timeout = std::chrono::duration<double>(o.timeout_s);
        const auto limit = std::chrono::duration<double>(o.seconds);
        VELKOR::LidarTQ::scene_t scene;
        bool stalled = false;
        while (!stop.requested() && lidar.stats().recording_failed == 0) {
            const auto now = Clock::now();
            if (o.seconds > 0 && now - start >= limit) {
                break;
            }
            if (now - last_frame >= timeout) {
                stalled = true;
                break;
            }
            // Wakes at the next limit, or after kStopCheck to look for a stop.
            auto wait = std::min(std::chrono::duration_cast<Clock::duration>(timeout - (now - last_frame)),
                                 std::chrono::duration_cast<Clock::duration>(tqz::kStopCheck));
            if (o.seconds > 0) {
                wait = std::min(wait, std::chrono::duration_cast<Clock::duration>(limit - (now - start)));
            }
            if (lidar.wait_scene(scene, std::chrono::duration_cast<std::chrono::milliseconds>(wait) +
                                            std::chrono::milliseconds(1))) {
                last_frame = Clock::now();
                if (++frames >= o.frames && o.frames > 0) {
                    break;
                }
            }
        }
        elapsed_s = std::chrono::duration<double>(Clock::now() - start).count();
        lidar.stop();
        // Datagrams sent before the sensor took the stop are still on their way.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        lidar.record_stop();
        // A failed write (disk full, I/O error) ended the recording, perhaps
        // only while the last records were written out.
        const bool failed = lidar.stats().recording_failed != 0;
        const std::string failure = lidar.last_error();
        lidar.disconnect();
        if (failed) {
            return tqz::fail(kName, failure + "; the whole records written are in " + path);
        }
        if (stalled) {
            const std::string waited =
                "no frame arrived for " + std::to_string(o.timeout_s).substr(0, 5) + " s";
            std::error_code ec;
            if (std::filesystem::file_size(path, ec) == 0 && !ec) {
                std::filesystem::remove(path, ec); // an empty recording is no recording
                return tqz::fail(kName, waited);
            }
            return tqz::fail(kName, waited + "; what arrived is in " + path);
        }
        std::fprintf(quiet.out, "%s\n", path.c_str());
    }

    const FileSummary summary = summarise(path);
    std::fprintf(stderr, "tqz record: %llu datagrams (%llu bytes), %llu whole frames in %.2f s\n",
                 static_cast<unsigned long long>(summary.records),
                 static_cast<unsigned long long>(summary.bytes),
                 static_cast<unsigned long long>(summary.whole_frames), elapsed_s);
    // Every frame that arrived whole was recorded from its first row on; one
    // that is not whole in the file was lost between the receive thread and
    // the disk (the recorder's write queue overflowed while the disk stalled).
    if (summary.whole_frames < static_cast<uint64_t>(frames)) {
        std::fprintf(stderr,
                     "tqz record: warning: the recorder fell behind: %ld frames arrived whole, %llu are "
                     "whole in the file\n",
                     frames, static_cast<unsigned long long>(summary.whole_frames));
    }
    return 0;
}

const tqz::CommandRegistrar registrar({kName, kUsage, kHelp, &run_record});

} // namespace
