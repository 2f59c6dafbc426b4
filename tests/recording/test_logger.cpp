#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include <cerrno>
#include <cstring>

#include "file_size_limit.hpp"
#include "recording/logger.hpp"
#include "recording_files.hpp"

using namespace recording_files;
using VELKOR::LOG_PROPS_T;
using VELKOR::Logger;

namespace {

uint64_t le64(const Bytes& bytes, std::size_t at)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | bytes[at + i];
    }
    return value;
}

int64_t now_us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class LoggerFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fresh_dir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    // Opens a recording and returns its file name.
    std::string record(Logger& logger, const std::vector<Bytes>& datagrams)
    {
        EXPECT_TRUE(logger.open({dir, false}));
        for (const auto& d : datagrams) {
            logger.write(d.data(), d.size());
        }
        const std::string name = logger.file_name();
        logger.close();
        return name;
    }

    std::string dir;
};

}  // namespace

TEST_F(LoggerFile, RecordsAreTimeLengthPayloadWithNoFileHeader)
{
    std::vector<Bytes> datagrams = {datagram(0, 1200, 1), datagram(1, 1200, 2), datagram(2, 1200, 3), {}};
    Logger logger;
    const int64_t before = now_us();
    const std::string name = record(logger, datagrams);
    const int64_t after = now_us();

    const Bytes file = read_file(name);
    ASSERT_EQ(file.size(), 3u * 1216u + 16u);
    std::size_t at = 0;
    int64_t previous = before;
    for (const auto& d : datagrams) {
        const auto time = static_cast<int64_t>(le64(file, at));
        EXPECT_GE(time, previous);
        EXPECT_LE(time, after);
        previous = time;
        ASSERT_EQ(le64(file, at + 8), d.size());
        EXPECT_TRUE(std::equal(d.begin(), d.end(), file.begin() + static_cast<long>(at + 16)));
        at += 16 + d.size();
    }
    EXPECT_EQ(logger.records_queued(), 4u);
    EXPECT_EQ(logger.records_written(), 4u);
}

TEST_F(LoggerFile, FileNameIsPrefixPlusLocalTime)
{
    std::tm jan{};
    jan.tm_mon = 0;
    jan.tm_mday = 3;
    jan.tm_hour = 9;
    jan.tm_min = 5;
    jan.tm_sec = 7;
    EXPECT_EQ(Logger::record_file_name("rec_", jan), "rec_01-03-09-05-07.bin");
    std::tm dec{};
    dec.tm_mon = 11;
    dec.tm_mday = 7;
    dec.tm_hour = 2;
    dec.tm_min = 43;
    dec.tm_sec = 52;
    EXPECT_EQ(Logger::record_file_name("./log/", dec), "./log/12-07-02-43-52.bin");

    // The file actually created carries the time of open.
    const std::time_t before = std::time(nullptr);
    Logger logger;
    ASSERT_TRUE(logger.open({dir + "cap_", false}));
    const std::time_t after = std::time(nullptr);
    const std::string name = logger.file_name();
    logger.close();
    bool matched = false;
    for (std::time_t t = before; t <= after; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        matched = matched || name == Logger::record_file_name(dir + "cap_", local);
    }
    EXPECT_TRUE(matched) << name;
    EXPECT_TRUE(std::filesystem::exists(name));
}

TEST_F(LoggerFile, OpenAndCloseStates)
{
    Logger logger;
    const Bytes d = datagram(0);
    logger.write(d.data(), d.size());  // before open: nothing
    logger.close();                    // close on a closed logger: nothing
    EXPECT_FALSE(logger.is_open());

    // Failures are reported, not hidden behind is_open.
    EXPECT_FALSE(logger.open({dir + "missing/dir/", false}));
    EXPECT_FALSE(logger.is_open());
    EXPECT_FALSE(logger.open({dir + "no_such_file.bin", true}));
    EXPECT_FALSE(logger.is_open());
    EXPECT_FALSE(logger.open({dir, true}));  // a directory is no recording
    EXPECT_FALSE(logger.is_open());
    unsigned long long last = 0;
    EXPECT_TRUE(logger.get_total_size(last));
    EXPECT_EQ(last, 4294967295ull);
    EXPECT_FALSE(logger.read_once(0));

    ASSERT_TRUE(logger.open({dir, false}));
    const std::string first = logger.file_name();
    EXPECT_FALSE(logger.open({dir + "other_", false}));
    EXPECT_EQ(logger.file_name(), first);
    EXPECT_TRUE(logger.is_open());
    EXPECT_FALSE(logger.is_read());
    logger.write(d.data(), d.size());
    logger.close();
    logger.write(d.data(), d.size());  // after close: nothing
    EXPECT_EQ(read_file(first).size(), 16u + d.size());
}

