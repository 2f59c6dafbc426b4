// Cost of the live link: CPU used by the session's own threads (TCP and UDP
// receive threads and the stream worker) while the simulator streams into
// get_scene, and the datagrams lost on loopback at a given frame rate.
//
// Runs as a fixed-length measurement (one iteration of about 5 s per frame
// rate); the counters carry the figures: cpu_pct is percent of one core
// used by the session threads, excluding the caller's get_scene work;
// loss_pct the share of sent datagrams that never reached the UDP callback.

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "session/device_session.hpp"
#include "sim_sensor.hpp"
#include "transport/ext_interface_udp_client.hpp"

namespace {

std::set<int> thread_ids()
{
    std::set<int> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                ids.insert(std::atoi(entry->d_name));
            }
        }
        closedir(dir);
    }
    return ids;
}

// utime + stime of one thread, in seconds.
double thread_cpu_s(int tid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return 0.0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) {
        fields >> skip;  // state .. cmajflt
    }
    long utime = 0;
    long stime = 0;
    fields >> utime >> stime;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double cpu_of(const std::set<int>& ids)
{
    double sum = 0.0;
    for (int id : ids) {
        sum += thread_cpu_s(id);
    }
    return sum;
}

struct Counting {
    TQZ::DeviceSession* session;
    std::atomic<uint64_t> datagrams{0};
    static void callback(void* user, char* data, unsigned int length)
    {
        auto* self = static_cast<Counting*>(user);
        ++self->datagrams;
        TQZ::DeviceSession::udp_receive_callback(self->session, data, length);
    }
};

void BM_LinkStream(benchmark::State& state)
{
    const double fps = static_cast<double>(state.range(0));
    VELKOR::SIM::SimOptions options;
    options.fps = fps;
    VELKOR::SIM::SimSensor sim(options);
    if (!sim.start()) {
        state.SkipWithError("simulator did not start");
        return;
    }
    const std::set<int> before = thread_ids();
    TQZ::DeviceSession session;
    if (!session.connect({"127.0.0.1", sim.port()}, {"127.0.0.1", 0})) {
        state.SkipWithError("connect failed");
        return;
    }
    Counting counting{&session};
    session.udp->registRecvCallback(&Counting::callback, &counting);
    session.run();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // settle

    std::set<int> link_threads;  // ordered by id: TCP receive, UDP receive, worker
    for (int id : thread_ids()) {
        if (before.count(id) == 0) {
            link_threads.insert(id);
        }
    }
    VELKOR::LidarTQ::scene_t scene;
    double cpu = 0.0;
    double wall = 0.0;
    uint64_t sent = 0;
    uint64_t received = 0;
    long scenes = 0;
    std::vector<double> each;
    for (auto _ : state) {
        const uint64_t sent0 = sim.datagrams_sent();
        const uint64_t received0 = counting.datagrams;
        const double cpu0 = cpu_of(link_threads);
        std::vector<double> each0;
        for (int id : link_threads) {
            each0.push_back(thread_cpu_s(id));
        }
        const auto t0 = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5)) {
            scenes += session.get_scene(scene) ? 1 : 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // Datagrams still in flight at the end are not losses.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu += cpu_of(link_threads) - cpu0;
        std::size_t k = 0;
        for (int id : link_threads) {
            each.push_back(thread_cpu_s(id) - each0[k++]);
        }
        sent += sim.datagrams_sent() - sent0;
        received += counting.datagrams - received0;
    }
    session.stop();
    session.disconnect();
    sim.stop();
    state.counters["cpu_pct"] = wall > 0 ? 100.0 * cpu / wall : 0.0;
    state.counters["loss_pct"] = sent > 0 ? 100.0 * (1.0 - static_cast<double>(std::min(received, sent)) / sent) : 0.0;
    state.counters["scenes_per_s"] = wall > 0 ? scenes / wall : 0.0;
    state.counters["threads"] = static_cast<double>(link_threads.size());
    for (std::size_t k = 0; k < each.size() && wall > 0; ++k) {
        state.counters["cpu_pct_t" + std::to_string(k)] = 100.0 * each[k] / wall;
    }
}

BENCHMARK(BM_LinkStream)->Arg(20)->Arg(100)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
