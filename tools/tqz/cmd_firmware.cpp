#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "api/lidar_tq.hpp"
#include "command.hpp"

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

// "ADDR" or "ADDR:PORT"; false when the port is not 1..65535.
bool parse_sensor(const std::string& text, VELKOR::IP_ADDRESS_T& sensor)
{
    const std::size_t colon = text.rfind(':');
    sensor.ip = text.substr(0, colon);
    sensor.port = kDefaultPort;
    if (sensor.ip.empty()) {
        return false;
    }
    if (colon == std::string::npos) {
        return true;
    }
    const std::string port = text.substr(colon + 1);
    char* end = nullptr;
    const long value = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || value < 1 || value > 65535) {
        return false;
    }
    sensor.port = static_cast<int>(value);
    return true;
}

int run_firmware(const tqz::Args& args)
{
    std::string file;
    std::string sensor_text;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--sensor" && i + 1 < args.size()) {
            sensor_text = args[++i];
        } else if (file.empty() && args[i].rfind("--", 0) != 0) {
            file = args[i];
        } else {
            return tqz::fail(kName, "unexpected argument '" + args[i] + "'");
        }
    }
    if (file.empty() || sensor_text.empty()) {
        return tqz::fail(kName, "usage: tqz firmware FILE.bin --sensor ADDR[:PORT]");
    }
    VELKOR::IP_ADDRESS_T sensor;
    if (!parse_sensor(sensor_text, sensor)) {
        return tqz::fail(kName, "bad sensor address '" + sensor_text + "'");
    }
    if (!std::ifstream(file, std::ios::binary)) {
        return tqz::fail(kName, "cannot open " + file);
    }

    UploadWatch watch;
    VELKOR::LidarTQ lidar;
    lidar.register_fw_status_callback(on_status, &watch);
    const VELKOR::IP_ADDRESS_T local{"0.0.0.0", 0};
    if (!lidar.connect(sensor, local)) {
        lidar.disconnect();
        return tqz::fail(kName, "cannot connect to " + sensor.ip + ":" + std::to_string(sensor.port));
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

const tqz::CommandRegistrar registrar({kName, "firmware FILE.bin --sensor ADDR[:PORT]   upload a firmware image",
                                       run_firmware});

}  // namespace
