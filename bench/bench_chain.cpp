#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "chain_scenes.hpp"
#include "processing/processing_chain.hpp"
#include "reference_chain.hpp"

namespace {

using scene_t = VELKOR::LidarTQ::scene_t;

// Each iteration starts from a freshly filled 56 x 192 scene, as get_scene
// hands it to the chain; the refill is outside the timing.
template <class Run>
void run_frames(benchmark::State& state, TQZ::processing_chain& chain, bool processing, Run run)
{
    chain.set_signal_data_processing(processing);
    const scene_t input = chain_scenes::realistic_scene(3);
    scene_t scene = input;
    run(scene);  // first frame builds the tables
    for (auto _ : state) {
        state.PauseTiming();
        scene = input;
        state.ResumeTiming();
        run(scene);
        benchmark::DoNotOptimize(scene.pointcloud.data());
        benchmark::ClobberMemory();
    }
    state.counters["cols"] = scene.cols;
}

// Time of one frame of `run` from a fresh copy of `input`, in us.
template <class Run>
double frame_us(const scene_t& input, scene_t& scene, Run run)
{
    scene = input;
    const auto start = std::chrono::steady_clock::now();
    run(scene);
    benchmark::DoNotOptimize(scene.pointcloud.data());
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

void BM_Chain_Full(benchmark::State& state)
{
    TQZ::processing_chain chain;
    run_frames(state, chain, true, [&](scene_t& s) { chain.run(s); });
    // The ratio of the plain transcription's median frame time to the
    // chain's, measured right here.
    const reference_chain::settings settings = reference_chain::from_chain(chain);
    const scene_t input = chain_scenes::realistic_scene(3);
    // Frame by frame in alternation, so that both see the same spells.
    std::vector<double> fast;
    std::vector<double> plain;
    scene_t scene = input;
    for (int i = 0; i < 101; ++i) {
        fast.push_back(frame_us(input, scene, [&](scene_t& s) { chain.run(s); }));
        plain.push_back(frame_us(input, scene, [&](scene_t& s) { reference_chain::run(s, settings); }));
    }
    state.counters["x_reference"] = median(plain) / median(fast);
}

void BM_Chain_Raw(benchmark::State& state)
{
    TQZ::processing_chain chain;
    run_frames(state, chain, false, [&](scene_t& s) { chain.run(s); });
}

void BM_Chain_Reference(benchmark::State& state)
{
    TQZ::processing_chain chain;
    chain.set_signal_data_processing(true);
    const reference_chain::settings settings = reference_chain::from_chain(chain);
    run_frames(state, chain, true, [&](scene_t& s) { reference_chain::run(s, settings); });
}

}  // namespace

BENCHMARK(BM_Chain_Full)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Chain_Raw)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Chain_Reference)->Unit(benchmark::kMicrosecond);
