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

    // Record mode: creates file_path + "%m-%d-%H-%M-%S" (local time) + ".bin",
    // truncating a file of that name. Read mode: opens file_path and builds the
    // frame index. False when a file is already open or this one could not be
    // opened.
    bool open(const LOG_PROPS_T& props);
    // Lets the writer append every record queued so far, then closes the file.
    void close();
    // Queues one record; callable from any thread, never waits for the disk.
    void write(const unsigned char* data, unsigned long long length);
    bool is_open() const;
    bool is_read();
    bool get_recorder_type(MODE mode);

    // The frame-index scan; open runs it in read mode. Always false.
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
    // Frame start positions followed by the end marker (the file size).
    std::vector<uint64_t> frame_index() const;
    // Records passed to write, and records that reached the file, since the
    // last open in record mode. Their difference after close is the number of
    // records lost to a full write queue.
    uint64_t records_queued() const { return records_queued_.load(); }
    uint64_t records_written() const { return records_written_.load(); }

    // The record-mode file name for `prefix` at local time `local`.
    static std::string record_file_name(const std::string& prefix, const std::tm& local);

    // Datagrams of the frame last loaded by read_once, for the consumer.
    BoundedQueue<std::vector<uint8_t>> packet_queue{128};

private:
    PARSERTYPE parser_frame_index(const unsigned char* payload, uint64_t length);
    void thread_process();
    static void thread_callback(void* logger);

    bool read_mode_ = false;
    MODE recorder_type_ = MODE_NONE;
    std::fstream file_;
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
};

}  // namespace VELKOR
