#include "recording/logger.hpp"

#include "recording/record_format.hpp"
#include "recording/row_datagram.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <ios>
#include <system_error>

namespace VELKOR {

namespace {

// The writer sleeps this long when it finds the write queue empty, so an idle
// recording costs no CPU while a busy one drains without pausing.
constexpr std::chrono::microseconds kWriterIdleSleep{500};

// Microseconds since 1970 from the system clock, via its 100-ns count.
int64_t now_microseconds()
{
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    const int64_t ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() / 100;
    return ticks / 10;
}

}  // namespace

Logger::Logger() = default;

Logger::~Logger() { close(); }

std::string Logger::record_file_name(const std::string& prefix, const std::tm& local)
{
    char stamp[32];
    const std::size_t n = std::strftime(stamp, sizeof(stamp), "%m-%d-%H-%M-%S", &local);
    return prefix + std::string(stamp, n) + ".bin";
}

bool Logger::open(const LOG_PROPS_T& props)
{
    if (is_open()) {
        return false;
    }
    read_mode_ = props.read_mode;
    bool result = false;
    try {
        std::string name = props.file_path;
        if (read_mode_) {
            // A directory opens as a stream too, with a size of 2^63 - 1 and
            // nothing to read: it is no recording.
            std::error_code ec;
            if (!std::filesystem::is_directory(name, ec)) {
                file_.open(name, std::ios::in | std::ios::binary);
            }
        } else {
            const std::time_t now = std::time(nullptr);
            std::tm local{};
            localtime_r(&now, &local);
            name = record_file_name(props.file_path, local);
            file_.open(name, std::ios::out | std::ios::binary | std::ios::trunc);
        }
        if (file_.is_open()) {
            file_.clear();
            file_name_ = name;
        } else {
            file_.setstate(std::ios::failbit);
        }
        write_queue_.clear();
        queued_bytes_ = 0;
        // A file that could not be opened is a failure, not a silent success.
        result = file_.is_open();
    } catch (const std::ios_base::failure& e) {
        std::fprintf(stderr, "exception in reading a file\n");
        std::fprintf(stderr, "exception: %s\n", e.what());
        result = false;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exception: %s\n", e.what());
        result = false;
    }
    open_ = file_.is_open();

    if (read_mode_) {
        loadingprocess();
    } else if (open_ && !writer_) {
        records_queued_ = 0;
        records_written_ = 0;
        current_pos_ = 0;
        accepting_ = true;
        stop_ = false;
        writer_ = std::make_unique<std::thread>(&Logger::thread_callback, this);
    }
    return result;
}

void Logger::close()
{
    accepting_ = false;
    if (writer_) {
        // The writer empties the queue before it sees the stop flag, so every
        // record queued before close reaches the file.
        stop_ = true;
        writer_->join();
        writer_.reset();
        write_queue_.clear();
        queued_bytes_ = 0;
    }
    if (file_.is_open()) {
        file_.close();
    }
    file_.clear();
    open_ = false;
}

void Logger::write(const unsigned char* data, unsigned long long length)
{
    // Only a recording accepts records; nothing would ever drain them otherwise.
    if (!accepting_) {
        return;
    }
    if (data == nullptr && length > 0) {
        return;
    }
    std::vector<uint8_t> record = encode_record(now_microseconds(), data, length);
    ++records_queued_;
    // A writer stalled by the disk (write-back throttling takes a fraction of
    // a second now and then) is ridden out by the queue; only a backlog
    // beyond its bounds loses records, the newest first, so the file keeps
    // an unbroken stretch of the stream.
    if (queued_bytes_.load() + record.size() > kWriteQueueBytes ||
        static_cast<int>(write_queue_.size()) >= write_queue_.capacity()) {
        return;
    }
    queued_bytes_ += record.size();
    write_queue_.push(std::move(record));
}

bool Logger::is_open() const { return open_; }

bool Logger::is_read() { return read_mode_; }

bool Logger::get_recorder_type(MODE mode)
{
    recorder_type_ = mode;
    return true;
}

std::string Logger::file_name() const { return file_name_; }

std::vector<uint64_t> Logger::frame_index() const { return frame_index_; }

void Logger::thread_callback(void* logger) { static_cast<Logger*>(logger)->thread_process(); }

void Logger::thread_process()
{
    std::fputs("VELKOR::Logger::thread_process : Start.\n", stdout);
    std::fflush(stdout);
    std::vector<uint8_t> record;
    for (;;) {
        if (write_queue_.pop(record)) {
            queued_bytes_ -= record.size();
            file_.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
            ++records_written_;
            continue;
        }
        if (stop_) {
            break;
        }
        std::this_thread::sleep_for(kWriterIdleSleep);
    }
    std::fputs("VELKOR::Logger::thread_process : Done.\n", stdout);
    std::fflush(stdout);
}

Logger::PARSERTYPE Logger::parser_frame_index(const unsigned char* payload, uint64_t length)
{
    const RowDatagram row(payload, length);
    if (!row.is_row()) {
        return PARSER_FRAME_BROKEN;
    }
    const int sequence = row.slot();
    if (sequence == 0) {
        previous_sequence_ = 0;
        return PARSER_FRAME_START;
    }
    if (previous_sequence_ == -1) {
        return PARSER_FRAME_BROKEN;
    }
    const int previous = previous_sequence_;
    previous_sequence_ = sequence;
    return sequence == previous + 1 ? PARSER_FRAME_NEXT : PARSER_FRAME_BROKEN;
}

bool Logger::loadingprocess()
{
    const uint64_t file_size = RecordReader::stream_size(file_);
    stop_ = false;
    current_pos_ = 0;
    frame_index_.clear();
    // True while the last index entry is the start of the frame being read,
    // so a broken frame removes only its own start: never twice, and never
    // the start of the whole frame before it when its own start was lost.
    bool frame_open = false;

    // A length beyond the end of the file is a truncated (or hostile) record:
    // the scan ends there and nothing of that size is allocated.
    RecordReader reader(file_, 0, file_size);
    while (!stop_ && reader.next()) {
        const uint64_t start = reader.record_start();
        const uint64_t length = reader.header().length;
        reader.header().encode(header_);
        const unsigned char* payload = nullptr;
        if (RowDatagram::is_row(length)) {
            payload = reader.head(RowDatagram::kHeadBytes);
            if (payload == nullptr) {
                break;
            }
        }
        current_pos_ = reader.position();

        // A sequence number that goes back (without being 0) begins a frame
        // whose start was lost; the frame before it ended whole.
        const int previous = previous_sequence_;
        const bool started_without_start =
            payload != nullptr && previous >= 0 && RowDatagram(payload, length).slot() <= previous;
        switch (parser_frame_index(payload, length)) {
        case PARSER_FRAME_START:
            frame_index_.push_back(start);
            frame_open = true;
            break;
        case PARSER_FRAME_NEXT:
            break;
        case PARSER_FRAME_BROKEN:
            if (frame_open && !started_without_start && !frame_index_.empty()) {
                frame_index_.pop_back();
            }
            frame_open = false;
            break;
        }
    }

    previous_sequence_ = -1;
    last_frame_number_ = static_cast<uint32_t>(static_cast<uint32_t>(frame_index_.size()) - 1u);
    frame_index_.push_back(file_size);
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(current_pos_));
    file_.clear();
    return false;
}

