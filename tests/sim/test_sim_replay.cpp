#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "api/lidar_tq.hpp"
#include "loopback.hpp"
#include "recording_files.hpp"
#include "sim_recording.hpp"
#include "sim_replay.hpp"
#include "sim_sensor.hpp"

using namespace VELKOR::SIM;
using namespace std::chrono_literals;
using recording_files::Bytes;
using recording_files::datagram;
using recording_files::record;

namespace {

struct Chunk {
    std::vector<std::vector<uint8_t>> datagrams;
    std::vector<int64_t> times;
    bool ok = false;
};

Chunk next(SimReplay& replay)
{
    Chunk c;
    c.ok = replay.next_timed_frame(c.datagrams, c.times);
    return c;
}

std::vector<uint16_t> sequences(const Chunk& c)
{
    std::vector<uint16_t> out;
    for (const auto& d : c.datagrams) {
        out.push_back(d.size() >= 6 ? static_cast<uint16_t>(d[4] | (d[5] << 8)) : 0xFFFF);
    }
    return out;
}

// Two frames of three rows, 10 ms apart, and a short record after them.
Bytes two_frames()
{
    Bytes file;
    const int64_t t0 = 5000000;
    for (int f = 0; f < 2; ++f) {
        for (uint16_t s = 0; s < 3; ++s) {
            recording_files::append(file, record(t0 + f * 10000 + s * 100, datagram(s, 1200, f)));
        }
    }
    recording_files::append(file, record(t0 + 10300, datagram(7, 100)));
    return file;
}

std::string write(const std::string& name, const Bytes& bytes)
{
    // A directory per name: fresh_dir empties the directory it returns.
    const std::string path = recording_files::fresh_dir("sim_replay_" + name) + name;
    EXPECT_TRUE(recording_files::write_file(path, bytes));
    return path;
}

SimReplay opened(const std::string& path, bool loop = false, double speed = 1.0)
{
    SimReplay replay(path, loop, speed);
    std::string error;
    EXPECT_TRUE(replay.open(error)) << error;
    return replay;
}

// The depth image of every frame of a recording, replayed through the API.
std::vector<std::vector<float>> replayed_depths(const std::string& path)
{
    std::vector<std::vector<float>> out;
    VELKOR::LidarTQ player;
    uint64_t last = 0;
    if (!player.play_start(path) || !player.get_file_size(last)) {
        return out;
    }
    VELKOR::LidarTQ::scene_t scene;
    for (uint32_t i = 0; i != static_cast<uint32_t>(last + 1); ++i) {
        if (player.get_scene(scene, static_cast<int>(i))) {
            out.push_back(scene.depth);
        }
    }
    player.play_stop();
    return out;
}

} // namespace

TEST(SimReplay, ChunksRunFromFrameStartToFrameStartTimedByTheirStamps)
{
    const std::string path = write("two.bin", two_frames());
    SimReplay replay(path, false, 1.0);
    std::string error;
    ASSERT_TRUE(replay.open(error)) << error;

    Chunk a = next(replay);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(sequences(a), (std::vector<uint16_t>{0, 1, 2}));
    EXPECT_EQ(a.times, (std::vector<int64_t>{0, 100, 200}));
    EXPECT_EQ(a.datagrams[1], datagram(1, 1200, 0));

    // The short record rides with the frame it follows.
    Chunk b = next(replay);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(sequences(b), (std::vector<uint16_t>{0, 1, 2, 7}));
    EXPECT_EQ(b.times, (std::vector<int64_t>{10000, 10100, 10200, 10300}));
    EXPECT_EQ(b.datagrams[3].size(), 100u);

    EXPECT_FALSE(next(replay).ok);
    // The next run starts the recording over; its clock goes on.
    Chunk again = next(replay);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(sequences(again), (std::vector<uint16_t>{0, 1, 2}));
    EXPECT_GT(again.times.front(), b.times.back());
}

TEST(SimReplay, SpeedScalesTimeAndLoopGoesOnOneFramePeriodLater)
{
    const std::string path = write("speed.bin", two_frames());
    SimReplay replay = opened(path, true, 2.0);
    EXPECT_EQ(next(replay).times, (std::vector<int64_t>{0, 50, 100}));
    EXPECT_EQ(next(replay).times, (std::vector<int64_t>{5000, 5050, 5100, 5150}));
    // Looping: the last record was at 10300 us, the frame period is 10000 us.
    const Chunk looped = next(replay);
    ASSERT_TRUE(looped.ok);
    EXPECT_EQ(sequences(looped), (std::vector<uint16_t>{0, 1, 2}));
    EXPECT_EQ(looped.times, (std::vector<int64_t>{10150, 10200, 10250}));
    EXPECT_EQ(replay.passes(), 1u);
}

