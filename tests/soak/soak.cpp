// The long run: the simulator at 50 fps losing 1% of its datagrams, swapping
// and flagging some and sending a little garbage, its command server
// restarted every cycle; the session streams and records the whole time.
// Each cycle ends with the restart: the session drains, stops, disconnects,
// closes its recording, checks it and connects again. At the end:
//   - every frame the received datagrams complete was published,
//   - every datagram received is in the recordings,
//   - the resident set did not grow after warm-up,
//   - no thread is left after stop/disconnect and destruction.
// Runs VELKOR_SOAK_SECONDS (default 60); `make soak` runs it for 10 minutes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "process_threads.hpp"
#include "recording/logger.hpp"
#include "recording/record_format.hpp"
#include "session/device_session.hpp"
#include "session/frame_assembler.hpp"
#include "sim_sensor.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double env_seconds(const char* name, double fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    const double value = std::atof(text);
    return value > 0.0 ? value : fallback;
}

// A line of /proc/self/status in kB (VmRSS, VmHWM).
long status_kb(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            return std::atol(line.c_str() + prefix.size());
        }
    }
    return -1;
}

struct FileCount {
    bool readable = false;
    uint64_t records = 0;
    uint64_t complete_frames = 0;
};

// Reads a recording record by record and assembles it as the stream worker
// would: the frames its datagrams complete.
FileCount count_recording(const std::string& path)
{
    FileCount count;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return count;
    }
    count.readable = true;
    std::atomic<uint64_t> slot_mask{0};
    TQZ::FrameAssembler assembler(slot_mask);
    std::vector<uint8_t> payload;
    VELKOR::RecordReader reader(file, 0, VELKOR::RecordReader::stream_size(file));
    while (reader.next()) {
        if (reader.header().length > 65536 || !reader.payload(payload)) {
            count.readable = false;
            break;
        }
        ++count.records;
        if (assembler.feed(payload.data(), payload.size()) == TQZ::FrameAssembler::Result::frame_complete) {
            ++count.complete_frames;
            assembler.publish_frame();
        }
    }
    count.readable = count.readable && !reader.truncated();
    return count;
}

