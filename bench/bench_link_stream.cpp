// Cost of the live link: CPU used by the session's own threads (TCP and UDP
// receive threads and the stream worker) while the simulator streams into
// get_scene, and the datagrams lost on loopback at a given frame rate.
//
// Runs as a fixed-length measurement (one iteration of about 5 s per frame
// rate); the counters carry the figures: cpu_pct is percent of one core
// used by the session threads, excluding the caller's wait_scene work;
// loss_pct the share of sent datagrams that never reached the stream pipeline;
// scenes_per_s the scenes taken, sent_fps the frames the simulator sent per
// second, slot_losses and frames_dropped the session's counters. Frame rate
// 0 is a link that is connected and streaming but gets no datagram (the
// simulator drops every one): what an idle link costs.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "processing/processing_chain.hpp"
#include "session/device_session.hpp"
#include "sim_sensor.hpp"
#include "thread_usage.hpp"
#include "transport/ext_interface_udp_client.hpp"

namespace {

using bench_support::cpu_of;
using bench_support::switches_of;
using bench_support::thread_cpu_s;
using bench_support::thread_ids;

// Counts the datagrams the pipeline takes (it shows it each one first).
struct Counting {
    std::atomic<uint64_t> datagrams{0};
    static void callback(void* user, char*, unsigned int) { ++static_cast<Counting*>(user)->datagrams; }
};

void BM_LinkStream(benchmark::State& state)
{
    const double fps = static_cast<double>(state.range(0));
    const bool idle = fps <= 0.0;
    VELKOR::SIM::SimOptions options;
    options.fps = idle ? 20.0 : fps;
    options.loss_rate = idle ? 1.0 : 0.0;
    VELKOR::SIM::SimSensor sim(options);
    if (!sim.start()) {
        state.SkipWithError("simulator did not start");
        return;
    }
    const std::set<int> before = thread_ids();
    TQZ::DeviceSession session;
    Counting counting;
    session.stream().set_receive_callback(&Counting::callback, &counting);
    if (!session.connect({"127.0.0.1", sim.port()}, {"127.0.0.1", 0})) {
        state.SkipWithError("connect failed");
        return;
    }
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
    uint64_t frames_sent = 0;
    uint64_t slot_losses = 0;
    uint64_t frames_dropped = 0;
    double switches = 0.0;
    long scenes = 0;
    std::vector<double> each;
    for (auto _ : state) {
        const uint64_t sent0 = sim.datagrams_sent();
        const uint64_t received0 = counting.datagrams;
        const uint64_t frames0 = sim.frames_sent();
        const uint64_t slot_losses0 = session.stats().slot_losses;
        const uint64_t frames_dropped0 = session.stats().frames_dropped;
        const double switches0 = switches_of(link_threads);
        const double cpu0 = cpu_of(link_threads);
        std::vector<double> each0;
        for (int id : link_threads) {
            each0.push_back(thread_cpu_s(id));
        }
        const auto t0 = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5)) {
            scenes += session.wait_scene(scene, std::chrono::milliseconds(100)) ? 1 : 0;
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
        frames_sent += sim.frames_sent() - frames0;
        slot_losses += session.stats().slot_losses - slot_losses0;
        frames_dropped += session.stats().frames_dropped - frames_dropped0;
        switches += switches_of(link_threads) - switches0;
    }
    session.stop();
    session.disconnect();
    sim.stop();
    state.counters["wakeups_per_s"] = wall > 0 ? switches / wall : 0.0;
    state.counters["cpu_pct"] = wall > 0 ? 100.0 * cpu / wall : 0.0;
    state.counters["loss_pct"] = sent > 0 ? 100.0 * (1.0 - static_cast<double>(std::min(received, sent)) / sent) : 0.0;
    state.counters["scenes_per_s"] = wall > 0 ? scenes / wall : 0.0;
    state.counters["sent_fps"] = wall > 0 && !idle ? static_cast<double>(frames_sent) / wall : 0.0;
    state.counters["slot_losses"] = static_cast<double>(slot_losses);
    state.counters["frames_dropped"] = static_cast<double>(frames_dropped);
    state.counters["threads"] = static_cast<double>(link_threads.size());
    for (std::size_t k = 0; k < each.size() && wall > 0; ++k) {
        state.counters["cpu_pct_t" + std::to_string(k)] = 100.0 * each[k] / wall;
    }
}

BENCHMARK(BM_LinkStream)->Arg(0)->Arg(20)->Arg(100)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// What `sensors` simulated sensors at 20 fps cost together: CPU of every
// thread the sessions and their consumers run (links, workers, get_scene with
// the whole processing chain; the simulators' own threads are left out), and
// the datagrams lost on the way.
struct SensorsRun {
    double cpu_s = 0.0;
    double wall_s = 0.0;
    uint64_t sent = 0;
    uint64_t received = 0;
    uint64_t frames_sent = 0;
    uint64_t scenes = 0;
    uint64_t slot_losses = 0;  // frames broken by a missing row, over the whole run
    bool ok = true;
};

