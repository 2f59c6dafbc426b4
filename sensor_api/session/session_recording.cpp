#include "session/session_recording.hpp"

#include <cerrno>
#include <cstring>

#include "recording/logger.hpp"

namespace TQZ {

namespace {

// "cannot open <file>: <reason>", the reason from errno where the failed open
// left one.
std::string open_error(const std::string& path, int error)
{
    return "cannot open " + path + ": " + (error != 0 ? std::strerror(error) : "not a usable recording");
}

}  // namespace

SessionRecording::SessionRecording(ErrorText& error) : error_(error) {}

SessionRecording::~SessionRecording() = default;

bool SessionRecording::record_start(const std::string& path)
{
    if (recorder_) {
        error_.set("a recording or playback is already open");
        return false;
    }
    auto fresh = std::make_shared<VELKOR::Logger>();
    VELKOR::LOG_PROPS_T props;
    props.file_path = path;
    props.read_mode = false;
    errno = 0;
    const bool opened = fresh->open(props);
    if (!opened) {
        error_.set(open_error(path, errno));
    }
    std::atomic_store(&recorder_, fresh);
    if (opened) {
        std::atomic_store(&last_recording_, fresh);
    }
    return opened;
}

void SessionRecording::record_stop()
{
    if (!recorder_) {
        return;
    }
    const std::shared_ptr<VELKOR::Logger> old = recorder_;
    std::atomic_store(&recorder_, std::shared_ptr<VELKOR::Logger>());
    old->close();
}

std::string SessionRecording::recording_failure() const
{
    const std::shared_ptr<VELKOR::Logger> last = std::atomic_load(&last_recording_);
    return last && last->write_failed() ? last->error() : std::string();
}

std::string SessionRecording::recording_path() const
{
    const std::shared_ptr<VELKOR::Logger> last = std::atomic_load(&last_recording_);
    return last ? last->file_name() : std::string();
}

bool SessionRecording::is_open() const { return recorder_ && recorder_->is_open(); }

bool SessionRecording::play_start(const std::string& path)
{
    if (!recorder_) {
        std::atomic_store(&recorder_, std::make_shared<VELKOR::Logger>());
    }
    if (recorder_->is_open()) {
        error_.set("a recording is already open");
        return false;
    }
    VELKOR::LOG_PROPS_T props;
    props.file_path = path;
    props.read_mode = true;
    errno = 0;
    const bool opened = recorder_->open(props);
    if (!opened) {
        error_.set(open_error(path, errno));
    }
    return opened;
}

void SessionRecording::play_stop()
{
    if (recorder_) {
        recorder_->close();
    }
}

bool SessionRecording::get_file_size(uint64_t& size)
{
    if (!recorder_) {
        return false;
    }
    unsigned long long last = 0;
    recorder_->get_total_size(last);
    size = last;
    return true;
}

void SessionRecording::record(const uint8_t* data, std::size_t length)
{
    // The caller's thread may replace the recorder while datagrams arrive.
    const std::shared_ptr<VELKOR::Logger> recorder = std::atomic_load(&recorder_);
    if (recorder) {
        recorder->write(data, static_cast<unsigned long long>(length));
    }
}

std::shared_ptr<VELKOR::Logger> SessionRecording::replay_source() const
{
    std::shared_ptr<VELKOR::Logger> source = std::atomic_load(&recorder_);
    return source && source->is_read() ? source : nullptr;
}

bool SessionRecording::replay_frame(int index, FrameAssembler& assembler, Frame& frame)
{
    const std::shared_ptr<VELKOR::Logger> source = replay_source();
    if (!source) {
        return false;
    }
    // Datagrams the previous replayed frame left behind (the rest of a broken
    // frame read along with it) would otherwise come first and could crowd
    // this frame out of the queue.
    source->packet_queue.clear();
    source->read_once(index);
    // Nothing is waited for: the frame's datagrams are all there when
    // read_once returns.
    ByteVector datagram;
    while (source->packet_queue.pop(datagram)) {
        if (assembler.feed(datagram.data(), datagram.size()) == FrameAssembler::Result::frame_complete) {
            frame = assembler.publish_frame();
            return true;
        }
    }
    return false;
}

std::shared_ptr<VELKOR::Logger> SessionRecording::recorder() const { return std::atomic_load(&recorder_); }

}  // namespace TQZ
