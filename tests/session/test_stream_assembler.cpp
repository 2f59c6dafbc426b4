#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "datagram_encoder.hpp"
#include "frame_feed.hpp"
#include "loopback.hpp"
#include "processing/processing_chain.hpp"
#include "recording/logger.hpp"
#include "recording_files.hpp"
#include "session/device_session.hpp"
#include "session/scene_fill.hpp"

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
        chain().set_signal_data_processing(false);
        chain().global_offset->enabled = false;
    }
};

// What get_scene must give for the frame in `rows`: fill_scene of the
// assembled frame, then `chain`. False when the rows do not make one frame.
bool chained_scene(const Datagrams& rows, TQZ::processing_chain& chain, TQZ::scene_t& out)
{
    std::atomic<uint64_t> mask{0};
    TQZ::FrameAssembler assembler(mask);
    const TESTSUPPORT::FeedResult fed = TESTSUPPORT::feed(assembler, rows);
    if (fed.frames.size() != 1) {
        return false;
    }
    TQZ::fill_scene(*fed.frames[0], out);
    chain.run(out);
    return true;
}

// The scene the stream worker builds from `rows` with the recipe in `recipes`.
TQZ::ReadyScene built_scene(const Datagrams& rows, const TQZ::PointRecipeBox& recipes)
{
    TQZ::ScenePool pool(1);
    TQZ::SceneBuilder builder(pool, &recipes);
    std::atomic<uint64_t> mask{0};
    TQZ::FrameAssembler live(mask);
    for (const auto& row : rows) {
        if (live.feed(row.data(), row.size()) != TQZ::FrameAssembler::Result::dropped) {
            builder.row_stored(live.range(), TQZ::DatagramView(row.data(), row.size()).slot());
        }
    }
    return builder.finish(live.range());
}

// Point clouds equal bit for bit.
bool same_points(const TQZ::scene_t& a, const TQZ::scene_t& b)
{
    return a.pointcloud.size() == b.pointcloud.size() &&
           (a.pointcloud.empty() || std::memcmp(a.pointcloud.data(), b.pointcloud.data(),
                                                a.pointcloud.size() * sizeof(VELKOR::LidarTQ::point_t)) == 0);
}

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

// Leaves the session with a recorder that is not open: a record_start whose
// file cannot be created.
void open_unusable_recorder(TQZ::DeviceSession& session)
{
    ASSERT_FALSE(session.record_start(std::string(VELKOR_TEST_TMP) + "/no/such/dir/"));
    ASSERT_TRUE(session.recording().recorder());
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

TEST_F(StreamWorker, WaitSceneWaitsForAFrameAndGivesUpAfterTheTimeOut)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session.wait_scene(scene, std::chrono::milliseconds(50)));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(50));
    EXPECT_LT(waited, std::chrono::milliseconds(50 + 1000));  // a loaded host's generous bound
    EXPECT_TRUE(scene.depth.empty());

    const EncoderFrame sent = make_synthetic_frame(3, 5);
    std::thread sensor([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (const auto& d : encode_frame(sent)) {
            session.stream().receive(d.data(), d.size());
        }
    });
    const bool got = session.wait_scene(scene, std::chrono::seconds(10));
    sensor.join();
    ASSERT_TRUE(got);
    EXPECT_EQ(scene.depth[7 * 192 + 8], depth_of(sent, 7, 8));
}

