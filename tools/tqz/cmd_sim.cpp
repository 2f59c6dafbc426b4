// tqz sim: runs the simulated sensor until SIGINT or SIGTERM. It streams a
// synthetic room, or with --replay the datagrams of a recording, each at the
// time its record stamp gives (scaled by --speed). Commands are answered the
// same either way; a replay without --loop stops streaming at the end of the
// file and starts over from its beginning on the next run command.

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "command.hpp"
#include "link_options.hpp"
#include "sim_firmware_handler.hpp"
#include "sim_replay.hpp"
#include "sim_sensor.hpp"

namespace {

const char kName[] = "sim";

int run_sim(const tqz::Args& args)
{
    VELKOR::SIM::SimOptions options;
    options.port = 2000;
    std::string replay_path;
    bool loop = false;
    double speed = 1.0;
    bool fps_given = false;
    bool speed_given = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        double number = 0;
        if (arg == "--loop") {
            loop = true;
            continue;
        }
        if (arg != "--bind" && arg != "--port" && arg != "--fps" && arg != "--seed" && arg != "--loss" &&
            arg != "--replay" && arg != "--speed") {
            return tqz::fail(kName, "unknown option '" + arg + "'");
        }
        if (!tqz::option_value(args, i, value)) {
            return tqz::fail(kName, arg + " needs a value");
        }
        if (arg == "--bind") {
            options.bind_ip = value;
            continue;
        }
        if (arg == "--replay") {
            replay_path = value;
            continue;
        }
        if (!tqz::parse_number(value, number)) {
            return tqz::fail(kName, arg + " needs a number, not '" + value + "'");
        }
        if (arg == "--port" && (number < 0 || number > 65535 || number != static_cast<int>(number))) {
            return tqz::fail(kName, "--port must be 0..65535");
        }
        if (arg == "--fps" && !(number > 0 && number <= 1000)) {
            return tqz::fail(kName, "--fps must be above 0 and at most 1000");
        }
        if (arg == "--loss" && !(number >= 0 && number <= 1)) {
            return tqz::fail(kName, "--loss must be 0..1");
        }
        if (arg == "--speed" && !(number >= 0.01 && number <= 100)) {
            return tqz::fail(kName, "--speed must be 0.01..100");
        }
        if (arg == "--port") {
            options.port = static_cast<int>(number);
        } else if (arg == "--speed") {
            speed = number;
            speed_given = true;
        } else if (arg == "--fps") {
            options.fps = number;
            fps_given = true;
        } else if (arg == "--seed") {
            options.seed = static_cast<uint32_t>(number);
        } else {
            options.loss_rate = number;
        }
    }

    // Block the stop signals before any thread starts, so that every thread
    // inherits the mask and sigwait below is the one place they arrive.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    std::shared_ptr<VELKOR::SIM::SimReplay> replay;
    if (replay_path.empty()) {
        if (loop || speed_given) {
            return tqz::fail(kName, "--loop and --speed need --replay FILE.bin");
        }
    } else {
        if (fps_given) {
            return tqz::fail(kName, "--fps does not apply to --replay: the recording's time stamps pace it");
        }
        replay = std::make_shared<VELKOR::SIM::SimReplay>(replay_path, loop, speed);
        std::string error;
        if (!replay->open(error)) {
            return tqz::fail(kName, error);
        }
    }

    VELKOR::SIM::SimSensor sim(options);
    sim.set_raw_handler_factory(VELKOR::SIM::firmware_handler_factory());
    if (replay) {
        sim.set_datagram_source(replay);
    }
    if (!sim.start()) {
        return tqz::fail(kName, "cannot listen on " + options.bind_ip + ":" + std::to_string(options.port));
    }
    std::printf("listening on %s:%u\n", sim.address().c_str(), static_cast<unsigned>(sim.port()));
    std::fflush(stdout);

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    sim.stop();
    return 0;
}

const tqz::CommandRegistrar registrar({kName,
                                        "sim [--bind ADDR] [--port N] [--fps F | --replay FILE.bin [--loop] "
                                        "[--speed X]] [--seed S] [--loss RATE]  simulated sensor (default "
                                        "127.0.0.1:2000, 10 fps)",
                                        &run_sim});

}  // namespace