TEST(SimReplay, StampsThatRunBackwardsOrJumpNeitherBurstNorStall)
{
    Bytes file;
    recording_files::append(file, record(1000000, datagram(0)));
    recording_files::append(file, record(900000, datagram(1)));       // clock set back
    recording_files::append(file, record(3600000000LL, datagram(2))); // an hour later
    recording_files::append(file, record(3600000100LL, datagram(3)));
    SimReplay replay = opened(write("stamps.bin", file));
    const Chunk c = next(replay);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.times, (std::vector<int64_t>{0, 0, SimReplay::kMaxGapUs, SimReplay::kMaxGapUs + 100}));
}

TEST(SimReplay, DamagedRecordsEndOrSkipWithoutAllocatingTheirLength)
{
    struct Case {
        const char* name;
        Bytes tail;
        std::size_t datagrams; // sent from the whole file
    };
    Bytes oversized = record(2000, Bytes(SimReplay::kMaxDatagram + 1, 0xAB));
    Bytes huge = recording_files::header(2000, 1ull << 63);
    Bytes truncated = record(2000, datagram(1));
    truncated.resize(truncated.size() - 10);
    Bytes zero = record(2000, Bytes());
    const Case cases[] = {
        {"a length past the end of the file ends it", huge, 1},
        {"a truncated last record ends it", truncated, 1},
        {"a payload too large for UDP is skipped", oversized, 2},
        {"a zero-length record is sent as it is", zero, 3},
    };
    for (const Case& c : cases) {
        Bytes file = record(1000, datagram(0));
        recording_files::append(file, c.tail);
        if (c.datagrams > 1) {
            recording_files::append(file, record(3000, datagram(1)));
        }
        SimReplay replay = opened(write("damaged.bin", file));
        std::size_t sent = 0;
        for (Chunk chunk = next(replay); chunk.ok; chunk = next(replay)) {
            sent += chunk.datagrams.size();
            for (const auto& d : chunk.datagrams) {
                EXPECT_LE(d.size(), SimReplay::kMaxDatagram) << c.name;
            }
        }
        EXPECT_EQ(sent, c.datagrams) << c.name;
    }
}

TEST(SimReplay, OpenRefusesWhatHoldsNoDatagram)
{
    const std::string dir = recording_files::fresh_dir("sim_replay_open");
    Bytes header_only = recording_files::header(1, 1200);
    const struct {
        std::string path;
        const char* why;
    } cases[] = {
        {dir + "missing.bin", "cannot open"},
        {dir, "not a regular file"},
        {write("empty.bin", Bytes()), "holds no datagram"},
        {write("header_only.bin", header_only), "holds no datagram"},
        {write("oversized_only.bin", record(1, Bytes(SimReplay::kMaxDatagram + 1))), "holds no datagram"},
    };
    for (const auto& c : cases) {
        SimReplay replay(c.path, true, 1.0);
        std::string error;
        EXPECT_FALSE(replay.open(error)) << c.path;
        EXPECT_NE(error.find(c.why), std::string::npos) << c.path << ": " << error;
    }
}

// Random files of plausible and absurd records: chunks stay bounded, the
// clock never runs backwards and a looping replay of garbage still ends each
// call.
TEST(SimReplay, RandomFilesStayBounded)
{
    std::mt19937 rng(20261208);
    for (int round = 0; round < 40; ++round) {
        Bytes file;
        const int records = static_cast<int>(rng() % 400);
        for (int r = 0; r < records; ++r) {
            const uint32_t kind = rng() % 10;
            if (kind == 0) {
                recording_files::append(file, recording_files::header(static_cast<int64_t>(rng()), rng()));
                continue;
            }
            const std::size_t size = kind == 1 ? rng() % 64 : 1000 + rng() % 300;
            Bytes payload = datagram(static_cast<uint16_t>(kind == 2 ? rng() % 4 : rng() % 2), size, rng());
            recording_files::append(file, record(static_cast<int64_t>(rng() % 1000000) - 1000, payload));
        }
        file.resize(file.size() - (file.empty() ? 0 : rng() % std::min<std::size_t>(file.size(), 40)));
        const std::string path = write("random.bin", file);
        SimReplay replay(path, round % 2 == 0, 1.0 + round % 3);
        std::string error;
        if (!replay.open(error)) {
            continue;
        }
        int64_t last_time = 0;
        for (int call = 0; call < 600; ++call) {
            Chunk c = next(replay);
            if (!c.ok) {
                continue;
            }
            ASSERT_FALSE(c.datagrams.empty());
            ASSERT_LE(c.datagrams.size(), SimReplay::kMaxChunk);
            ASSERT_EQ(c.times.size(), c.datagrams.size());
            for (const int64_t t : c.times) {
                ASSERT_GE(t, last_time);
                last_time = t;
            }
        }
    }
}

