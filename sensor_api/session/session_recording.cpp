#include "recording/logger.hpp"
#include "session/device_session.hpp"

// Recording and replay through the session's one recorder. The same Logger
// records (opened for writing, fed by the UDP receive callback) or replays
// (opened for reading, frames loaded into its packet queue by get_scene with
// an index). It stays in place after play_stop, so only record_stop frees the
// session for a new recording.
namespace TQZ {

bool DeviceSession::record_start(const std::string& path)
{
    if (recorder) {
        return false;
    }
    // Receive callbacks read the pointer with atomic_load.
    auto fresh = std::make_shared<VELKOR::Logger>();
    VELKOR::LOG_PROPS_T props;
    props.file_path = path;
    props.read_mode = false;
    const bool opened = fresh->open(props);
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
        return false;
    }
    VELKOR::LOG_PROPS_T props;
    props.file_path = path;
    props.read_mode = true;
    return recorder->open(props);
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
