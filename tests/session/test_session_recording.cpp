#include <gtest/gtest.h>

#include <filesystem>

#include "datagram_encoder.hpp"
#include "recording/logger.hpp"
#include "recording_files.hpp"
#include "session/device_session.hpp"

using namespace recording_files;

namespace {

class SessionRecording : public ::testing::Test {
protected:
    void SetUp() override { dir = fresh_dir(::testing::UnitTest::GetInstance()->current_test_info()->name()); }
    void TearDown() override
    {
        session.record_stop();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    // A recording of `frames` synthetic frames as the sensor sends them.
    std::string write_recording(int frames)
    {
        Bytes file;
        for (int f = 0; f < frames; ++f) {
            const auto frame = VELKOR::SIM::make_synthetic_frame(static_cast<uint32_t>(f), 3);
            for (const auto& datagram : VELKOR::SIM::encode_frame(frame)) {
                append(file, record(f, datagram));
            }
        }
        const std::string path = dir + "replay.bin";
        EXPECT_TRUE(write_file(path, file));
        return path;
    }

    TQZ::DeviceSession session;
    std::string dir;
};

}  // namespace

TEST_F(SessionRecording, OneRecorderAtATime)
{
    session.record_stop();  // nothing to stop
    EXPECT_FALSE(session.recorder);
    ASSERT_TRUE(session.record_start(dir));
    const auto first = session.recorder;
    EXPECT_FALSE(session.record_start(dir + "second_"));
    EXPECT_EQ(session.recorder, first);
    EXPECT_TRUE(first->is_open());

    const unsigned char bytes[1200] = {};
    session.recorder->write(bytes, sizeof(bytes));
    const std::string name = first->file_name();
    session.record_stop();
    EXPECT_FALSE(session.recorder);
    EXPECT_EQ(std::filesystem::file_size(name), 1216u);
}

TEST_F(SessionRecording, UnwritablePathIsReportedAndKeepsTheRecorder)
{
    EXPECT_FALSE(session.record_start(dir + "no/such/dir/"));
    ASSERT_TRUE(session.recorder);
    EXPECT_FALSE(session.recorder->is_open());
    EXPECT_FALSE(session.record_start(dir));
    session.record_stop();
    EXPECT_TRUE(session.record_start(dir));
}

TEST_F(SessionRecording, PlayOpensForReadingAndBlocksRecordingUntilReleased)
{
    const std::string path = write_recording(3);
    uint64_t size = 0;
    EXPECT_FALSE(session.get_file_size(size));  // no recorder yet

    ASSERT_TRUE(session.play_start(path));
    EXPECT_TRUE(session.running);
    EXPECT_FALSE(session.play_start(path));  // already open
    ASSERT_TRUE(session.get_file_size(size));
    EXPECT_EQ(size, 2u);

    session.play_stop();
    EXPECT_FALSE(session.running);
    ASSERT_TRUE(session.recorder);
    EXPECT_TRUE(session.recorder->is_read());
    EXPECT_FALSE(session.record_start(dir));
    ASSERT_TRUE(session.play_start(path));  // the closed recorder reopens
    session.play_stop();
    session.record_stop();
    EXPECT_TRUE(session.record_start(dir));
}

TEST_F(SessionRecording, PlayStartReportsMissingAndEmptyFiles)
{
    EXPECT_FALSE(session.play_start(dir + "missing.bin"));
    uint64_t size = 0;
    ASSERT_TRUE(session.get_file_size(size));
    EXPECT_EQ(size, 4294967295u);

    ASSERT_TRUE(write_file(dir + "empty.bin", {}));
    EXPECT_TRUE(session.play_start(dir + "empty.bin"));
    ASSERT_TRUE(session.get_file_size(size));
    EXPECT_EQ(size, 4294967295u);
    session.play_stop();
}