// Two recorders started in the same second (two sensors into one folder)
// each get a file of their own: the second name carries "-1".
TEST_F(LoggerFile, RecordingsStartedInOneSecondGetFilesOfTheirOwn)
{
    Logger first;
    Logger second;
    std::string a;
    std::string b;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::string prefix = dir + std::to_string(attempt) + "_";
        ASSERT_TRUE(first.open({prefix, false}));
        ASSERT_TRUE(second.open({prefix, false}));
        a = first.file_name();
        b = second.file_name();
        if (b == a.substr(0, a.size() - 4) + "-1.bin") {
            break;  // opened within one second
        }
        first.close();
        second.close();
    }
    ASSERT_EQ(b, a.substr(0, a.size() - 4) + "-1.bin");
    const Bytes one = datagram(0, 1200, 1);
    const Bytes two = datagram(0, 1300, 2);
    first.write(one.data(), one.size());
    second.write(two.data(), two.size());
    first.close();
    second.close();
    EXPECT_EQ(read_file(a), recording_files::record(le64(read_file(a), 0), one));
    EXPECT_EQ(read_file(b), recording_files::record(le64(read_file(b), 0), two));
}

// A file that cannot grow (disk full; here the file size limit, which needs
// no root) stops the recording with its cause; the file keeps the records
// written whole, cut back from the one that was written in part.
TEST_F(LoggerFile, FailedWriteStopsTheRecordingAndKeepsWholeRecords)
{
    FileSizeLimit limit(10000);  // 8 records of 1216 bytes and part of the 9th
    ASSERT_TRUE(limit.ok());
    Logger logger;
    const bool opened = logger.open({dir, false});
    for (int i = 0; i < 20 && opened; ++i) {
        const Bytes row = datagram(static_cast<uint16_t>(i % 3), 1200, static_cast<uint32_t>(i), 3);
        logger.write(row.data(), row.size());
    }
    logger.close();
    limit.lift();
    ASSERT_TRUE(opened);

    EXPECT_TRUE(logger.write_failed());
    EXPECT_EQ(logger.error(), std::strerror(EFBIG));
    EXPECT_EQ(logger.records_written(), 8u);
    const std::string name = logger.file_name();
    EXPECT_EQ(read_file(name).size(), 8u * 1216u);
    // Two whole frames of three rows, and the two rows of the third.
    ASSERT_TRUE(logger.open({name, true}));
    EXPECT_EQ(logger.frame_index(), (std::vector<uint64_t>{0, 3 * 1216, 8 * 1216}));
    logger.close();

    // The next recording starts sound.
    ASSERT_TRUE(logger.open({dir + "next_", false}));
    EXPECT_FALSE(logger.write_failed());
    EXPECT_EQ(logger.error(), "");
}

TEST_F(LoggerFile, CloseDrainsEveryQueuedRecord)
{
    std::vector<Bytes> datagrams;
    for (int i = 0; i < 128; ++i) {
        datagrams.push_back(datagram(static_cast<uint16_t>(i % 56), 1500, static_cast<uint32_t>(i)));
    }
    Logger logger;
    const std::string name = record(logger, datagrams);
    EXPECT_EQ(read_file(name).size(), 128u * (16u + 1500u));
    EXPECT_EQ(logger.records_written(), 128u);
}

