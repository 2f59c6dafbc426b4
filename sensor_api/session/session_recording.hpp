#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "session/error_text.hpp"
#include "session/frame_assembler.hpp"
#include "session/frame_types.hpp"

namespace VELKOR {
class Logger;
}

namespace TQZ {

// Recording and replay through the session's one recorder. The same Logger
// records (opened for writing, fed with every received datagram) or replays
// (opened for reading, one frame at a time loaded into its packet queue by
// replay_frame). It stays in place after play_stop, so only record_stop frees
// the session for a new recording.
//
// Threads: the caller's thread starts, stops and replays; the UDP receive
// thread calls record; the stream worker asks for replay_source. The
// recorder pointer is swapped atomically, and Logger guards its own state.
class SessionRecording {
public:
    explicit SessionRecording(ErrorText& error);
    ~SessionRecording();

    SessionRecording(const SessionRecording&) = delete;
    SessionRecording& operator=(const SessionRecording&) = delete;

    // Starts recording to a new file named from `path`; false when a
    // recorder is already in place or the file cannot be created (the
    // recorder then stays, not open, until record_stop).
    bool record_start(const std::string& path);
    // Writes out what is queued, closes the file and releases the recorder.
    void record_stop();
    // Why the current or last recording stopped on a failed write ("No space
    // left on device", ...); empty when it did not.
    std::string recording_failure() const;
    // The file of the last successful record_start (also after record_stop).
    std::string recording_path() const;

    // True when a recorder is in place and has a file open.
    bool is_open() const;
    // Opens `path` for replay (with a recorder made for it when none is in
    // place); false when a file is already open or this one cannot be.
    bool play_start(const std::string& path);
    // Closes the replayed file; the recorder stays in place.
    void play_stop();
    // The last frame number of the open replay; false without a recorder.
    bool get_file_size(uint64_t& size);

    // UDP receive thread: records one datagram while a recorder is in place.
    void record(const uint8_t* data, std::size_t length);
    // The recorder while it is open for reading (and until record_stop
    // releases it), else null: the stream worker then takes its datagrams
    // from there.
    std::shared_ptr<VELKOR::Logger> replay_source() const;
    // Loads frame `index` of the replayed file and assembles it with
    // `assembler`; false when no replay is open, the frame is not in the
    // file or its datagrams run out before a frame is complete.
    bool replay_frame(int index, FrameAssembler& assembler, Frame& frame);

    // The recorder in place, if any (tests read its counters).
    std::shared_ptr<VELKOR::Logger> recorder() const;

private:
    ErrorText& error_;
    // Read with atomic_load from the receive thread and the stream worker.
    std::shared_ptr<VELKOR::Logger> recorder_;
    // The recorder of the last successful record_start, kept after
    // record_stop for its file name and for how it ended (atomic_load: any
    // thread may ask).
    std::shared_ptr<VELKOR::Logger> last_recording_;
};

}  // namespace TQZ
