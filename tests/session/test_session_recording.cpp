#include <gtest/gtest.h>

#include <algorithm>
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
    EXPECT_FALSE(session.recording().recorder());
    ASSERT_TRUE(session.record_start(dir));
    const auto first = session.recording().recorder();
    EXPECT_FALSE(session.record_start(dir + "second_"));
    EXPECT_EQ(session.recording().recorder(), first);
    EXPECT_TRUE(first->is_open());

    const unsigned char bytes[1200] = {};
    session.recording().recorder()->write(bytes, sizeof(bytes));
    const std::string name = first->file_name();
    session.record_stop();
    EXPECT_FALSE(session.recording().recorder());
    EXPECT_EQ(std::filesystem::file_size(name), 1216u);
}

TEST_F(SessionRecording, UnwritablePathIsReportedAndKeepsTheRecorder)
{
    EXPECT_FALSE(session.record_start(dir + "no/such/dir/"));
    EXPECT_EQ(session.last_error().rfind("cannot open " + dir + "no/such/dir/", 0), 0u) << session.last_error();
    ASSERT_TRUE(session.recording().recorder());
    EXPECT_FALSE(session.recording().recorder()->is_open());
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
    EXPECT_TRUE(session.stream().running());
    EXPECT_FALSE(session.play_start(path));  // already open
    ASSERT_TRUE(session.get_file_size(size));
    EXPECT_EQ(size, 2u);

    session.play_stop();
    EXPECT_FALSE(session.stream().running());
    ASSERT_TRUE(session.recording().recorder());
    EXPECT_TRUE(session.recording().recorder()->is_read());
    EXPECT_FALSE(session.record_start(dir));
    ASSERT_TRUE(session.play_start(path));  // the closed recorder reopens
    session.play_stop();
    session.record_stop();
    EXPECT_TRUE(session.record_start(dir));
}

TEST_F(SessionRecording, PlayStartReportsMissingAndEmptyFiles)
{
    EXPECT_FALSE(session.play_start(dir + "missing.bin"));
    EXPECT_EQ(session.last_error(), "cannot open " + dir + "missing.bin: No such file or directory");
    uint64_t size = 0;
    ASSERT_TRUE(session.get_file_size(size));
    EXPECT_EQ(size, 4294967295u);

    ASSERT_TRUE(write_file(dir + "empty.bin", {}));
    EXPECT_TRUE(session.play_start(dir + "empty.bin"));
    ASSERT_TRUE(session.get_file_size(size));
    EXPECT_EQ(size, 4294967295u);
    session.play_stop();
}

// A recording with datagrams lost at random, as a busy host records a
// stream: every frame that reached the file whole replays from the index,
// whatever broken frames lie before or after it.
TEST_F(SessionRecording, EveryWholeFrameOfALossyRecordingReplays)
{
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        uint32_t rng = seed * 2654435761u;
        Bytes file;
        std::vector<std::vector<float>> whole;
        for (int f = 0; f < 40; ++f) {
            const auto frame = VELKOR::SIM::make_synthetic_frame(static_cast<uint32_t>(f), seed);
            const auto datagrams = VELKOR::SIM::encode_frame(frame);
            bool kept_all = true;
            for (const auto& datagram : datagrams) {
                rng = rng * 1664525u + 1013904223u;
                if ((rng >> 24) < 10) {  // about 4% lost
                    kept_all = false;
                    continue;
                }
                append(file, record(f, datagram));
            }
            if (kept_all) {
                // The depth this frame replays to, from a file of it alone.
                Bytes alone;
                for (const auto& datagram : datagrams) {
                    append(alone, record(f, datagram));
                }
                ASSERT_TRUE(write_file(dir + "alone.bin", alone));
                TQZ::DeviceSession single;
                ASSERT_TRUE(single.play_start(dir + "alone.bin"));
                VELKOR::LidarTQ::scene_t scene;
                ASSERT_TRUE(single.get_scene(scene, 0));
                whole.push_back(scene.depth);
                single.play_stop();
            }
        }
        ASSERT_FALSE(whole.empty());
        ASSERT_TRUE(write_file(dir + "lossy.bin", file));
        ASSERT_TRUE(session.play_start(dir + "lossy.bin"));
        uint64_t last = 0;
        ASSERT_TRUE(session.get_file_size(last));
        std::vector<std::vector<float>> replayed;
        VELKOR::LidarTQ::scene_t scene;
        for (uint64_t i = 0; i <= last && last < 1000; ++i) {
            if (session.get_scene(scene, static_cast<int>(i))) {
                replayed.push_back(scene.depth);
            }
        }
        for (std::size_t k = 0; k < whole.size(); ++k) {
            EXPECT_NE(std::find(replayed.begin(), replayed.end(), whole[k]), replayed.end())
                << "seed " << seed << ", whole frame " << k << " of " << whole.size();
        }
        session.play_stop();
        session.record_stop();
    }
}