// The writer sleeps on its queue while nothing comes: a record wakes it,
// and so does close, each well before the writer's own 1 s wait runs out.
TEST_F(LoggerFile, SleepingWriterWakesForARecordAndForClose)
{
    Logger logger;
    ASSERT_TRUE(logger.open({dir, false}));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const Bytes row = datagram(0, 1500, 1);
    auto start = std::chrono::steady_clock::now();
    logger.write(row.data(), row.size());
    while (logger.records_written() < 1 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(600));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    start = std::chrono::steady_clock::now();
    logger.close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(600));
    EXPECT_EQ(read_file(logger.file_name()).size(), 16u + 1500u);
}

TEST_F(LoggerFile, WriterAnnouncesStartAndDone)
{
    ::testing::internal::CaptureStdout();
    {
        Logger logger;
        ASSERT_TRUE(logger.open({dir, false}));
        logger.close();
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("VELKOR::Logger::thread_process : Start.\n"), std::string::npos);
    EXPECT_NE(out.find("VELKOR::Logger::thread_process : Done.\n"), std::string::npos);
}

TEST_F(LoggerFile, ReopenForReadingAfterRecording)
{
    std::vector<Bytes> datagrams = {datagram(0, 1200, 0, 3), datagram(1, 1200, 0, 3), datagram(2, 1200, 0, 3)};
    Logger logger;
    const std::string name = record(logger, datagrams);
    ASSERT_TRUE(logger.open({name, true}));
    EXPECT_TRUE(logger.is_read());
    EXPECT_EQ(logger.frame_index(), (std::vector<uint64_t>{0, 3 * 1216}));
    EXPECT_TRUE(logger.read_once(0));
    EXPECT_EQ(logger.packet_queue.size(), 3u);
    Bytes got;
    ASSERT_TRUE(logger.packet_queue.pop(got));
    EXPECT_EQ(got, datagrams[0]);
}

// --- Frame index ------------------------------------------------------------

namespace {

// One record of a test file: a row (size above 1080) of a frame of `slots`
// rows, or another datagram.
struct Rec {
    uint16_t sequence;
    std::size_t size;
    uint16_t slots = 3;
};

class LoggerIndex : public LoggerFile {
protected:
    // Writes a file of the given records and opens it for reading.
    void open_file(const std::vector<Rec>& records, const Bytes& tail = {})
    {
        logger.close();
        Bytes file;
        payloads.clear();
        starts.clear();
        for (std::size_t i = 0; i < records.size(); ++i) {
            starts.push_back(file.size());
            payloads.push_back(
                datagram(records[i].sequence, records[i].size, static_cast<uint32_t>(i), records[i].slots));
            append(file, recording_files::record(1000 + static_cast<int64_t>(i), payloads.back()));
        }
        append(file, tail);
        path = dir + "index" + std::to_string(files++) + ".bin";
        ASSERT_TRUE(write_file(path, file));
        size = file.size();
        logger.open({path, true});
    }

    unsigned long long last()
    {
        unsigned long long value = 0;
        logger.get_total_size(value);
        return value;
    }

    std::vector<Bytes> drain()
    {
        std::vector<Bytes> out;
        Bytes b;
        while (logger.packet_queue.pop(b)) {
            out.push_back(b);
        }
        return out;
    }

    Logger logger;
    std::vector<Bytes> payloads;
    std::vector<uint64_t> starts;
    std::string path;
    uint64_t size = 0;
    int files = 0;
};

}  // namespace

TEST_F(LoggerIndex, TwoCompleteFrames)
{
    open_file({{0, 1200}, {1, 1200}, {2, 1200}, {0, 1200}, {1, 1200}, {2, 1200}});
    EXPECT_EQ(logger.frame_index(), (std::vector<uint64_t>{starts[0], starts[3], size}));
    EXPECT_EQ(last(), 1u);
    EXPECT_EQ(logger.current_pos(), size);
    EXPECT_TRUE(logger.read_once(1));
    EXPECT_EQ(drain(), (std::vector<Bytes>{payloads[3], payloads[4], payloads[5]}));
    EXPECT_TRUE(logger.read_once(0));
    EXPECT_EQ(drain(), (std::vector<Bytes>{payloads[0], payloads[1], payloads[2]}));
    EXPECT_FALSE(logger.read_once(-1));
    EXPECT_FALSE(logger.read_once(2));
    EXPECT_TRUE(drain().empty());
}

