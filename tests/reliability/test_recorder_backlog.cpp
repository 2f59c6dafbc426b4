// A recorder whose disk stalls: the writer blocks while the stream goes on.
// Here the "file" is a FIFO nobody reads for a while, so the writer stalls
// as long as the test wants. What arrives meanwhile waits in the write queue
// and reaches the file once the disk moves again; only a backlog beyond the
// queue's bounds is refused, and then the file holds an unbroken stretch.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "recording/logger.hpp"

namespace {

using namespace std::chrono_literals;

// Opens a logger in record mode and puts a FIFO in place of the file it
// created (the recorder creates its file itself and never opens one that
// exists): the test finds the recorder's descriptor of that file and lays
// the FIFO's write end over it. Returns the read end (non-blocking), or -1.
int open_on_fifo(VELKOR::Logger& logger, const std::string& prefix, std::string& path)
{
    VELKOR::LOG_PROPS_T props;
    props.file_path = prefix;
    if (!logger.open(props)) {
        return -1;
    }
    struct stat created {};
    if (::stat(logger.file_name().c_str(), &created) != 0) {
        return -1;
    }
    path = prefix + "fifo";
    ::unlink(path.c_str());
    if (::mkfifo(path.c_str(), 0600) != 0) {
        return -1;
    }
    const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    const int writer = ::open(path.c_str(), O_WRONLY);
    bool placed = false;
    for (int fd = 3; fd < 1024 && reader >= 0 && writer >= 0 && !placed; ++fd) {
        struct stat st {};
        if (fd != reader && fd != writer && ::fstat(fd, &st) == 0 && st.st_dev == created.st_dev &&
            st.st_ino == created.st_ino) {
            placed = ::dup2(writer, fd) == fd;
        }
    }
    if (writer >= 0) {
        ::close(writer);
    }
    ::unlink(logger.file_name().c_str());
    if (!placed && reader >= 0) {
        ::close(reader);
        return -1;
    }
    return reader;
}

// Reads everything from the FIFO until the writer closes it.
struct Drain {
    explicit Drain(int fd) : fd(fd), thread([this] { run(); }) {}
    ~Drain()
    {
        if (thread.joinable()) {
            thread.join();
        }
    }
    void run()
    {
        std::vector<char> buffer(1 << 16);
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 100);
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n > 0) {
                bytes += static_cast<uint64_t>(n);
            } else if (n == 0) {
                return;  // the writer closed its end
            }
        }
    }
    int fd;
    std::atomic<uint64_t> bytes{0};
    std::thread thread;
};

void write_records(VELKOR::Logger& logger, int count, std::size_t size)
{
    std::vector<unsigned char> payload(size, 0x5A);
    for (int i = 0; i < count; ++i) {
        payload[4] = static_cast<unsigned char>(i % 56);
        logger.write(payload.data(), payload.size());
    }
}

TEST(RecorderBacklog, AStalledDiskLosesNoRecordWithinTheQueueBounds)
{
    const std::string prefix = std::string(VELKOR_TEST_TMP) + "/backlog-";
    VELKOR::Logger logger;
    std::string path;
    const int reader = open_on_fifo(logger, prefix, path);
    ASSERT_GE(reader, 0);

    // Three seconds of a 20 fps stream of full rows (9.6 kB each) while the
    // disk stands still: 3360 records, some 32 MB.
    constexpr int kRecords = 3360;
    constexpr std::size_t kSize = 9600;
    write_records(logger, kRecords, kSize);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(logger.records_queued(), static_cast<uint64_t>(kRecords));
    EXPECT_LT(logger.records_written(), static_cast<uint64_t>(kRecords));  // the writer is stuck

    Drain drain(reader);
    logger.close();
    drain.thread.join();
    EXPECT_EQ(logger.records_written(), static_cast<uint64_t>(kRecords));
    EXPECT_EQ(drain.bytes.load(), static_cast<uint64_t>(kRecords) * (VELKOR::RecordHeader::kSize + kSize));
    ::close(reader);
    ::unlink(path.c_str());
}

TEST(RecorderBacklog, BeyondTheBoundsTheNewestRecordsAreRefused)
{
    const std::string prefix = std::string(VELKOR_TEST_TMP) + "/backlog-over-";
    VELKOR::Logger logger;
    std::string path;
    const int reader = open_on_fifo(logger, prefix, path);
    ASSERT_GE(reader, 0);

    // Far more than the byte bound: 100 MB of 50 kB records.
    constexpr int kRecords = 2000;
    constexpr std::size_t kSize = 50000;
    write_records(logger, kRecords, kSize);
    EXPECT_EQ(logger.records_queued(), static_cast<uint64_t>(kRecords));

    Drain drain(reader);
    logger.close();
    drain.thread.join();
    const uint64_t written = logger.records_written();
    EXPECT_LT(written, static_cast<uint64_t>(kRecords));
    // Within the bound, plus what the writer took before it stalled.
    EXPECT_GE(written * (16 + kSize), VELKOR::Logger::kWriteQueueBytes - (16 + kSize));
    EXPECT_LE(written * (16 + kSize), VELKOR::Logger::kWriteQueueBytes + (1u << 20));
    EXPECT_EQ(drain.bytes.load(), written * (16 + kSize));
    ::close(reader);
    ::unlink(path.c_str());
}

}  // namespace
