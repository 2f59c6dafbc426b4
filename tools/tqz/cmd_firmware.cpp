#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "api/lidar_tq.hpp"
#include "command.hpp"
#include "link_options.hpp"

namespace {

const char kName[] = "firmware";
const char kFinished[] = "FW_Upload_Finish!";
const char kThreadDone[] = "[Firmware] TQZ::fw_upload_thread_process : Done.";
constexpr int kDefaultPort = 2000;

struct UploadWatch {
    std::atomic<bool> finished{false};
    std::atomic<bool> done{false};
};

// Runs on the API's threads: the caller's during the handshake, the upload
// thread afterwards.
void on_status(void* user, std::string message)
{
    auto* watch = static_cast<UploadWatch*>(user);
    std::cout << message << std::endl;
    if (message == kFinished) {
        watch->finished = true;
    }
    if (message == kThreadDone) {
        watch->done = true;
    }
}

int run_firmware(const tqz::Args& args)
{
    std::string file;
    std::string sensor_text;
    std::string local_text = "0.0.0.0";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--sensor" && i + 1 < args.size()) {
            sensor_text = args[++i];
        } else if (args[i] == "--local" && i + 1 < args.size()) {
            local_text = args[++i];
        } else if (file.empty() && args[i].rfind("--", 0) != 0) {
            file = args[i];
        } else {
            return tqz::fail(kName, "unexpected argument '" + args[i] + "'");
        }
    }
    if (file.empty() || sensor_text.empty()) {
        return tqz::fail(kName, "usage: tqz firmware FILE.bin --sensor ADDR[:PORT] [--local ADDR[:PORT]]");
    }
    VELKOR::IP_ADDRESS_T sensor;
    if (!tqz::parse_endpoint(sensor_text, kDefaultPort, sensor) || sensor.port == 0) {
        return tqz::fail(kName, "bad sensor address '" + sensor_text + "'");
    }
    VELKOR::IP_ADDRESS_T local;
    if (!tqz::parse_endpoint(local_text, 0, local)) {
        return tqz::fail(kName, "bad local address '" + local_text + "'");
    }
    if (!std::ifstream(file, std::ios::binary)) {
        return tqz::fail(kName, "cannot open " + file);
    }

    UploadWatch watch;
    VELKOR::LidarTQ lidar;
    lidar.register_fw_status_callback(on_status, &watch);
    if (!tqz::connect_sensor(kName, lidar, sensor, local)) {
        return 1;
    }
    if (!lidar.tcp_fw_upload(file.c_str())) {
        // An upload thread that did start ends on its own time-out; the
        // session joins it when `lidar` goes, so its texts still come out.
        lidar.disconnect();
        return 1;
    }
    while (!watch.done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    lidar.disconnect();
    return watch.finished ? 0 : 1;
}

const tqz::CommandRegistrar registrar({kName,
                                       "firmware FILE.bin --sensor ADDR[:PORT] [--local ADDR[:PORT]]  "
                                       "upload a firmware image; exit 0 only when it finished",
                                       run_firmware});

}  // namespace