TEST_F(LoggerIndex, FrameWithMissingPacketIsDropped)
{
    open_file({{0, 1200}, {1, 1200}, {3, 1200}, {0, 1200}, {1, 1200}, {2, 1200}});
    EXPECT_EQ(logger.frame_index(), (std::vector<uint64_t>{starts[3], size}));
    EXPECT_EQ(last(), 0u);
    EXPECT_TRUE(logger.read_once(0));
    EXPECT_EQ(drain().size(), 3u);
}

TEST_F(LoggerIndex, NothingAfterItsLastRowRemovesAWholeFrame)
{
    // A short record after frame 0 of 3 keeps all three.
    open_file({{0, 1200}, {1, 1200}, {2, 1200}, {0, 100}, {0, 1200}, {1, 1200}, {2, 1200},
               {0, 1200}, {1, 1200}, {2, 1200}});
    EXPECT_EQ(logger.frame_index(), (std::vector<uint64_t>{starts[0], starts[4], starts[7], size}));
    EXPECT_TRUE(logger.read_once(0));
    EXPECT_EQ(drain().size(), 4u);

    // Frame 1 of 3 lost its slot 0 to garbling (sequence 0xFFFF): frames 0
    // and 2 stay, frame 1's rows are read with frame 0.
    open_file({{0, 1200}, {1, 1200}, {2, 1200}, {0xFFFF, 1200}, {1, 1200}, {2, 1200},
               {0, 1200}, {1, 1200}, {2, 1200}});
    EXPECT_EQ(logger.frame_index(), (std::vector<uint64_t>{starts[0], starts[6], size}));

    // A run of garbled rows after whole frames leaves them all.
    open_file({{0, 1200}, {1, 1200}, {2, 1200}, {0, 1200}, {1, 1200}, {2, 1200},
               {0xFFFF, 1200}, {0xFFFF, 1200}, {0x7777, 1200}});
    EXPECT_EQ(logger.frame_index(), (std::vector<uint64_t>{starts[0], starts[3], size}));
}

TEST_F(LoggerIndex, FrameCutOffBeforeItsLastRowIsNotAFrame)
{
    // Three whole frames, then the recording ends inside the fourth.
    open_file({{0, 1200}, {1, 1200}, {2, 1200}, {0, 1200}, {1, 1200}, {2, 1200},
               {0, 1200}, {1, 1200}, {2, 1200}, {0, 1200}, {1, 1200}});
    EXPECT_EQ(logger.frame_index(), (std::vector<uint64_t>{starts[0], starts[3], starts[6], size}));
    EXPECT_EQ(last(), 2u);
    EXPECT_TRUE(logger.read_once(2));
    EXPECT_EQ(drain().size(), 5u);

    // So is a frame that a new slot 0 cut short; a frame of one row ends at
    // its start.
    open_file({{0, 1200}, {1, 1200}, {0, 1200}, {1, 1200}, {2, 1200}, {0, 1200, 1}});
    EXPECT_EQ(logger.frame_index(), (std::vector<uint64_t>{starts[2], starts[5], size}));
}

TEST_F(LoggerIndex, FrameBrokenTwiceRemovesOnlyItsOwnStart)
{
    // Frame 1 breaks at sequence 3 and again at 5; frame 0 stays indexed and
    // frame 1's records are read with it.
    open_file({{0, 1200}, {1, 1200}, {2, 1200}, {0, 1200}, {1, 1200}, {3, 1200}, {5, 1200},
               {0, 1200}, {1, 1200}, {2, 1200}});
    EXPECT_EQ(logger.frame_index(), (std::vector<uint64_t>{starts[0], starts[7], size}));
    EXPECT_EQ(last(), 1u);
    EXPECT_TRUE(logger.read_once(0));
    EXPECT_EQ(drain().size(), 7u);
}