TEST(Soak, StreamAndRecordAgainstAFaultySimulator)
{
    const double seconds = env_seconds("VELKOR_SOAK_SECONDS", 60.0);
    const double cycle_seconds = env_seconds("VELKOR_SOAK_CYCLE_SECONDS", 15.0);
    const auto run_end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const auto warm_up_end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(std::max(10.0, seconds * 0.2)));

    VELKOR::SIM::SimOptions options;
    options.fps = 50.0;
    options.seed = 20261208;
    options.loss_rate = 0.01;
    options.reorder_rate = 0.002;
    options.crc_rate = 0.002;
    options.garbage_rate = 0.0005;
    VELKOR::SIM::SimSensor sim(options);
    ASSERT_TRUE(sim.start());
    const int port = sim.port();
    const int baseline_threads = process_threads::baseline();

    const std::string prefix = std::string(VELKOR_TEST_TMP) + "/soak-" + std::to_string(::getpid()) + "-";
    auto session = std::make_unique<TQZ::DeviceSession>();

    uint64_t published = 0;
    uint64_t complete_in_files = 0;
    uint64_t received = 0;
    uint64_t recorded = 0;
    uint64_t cycles = 0;
    uint64_t sent_while_connected = 0;
    long rss_start = -1;
    long rss_warm = -1;
    long rss_end = -1;
    long rss_peak_warm = -1;
    // Deepest the hand-over queues were seen: a full one has dropped.
    std::size_t deepest_packets = 0;
    std::size_t deepest_frames = 0;
    VELKOR::LidarTQ::scene_t scene;

    while (Clock::now() < run_end) {
        ASSERT_TRUE(session->connect({"127.0.0.1", port}, {"127.0.0.1", 0})) << "cycle " << cycles;
        ASSERT_TRUE(session->record_start(prefix + std::to_string(cycles) + "-"));
        const uint64_t sent_before = sim.datagrams_sent();
        ASSERT_TRUE(session->run());
        if (rss_start < 0) {
            rss_start = status_kb("VmRSS");
        }

        const auto cycle_end = std::min(run_end, Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                                  std::chrono::duration<double>(cycle_seconds)));
        while (Clock::now() < cycle_end) {
            deepest_packets = std::max(deepest_packets, session->stream().packets_waiting());
            deepest_frames = std::max(deepest_frames, session->stream().frames_waiting());
            if (session->get_scene(scene)) {
                ++published;
            } else {
                std::this_thread::sleep_for(1ms);
            }
            if (rss_warm < 0 && Clock::now() >= warm_up_end) {
                rss_warm = status_kb("VmRSS");
                rss_peak_warm = status_kb("VmHWM");
            }
        }

        // The sensor's command server restarts: the stream stops with the
        // connection. What arrived is assembled and taken before the stop.
        const uint64_t restarts = sim.command_server_restarts();
        sim.restart_command_server();
        const auto restart_deadline = Clock::now() + 5s;
        while (sim.command_server_restarts() == restarts && Clock::now() < restart_deadline) {
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_GT(sim.command_server_restarts(), restarts);
        const auto drain_end = Clock::now() + 400ms;
        while (Clock::now() < drain_end) {
            if (session->get_scene(scene)) {
                ++published;
            } else {
                std::this_thread::sleep_for(1ms);
            }
        }
        sent_while_connected += sim.datagrams_sent() - sent_before;
        EXPECT_FALSE(session->stop()) << "the command connection is gone";
        session->disconnect();
        // Only the recorder's writer is left.
        EXPECT_EQ(process_threads::settle_to(baseline_threads + 1), baseline_threads + 1) << "cycle " << cycles;

        const std::shared_ptr<VELKOR::Logger> recorder = session->recording().recorder();
        ASSERT_TRUE(recorder);
        const std::string file = recorder->file_name();
        session->record_stop();
        EXPECT_EQ(recorder->records_written(), recorder->records_queued()) << "cycle " << cycles;
        const FileCount count = count_recording(file);
        EXPECT_TRUE(count.readable) << file;
        EXPECT_EQ(count.records, recorder->records_queued()) << "cycle " << cycles;
        received += recorder->records_queued();
        recorded += count.records;
        complete_in_files += count.complete_frames;
        std::remove(file.c_str());
        EXPECT_EQ(process_threads::settle_to(baseline_threads), baseline_threads) << "cycle " << cycles;
        ++cycles;
    }
    rss_end = status_kb("VmRSS");
    const int session_packet_capacity = session->stream().packet_capacity();
    const int session_frame_capacity = session->stream().frame_capacity();
    const long rss_peak_end = status_kb("VmHWM");

    const auto t = Clock::now();
    session.reset();
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count(), 1000);
    EXPECT_EQ(process_threads::settle_to(baseline_threads), baseline_threads);

    const uint64_t intact = sim.frames_sent_intact();
    const uint64_t frames = sim.frames_sent();
    sim.stop();

    std::cout << "soak: " << seconds << " s, " << cycles << " cycles (command server restarts)\n"
              << "soak: frames sent " << frames << ", sent intact " << intact << ", complete in the received stream "
              << complete_in_files << ", published " << published << "\n"
              << "soak: datagrams sent while connected " << sent_while_connected << ", received " << received
              << ", recorded " << recorded << "\n"
              << "soak: RSS kB at start " << rss_start << ", after warm-up " << rss_warm << ", at end " << rss_end
              << "; peak after warm-up " << rss_peak_warm << ", at end " << rss_peak_end << "\n"
              << "soak: deepest packet queue " << deepest_packets << " of " << session_packet_capacity
              << ", deepest frame queue " << deepest_frames << " of " << session_frame_capacity << std::endl;

    ASSERT_GT(cycles, 0u);
    // Every frame the received datagrams complete reached the caller.
    EXPECT_EQ(published, complete_in_files);
    // A frame the faults spared can only be missing if the kernel dropped one
    // of its datagrams on a loaded machine: allow a sliver of those.
    EXPECT_LE(complete_in_files, intact);
    EXPECT_GE(complete_in_files * 100, intact * 90);
    EXPECT_GT(intact, 0u);
    // Every datagram received went into a recording.
    EXPECT_EQ(recorded, received);
    EXPECT_LE(received, sent_while_connected);
    // Memory flat after warm-up: far less than one frame per second of growth.
    ASSERT_GT(rss_warm, 0);
    EXPECT_LT(rss_end - rss_warm, 16 * 1024) << "RSS grew from " << rss_warm << " kB to " << rss_end << " kB";
}

}  // namespace
