// Frame assembly against the bandwidth limit: BM_Assemble takes the 56
// datagrams of one frame through the assembler and publishes a copy of the
// frame, as the stream worker does; BM_Memcpy_Frame copies the same bytes.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "datagram_encoder.hpp"
#include "session/frame_assembler.hpp"
#include "util/bounded_queue.hpp"

namespace {

using Datagrams = std::vector<std::vector<uint8_t>>;

// Range(0): ambient words per row (192 or 576).
Datagrams frame_datagrams(int ambient_words)
{
    return VELKOR::SIM::encode_frame(VELKOR::SIM::make_synthetic_frame(1, 7, 1, ambient_words));
}

std::size_t total_bytes(const Datagrams& datagrams)
{
    std::size_t bytes = 0;
    for (const auto& d : datagrams) {
        bytes += d.size();
    }
    return bytes;
}

void BM_Assemble(benchmark::State& state)
{
    const Datagrams datagrams = frame_datagrams(static_cast<int>(state.range(0)));
    std::atomic<uint64_t> mask{0};
    TQZ::FrameAssembler assembler(mask);
    VELKOR::BoundedQueue<TQZ::Frame> frame_queue(3);
    for (auto _ : state) {
        for (const auto& d : datagrams) {
            if (assembler.feed(d.data(), d.size()) == TQZ::FrameAssembler::Result::frame_complete) {
                frame_queue.push(assembler.publish_frame());
            }
        }
    }
    if (frame_queue.empty()) {
        state.SkipWithError("no frame assembled");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total_bytes(datagrams)));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Assemble)->Arg(192)->Arg(576);

void BM_Memcpy_Frame(benchmark::State& state)
{
    const Datagrams datagrams = frame_datagrams(static_cast<int>(state.range(0)));
    std::vector<uint8_t> target(total_bytes(datagrams));
    for (auto _ : state) {
        uint8_t* at = target.data();
        for (const auto& d : datagrams) {
            std::memcpy(at, d.data(), d.size());
            at += d.size();
        }
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * target.size()));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Memcpy_Frame)->Arg(192)->Arg(576);

}  // namespace