TEST_F(LoggerIndex, FrameWhoseStartWasLostLeavesTheFrameBeforeIndexed)
{
    // The second frame lost its sequence 0 (and 1); the first frame is whole
    // and stays, the start-less frame's records are read with it. A frame
    // that breaks forward within itself still goes.
    open_file({{0, 1200}, {1, 1200}, {2, 1200}, {2, 1200}, {0, 1200}, {1, 1200}, {2, 1200},
               {0, 1200}, {2, 1200}, {0, 1200}, {1, 1200}, {2, 1200}});
    EXPECT_EQ(logger.frame_index(), (std::vector<uint64_t>{starts[0], starts[4], starts[9], size}));
    EXPECT_EQ(last(), 2u);
    EXPECT_TRUE(logger.read_once(0));
    EXPECT_EQ(drain().size(), 4u);
    EXPECT_TRUE(logger.read_once(1));
    EXPECT_EQ(drain().size(), 5u);
}

TEST_F(LoggerIndex, PacketsBeforeTheFirstStartAreNotAFrame)
{
    open_file({{7, 1200}, {8, 1200}, {0, 1200}, {1, 1200}, {2, 1200}});
    EXPECT_EQ(logger.frame_index(), (std::vector<uint64_t>{starts[2], size}));
}

TEST_F(LoggerIndex, TruncatedLastRecordIsIgnored)
{
    Bytes tail = header(5, 1200);
    tail.resize(tail.size() + 500, 0xAB);
    open_file({{0, 1200, 2}, {1, 1200, 2}, {0, 1200, 2}, {1, 1200, 2}}, tail);
    EXPECT_EQ(logger.frame_index(), (std::vector<uint64_t>{starts[0], starts[2], size}));
    EXPECT_EQ(logger.current_pos(), size - tail.size());
    // The scan's end-of-file state does not stop read_once.
    EXPECT_TRUE(logger.read_once(0));
    EXPECT_EQ(drain(), (std::vector<Bytes>{payloads[0], payloads[1]}));
    // The last frame reaches up to the end of the file, into the truncated
    // record: its datagrams are queued, then the read of the remnant fails.
    EXPECT_FALSE(logger.read_once(1));
    EXPECT_EQ(drain(), (std::vector<Bytes>{payloads[2], payloads[3]}));
}

TEST_F(LoggerIndex, FullPacketQueueStopsReadOnce)
{
    open_file({{0, 1200}, {1, 1200}, {2, 1200}});
    const Bytes filler(10, 0);
    for (int i = 0; i < 126; ++i) {
        logger.packet_queue.push(filler);
    }
    EXPECT_FALSE(logger.read_once(0));
    auto queued = drain();
    ASSERT_EQ(queued.size(), 128u);
    EXPECT_EQ(queued[126], payloads[0]);
    EXPECT_EQ(queued[127], payloads[1]);
    // Drained, the same frame loads completely.
    EXPECT_TRUE(logger.read_once(0));
    EXPECT_EQ(drain().size(), 3u);
}

TEST_F(LoggerIndex, ReadOnceOutsideReadModeReadsNothing)
{
    ASSERT_TRUE(logger.open({dir, false}));
    EXPECT_TRUE(logger.read_once(0));
    EXPECT_TRUE(logger.packet_queue.empty());
    unsigned char buffer[4];
    EXPECT_FALSE(logger.read(buffer, 4));
}

TEST_F(LoggerIndex, RawReadAtStreamPosition)
{
    open_file({{0, 1200, 1}});
    EXPECT_TRUE(logger.read_once(0));
    unsigned char buffer[16];
    EXPECT_FALSE(logger.read(buffer, sizeof(buffer)));  // at end of file: short read fails
    logger.close();
    EXPECT_FALSE(logger.read(buffer, sizeof(buffer)));
    // The index survives close.
    EXPECT_EQ(logger.frame_index().size(), 2u);
}
