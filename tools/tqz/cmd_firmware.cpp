// tqz firmware FILE.bin: uploads a firmware image and follows the upload to
// its end. The image is checked before anything goes to the sensor: the
// upgrade request switches the sensor into firmware-upgrade mode, so an
// image the upload would refuse must not get that far.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "api/lidar_tq.hpp"
#include "command.hpp"
#include "link_options.hpp"

namespace {

const char kName[] = "firmware";
const char kFinished[] = "FW_Upload_Finish!";
const char kThreadDone[] = "[Firmware] TQZ::fw_upload_thread_process : Done.";
constexpr long long kPacketBytes = 1428;
constexpr long long kMaxPackets = 9999;

const char kUsage[] = "firmware FILE.bin --sensor ADDR[:PORT] [--local ADDR[:PORT]]  "
                      "upload a firmware image; exit 0 only when it finished";
const char kHelp[] =
    "Usage: tqz firmware FILE.bin --sensor ADDR[:PORT] [OPTIONS]\n"
    "\n"
    "Uploads the firmware image FILE.bin and prints the sensor's progress\n"
    "(PG0.000000 to PG100.000000) on stdout; failure lines go to stderr. The\n"
    "image must be a readable, non-empty regular file of at most 14278572\n"
    "bytes (9999 packets of 1428); it is checked before anything is sent.\n"
    "\n"
    "Options:\n"
    "  --sensor ADDR[:PORT]  the sensor's IPv4 command address (port 2000 if none)\n"
    "  --local ADDR[:PORT]   the PC's own IPv4 address (default 0.0.0.0: any,\n"
    "                        port 0: chosen by the system)\n"
    "\n"
    "Exit status: 0 when the sensor reported the upload finished, 1 when it\n"
    "did not, 2 for bad usage, 130 after Ctrl-C (the upload is abandoned).\n";

struct UploadWatch {
    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false;
    bool done = false;
    bool failure_shown = false;
};

bool is_failure(const std::string& message) { return message.find("Fail") != std::string::npos; }

// Runs on the API's threads: the caller's during the handshake, the upload
// thread afterwards.
void on_status(void* user, std::string message)
{
    auto* watch = static_cast<UploadWatch*>(user);
    if (is_failure(message)) {
        std::fprintf(stderr, "tqz %s: %s\n", kName, message.c_str());
    } else {
        std::printf("%s\n", message.c_str());
        std::fflush(stdout);
    }
    std::lock_guard<std::mutex> lock(watch->mutex);
    watch->failure_shown = watch->failure_shown || is_failure(message);
    watch->finished = watch->finished || message == kFinished;
    if (message == kThreadDone) {
        watch->done = true;
        watch->changed.notify_all();
    }
}

// The library's own lines: its progress texts repeat what on_status shows;
// the failures that reach no callback go to stderr.
void on_library_line(void*, VELKOR::log_level_t level, const std::string& text)
{
    static const char* const kUnreported[] = {
        "FW_Upload_Ack_Fail_Time_Out!",    "FW_Upload_Fail_Time_Out!",  "FW_Upload_Fail_Data_Read!",
        "FW_Upload_Fail_File_Not_Opened!", "FW_Upload_File_Open_Fail!", "FW_Upload_Fail_Data_Size!",
    };
    bool show = level != VELKOR::log_level_t::info;
    for (const char* unreported : kUnreported) {
        show = show || text == unreported;
    }
    if (show) {
        std::fprintf(stderr, "tqz %s: %s\n", kName, text.c_str());
    }
}

// Empty when `path` is an image the upload takes, else why not.
std::string check_image(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return "cannot open " + path + ": " + std::strerror(errno);
    }
    struct stat st {};
    const bool stated = ::fstat(fd, &st) == 0;
    char byte = 0;
    const ssize_t got = stated && S_ISREG(st.st_mode) ? ::read(fd, &byte, 1) : 0;
    const int read_errno = errno;
    ::close(fd);
    if (!stated || !S_ISREG(st.st_mode)) {
        return path + " is not a regular file";
    }
    if (got < 0) {
        return "cannot read " + path + ": " + std::strerror(read_errno);
    }
    if (st.st_size == 0) {
        return path + " is empty";
    }
    if (st.st_size > kPacketBytes * kMaxPackets) {
        return path + " holds " + std::to_string(st.st_size) + " bytes; an image holds at most " +
               std::to_string(kPacketBytes * kMaxPackets) + " (" + std::to_string(kMaxPackets) + " packets of " +
               std::to_string(kPacketBytes) + ")";
    }
    return "";
}

int run_firmware(const tqz::Args& args)
{
    std::string file;
    VELKOR::IP_ADDRESS_T sensor;
    VELKOR::IP_ADDRESS_T local{"0.0.0.0", 0};
    bool have_sensor = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            if (!file.empty()) {
                return tqz::usage_error(kName, "one image at a time ('" + file + "' and '" + arg + "')");
            }
            file = arg;
            continue;
        }
        std::string value;
        std::string error;
        if (arg != "--sensor" && arg != "--local") {
            return tqz::usage_error(kName, "unknown option '" + arg + "'");
        }
        if (!tqz::option_value(args, i, value)) {
            return tqz::usage_error(kName, arg + " needs a value");
        }
        tqz::parse_link_option(arg, value, sensor, local, have_sensor, error);
        if (!error.empty()) {
            return tqz::usage_error(kName, error);
        }
    }
    if (file.empty() || !have_sensor) {
        return tqz::usage_error(kName, "usage: tqz firmware FILE.bin --sensor ADDR[:PORT] [--local ADDR[:PORT]]");
    }
    const std::string bad_image = check_image(file);
    if (!bad_image.empty()) {
        return tqz::fail(kName, bad_image);
    }

    const tqz::StopSignals stop(kName);
    const tqz::LibraryLog log(kName, &on_library_line);
    UploadWatch watch;
    VELKOR::LidarTQ lidar;
    lidar.register_fw_status_callback(on_status, &watch);
    const std::string error = tqz::connect_sensor(lidar, sensor, local);
    if (!error.empty()) {
        return tqz::fail(kName, error);
    }
    bool started = false;
    {
        // The handshake waits up to 10 s for the sensor's answer.
        const tqz::AbandonOnStop abandon;
        started = lidar.tcp_fw_upload(file.c_str());
    }
    if (!started) {
        const std::string why = lidar.last_error();
        // An upload thread that did start ends with the link.
        lidar.disconnect();
        std::lock_guard<std::mutex> lock(watch.mutex);
        if (!watch.failure_shown) {
            return tqz::fail(kName, "the upload did not start" + (why.empty() ? "" : ": " + why));
        }
        return tqz::kExitFailure;
    }
    {
        std::unique_lock<std::mutex> lock(watch.mutex);
        while (!watch.done && !stop.requested()) {
            watch.changed.wait_for(lock, tqz::kStopCheck);
        }
    }
    // Ends an upload still running (after a stop) and joins its thread.
    lidar.disconnect();
    if (stop.requested()) {
        std::fprintf(stderr, "tqz %s: interrupted; the upload did not finish\n", kName);
        return stop.exit_code();
    }
    std::lock_guard<std::mutex> lock(watch.mutex);
    return watch.finished ? tqz::kExitOk : tqz::kExitFailure;
}

const tqz::CommandRegistrar registrar({kName, kUsage, kHelp, run_firmware});

} // namespace