bool Logger::read_once(int index)
{
    current_pos_ = 0;
    if (!read_mode_) {
        return true;
    }
    if (index < 0 || static_cast<std::size_t>(index) + 1 >= frame_index_.size() || !file_.is_open()) {
        return false;
    }
    const uint64_t start = frame_index_[static_cast<std::size_t>(index)];
    const uint64_t end = frame_index_[static_cast<std::size_t>(index) + 1];
    current_pos_ = start;
    // The file may have changed since the scan: the reader trusts no length
    // that runs past this frame.
    RecordReader reader(file_, start, end);
    while (current_pos_ < end) {
        if (static_cast<int>(packet_queue.size()) >= packet_queue.capacity()) {
            return false;
        }
        std::vector<uint8_t> payload;
        if (!reader.next() || !reader.payload(payload)) {
            return false;
        }
        reader.header().encode(header_);
        current_pos_ = reader.position();
        packet_queue.push(std::move(payload));
    }
    return true;
}

bool Logger::read(unsigned char* buffer, unsigned int length)
{
    // While recording the writer thread owns the stream.
    if (!is_open() || !read_mode_) {
        return false;
    }
    file_.read(reinterpret_cast<char*>(buffer), length);
    return !file_.fail() && !file_.bad();
}

unsigned int Logger::current_pos() const { return static_cast<unsigned int>(current_pos_); }

bool Logger::get_total_size(unsigned long long& count)
{
    count = last_frame_number_;
    return true;
}

}  // namespace VELKOR