// A session connected to a simulator that replays a recording receives the
// recorded scenes: each one has the depth that play_start replays for its
// frame, in recording order, paced by the stamps.
TEST(SimReplayEndToEnd, SessionReceivesTheRecordedScenes)
{
    const int kFrames = 15;
    const double kFps = 50.0;
    const std::string path = recording_files::fresh_dir("sim_replay_e2e") + "room.bin";
    ASSERT_TRUE(sim_recording::write_room(path, kFrames, kFps));

    auto replay = std::make_shared<SimReplay>(path, false, 1.0);
    std::string error;
    ASSERT_TRUE(replay->open(error)) << error;
    SimOptions options;
    options.fps = 1000; // must not matter: the stamps pace a replay
    SimSensor sim(options);
    sim.set_datagram_source(replay);
    ASSERT_TRUE(sim.start());

    VELKOR::LidarTQ lidar;
    ASSERT_TRUE(lidar.connect({"127.0.0.1", sim.port()}, {"127.0.0.1", 0})); // settings answered
    ASSERT_TRUE(lidar.run());
    std::vector<std::vector<float>> live;
    const auto start = std::chrono::steady_clock::now();
    auto last_arrival = start;
    VELKOR::LidarTQ::scene_t scene;
    // Once the simulator has sent the whole file, a second without a scene
    // ends the wait: a slow worker (a loaded machine, TSan) may still be
    // working through the last frames' rows when the sending ends.
    std::optional<std::chrono::steady_clock::time_point> sent_all;
    while (static_cast<int>(live.size()) < kFrames && std::chrono::steady_clock::now() < start + 10s) {
        if (lidar.wait_scene(scene, 100ms)) {
            live.push_back(scene.depth);
            last_arrival = std::chrono::steady_clock::now();
        } else if (!sim.streaming() && sim.frames_sent() == static_cast<uint64_t>(kFrames)) {
            const auto now = std::chrono::steady_clock::now();
            sent_all = sent_all.value_or(now);
            if (now - std::max(*sent_all, last_arrival) > 1s) {
                break;
            }
        }
    }
    EXPECT_TRUE(lidar.stop());
    lidar.disconnect();

    // Without --loop the stream ends with the file.
    EXPECT_EQ(sim.frames_sent(), static_cast<uint64_t>(kFrames));
    EXPECT_EQ(sim.datagrams_sent(), static_cast<uint64_t>(kFrames * 56));
    sim.stop();

    // Replayed after the connect, so that the processing chain holds the
    // coefficients the live session loaded from the sensor.
    const std::vector<std::vector<float>> replayed = replayed_depths(path);
    ASSERT_EQ(replayed.size(), static_cast<std::size_t>(kFrames));
    ASSERT_NE(replayed.front(), replayed.back()); // the room's object moves

    // A loaded machine may drop a datagram before the session reads it; what
    // arrives must be recorded frames, in order, and nearly all of them.
    ASSERT_GE(live.size(), static_cast<std::size_t>(kFrames - 2));
    std::size_t next_frame = 0;
    for (const auto& depth : live) {
        while (next_frame < replayed.size() && replayed[next_frame] != depth) {
            ++next_frame;
        }
        ASSERT_LT(next_frame, replayed.size()) << "a received scene is no recorded frame, or out of order";
        ++next_frame;
    }
    // Paced by the stamps (14 frame periods of 20 ms), not at 1000 fps; only
    // the lower bound holds on a loaded machine.
    EXPECT_GE(std::chrono::duration<double>(last_arrival - start).count(), 0.8 * (kFrames - 1) / kFps);
}

TEST(SimReplayEndToEnd, LoopingReplayStartsOverAndStopsOnCommand)
{
    const int kFrames = 4;
    const std::string path = recording_files::fresh_dir("sim_replay_loop") + "room.bin";
    ASSERT_TRUE(sim_recording::write_room(path, kFrames, 100.0));

    auto replay = std::make_shared<SimReplay>(path, true, 1.0);
    std::string error;
    ASSERT_TRUE(replay->open(error)) << error;
    SimSensor sim;
    sim.set_datagram_source(replay);
    ASSERT_TRUE(sim.start());
    VELKOR::LidarTQ lidar;
    ASSERT_TRUE(lidar.connect({"127.0.0.1", sim.port()}, {"127.0.0.1", 0}));
    ASSERT_TRUE(lidar.run());
    VELKOR::LidarTQ::scene_t scene;
    std::vector<std::vector<float>> live;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (live.size() < 3 * kFrames && std::chrono::steady_clock::now() < end) {
        if (lidar.get_scene(scene)) {
            live.push_back(scene.depth);
        } else {
            std::this_thread::sleep_for(1ms);
        }
    }
    EXPECT_TRUE(lidar.stop());
    EXPECT_TRUE(loopback::wait_for([&] { return !sim.streaming(); }));
    lidar.disconnect();
    sim.stop();
    EXPECT_GE(replay->passes(), 2u);
    ASSERT_EQ(live.size(), 3u * kFrames);
    // Three times as many scenes as the file holds frames, each of them a
    // recorded frame: the recording started over. A loaded machine may drop
    // a frame, so no exact sequence is asserted.
    const std::vector<std::vector<float>> replayed = replayed_depths(path);
    ASSERT_EQ(replayed.size(), static_cast<std::size_t>(kFrames));
    for (const auto& depth : live) {
        ASSERT_NE(std::find(replayed.begin(), replayed.end(), depth), replayed.end())
            << "a scene that is no recorded frame";
    }
}
