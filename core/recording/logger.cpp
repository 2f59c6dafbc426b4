#include "recording/logger.hpp"

#include "recording/record_format.hpp"
#include "recording/row_datagram.hpp"
#include "util/log_sink.hpp"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <ios>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace VELKOR {

namespace {

// The writer waits on its queue for records; write wakes it, close wakes it
// to finish. This only bounds how long it waits without looking at its stop
// flag.
constexpr std::chrono::milliseconds kWriterIdleWait{1000};

// How many "-N" names a recording tries after its time-stamped name.
constexpr int kMaxNameSerial = 9999;

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

std::string Logger::record_file_name(const std::string& prefix, const std::tm& local, int serial)
{
    char stamp[32];
    const std::size_t n = std::strftime(stamp, sizeof(stamp), "%m-%d-%H-%M-%S", &local);
    const std::string suffix = serial > 0 ? "-" + std::to_string(serial) : std::string();
    return prefix + std::string(stamp, n) + suffix + ".bin";
}

bool Logger::create_recording(const std::string& prefix)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // O_EXCL: of two recorders that start in the same second (or two sensors
    // recorded into one folder) each gets a file of its own.
    for (int serial = 0; serial <= kMaxNameSerial; ++serial) {
        const std::string name = record_file_name(prefix, local, serial);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            record_fd_ = fd;
            record_end_ = 0;
            file_name_ = name;
            return true;
        }
        if (errno != EEXIST) {
            set_error(std::strerror(errno));
            return false;
        }
    }
    set_error(std::strerror(EEXIST));
    return false;
}

bool Logger::open(const LOG_PROPS_T& props)
{
    if (is_open()) {
        return false;
    }
    read_mode_ = props.read_mode;
    set_error("");
    write_failed_ = false;
    bool result = false;
    if (read_mode_) {
        try {
            // A directory opens as a stream too, with a size of 2^63 - 1 and
            // nothing to read: it is no recording.
            std::error_code ec;
            errno = 0;
            if (std::filesystem::is_directory(props.file_path, ec)) {
                errno = EISDIR;
            } else {
                file_.open(props.file_path, std::ios::in | std::ios::binary);
            }
            if (file_.is_open()) {
                file_.clear();
                file_name_ = props.file_path;
            } else {
                file_.setstate(std::ios::failbit);
                set_error(errno != 0 ? std::strerror(errno) : "cannot be opened");
            }
            // A file that could not be opened is a failure, not a silent success.
            result = file_.is_open();
        } catch (const std::ios_base::failure& e) {
            LogLine(log_level::error, log_stream::err) << "exception in reading a file";
            LogLine(log_level::error, log_stream::err) << "exception: " << e.what();
            set_error(e.what());
            result = false;
        } catch (const std::exception& e) {
            LogLine(log_level::error, log_stream::err) << "exception: " << e.what();
            set_error(e.what());
            result = false;
        }
    } else {
        result = create_recording(props.file_path);
    }
    write_queue_.clear();
    queued_bytes_ = 0;
    open_ = result;

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
        write_queue_.wake();
        writer_->join();
        writer_.reset();
        write_queue_.clear();
        queued_bytes_ = 0;
    }
    if (record_fd_ >= 0) {
        // Some file systems report a failed write-back only here.
        if (::close(record_fd_) != 0 && !write_failed_) {
            set_error(std::strerror(errno));
            write_failed_ = true;
        }
        record_fd_ = -1;
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

std::string Logger::error() const
{
    std::lock_guard<std::mutex> lock(error_mutex_);
    return error_;
}

void Logger::set_error(const std::string& text)
{
    std::lock_guard<std::mutex> lock(error_mutex_);
    error_ = text;
}

bool Logger::append_record(const std::vector<uint8_t>& record)
{
    std::size_t done = 0;
    while (done < record.size()) {
        const ssize_t n = ::write(record_fd_, record.data() + done, record.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // A write that takes nothing and names no cause is a full device.
        std::string text = std::strerror(n < 0 ? errno : ENOSPC);
        // A short write left part of this record: a reader would take it for
        // a truncated (or, once more bytes follow, a garbled) record.
        if (done > 0 && ::ftruncate(record_fd_, static_cast<off_t>(record_end_)) != 0) {
            text += "; the file ends in a partial record";
        }
        set_error(text);
        write_failed_ = true;
        return false;
    }
    record_end_ += record.size();
    return true;
}

void Logger::thread_callback(void* logger) { static_cast<Logger*>(logger)->thread_process(); }

void Logger::thread_process()
{
    std::fputs("VELKOR::Logger::thread_process : Start.\n", stdout);
    std::fflush(stdout);
    std::vector<uint8_t> record;
    for (;;) {
        if (write_queue_.pop_for(record, kWriterIdleWait, [this] { return stop_.load(); })) {
            queued_bytes_ -= record.size();
            if (!append_record(record)) {
                // The recording ends here; what waits would only fail too.
                accepting_ = false;
                write_queue_.clear();
                LogLine(log_level::error, log_stream::err) << kWriteFailedLine << error();
                break;
            }
            ++records_written_;
            continue;
        }
        // Nothing was taken: either the queue is empty and close asked to
        // stop, or the wait ran out.
        if (stop_) {
            break;
        }
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
    // True while the last index entry is the start of a frame whose last row
    // (slot = slots field - 1) has not been read. Only such a frame can still
    // lose its entry: once its last row is in, the frame is whole, and
    // nothing after it (a garbled row, a short record, a frame whose start
    // was lost) removes it.
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

        switch (parser_frame_index(payload, length)) {
        case PARSER_FRAME_START:
            // The frame before ended without its last row.
            if (frame_open) {
                frame_index_.pop_back();
            }
            frame_index_.push_back(start);
            frame_open = true;
            break;
        case PARSER_FRAME_NEXT:
            break;
        case PARSER_FRAME_BROKEN:
            if (frame_open) {
                frame_index_.pop_back();
            }
            frame_open = false;
            break;
        }
        if (frame_open && RowDatagram(payload, length).ends_frame()) {
            frame_open = false;
        }
    }
    // The recording ended (or was cut) before the last frame's last row.
    if (frame_open) {
        frame_index_.pop_back();
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
