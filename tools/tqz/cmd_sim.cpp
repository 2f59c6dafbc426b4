// tqz sim: runs the simulated sensor until SIGINT or SIGTERM. It streams a
// synthetic room, or with --replay the datagrams of a recording, each at the
// time its record stamp gives (scaled by --speed). Commands are answered the
// same either way; a replay without --loop stops streaming at the end of the
// file and starts over from its beginning on the next run command.

#include <arpa/inet.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "command.hpp"
#include "option_parsing.hpp"
#include "sim_firmware_handler.hpp"
#include "sim_replay.hpp"
#include "sim_sensor.hpp"

namespace {

const char kName[] = "sim";
const char kUsage[] = "sim [--bind ADDR] [--port N] [--fps F | --replay FILE.bin [--loop] [--speed X]] "
                      "[--seed S] [--loss RATE] [--settings FILE.json]  simulated sensor (default "
                      "127.0.0.1:2000, 10 fps)";
const char kHelp[] =
    "Usage: tqz sim [OPTIONS]\n"
    "\n"
    "Runs a simulated TQ-Z sensor until SIGINT or SIGTERM (Ctrl-C): a command\n"
    "server on ADDR:N and, while running, a UDP stream of a synthetic room (or\n"
    "of a recording's datagrams) to the client. Prints 'listening on ADDR:PORT'.\n"
    "\n"
    "Options:\n"
    "  --bind ADDR           IPv4 address to listen on (default 127.0.0.1)\n"
    "  --port N              command port, 0 to 65535; 0 lets the system choose\n"
    "                        (default 2000)\n"
    "  --fps F               frames per second, above 0 and at most 1000\n"
    "                        (default 10)\n"
    "  --seed S              seed of the room's noise, 0 to 4294967295 (default 1)\n"
    "  --loss RATE           share of datagrams not sent, 0 to 1 (default 0)\n"
    "  --settings FILE.json  the settings document to serve (default: the\n"
    "                        simulator's own); its PL_Reg walk_err_param are the\n"
    "                        walk-error coefficients the room's ranges carry\n"
    "  --replay FILE.bin     stream a recording's datagrams at their recorded\n"
    "                        times instead of the room (default: the room)\n"
    "  --loop                with --replay: start over at the end of the file\n"
    "                        (default: stop streaming at the end)\n"
    "  --speed X             with --replay: play X times as fast, 0.01 to 100\n"
    "                        (default 1)\n"
    "\n"
    "Exit status: 0 after SIGINT or SIGTERM, 1 when it cannot start, 2 for bad\n"
    "usage.\n";

struct SimCommandOptions {
    VELKOR::SIM::SimOptions sim;
    std::string replay_path;
    std::string settings_path;
    bool loop = false;
    double speed = 1.0;
    bool fps_given = false;
    bool speed_given = false;
};

// One numeric option into its field; empty on success, else the usage error.
std::string parse_number_option(const std::string& arg, const std::string& value, SimCommandOptions& o)
{
    long long port = 0;
    if (arg == "--port") {
        if (!tqz::parse_whole(value, 0, 65535, port)) {
            return tqz::bad_value(arg, "a whole number from 0 to 65535", value);
        }
        o.sim.port = static_cast<int>(port);
    } else if (arg == "--fps") {
        if (!tqz::parse_real(value, 0.0, true, 1000.0, o.sim.fps)) {
            return tqz::bad_value(arg, "a number above 0 and at most 1000", value);
        }
        o.fps_given = true;
    } else if (arg == "--loss") {
        if (!tqz::parse_real(value, 0.0, false, 1.0, o.sim.loss_rate)) {
            return tqz::bad_value(arg, "a number from 0 to 1", value);
        }
    } else if (arg == "--speed") {
        if (!tqz::parse_real(value, 0.01, false, 100.0, o.speed)) {
            return tqz::bad_value(arg, "a number from 0.01 to 100", value);
        }
        o.speed_given = true;
    } else {
        return tqz::parse_seed(arg, value, o.sim.seed);
    }
    return "";
}

// Empty string on success, else the usage error.
std::string parse(const tqz::Args& args, SimCommandOptions& o)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg == "--loop") {
            o.loop = true;
            continue;
        }
        if (arg != "--bind" && arg != "--port" && arg != "--fps" && arg != "--seed" && arg != "--loss" &&
            arg != "--replay" && arg != "--speed" && arg != "--settings") {
            return "unknown option '" + arg + "'";
        }
        if (!tqz::option_value(args, i, value)) {
            return arg + " needs a value";
        }
        std::string error;
        in_addr address{};
        if (arg == "--bind") {
            if (inet_pton(AF_INET, value.c_str(), &address) != 1) {
                return "--bind " + value + ": not an IPv4 address";
            }
            o.sim.bind_ip = value;
        } else if (arg == "--replay") {
            o.replay_path = value;
        } else if (arg == "--settings") {
            o.settings_path = value;
        } else {
            error = parse_number_option(arg, value, o);
        }
        if (!error.empty()) {
            return error;
        }
    }
    if (o.replay_path.empty() && (o.loop || o.speed_given)) {
        return "--loop and --speed need --replay FILE.bin";
    }
    if (!o.replay_path.empty() && o.fps_given) {
        return "--fps does not apply to --replay: the recording's time stamps pace it";
    }
    return "";
}

// The settings document of FILE.json; empty on success, else the error.
std::string read_settings(const std::string& path, nlohmann::json& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "cannot open " + path;
    }
    out = nlohmann::json::parse(in, nullptr, false);
    if (out.is_discarded() || !out.is_object()) {
        return path + " holds no JSON object";
    }
    return "";
}

int run_sim(const tqz::Args& args)
{
    SimCommandOptions o;
    o.sim.port = 2000;
    std::string error = parse(args, o);
    if (!error.empty()) {
        return tqz::usage_error(kName, error);
    }
    if (!o.settings_path.empty()) {
        error = read_settings(o.settings_path, o.sim.settings);
        if (!error.empty()) {
            return tqz::fail(kName, error);
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
    if (!o.replay_path.empty()) {
        replay = std::make_shared<VELKOR::SIM::SimReplay>(o.replay_path, o.loop, o.speed);
        if (!replay->open(error)) {
            return tqz::fail(kName, error);
        }
    }

    VELKOR::SIM::SimSensor sim(o.sim);
    sim.set_raw_handler_factory(VELKOR::SIM::firmware_handler_factory());
    if (replay) {
        sim.set_datagram_source(replay);
    }
    if (!sim.start()) {
        return tqz::fail(kName, sim.start_error());
    }
    std::printf("listening on %s:%u\n", sim.address().c_str(), static_cast<unsigned>(sim.port()));
    std::fflush(stdout);

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    sim.stop();
    return 0;
}

const tqz::CommandRegistrar registrar({kName, kUsage, kHelp, &run_sim});

} // namespace