// Counted as the UDP receive thread and the worker see them.
TEST_F(StreamWorker, StatsCountTheStream)
{
    Datagrams datagrams;
    EncoderOptions flagged_block;
    flagged_block.block_error_mask = 0x3;
    TESTSUPPORT::append(datagrams, encode_frame(make_synthetic_frame(1, 1), flagged_block));
    EncoderOptions flagged_packet;
    flagged_packet.packet_error = 1;
    datagrams.push_back(VELKOR::SIM::encode_slot(make_synthetic_frame(2, 1), 0, flagged_packet));
    EncoderOptions short_frame;
    short_frame.slots_field = 28;
    TESTSUPPORT::append(datagrams, encode_frame(make_synthetic_frame(3, 1), short_frame));
    for (uint32_t n = 4; n < 8; ++n) {
        TESTSUPPORT::append(datagrams, encode_frame(make_synthetic_frame(n, 1)));
    }
    for (auto& d : datagrams) {
        session.stream().receive(d.data(), d.size());
    }
    ASSERT_TRUE(loopback::wait_for([&] { return session.stats().frames_published == 5; }, std::chrono::seconds(10)));
    const VELKOR::SESSION_STATS_T stats = session.stats();
    EXPECT_EQ(stats.datagrams_received, datagrams.size());
    std::size_t bytes = 0;
    for (const auto& d : datagrams) {
        bytes += d.size();
    }
    EXPECT_EQ(stats.bytes_received, bytes);
    EXPECT_EQ(stats.emb_crc_errors, 1u);
    EXPECT_EQ(stats.act_crc_errors, 56u * 2u);
    EXPECT_EQ(stats.slot_losses, 1u);
    EXPECT_EQ(stats.frames_dropped, 2u);  // five frames, none taken, three kept
    EXPECT_GE(stats.deepest_packet_queue, 1u);
    EXPECT_LE(stats.deepest_packet_queue, datagrams.size());

    session.reset_stats();
    EXPECT_EQ(session.stats().datagrams_received, 0u);
    EXPECT_EQ(session.stats().bytes_received, 0u);
}

// A flagged pixel block costs its own columns only, whichever row it is in:
// row 0 decides the scene's width, a later row only its own pixels.
class FlaggedBlock : public testing::TestWithParam<int> {
protected:
    static Datagrams flagged_frame(const EncoderFrame& sent, int slot)
    {
        Datagrams datagrams = encode_frame(sent);
        EncoderOptions flagged;
        flagged.block_error_mask = 0x2;  // second of four blocks: columns 48-95
        datagrams[slot] = VELKOR::SIM::encode_slot(sent, slot, flagged);
        return datagrams;
    }

    static void expect_only_the_block_missing(const TQZ::scene_t& scene, const EncoderFrame& sent, int slot)
    {
        ASSERT_EQ(scene.cols, 192);
        ASSERT_EQ(scene.depth.size(), 56u * 192u);
        for (int r = 0; r < 56; ++r) {
            for (int c = 0; c < 192; ++c) {
                const bool lost = r == slot && c >= 48 && c < 96;
                const std::size_t i = static_cast<std::size_t>(r) * 192 + c;
                ASSERT_EQ(scene.depth[i], lost ? 0.0f : depth_of(sent, r, c)) << r << "," << c;
                ASSERT_EQ(scene.intensity[i], lost ? 0u : sent.intensity[sent.index(r, c)]) << r << "," << c;
            }
        }
    }
};

TEST_P(FlaggedBlock, EveryOtherPixelStaysInPlaceLiveAndInReplay)
{
    const int slot = GetParam();
    const EncoderFrame sent = make_synthetic_frame(4, 7);
    const Datagrams datagrams = flagged_frame(sent, slot);
    TQZ::scene_t scene;

    RawSession live;
    live.run();
    const bool arrived = feed_session(live, datagrams, 1) && live.get_scene(scene);
    live.stop();
    ASSERT_TRUE(arrived);
    expect_only_the_block_missing(scene, sent, slot);

    recording_files::Bytes file;
    for (const auto& d : datagrams) {
        recording_files::append(file, recording_files::record(0, d));
    }
    const std::string path = recording_files::fresh_dir("flagged_block") + std::to_string(slot) + ".bin";
    ASSERT_TRUE(recording_files::write_file(path, file));
    RawSession replay;
    ASSERT_TRUE(replay.play_start(path));
    TQZ::scene_t replayed;
    ASSERT_TRUE(replay.get_scene(replayed, 0));
    replay.play_stop();
    expect_only_the_block_missing(replayed, sent, slot);
}

INSTANTIATE_TEST_SUITE_P(Slots, FlaggedBlock, testing::Values(0, 20));

