#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "util/bounded_queue.hpp"

namespace VELKOR {

struct LOG_PROPS_T {
    std::string file_path;  // record mode: name prefix; read mode: the file
    bool read_mode = false;
};

// Raw recorder of the data stream: `.bin` files of (i64 microsecond time,
// u64 length, payload) records, written by a thread of its own, and read back
// frame by frame through a frame index.
class Logger {
public:
    enum MODE { MODE_NONE = 0, MODE_RECORD = 1, MODE_PLAY = 2 };

    Logger();
    virtual ~Logger();

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    bool open(const LOG_PROPS_T& props);
    void close();
    // Queues one record; callable from any thread, never waits for the disk.
    void write(const unsigned char* data, unsigned long long length);
    bool is_open() const;
    bool is_read();
    bool get_recorder_type(MODE mode);

    bool loadingprocess();
    // Places the datagrams of frame `index` in packet_queue.
    bool read_once(int index);
    bool read(unsigned char* buffer, unsigned int length);
    unsigned int current_pos() const;
    // The last frame number: indexed frames minus one.
    bool get_total_size(unsigned long long& count);

    // Datagrams of the frame last loaded by read_once, for the consumer.
    BoundedQueue<std::vector<uint8_t>> packet_queue{128};
};

}  // namespace VELKOR
