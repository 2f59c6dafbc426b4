// tqz settings get|apply FILE.json|save: the sensor's settings document.
//
// The sensor answers every settings command; apply and save wait for that
// answer (LidarTQ::wait_reply) and fail when it says "result": false or does
// not come; get waits for the settings reply (LidarTQ::wait_setting).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "api/lidar_tq.hpp"
#include "command.hpp"
#include "link_options.hpp"

namespace {

const char kName[] = "settings";
const char kUsage[] = "settings get|apply FILE.json|save --sensor ADDR[:PORT] [--local ADDR[:PORT]] "
                      "[--timeout S]  read, send or store settings";
const char kHelp[] =
    "Usage: tqz settings get --sensor ADDR[:PORT] [OPTIONS]\n"
    "  or:  tqz settings apply FILE.json --sensor ADDR[:PORT] [OPTIONS]\n"
    "  or:  tqz settings save --sensor ADDR[:PORT] [OPTIONS]\n"
    "\n"
    "get prints the sensor's settings document (JSON) on stdout; apply sends\n"
    "the settings of FILE.json to the sensor (live, until it restarts); save\n"
    "makes the live settings permanent. apply and save print 'applied FILE' or\n"
    "'saved' only when the sensor accepted them; a sensor answering\n"
    "\"result\": false fails with its error text.\n"
    "\n"
    "Options:\n"
    "  --sensor ADDR[:PORT]  the sensor's IPv4 command address (port 2000 if none)\n"
    "  --local ADDR[:PORT]   the PC's own IPv4 address (default 0.0.0.0: any,\n"
    "                        port 0: chosen by the system)\n"
    "  --timeout S           how long to wait for the sensor's answer, in seconds\n"
    "                        (default 10)\n"
    "\n"
    "Exit status: 0 when the sensor answered and agreed, 1 when it refused or\n"
    "did not answer, 2 for bad usage, 130 after Ctrl-C.\n";

// Takes the sensor's answer (the settings reply for get, else the oldest
// other reply) within `timeout_s`, giving up early on a stop signal.
bool wait_answer(VELKOR::LidarTQ& lidar, bool settings, nlohmann::json& reply, double timeout_s,
                 const tqz::StopSignals& stop)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout_s));
    while (!stop.requested()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const auto wait = std::max(std::chrono::milliseconds(0), std::min(left, tqz::kStopCheck));
        if (settings ? lidar.wait_setting(reply, wait) : lidar.wait_reply(reply, wait)) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
    }
    return false;
}

// Empty when the sensor's answer accepts the command, else its error text.
std::string refusal(const nlohmann::json& reply)
{
    const auto result = reply.is_object() ? reply.find("result") : reply.end();
    if (!reply.is_object() || result == reply.end() || *result != false) {
        return "";
    }
    const auto error = reply.find("error");
    if (error != reply.end() && error->is_string() && !error->get_ref<const std::string&>().empty()) {
        return error->get<std::string>();
    }
    return reply.dump();
}

struct SettingsOptions {
    std::string action;
    std::string file;
    VELKOR::IP_ADDRESS_T sensor;
    VELKOR::IP_ADDRESS_T local{"0.0.0.0", 0};
    double timeout_s = 10.0;
};

// Empty string on success, else the usage error.
std::string parse(const tqz::Args& args, SettingsOptions& o)
{
    if (args.empty() || (args[0] != "get" && args[0] != "apply" && args[0] != "save")) {
        return "expected get, apply FILE.json or save";
    }
    o.action = args[0];
    std::size_t i = 1;
    if (o.action == "apply") {
        if (args.size() < 2 || args[1].rfind("--", 0) == 0) {
            return "apply needs a JSON file";
        }
        o.file = args[1];
        i = 2;
    }
    bool have_sensor = false;
    for (; i < args.size(); ++i) {
        const std::string arg = args[i];
        std::string value;
        std::string error;
        if (arg != "--sensor" && arg != "--local" && arg != "--timeout") {
            return "unknown option '" + arg + "'";
        }
        if (!tqz::option_value(args, i, value)) {
            return arg + " needs a value";
        }
        if (arg == "--timeout") {
            error = tqz::parse_seconds(arg, value, o.timeout_s);
        } else {
            tqz::parse_link_option(arg, value, o.sensor, o.local, have_sensor, error);
        }
        if (!error.empty()) {
            return error;
        }
    }
    return have_sensor ? "" : "--sensor ADDR[:PORT] is required";
}

int run_settings(const tqz::Args& args)
{
    SettingsOptions o;
    std::string error = parse(args, o);
    if (!error.empty()) {
        return tqz::usage_error(kName, error);
    }
    nlohmann::json document;
    if (o.action == "apply" && !VELKOR::LidarTQ().json_read_from_file(o.file.c_str(), document)) {
        return tqz::fail(kName, "cannot read JSON file '" + o.file + "'");
    }

    const tqz::StopSignals stop(kName);
    const tqz::LibraryLog log(kName);
    tqz::QuietLibraryOutput quiet;
    VELKOR::LidarTQ lidar;
    error = tqz::connect_sensor(lidar, o.sensor, o.local);
    if (!error.empty()) {
        return tqz::fail(kName, error);
    }
    // Answers that came unasked must not pass for the answer to our command.
    nlohmann::json reply;
    while (lidar.wait_reply(reply, std::chrono::milliseconds(0))) {
    }
    bool sent = false;
    if (o.action == "get") {
        // connect took the first settings reply; ask again for ours.
        sent = lidar.json_read_from_memory();
    } else if (o.action == "apply") {
        sent = lidar.send_json(document);
    } else {
        sent = lidar.json_write_to_memory();
    }
    const bool answered = sent && wait_answer(lidar, o.action == "get", reply, o.timeout_s, stop);
    lidar.disconnect();

    if (stop.requested()) {
        std::fprintf(stderr, "tqz %s: interrupted\n", kName);
        return stop.exit_code();
    }
    if (!sent) {
        return tqz::fail(kName, "cannot send the " + o.action + " command");
    }
    if (!answered) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", o.timeout_s);
        return tqz::fail(kName, "the sensor did not answer the " + o.action + " command within " +
                                    std::string(seconds) + " s");
    }
    if (o.action == "get") {
        std::fprintf(quiet.out, "%s\n", reply.dump(4).c_str());
        return tqz::kExitOk;
    }
    const std::string refused = refusal(reply);
    if (!refused.empty()) {
        return tqz::fail(kName, "the sensor refused the " + o.action + " command: " + refused);
    }
    if (o.action == "apply") {
        std::fprintf(quiet.out, "applied %s\n", o.file.c_str());
    } else {
        std::fprintf(quiet.out, "saved\n");
    }
    return tqz::kExitOk;
}

const tqz::CommandRegistrar registrar({kName, kUsage, kHelp, &run_settings});

} // namespace