TEST(FrameQueue, FourthFrameReplacesTheOldest)
{
    RawSession session;
    TQZ::FrameAssembler assembler = session.stream().make_assembler();
    std::vector<EncoderFrame> sent;
    for (uint32_t n = 0; n < 4; ++n) {
        sent.push_back(make_synthetic_frame(n, 9));
        for (const TQZ::Frame& frame : TESTSUPPORT::feed(assembler, encode_frame(sent.back())).frames) {
            session.stream().publish(frame);
        }
    }
    ASSERT_EQ(session.stream().frames_waiting(), 3u);
    TQZ::scene_t scene;
    for (int n = 1; n < 4; ++n) {
        ASSERT_TRUE(session.get_scene(scene));
        EXPECT_EQ(scene.depth[30 * 192 + n], depth_of(sent[n], 30, n)) << n;
        EXPECT_EQ(scene.intensity[30 * 192 + n], sent[n].intensity[sent[n].index(30, n)]) << n;
    }
    EXPECT_FALSE(session.get_scene(scene));
}

// The worker fills scenes row by row, in storage that callers hand back. A
// frame broken off mid-way, a row of another data kind and storage last used
// for a frame of another size must leave the scene exactly as fill_scene
// makes it from the whole frame.
TEST_F(StreamWorker, ScenesFilledRowByRowEqualFillSceneOfTheWholeFrame)
{
    const int ambient_words[] = {192, 576, 576, 192};  // the third reuses the first's storage, the fourth the second's
    for (uint32_t n = 0; n < 4; ++n) {
        const int words = ambient_words[n];
        const EncoderFrame whole = make_synthetic_frame(n, 7, 1 + static_cast<int>(n % 2), words);
        Datagrams rows = encode_frame(whole);
        EncoderOptions echo;
        echo.data_kind = 1;
        rows[10] = VELKOR::SIM::encode_slot(whole, 10, echo);
        Datagrams datagrams = encode_frame(make_synthetic_frame(100 + n, 3, 1, 768 - words));
        datagrams.resize(30);
        TESTSUPPORT::append(datagrams, rows);
        ASSERT_TRUE(feed_session(session, datagrams, 1)) << n;
        ASSERT_TRUE(session.get_scene(scene)) << n;

        TQZ::scene_t expected;
        ASSERT_TRUE(chained_scene(rows, session.chain(), expected));  // points are generated even with processing off
        EXPECT_EQ(scene.rows, expected.rows);
        EXPECT_EQ(scene.cols, expected.cols);
        EXPECT_EQ(scene.ambient, expected.ambient) << n;
        EXPECT_EQ(scene.depth, expected.depth) << n;
        EXPECT_EQ(scene.intensity, expected.intensity) << n;
        EXPECT_TRUE(same_points(scene, expected)) << n;
    }
}

// With processing off the worker places each point while it fills the scene,
// and the chain then only subtracts the global offset: the scene must carry
// the bits the whole chain gives it. A recipe the chain no longer has (the
// offset changed meanwhile) must fall back to the whole chain.
TEST(ScenePoints, PlacedAheadEqualTheChainsPointsAndAStaleRecipeIsNotTrusted)
{
    TQZ::processing_chain chain;
    chain.set_signal_data_processing(false);
    TQZ::raw_point_recipe recipe;
    ASSERT_TRUE(chain.raw_recipe(recipe));
    ASSERT_NE(recipe.offset_ns, 0.0f);  // the compiled-in offset takes part
    TQZ::raw_point_recipe stale = recipe;
    stale.offset_ns += 1.0f;

    const Datagrams rows = encode_frame(make_synthetic_frame(3, 7, 1, 192));
    TQZ::scene_t expected;
    ASSERT_TRUE(chained_scene(rows, chain, expected));

    for (const TQZ::raw_point_recipe& used : {recipe, stale}) {
        TQZ::PointRecipeBox box;
        box.set(used);
        TQZ::ReadyScene ready = built_scene(rows, box);
        ASSERT_TRUE(ready.scene && ready.points.placed);
        chain.run(*ready.scene, ready.points);
        EXPECT_EQ(ready.scene->depth, expected.depth);
        EXPECT_TRUE(same_points(*ready.scene, expected)) << (used == recipe ? "placed ahead" : "stale recipe");
    }
}

