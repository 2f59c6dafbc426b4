// tqz settings get|apply FILE.json|save: the sensor's settings document.

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "api/lidar_tq.hpp"
#include "command.hpp"
#include "link_options.hpp"

namespace {

const char kName[] = "settings";

int run_settings(const tqz::Args& args)
{
    if (args.empty() || (args[0] != "get" && args[0] != "apply" && args[0] != "save")) {
        return tqz::fail(kName, "expected get, apply FILE.json or save");
    }
    const std::string action = args[0];
    std::size_t i = 1;
    std::string file;
    if (action == "apply") {
        if (args.size() < 2 || args[1].rfind("--", 0) == 0) {
            return tqz::fail(kName, "apply needs a JSON file");
        }
        file = args[1];
        i = 2;
    }
    VELKOR::IP_ADDRESS_T sensor;
    VELKOR::IP_ADDRESS_T local{"0.0.0.0", 0};
    double timeout_s = 10.0;
    bool have_sensor = false;
    for (; i < args.size(); ++i) {
        const std::string arg = args[i];
        std::string value;
        if (!tqz::option_value(args, i, value)) {
            return tqz::fail(kName, arg + " needs a value");
        }
        if (arg == "--sensor" && tqz::parse_endpoint(value, 2000, sensor)) {
            have_sensor = true;
        } else if (arg == "--local" && tqz::parse_endpoint(value, 0, local)) {
        } else if (arg == "--timeout" && tqz::parse_number(value, timeout_s) && timeout_s >= 0) {
        } else {
            return tqz::fail(kName, "bad option " + arg + " '" + value + "'");
        }
    }
    if (!have_sensor) {
        return tqz::fail(kName, "--sensor ADDR[:PORT] is required");
    }

    nlohmann::json document;
    if (action == "apply" && !VELKOR::LidarTQ().json_read_from_file(file.c_str(), document)) {
        return tqz::fail(kName, "cannot read JSON file '" + file + "'");
    }

    tqz::QuietLibraryOutput quiet;
    VELKOR::LidarTQ lidar;
    if (!tqz::connect_sensor(kName, lidar, sensor, local)) {
        return 1;
    }
    int status = 0;
    if (action == "get") {
        // connect consumed the first settings reply; ask again for ours.
        nlohmann::json settings;
        bool got = lidar.json_read_from_memory();
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(timeout_s));
        while (got && !lidar.get_setting(settings)) {
            if (std::chrono::steady_clock::now() > deadline) {
                got = false;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (got) {
            std::fprintf(quiet.out, "%s\n", settings.dump(4).c_str());
        } else {
            status = tqz::fail(kName, "no settings reply from the sensor");
        }
    } else if (action == "apply") {
        if (lidar.send_json(document)) {
            std::fprintf(quiet.out, "applied %s\n", file.c_str());
        } else {
            status = tqz::fail(kName, "cannot send the settings");
        }
    } else if (lidar.json_write_to_memory()) {
        std::fprintf(quiet.out, "saved\n");
    } else {
        status = tqz::fail(kName, "cannot send the save command");
    }
    lidar.disconnect();
    return status;
}

const tqz::CommandRegistrar registrar({kName,
                                        "settings get|apply FILE.json|save --sensor ADDR[:PORT] "
                                        "[--local ADDR[:PORT]]  read, send or store settings",
                                        &run_settings});

}  // namespace
