// Frames per second of the replay loop a user writes in C++: get_scene(scene,
// index) over every frame of a recording, raw and processed. The Python
// package's iteration is measured against this loop (bench/python).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "api/lidar_tq.hpp"
#include "sim_recording.hpp"

namespace {

constexpr int kFrames = 500;

// The file named by VELKOR_BENCH_RECORDING, or 500 frames of the simulated
// room (576 ambient words, as the simulator sends) written once per run.
class ReplayFile {
public:
    static const std::string& path()
    {
        static ReplayFile file;
        return file.path_;
    }

    ~ReplayFile()
    {
        if (owned_) {
            std::error_code ec;
            std::filesystem::remove(path_, ec);
        }
    }

private:
    ReplayFile()
    {
        if (const char* given = std::getenv("VELKOR_BENCH_RECORDING"); given && *given) {
            path_ = given;
            return;
        }
        path_ = (std::filesystem::temp_directory_path() /
                 ("velkor_bench_replay_" + std::to_string(::getpid()) + ".bin"))
                    .string();
        owned_ = true;
        const auto bytes = sim_recording::room(kFrames, 20.0, 1700000000000000, 1, 576);
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    std::string path_;
    bool owned_ = false;
};

void BM_Replay_Index(benchmark::State& state)
{
    const bool processing = state.range(0) != 0;
    VELKOR::LidarTQ lidar;
    uint64_t last = 0;
    if (!lidar.play_start(ReplayFile::path()) || !lidar.get_file_size(last)) {
        state.SkipWithError("cannot open the recording");
        return;
    }
    const int frames = static_cast<int>(static_cast<uint32_t>(last + 1));
    lidar.set_signal_data_processing(processing);
    VELKOR::LidarTQ::scene_t scene;
    int64_t done = 0;
    for (auto _ : state) {
        for (int i = 0; i < frames; ++i) {
            if (lidar.get_scene(scene, i)) {
                ++done;
            }
        }
        benchmark::DoNotOptimize(scene);
    }
    lidar.play_stop();
    state.SetItemsProcessed(done);
    state.counters["frames"] = frames;
}
BENCHMARK(BM_Replay_Index)->ArgName("processing")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