// With processing on, the worker leaves the points of a full frame unwritten
// and the chain reads their directions from the tables - in one pass with
// depth completion, module by module without it: the bits must be those the
// chain gives the scene fill_scene makes.
TEST(ScenePoints, LeftDirectionsGiveTheWholeChainsBits)
{
    const Datagrams rows = encode_frame(make_synthetic_frame(3, 7, 1, 192));
    for (const bool completion : {true, false}) {
        TQZ::processing_chain chain;
        chain.depth_completion->enabled = completion;
        TQZ::scene_t expected;
        ASSERT_TRUE(chained_scene(rows, chain, expected));
        TQZ::ReadyScene ready = built_scene(rows, TQZ::PointRecipeBox{});
        ASSERT_TRUE(ready.scene && ready.points.directions_left);
        chain.run(*ready.scene, ready.points);
        EXPECT_EQ(ready.scene->depth, expected.depth) << completion;
        EXPECT_TRUE(same_points(*ready.scene, expected)) << completion;
    }
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
    EXPECT_EQ(session.stream().frames_waiting(), 1u);
    ASSERT_TRUE(session.get_scene(scene));
    EXPECT_EQ(scene.depth[3 * 192 + 4], depth_of(good, 3, 4));
}

TEST_F(StreamWorker, StopEndsTheWorkerAndRunStartsItAgain)
{
    EXPECT_FALSE(session.stop());  // not connected: the write fails, the worker is still joined
    EXPECT_FALSE(session.stream().worker_started());
    session.run();
    session.run();  // a second run keeps the one worker
    ASSERT_TRUE(feed_session(session, encode_frame(make_synthetic_frame(1, 1)), 1));
}

// A recorder that writes (or is not open) leaves the live datagrams to the
// stream worker: an index asks for nothing while no file is open for playback.
TEST(ReplayAssembler, WithoutAPlaybackFileTheLiveQueueIsLeftAlone)
{
    RawSession session;
    for (const auto& d : encode_frame(make_synthetic_frame(6, 2))) {
        session.stream().receive(d.data(), d.size());
    }
    open_unusable_recorder(session);
    TQZ::scene_t scene;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session.get_scene(scene, 0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(session.stream().packets_waiting(), 56u);
    EXPECT_TRUE(scene.depth.empty());
}

TEST(ReplayAssembler, GivesUpWhenTheFramesDatagramsRunOut)
{
    // A frame that lost its last slots: indexed, but never complete.
    recording_files::Bytes file;
    Datagrams broken = encode_frame(make_synthetic_frame(1, 2));
    broken.resize(50);
    for (const auto& d : broken) {
        recording_files::append(file, recording_files::record(0, d));
    }
    const std::string path = recording_files::fresh_dir("replay_gives_up") + "broken.bin";
    ASSERT_TRUE(recording_files::write_file(path, file));
    TQZ::DeviceSession session;
    ASSERT_TRUE(session.play_start(path));
    TQZ::scene_t scene;
    EXPECT_FALSE(session.get_scene(scene, 0));
    EXPECT_TRUE(scene.depth.empty());
    session.play_stop();
}

TEST(ReplayAssembler, NegativeIndexOrNoRecorderIsTheOneArgumentForm)
{
    RawSession session;
    TQZ::scene_t scene;
    for (const auto& d : encode_frame(make_synthetic_frame(1, 2))) {
        session.stream().receive(d.data(), d.size());
    }
    // No recorder: nothing is assembled on the caller's thread.
    EXPECT_FALSE(session.get_scene(scene, 0));
    EXPECT_EQ(session.stream().packets_waiting(), 56u);
    open_unusable_recorder(session);
    EXPECT_FALSE(session.get_scene(scene, -1));
    EXPECT_EQ(session.stream().packets_waiting(), 56u);
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
