#include <cerrno>
#include <cstring>

#include "recording/logger.hpp"
#include "session/device_session.hpp"

// Recording and replay through the session's one recorder. The same Logger
// records (opened for writing, fed by the UDP receive callback) or replays
// (opened for reading, frames loaded into its packet queue by get_scene with
// an index). It stays in place after play_stop, so only record_stop frees the
// session for a new recording.
namespace TQZ {

namespace {

// "cannot open <file>: <reason>", the reason from errno where the failed open
// left one.
std::string open_error(const std::string& path, int error)
{
    return "cannot open " + path + ": " + (error != 0 ? std::strerror(error) : "not a usable recording");
}

}  // namespace

bool DeviceSession::record_start(const std::string& path)
{
    if (recorder) {
        set_error("a recording or playback is already open");
        return false;
    }
    // Receive callbacks read the pointer with atomic_load.
    auto fresh = std::make_shared<VELKOR::Logger>();
    VELKOR::LOG_PROPS_T props;
    props.file_path = path;
    props.read_mode = false;
    errno = 0;
    const bool opened = fresh->open(props);
    if (!opened) {
        set_error(open_error(path, errno));
    }
    std::atomic_store(&recorder, fresh);
    if (opened) {
        std::atomic_store(&last_recording, fresh);
    }
    return opened;
}

void DeviceSession::record_stop()
{
    if (!recorder) {
        return;
    }
    const std::shared_ptr<VELKOR::Logger> old = recorder;
    std::atomic_store(&recorder, std::shared_ptr<VELKOR::Logger>());
    old->close();
}

std::string DeviceSession::recording_failure() const
{
    const std::shared_ptr<VELKOR::Logger> last = std::atomic_load(&last_recording);
    return last && last->write_failed() ? last->error() : std::string();
}

bool DeviceSession::play_start(const std::string& path)
{
    frame_queue.clear();
    packet_queue.clear();
    running = true;
    if (!recorder) {
        std::atomic_store(&recorder, std::make_shared<VELKOR::Logger>());
    }
    if (recorder->is_open()) {
        set_error("a recording is already open");
        return false;
    }
    reset_stats();
    VELKOR::LOG_PROPS_T props;
    props.file_path = path;
    props.read_mode = true;
    errno = 0;
    const bool opened = recorder->open(props);
    if (!opened) {
        set_error(open_error(path, errno));
    }
    return opened;
}

void DeviceSession::play_stop()
{
    if (recorder) {
        recorder->close();
    }
    running = false;
    if (stream_worker) {
        stream_worker->join();
        stream_worker.reset();
    }
    frame_queue.clear();
    packet_queue.clear();
}

bool DeviceSession::get_file_size(uint64_t& size)
{
    if (!recorder) {
        return false;
    }
    unsigned long long last = 0;
    recorder->get_total_size(last);
    size = last;
    return true;
}

}  // namespace TQZ
