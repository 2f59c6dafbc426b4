// tqz stream: connects, runs and prints one line per scene.

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "api/lidar_tq.hpp"
#include "command.hpp"
#include "link_options.hpp"

namespace {

const char kName[] = "stream";

struct StreamOptions {
    VELKOR::IP_ADDRESS_T sensor;
    VELKOR::IP_ADDRESS_T local{"0.0.0.0", 0};
    long frames = 10;
    double timeout_s = 10.0;
    bool raw = false;
};

// Empty string on success, else the error text.
std::string parse(const tqz::Args& args, StreamOptions& o)
{
    bool have_sensor = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        double number = 0;
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
        if (tqz::parse_link_option(arg, value, o.sensor, o.local, have_sensor, error)) {
            if (!error.empty()) {
                return error;
            }
        } else if (!tqz::parse_number(value, number) || number < (arg == "--frames" ? 1 : 0)) {
            return arg + " needs a positive number, not '" + value + "'";
        } else if (arg == "--frames") {
            o.frames = static_cast<long>(number);
        } else {
            o.timeout_s = number;
        }
    }
    return have_sensor ? "" : "--sensor ADDR[:PORT] is required";
}

int run_stream(const tqz::Args& args)
{
    StreamOptions o;
    const std::string error = parse(args, o);
    if (!error.empty()) {
        return tqz::fail(kName, error);
    }

    tqz::QuietLibraryOutput quiet;
    VELKOR::LidarTQ lidar;
    lidar.set_signal_data_processing(!o.raw);
    if (!tqz::connect_sensor(kName, lidar, o.sensor, o.local)) {
        return 1;
    }
    if (!lidar.run()) {
        lidar.stop();
        lidar.disconnect();
        return tqz::fail(kName, "the sensor did not take the run command");
    }

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.timeout_s));
    Clock::time_point first;
    VELKOR::LidarTQ::scene_t scene;
    long received = 0;
    while (received < o.frames && Clock::now() < deadline) {
        if (!lidar.get_scene(scene)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        const auto now = Clock::now();
        if (received == 0) {
            first = now;
        }
        ++received;
        long valid = 0;
        for (const float d : scene.depth) {
            valid += d > 0.0f ? 1 : 0;
        }
        const double span = std::chrono::duration<double>(now - first).count();
        const double fps = received > 1 && span > 0 ? (received - 1) / span : 0.0;
        std::fprintf(quiet.out, "frame %ld rows=%d cols=%d valid=%ld fps=%.1f\n", received, scene.rows, scene.cols,
                     valid, fps);
        std::fflush(quiet.out);
    }
    lidar.stop();
    lidar.disconnect();
    if (received < o.frames) {
        return tqz::fail(kName, "only " + std::to_string(received) + " of " + std::to_string(o.frames) +
                                    " scenes arrived within " + std::to_string(o.timeout_s).substr(0, 5) + " s");
    }
    return 0;
}

const tqz::CommandRegistrar registrar({kName,
                                        "stream --sensor ADDR[:PORT] [--local ADDR[:PORT]] [--frames N] "
                                        "[--timeout S] [--raw]  print one line per scene",
                                        &run_stream});

}  // namespace
