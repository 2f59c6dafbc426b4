// tqz sim: runs the simulated sensor until SIGINT or SIGTERM.

#include <csignal>
#include <cstdio>
#include <string>

#include "command.hpp"
#include "link_options.hpp"
#include "sim_firmware_handler.hpp"
#include "sim_sensor.hpp"

namespace {

const char kName[] = "sim";

int run_sim(const tqz::Args& args)
{
    VELKOR::SIM::SimOptions options;
    options.port = 2000;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        double number = 0;
        if (arg != "--bind" && arg != "--port" && arg != "--fps" && arg != "--seed" && arg != "--loss") {
            return tqz::fail(kName, "unknown option '" + arg + "'");
        }
        if (!tqz::option_value(args, i, value)) {
            return tqz::fail(kName, arg + " needs a value");
        }
        if (arg == "--bind") {
            options.bind_ip = value;
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
        if (arg == "--port") {
            options.port = static_cast<int>(number);
        } else if (arg == "--fps") {
            options.fps = number;
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

    VELKOR::SIM::SimSensor sim(options);
    sim.set_raw_handler_factory(VELKOR::SIM::firmware_handler_factory());
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
                                        "sim [--bind ADDR] [--port N] [--fps F] [--seed S] [--loss RATE]  "
                                        "simulated sensor (default 127.0.0.1:2000, 10 fps)",
                                        &run_sim});

}  // namespace
