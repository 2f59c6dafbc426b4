// What the simulator spends on one frame of its synthetic room (render and
// encode of 56 rows): at 100 fps its stream thread has 10 ms per frame, and
// on a busy machine it gets only part of a core, so this cost decides
// whether a simulated sensor keeps its frame rate.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "sim_room.hpp"

namespace {

void BM_Sim_Frame(benchmark::State& state)
{
    VELKOR::SIM::SimOptions options;
    options.fps = 100.0;
    options.ambient_words = 576;
    VELKOR::SIM::SimRoom room(options);
    std::vector<std::vector<uint8_t>> datagrams;
    for (auto _ : state) {
        room.next_frame(datagrams);
        benchmark::DoNotOptimize(datagrams.data());
    }
}
BENCHMARK(BM_Sim_Frame)->Unit(benchmark::kMicrosecond);

}  // namespace
