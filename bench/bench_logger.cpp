// Recording reader and writer throughput. The index scan and the plain read
// run over the same file from the page cache, so their ratio is the cost of
// the scan itself.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>

#include <unistd.h>

#include "recording/logger.hpp"
#include "recording_files.hpp"
#include "thread_usage.hpp"

namespace {

constexpr int kSlots = 56;
constexpr std::size_t kDatagramBytes = 9528;  // a range row: 192 pixels, one return, four blocks
constexpr uint64_t kFileBytes = 220ull << 20;

// A recording of about 220 MB, generated once per run and deleted at exit.
class BenchRecording {
public:
    static BenchRecording& get()
    {
        static BenchRecording recording;
        return recording;
    }

    const std::string& path() const { return path_; }
    uint64_t size() const { return size_; }

    ~BenchRecording()
    {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }

private:
    BenchRecording()
        : path_((std::filesystem::temp_directory_path() /
                 ("velkor_bench_" + std::to_string(::getpid()) + ".bin"))
                    .string())
    {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        std::vector<recording_files::Bytes> frame;
        for (int s = 0; s < kSlots; ++s) {
            frame.push_back(recording_files::record(
                1765000000000000 + s, recording_files::datagram(static_cast<uint16_t>(s), kDatagramBytes)));
        }
        while (size_ < kFileBytes) {
            for (const auto& r : frame) {
                out.write(reinterpret_cast<const char*>(r.data()), static_cast<std::streamsize>(r.size()));
                size_ += r.size();
            }
        }
        out.close();
        // Warm the page cache, so every benchmark reads from memory.
        std::ifstream in(path_, std::ios::binary);
        std::vector<char> block(1 << 20);
        while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
        }
    }

    std::string path_;
    uint64_t size_ = 0;
};

void BM_Read_Baseline(benchmark::State& state)
{
    const auto& recording = BenchRecording::get();
    std::vector<char> block(1 << 20);
    for (auto _ : state) {
        std::ifstream in(recording.path(), std::ios::binary);
        uint64_t total = 0;
        while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
            total += static_cast<uint64_t>(in.gcount());
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * recording.size()));
}
BENCHMARK(BM_Read_Baseline)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Index_Scan(benchmark::State& state)
{
    const auto& recording = BenchRecording::get();
    std::size_t frames = 0;
    for (auto _ : state) {
        VELKOR::Logger logger;
        logger.open({recording.path(), true});
        frames = logger.frame_index().size() - 1;
        logger.close();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * recording.size()));
    state.counters["frames"] = static_cast<double>(frames);
}
BENCHMARK(BM_Index_Scan)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Read_Once(benchmark::State& state)
{
    const auto& recording = BenchRecording::get();
    VELKOR::Logger logger;
    logger.open({recording.path(), true});
    unsigned long long last = 0;
    logger.get_total_size(last);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(last));
    recording_files::Bytes datagram;
    for (auto _ : state) {
        if (!logger.read_once(pick(rng))) {
            state.SkipWithError("read_once failed");
            break;
        }
        while (logger.packet_queue.pop(datagram)) {
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSlots * kDatagramBytes));
}
BENCHMARK(BM_Read_Once)->Unit(benchmark::kMicrosecond);

// Frames per second the recorder sustains: the producer hands over one
// frame of datagrams, as the receive thread would, and waits until the writer
// has taken it. Compare with the sensor's 100 frames per second.
void BM_Record_Frames(benchmark::State& state)
{
    const std::string prefix =
        (std::filesystem::temp_directory_path() / ("velkor_bench_rec_" + std::to_string(::getpid()) + "_"))
            .string();
    const auto datagram = recording_files::datagram(0, kDatagramBytes);
    VELKOR::Logger logger;
    if (!logger.open({prefix, false})) {
        state.SkipWithError("cannot create the recording");
        return;
    }
    uint64_t sent = 0;
    for (auto _ : state) {
        for (int s = 0; s < kSlots; ++s) {
            logger.write(datagram.data(), datagram.size());
        }
        sent += kSlots;
        while (logger.records_written() < sent) {
            std::this_thread::yield();
        }
    }
    const std::string name = logger.file_name();
    logger.close();
    std::error_code ec;
    std::filesystem::remove(name, ec);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["lost"] = static_cast<double>(logger.records_queued() - logger.records_written());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSlots * (kDatagramBytes + 16)));
}
BENCHMARK(BM_Record_Frames)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(200);

// What an open recording costs while nothing comes to write: the writer
// thread's CPU (percent of one core) and how often it is switched in and out
// per second (a writer that waits on its queue sleeps until close).
void BM_Recorder_Idle(benchmark::State& state)
{
    const std::string prefix =
        (std::filesystem::temp_directory_path() / ("velkor_bench_idle_" + std::to_string(::getpid()) + "_"))
            .string();
    const std::set<int> before = bench_support::thread_ids();
    VELKOR::Logger logger;
    if (!logger.open({prefix, false})) {
        state.SkipWithError("cannot create the recording");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the writer starts
    std::set<int> writer;
    for (int id : bench_support::thread_ids()) {
        if (before.count(id) == 0) {
            writer.insert(id);
        }
    }
    double cpu = 0.0;
    double switches = 0.0;
    double wall = 0.0;
    for (auto _ : state) {
        const double cpu0 = bench_support::cpu_of(writer);
        const double switches0 = bench_support::switches_of(writer);
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu += bench_support::cpu_of(writer) - cpu0;
        switches += bench_support::switches_of(writer) - switches0;
    }
    const std::string name = logger.file_name();
    logger.close();
    std::error_code ec;
    std::filesystem::remove(name, ec);
    state.counters["cpu_pct"] = wall > 0 ? 100.0 * cpu / wall : 0.0;
    state.counters["wakeups_per_s"] = wall > 0 ? switches / wall : 0.0;
    state.counters["threads"] = static_cast<double>(writer.size());
}
BENCHMARK(BM_Recorder_Idle)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
