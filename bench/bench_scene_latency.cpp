// Latency of the live data path: from the moment the simulator hands a
// frame's last row to sendto to the scene in the hand of a caller blocked in
// wait_scene, raw and processed, at 20 and 100 fps. Simulator and session
// share the machine and the steady clock, so the span covers loopback, the
// receive thread, the stream worker (which fills the scene row by row, so
// only the last row is left when it arrives), the hand-over and the chain on
// the caller's thread (raw: point generation only).
//
// The scene carries no frame number: a scene is matched to the last row that
// reached the receive callback most recently (its frame sequence looks up
// the simulator's send stamp). A caller that takes a scene while a newer
// frame is already queued counts in `behind`; its latency is then taken from
// the newer frame and reads short, so a non-zero `behind` says the p99 is a
// lower bound.
//
// One iteration of about 4 s per case; the counters carry median_us and
// p99_us (from the send), arrival_median_us and arrival_p99_us (from the
// last row reaching the receive callback, as measured before), scenes, the
// number of them, scenes_per_s and sent_fps (frames the simulator sent per
// second), slot_losses and frames_dropped of the session.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "recording/row_datagram.hpp"
#include "session/device_session.hpp"
#include "sim_sensor.hpp"
#include "transport/ext_interface_udp_client.hpp"

namespace {

using Clock = std::chrono::steady_clock;

int64_t now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Stamps the arrival of every frame's last row and notes its frame
// sequence (the pipeline shows it every datagram before queueing it).
struct LastRowStamp {
    std::atomic<int64_t> last_row_ns{0};
    std::atomic<uint32_t> last_row_sequence{0};

    static void callback(void* user, char* data, unsigned int length)
    {
        auto* self = static_cast<LastRowStamp*>(user);
        const auto* bytes = reinterpret_cast<const unsigned char*>(data);
        if (VELKOR::RowDatagram(bytes, length).ends_frame()) {
            const uint32_t sequence = static_cast<uint32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16)) |
                                      (static_cast<uint32_t>(bytes[3]) << 24);
            self->last_row_sequence.store(sequence, std::memory_order_relaxed);
            self->last_row_ns.store(now_ns(), std::memory_order_release);
        }
    }
};

double percentile(std::vector<double>& values, double p)
{
    if (values.empty()) {
        return 0.0;
    }
    const std::size_t k = std::min(values.size() - 1, static_cast<std::size_t>(p * (values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

void BM_Scene_Latency(benchmark::State& state)
{
    VELKOR::SIM::SimOptions options;
    options.fps = static_cast<double>(state.range(0));
    const bool processing = state.range(1) != 0;
    VELKOR::SIM::SimSensor sim(options);
    TQZ::DeviceSession session;
    LastRowStamp stamp;
    session.stream().set_receive_callback(&LastRowStamp::callback, &stamp);
    if (!sim.start() || !session.connect({"127.0.0.1", sim.port()}, {"127.0.0.1", 0})) {
        state.SkipWithError("simulator or connect failed");
        return;
    }
    session.chain().set_signal_data_processing(processing);
    session.run();

    VELKOR::LidarTQ::scene_t scene;
    std::vector<double> latency_us;
    std::vector<double> arrival_us;
    long behind = 0;
    double seconds = 0.0;
    uint64_t frames_sent = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto end = start + std::chrono::seconds(4);
        const uint64_t frames0 = sim.frames_sent();
        bool first = true;
        while (Clock::now() < end) {
            if (!session.wait_scene(scene, std::chrono::seconds(1))) {
                continue;
            }
            const int64_t in_hand = now_ns();
            const bool newer_waiting = session.stream().frames_waiting() > 0;
            const int64_t arrived = stamp.last_row_ns.load(std::memory_order_acquire);
            const int64_t sent = sim.frame_end_sent_ns(stamp.last_row_sequence.load(std::memory_order_relaxed));
            // The first scene may have waited in the queue before the caller came.
            if (!first && sent > 0) {
                latency_us.push_back(static_cast<double>(in_hand - sent) / 1e3);
                arrival_us.push_back(static_cast<double>(in_hand - arrived) / 1e3);
                behind += newer_waiting ? 1 : 0;
            }
            first = false;
        }
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        frames_sent += sim.frames_sent() - frames0;
    }
    const uint64_t slot_losses = session.stats().slot_losses;
    const uint64_t frames_dropped = session.stats().frames_dropped;
    session.stop();
    session.disconnect();
    sim.stop();
    state.counters["scenes"] = static_cast<double>(latency_us.size());
    state.counters["scenes_per_s"] = seconds > 0 ? static_cast<double>(latency_us.size()) / seconds : 0.0;
    state.counters["sent_fps"] = seconds > 0 ? static_cast<double>(frames_sent) / seconds : 0.0;
    state.counters["behind"] = static_cast<double>(behind);
    state.counters["slot_losses"] = static_cast<double>(slot_losses);
    state.counters["frames_dropped"] = static_cast<double>(frames_dropped);
    state.counters["median_us"] = percentile(latency_us, 0.5);
    state.counters["p99_us"] = percentile(latency_us, 0.99);
    state.counters["arrival_median_us"] = percentile(arrival_us, 0.5);
    state.counters["arrival_p99_us"] = percentile(arrival_us, 0.99);
}

BENCHMARK(BM_Scene_Latency)
    ->ArgNames({"fps", "processing"})
    ->Args({20, 0})
    ->Args({100, 0})
    ->Args({20, 1})
    ->Args({100, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
