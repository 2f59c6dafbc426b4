// tqz stream: connects to one sensor or more, runs them and prints one line
// per scene; with several sensors each has a thread of its own and every
// line names its sensor.

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "api/lidar_tq.hpp"
#include "command.hpp"
#include "link_options.hpp"

namespace {

const char kName[] = "stream";
const char kUsage[] = "stream --sensor ADDR[:PORT] [--sensor ...] [--frames N] [--timeout S] [--raw]  "
                      "print one line per scene";
const char kHelp[] =
    "Usage: tqz stream --sensor ADDR[:PORT] [--sensor ADDR[:PORT] ...] [OPTIONS]\n"
    "\n"
    "Connects to the sensor, starts its measurement and prints one line per\n"
    "scene: 'frame K rows=R cols=C valid=V fps=F'. Given more than once,\n"
    "--sensor streams every sensor at the same time, each on a thread of its\n"
    "own, and each line begins with 'sensor K ' (K counts the --sensor options\n"
    "from 1).\n"
    "\n"
    "Options:\n"
    "  --sensor ADDR[:PORT]  the sensor's IPv4 command address (port 2000 if none)\n"
    "  --local ADDR[:PORT]   the PC's own IPv4 address (default 0.0.0.0: any, port\n"
    "                        0: chosen by the system; with several sensors the\n"
    "                        port must be 0)\n"
    "  --frames N            stop after N scenes from each sensor (default 10)\n"
    "  --timeout S           give up when no scene has arrived for S seconds\n"
    "                        (default 10)\n"
    "  --raw                 scenes as assembled, without the correcting modules\n"
    "                        (default: processed)\n"
    "\n"
    "Exit status: 0 when every sensor gave N scenes, 1 when one did not (an\n"
    "error line on stderr names the sensor and the cause), 2 for bad usage,\n"
    "130 after Ctrl-C.\n";

struct StreamOptions {
    std::vector<VELKOR::IP_ADDRESS_T> sensors;
    VELKOR::IP_ADDRESS_T local{"0.0.0.0", 0};
    long frames = 10;
    double timeout_s = 10.0;
    bool raw = false;
};

// Empty string on success, else the usage error.
std::string parse(const tqz::Args& args, StreamOptions& o)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg == "--raw") {
            o.raw = true;
            continue;
        }
        if (arg != "--sensor" && arg != "--local" && arg != "--frames" && arg != "--timeout") {
            return "unknown option '" + arg + "'";
        }
        if (!tqz::option_value(args, i, value)) {
            return arg + " needs a value";
        }
        std::string error;
        bool have_sensor = false;
        VELKOR::IP_ADDRESS_T sensor;
        if (tqz::parse_link_option(arg, value, sensor, o.local, have_sensor, error)) {
            if (have_sensor) {
                o.sensors.push_back(sensor);
            }
        } else if (arg == "--frames") {
            error = tqz::parse_count(arg, value, o.frames);
        } else {
            error = tqz::parse_seconds(arg, value, o.timeout_s);
        }
        if (!error.empty()) {
            return error;
        }
    }
    if (o.sensors.empty()) {
        return "--sensor ADDR[:PORT] is required";
    }
    if (o.sensors.size() > 1 && o.local.port != 0) {
        return "--local with a port takes one --sensor (each sensor needs a port of its own)";
    }
    return "";
}

// Streams one sensor; empty on success, else the error text.
std::string stream_one(const StreamOptions& o, const VELKOR::IP_ADDRESS_T& sensor, const std::string& prefix,
                       const tqz::StopSignals& stop, FILE* out)
{
    VELKOR::LidarTQ lidar;
    lidar.set_signal_data_processing(!o.raw);
    std::string error = tqz::connect_sensor(lidar, sensor, o.local);
    if (!error.empty()) {
        return error;
    }
    if (!lidar.run()) {
        const std::string why = lidar.last_error();
        lidar.stop();
        lidar.disconnect();
        return "the sensor did not take the run command" + (why.empty() ? "" : ": " + why);
    }

    using Clock = std::chrono::steady_clock;
    const auto timeout = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.timeout_s));
    auto last = Clock::now();
    Clock::time_point first;
    VELKOR::LidarTQ::scene_t scene;
    long received = 0;
    bool stalled = false;
    while (received < o.frames && !stop.requested()) {
        const auto quiet_for = Clock::now() - last;
        if (quiet_for >= timeout) {
            stalled = true;
            break;
        }
        const auto wait = std::min(std::chrono::duration_cast<std::chrono::milliseconds>(timeout - quiet_for) +
                                       std::chrono::milliseconds(1),
                                   tqz::kStopCheck);
        if (!lidar.wait_scene(scene, wait)) {
            continue;
        }
        last = Clock::now();
        if (received == 0) {
            first = last;
        }
        ++received;
        long valid = 0;
        for (const float d : scene.depth) {
            valid += d > 0.0f ? 1 : 0;
        }
        const double span = std::chrono::duration<double>(last - first).count();
        const double fps = received > 1 && span > 0 ? (received - 1) / span : 0.0;
        // One call per line: the lines of several sensors do not mix.
        std::fprintf(out, "%sframe %ld rows=%d cols=%d valid=%ld fps=%.1f\n", prefix.c_str(), received, scene.rows,
                     scene.cols, valid, fps);
        std::fflush(out);
    }
    lidar.stop();
    lidar.disconnect();
    if (stalled) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", o.timeout_s);
        return "only " + std::to_string(received) + " of " + std::to_string(o.frames) +
               " scenes arrived: none for " + seconds + " s";
    }
    return "";
}

int run_stream(const tqz::Args& args)
{
    StreamOptions o;
    const std::string error = parse(args, o);
    if (!error.empty()) {
        return tqz::usage_error(kName, error);
    }

    const tqz::StopSignals stop(kName);
    const tqz::LibraryLog log(kName);
    tqz::QuietLibraryOutput quiet;
    std::vector<std::string> errors(o.sensors.size());
    if (o.sensors.size() == 1) {
        errors[0] = stream_one(o, o.sensors[0], "", stop, quiet.out);
    } else {
        std::vector<std::thread> threads;
        for (std::size_t k = 0; k < o.sensors.size(); ++k) {
            threads.emplace_back([&, k] {
                errors[k] = stream_one(o, o.sensors[k], "sensor " + std::to_string(k + 1) + " ", stop, quiet.out);
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
    }
    int status = tqz::kExitOk;
    for (std::size_t k = 0; k < errors.size(); ++k) {
        if (!errors[k].empty()) {
            status = tqz::fail(kName, (o.sensors.size() > 1 ? "sensor " + std::to_string(k + 1) + ": " : "") +
                                          errors[k]);
        }
    }
    if (stop.requested()) {
        std::fprintf(stderr, "tqz %s: interrupted\n", kName);
        return stop.exit_code();
    }
    return status;
}

const tqz::CommandRegistrar registrar({kName, kUsage, kHelp, &run_stream});

} // namespace