SensorsRun run_sensors(int sensors, double seconds)
{
    SensorsRun out;
    std::vector<std::unique_ptr<VELKOR::SIM::SimSensor>> sims;
    for (int k = 0; k < sensors; ++k) {
        VELKOR::SIM::SimOptions options;
        options.fps = 20.0;
        options.seed = static_cast<uint32_t>(k + 1);
        sims.push_back(std::make_unique<VELKOR::SIM::SimSensor>(options));
        out.ok = out.ok && sims.back()->start();
    }
    const std::set<int> before = thread_ids();
    std::vector<std::unique_ptr<TQZ::DeviceSession>> sessions;
    std::vector<std::unique_ptr<Counting>> counts;
    for (int k = 0; k < sensors && out.ok; ++k) {
        sessions.push_back(std::make_unique<TQZ::DeviceSession>());
        counts.push_back(std::make_unique<Counting>());
        sessions[k]->stream().set_receive_callback(&Counting::callback, counts[k].get());
        out.ok = sessions[k]->connect({"127.0.0.1", sims[k]->port()}, {"127.0.0.1", 0});
    }
    if (!out.ok) {
        return out;
    }
    // One consumer thread per sensor, taking and processing its scenes.
    std::atomic<bool> consuming{true};
    std::atomic<uint64_t> scenes{0};
    std::vector<std::thread> consumers;
    for (int k = 0; k < sensors; ++k) {
        sessions[k]->run();
        consumers.emplace_back([&, k] {
            VELKOR::LidarTQ::scene_t scene;
            while (consuming) {
                if (sessions[k]->get_scene(scene)) {
                    ++scenes;
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // settle

    std::set<int> ours;
    for (int id : thread_ids()) {
        if (before.count(id) == 0) {
            ours.insert(id);
        }
    }
    uint64_t sent0 = 0;
    uint64_t received0 = 0;
    uint64_t frames0 = 0;
    for (int k = 0; k < sensors; ++k) {
        sent0 += sims[k]->datagrams_sent();
        received0 += counts[k]->datagrams;
        frames0 += sims[k]->frames_sent();
    }
    const uint64_t scenes0 = scenes;
    const double cpu0 = cpu_of(ours);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    out.cpu_s = cpu_of(ours) - cpu0;
    out.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    out.scenes = scenes - scenes0;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // in flight is not lost
    for (int k = 0; k < sensors; ++k) {
        out.sent += sims[k]->datagrams_sent();
        out.received += counts[k]->datagrams;
        out.frames_sent += sims[k]->frames_sent();
    }
    out.sent -= sent0;
    out.received -= received0;
    out.frames_sent -= frames0;

    consuming = false;
    for (auto& t : consumers) {
        t.join();
    }
    for (int k = 0; k < sensors; ++k) {
        out.slot_losses += sessions[k]->stats().slot_losses;
        sessions[k]->stop();
        sessions[k]->disconnect();
        sims[k]->stop();
    }
    return out;
}

// One sensor, then four, twice over; the counters compare the two in this
// run: x_one_sensor is the CPU of four sensors over that of one (at most 4.4
// is the aim), loss_pct_one and loss_pct_four the datagrams that had not
// reached the callback 50 ms after the window (a receive thread held up
// longer counts as loss there), slot_losses_one and slot_losses_four the
// frames really broken by a missing row.
void BM_FourSensors(benchmark::State& state)
{
    TQZ::set_signal_data_processing(true);
    SensorsRun one;
    SensorsRun four;
    auto add = [](SensorsRun& total, const SensorsRun& run) {
        total.cpu_s += run.cpu_s;
        total.wall_s += run.wall_s;
        total.sent += run.sent;
        total.received += run.received;
        total.frames_sent += run.frames_sent;
        total.scenes += run.scenes;
        total.slot_losses += run.slot_losses;
        total.ok = total.ok && run.ok;
    };
    for (auto _ : state) {
        for (int round = 0; round < 2; ++round) {
            add(one, run_sensors(1, 5.0));
            add(four, run_sensors(4, 5.0));
        }
    }
    if (!one.ok || !four.ok) {
        state.SkipWithError("a simulator did not start or a connect failed");
        return;
    }
    auto loss = [](const SensorsRun& r) {
        return r.sent > 0 ? 100.0 * (1.0 - static_cast<double>(std::min(r.received, r.sent)) / r.sent) : 0.0;
    };
    const double cpu_one = one.cpu_s / one.wall_s;
    const double cpu_four = four.cpu_s / four.wall_s;
    state.counters["cpu_pct_one"] = 100.0 * cpu_one;
    state.counters["cpu_pct_four"] = 100.0 * cpu_four;
    state.counters["x_one_sensor"] = cpu_one > 0 ? cpu_four / cpu_one : 0.0;
    state.counters["loss_pct_one"] = loss(one);
    state.counters["loss_pct_four"] = loss(four);
    state.counters["slot_losses_one"] = static_cast<double>(one.slot_losses);
    state.counters["slot_losses_four"] = static_cast<double>(four.slot_losses);
    state.counters["scenes_per_frame_one"] = one.frames_sent > 0 ? static_cast<double>(one.scenes) / one.frames_sent : 0;
    state.counters["scenes_per_frame_four"] =
        four.frames_sent > 0 ? static_cast<double>(four.scenes) / four.frames_sent : 0;
}

BENCHMARK(BM_FourSensors)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
