// Latency of the live data path: from the arrival of a frame's last row at
// the session's UDP receive thread to the scene in the hand of a caller
// blocked in wait_scene, raw and processed, at 20 and 100 fps. The time is
// taken in the receive callback, after the kernel has handed the datagram
// over (loopback adds some 10-50 us before that point).
//
// One iteration of about 4 s per case; the counters carry median_us and
// p99_us over every scene taken, and scenes, the number of them.

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

// Stamps the arrival of every frame's last row, then hands the datagram on.
struct LastRowStamp {
    TQZ::StreamPipeline* pipeline = nullptr;
    std::atomic<int64_t> last_row_ns{0};

    static void callback(void* user, char* data, unsigned int length)
    {
        auto* self = static_cast<LastRowStamp*>(user);
        if (VELKOR::RowDatagram(reinterpret_cast<const unsigned char*>(data), length).ends_frame()) {
            self->last_row_ns.store(now_ns(), std::memory_order_release);
        }
        TQZ::StreamPipeline::receive_callback(self->pipeline, data, length);
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
    if (!sim.start() || !session.connect({"127.0.0.1", sim.port()}, {"127.0.0.1", 0})) {
        state.SkipWithError("simulator or connect failed");
        return;
    }
    session.chain().set_signal_data_processing(processing);
    LastRowStamp stamp;
    stamp.pipeline = &session.stream();
    session.stream().set_receive_callback(&LastRowStamp::callback, &stamp);
    session.run();

    VELKOR::LidarTQ::scene_t scene;
    std::vector<double> latency_us;
    for (auto _ : state) {
        const auto end = Clock::now() + std::chrono::seconds(4);
        bool first = true;
        while (Clock::now() < end) {
            if (!session.wait_scene(scene, std::chrono::seconds(1))) {
                continue;
            }
            const int64_t in_hand = now_ns();
            // The first scene may have waited in the queue before the caller came.
            if (!first) {
                latency_us.push_back(static_cast<double>(in_hand - stamp.last_row_ns.load(std::memory_order_acquire)) / 1e3);
            }
            first = false;
        }
    }
    session.stop();
    session.disconnect();
    sim.stop();
    state.counters["scenes"] = static_cast<double>(latency_us.size());
    state.counters["median_us"] = percentile(latency_us, 0.5);
    state.counters["p99_us"] = percentile(latency_us, 0.99);
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
