#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "datagram_encoder.hpp"
#include "frame_feed.hpp"
#include "recording/logger.hpp"
#include "recording_files.hpp"
#include "session/device_session.hpp"

using TESTSUPPORT::Datagrams;
using TESTSUPPORT::feed_session;
using VELKOR::SIM::EncoderFrame;
using VELKOR::SIM::EncoderOptions;
using VELKOR::SIM::encode_frame;
using VELKOR::SIM::make_synthetic_frame;

namespace {

// These tests check the scene as filled from the assembled frame, so every
// correcting module of the session's processing chain (global offset
// included) is off; point generation does not touch depth or intensity.
class RawSession : public TQZ::DeviceSession {
public:
    RawSession()
    {
        chain.set_signal_data_processing(false);
        chain.global_offset->enabled = false;
    }
};

int count_of(const std::string& text, const std::string& needle)
{
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

float depth_of(const EncoderFrame& frame, int r, int c)
{
    return static_cast<float>(frame.depth[frame.index(r, c)] * 0.0625);
}

// A session whose stream worker runs (run() starts it without a connection).
class StreamWorker : public testing::Test {
protected:
    void SetUp() override { session.run(); }
    void TearDown() override { session.stop(); }

    RawSession session;
    TQZ::scene_t scene;
};

}  // namespace

TEST_F(StreamWorker, FramesBecomeScenesInArrivalOrderAndOnlyOnce)
{
    const EncoderFrame first = make_synthetic_frame(1, 5);
    const EncoderFrame second = make_synthetic_frame(2, 5);
    Datagrams datagrams = encode_frame(first);
    TESTSUPPORT::append(datagrams, encode_frame(second));
    ASSERT_TRUE(feed_session(session, datagrams, 2));

    ASSERT_TRUE(session.get_scene(scene));
    EXPECT_EQ(scene.rows, 56);
    EXPECT_EQ(scene.cols, 192);
    ASSERT_EQ(scene.depth.size(), 56u * 192u);
    EXPECT_EQ(scene.depth[10 * 192 + 33], depth_of(first, 10, 33));
    ASSERT_TRUE(session.get_scene(scene, -1));
    EXPECT_EQ(scene.depth[10 * 192 + 33], depth_of(second, 10, 33));
    EXPECT_EQ(scene.ambient[55 * 192 + 191], second.ambient[55 * 192 + 191]);

    // Nothing left: false, and the scene keeps the last frame.
    EXPECT_FALSE(session.get_scene(scene));
    EXPECT_EQ(scene.depth[10 * 192 + 33], depth_of(second, 10, 33));
}

TEST(FrameQueue, FourthFrameReplacesTheOldest)
{
    RawSession session;
    TQZ::FrameAssembler assembler(session.slot_mask);
    std::vector<EncoderFrame> sent;
    for (uint32_t n = 0; n < 4; ++n) {
        sent.push_back(make_synthetic_frame(n, 9));
        for (const TQZ::Frame& frame : TESTSUPPORT::feed(assembler, encode_frame(sent.back())).frames) {
            session.frame_queue.push(frame);
        }
    }
    ASSERT_EQ(session.frame_queue.size(), 3u);
    TQZ::scene_t scene;
    for (int n = 1; n < 4; ++n) {
        ASSERT_TRUE(session.get_scene(scene));
        EXPECT_EQ(scene.depth[30 * 192 + n], depth_of(sent[n], 30, n)) << n;
        EXPECT_EQ(scene.intensity[30 * 192 + n], sent[n].intensity[sent[n].index(30, n)]) << n;
    }
    EXPECT_FALSE(session.get_scene(scene));
}

TEST_F(StreamWorker, MessagesOfTheStreamAssembler)
{
    Datagrams datagrams;
    EncoderOptions short_frames;
    short_frames.slots_field = 28;
    TESTSUPPORT::append(datagrams, encode_frame(make_synthetic_frame(1, 1), short_frames));
    TESTSUPPORT::append(datagrams, encode_frame(make_synthetic_frame(2, 1), short_frames));
    EncoderOptions flagged;
    flagged.packet_error = 1;
    datagrams.push_back(VELKOR::SIM::encode_slot(make_synthetic_frame(3, 1), 0, flagged));
    // A good frame last: once it arrives every datagram before it has been seen.
    const EncoderFrame good = make_synthetic_frame(4, 1);
    TESTSUPPORT::append(datagrams, encode_frame(good));

    testing::internal::CaptureStdout();
    const bool arrived = feed_session(session, datagrams, 1);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(count_of(out, "slot_loss\n"), 2);
    EXPECT_EQ(count_of(out, "emb crc err!!!\n"), 1);
    EXPECT_EQ(session.frame_queue.size(), 1u);
    ASSERT_TRUE(session.get_scene(scene));
    EXPECT_EQ(scene.depth[3 * 192 + 4], depth_of(good, 3, 4));
}

TEST_F(StreamWorker, StopEndsTheWorkerAndRunStartsItAgain)
{
    EXPECT_FALSE(session.stop());  // not connected: the write fails, the worker is still joined
    EXPECT_FALSE(session.stream_worker);
    session.run();
    session.run();  // a second run keeps the one worker
    ASSERT_TRUE(feed_session(session, encode_frame(make_synthetic_frame(1, 1)), 1));
}

TEST(ReplayAssembler, AssemblesSynchronouslyFromTheLiveQueueWithoutAFile)
{
    RawSession session;
    session.recorder = std::make_shared<VELKOR::Logger>();  // present but not reading a file
    TQZ::scene_t scene;
    const EncoderFrame sent = make_synthetic_frame(6, 2);
    // Part of a frame, a stray slot that resets the sequence, then a whole
    // frame, partly pushed while the assembly waits: only the whole one is taken.
    Datagrams datagrams = encode_frame(make_synthetic_frame(5, 2));
    datagrams.resize(20);
    EncoderOptions stray;
    stray.slot = 40;
    datagrams.push_back(VELKOR::SIM::encode_slot(sent, 0, stray));
    TESTSUPPORT::append(datagrams, encode_frame(sent));
    for (std::size_t i = 0; i < 56; ++i) {
        session.packet_queue.push(datagrams[i]);
    }
    std::thread late([&] {
        for (std::size_t i = 56; i < datagrams.size(); ++i) {
            session.packet_queue.push(datagrams[i]);
        }
    });
    const bool ok = session.get_scene(scene, 0);
    late.join();
    ASSERT_TRUE(ok);
    EXPECT_EQ(scene.depth[40 * 192 + 100], depth_of(sent, 40, 100));
    EXPECT_EQ(session.frame_queue.size(), 0u);
}

TEST(ReplayAssembler, GivesUpWhenNoFrameArrives)
{
    RawSession session;
    session.recorder = std::make_shared<VELKOR::Logger>();
    session.replay_wait_ms = 30;
    TQZ::scene_t scene;
    EXPECT_FALSE(session.get_scene(scene, 3));
    EXPECT_TRUE(scene.depth.empty());

    // A stream that keeps coming but never completes a frame ends the same way.
    Datagrams broken = encode_frame(make_synthetic_frame(1, 2));
    broken.resize(50);
    for (const auto& d : broken) {
        session.packet_queue.push(d);
    }
    EXPECT_FALSE(session.get_scene(scene, 3));
}

TEST(ReplayAssembler, NegativeIndexOrNoRecorderIsTheOneArgumentForm)
{
    RawSession session;
    TQZ::scene_t scene;
    for (const auto& d : encode_frame(make_synthetic_frame(1, 2))) {
        session.packet_queue.push(d);
    }
    // No recorder: nothing is assembled on the caller's thread.
    EXPECT_FALSE(session.get_scene(scene, 0));
    EXPECT_EQ(session.packet_queue.size(), 56u);
    session.recorder = std::make_shared<VELKOR::Logger>();
    EXPECT_FALSE(session.get_scene(scene, -1));
    EXPECT_EQ(session.packet_queue.size(), 56u);
}

TEST(ReplayAssembler, ReplaysFramesOfARecordingByIndex)
{
    std::vector<EncoderFrame> sent;
    recording_files::Bytes file;
    for (uint32_t n = 0; n < 3; ++n) {
        sent.push_back(make_synthetic_frame(n, 8));
        for (const auto& d : encode_frame(sent.back())) {
            recording_files::append(file, recording_files::record(1000 * n, d));
        }
    }
    const std::string path = recording_files::fresh_dir("replay_assembler") + "three.bin";
    ASSERT_TRUE(recording_files::write_file(path, file));

    RawSession session;
    ASSERT_TRUE(session.play_start(path));
    uint64_t last = 0;
    ASSERT_TRUE(session.get_file_size(last));
    EXPECT_EQ(last, 2u);
    TQZ::scene_t scene;
    for (int index : {1, 1, 0, 2}) {
        ASSERT_TRUE(session.get_scene(scene, index)) << index;
        EXPECT_EQ(scene.depth[20 * 192 + 7], depth_of(sent[index], 20, 7)) << index;
        EXPECT_EQ(scene.ambient[20 * 192 + 7], sent[index].ambient[20 * 192 + 7]) << index;
    }
    EXPECT_FALSE(session.get_scene(scene, 3));   // outside the index: nothing queued
    EXPECT_FALSE(session.get_scene(scene, -1));  // no assembled frame waits
    session.play_stop();
}
