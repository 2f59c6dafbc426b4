#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../util/bounded_queue.hpp"
#include "record_format.hpp"

namespace VELKOR {

struct LOG_PROPS_T {
    std::string file_path;  // record mode: name prefix; read mode: the file
    bool read_mode = false;
};

// Raw recorder of the data stream into `.bin` files (record_format.hpp
// owns their layout). Recording
// queues each datagram and a writer thread of its own appends it, so the
// network thread never waits for the disk. Reading scans the file once at
// open and keeps the start position of every frame, so any frame can be
// loaded into packet_queue at random.
class Logger {
public:
    enum MODE { MODE_NONE = 0, MODE_RECORD = 1, MODE_PLAY = 2 };

    // Classification of one payload while indexing.
    enum PARSERTYPE { PARSER_FRAME_START = 0, PARSER_FRAME_NEXT = 1, PARSER_FRAME_BROKEN = 3 };

    // What the write queue may hold while the disk lags behind the stream:
    // about two seconds of a full-rate stream. A record that would exceed
    // either bound is not queued (and so counts as queued but never written).
    static constexpr int kWriteQueueRecords = 16384;
    static constexpr uint64_t kWriteQueueBytes = 64ull << 20;

    Logger();
    virtual ~Logger();

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // Record mode: creates file_path + "%m-%d-%H-%M-%S" (local time) + ".bin"
    // as a new file; when that name is taken it adds "-1", "-2", ... before
    // ".bin", so a recording never replaces another. Read mode: opens
    // file_path and builds the frame index. False when a file is already
    // open or this one could not be opened (error() says why).
    bool open(const LOG_PROPS_T& props);
    // Lets the writer append every record queued so far, then closes the file.
    void close();
    // Queues one record; callable from any thread, never waits for the disk.
    void write(const unsigned char* data, unsigned long long length);
    bool is_open() const;
    bool is_read();
    bool get_recorder_type(MODE mode);

    // The frame-index scan; open runs it in read mode. Always false. It keeps
    // the whole frames: those whose rows, from slot 0 to the last (slot =
    // slots field - 1), follow one another. The records of a frame it leaves
    // out are read with the frame before.
    bool loadingprocess();
    // Places the datagrams of frame `index` in packet_queue. False for an index
    // outside the frame index, a read failure, or a full packet_queue (the
    // datagrams pushed so far stay queued).
    bool read_once(int index);
    bool read(unsigned char* buffer, unsigned int length);
    // Low 32 bits of the position after the last record read.
    unsigned int current_pos() const;
    // The last frame number: indexed frames minus one, 4294967295 when the
    // index is empty.
    bool get_total_size(unsigned long long& count);

    // The name of the file of the last successful open.
    std::string file_name() const;
    // True once a write to the recording failed (disk full, I/O error, file
    // size limit). The recording then stops: later records are not taken,
    // and the file keeps every record written whole and nothing of the
    // record that failed. Cleared by the next open.
    bool write_failed() const { return write_failed_.load(); }
    // Why the last open failed or the recording stopped ("No space left on
    // device", ...); empty when neither happened since the last open.
    std::string error() const;
    // The diagnostic line the writer logs (as an error) when a write fails is
    // this text followed by error(); a program that reports the failure in
    // its own words can recognise it.
    static constexpr const char* kWriteFailedLine = "VELKOR::Logger::thread_process : write failed: ";
    // Frame start positions followed by the end marker (the file size).
    std::vector<uint64_t> frame_index() const;
    // Records passed to write, and records that reached the file, since the
    // last open in record mode. Their difference after close is the number of
    // records lost to a full write queue.
    uint64_t records_queued() const { return records_queued_.load(); }
    uint64_t records_written() const { return records_written_.load(); }

    // The record-mode file name for `prefix` at local time `local`; a
    // `serial` above 0 is the "-serial" of a name that was taken.
    static std::string record_file_name(const std::string& prefix, const std::tm& local, int serial = 0);

    // Datagrams of the frame last loaded by read_once, for the consumer.
    BoundedQueue<std::vector<uint8_t>> packet_queue{128};

private:
    PARSERTYPE parser_frame_index(const unsigned char* payload, uint64_t length);
    bool create_recording(const std::string& prefix);
    // Appends one whole record to the recording; on a failure the file is
    // cut back to the records before it and the failure recorded.
    bool append_record(const std::vector<uint8_t>& record);
    void set_error(const std::string& text);
    void thread_process();
    static void thread_callback(void* logger);

    bool read_mode_ = false;
    MODE recorder_type_ = MODE_NONE;
    std::fstream file_;  // read mode
    int record_fd_ = -1;  // record mode: the recording, written by the writer thread only
    uint64_t record_end_ = 0;  // record mode: bytes of the whole records written
    uint64_t current_pos_ = 0;
    uint64_t last_frame_number_ = 0xFFFFFFFFull;
    int previous_sequence_ = -1;
    std::vector<uint64_t> frame_index_;
    BoundedQueue<std::vector<uint8_t>> write_queue_{kWriteQueueRecords};
    std::atomic<uint64_t> queued_bytes_{0};  // bytes of the records in write_queue_
    std::atomic<bool> stop_{true};
    std::unique_ptr<std::thread> writer_;
    unsigned char header_[RecordHeader::kSize] = {};  // the last record header read

    // Mirrors file_.is_open() for threads other than the owner's (write runs
    // on the receive thread while close may run on the owner's).
    std::atomic<bool> open_{false};
    std::atomic<bool> accepting_{false};
    std::atomic<uint64_t> records_queued_{0};
    std::atomic<uint64_t> records_written_{0};
    std::string file_name_;
    std::atomic<bool> write_failed_{false};
    mutable std::mutex error_mutex_;
    std::string error_;
};

}  // namespace VELKOR
