// Four sensors with four calibrations, streamed at once into four handles on
// four threads with processing on: every sensor's scenes must carry the very
// bits the same sensor gives when it streams alone. Each session processes
// with its own chain and its own sensor's walk-error coefficients.
//
// Runs VELKOR_FOUR_SENSOR_SECONDS of concurrent streaming (default 3).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "api/lidar_tq.hpp"
#include "sim_room.hpp"
#include "sim_sensor.hpp"

namespace {

using namespace std::chrono_literals;
using VELKOR::LidarTQ;
using VELKOR::SIM::SimOptions;
using VELKOR::SIM::SimSensor;

constexpr int kSensors = 4;
constexpr int kCycle = 5;  // distinct frames each simulator repeats

// The room's first frames, sent over and over: every frame a sensor sends
// while the others stream too has been seen while it streamed alone.
class RoomCycle : public VELKOR::SIM::DatagramSource {
public:
    explicit RoomCycle(const SimOptions& options) : frames_(kCycle)
    {
        VELKOR::SIM::SimRoom room(options);
        for (auto& frame : frames_) {
            room.next_frame(frame);
        }
    }
    bool next_frame(std::vector<std::vector<uint8_t>>& datagrams) override
    {
        datagrams = frames_[next_++ % frames_.size()];
        return true;
    }

private:
    std::vector<std::vector<std::vector<uint8_t>>> frames_;
    std::size_t next_ = 0;
};

template <class T>
std::size_t digest(const std::vector<T>& values, std::size_t seed)
{
    const std::string_view bytes(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
    return seed * 1000003u ^ std::hash<std::string_view>{}(bytes);
}

// The ambient image is not changed by the chain and differs from frame to
// frame of the cycle: it names the frame. The digest of every field is what
// is compared.
std::size_t frame_key(const LidarTQ::scene_t& scene) { return digest(scene.ambient, 1); }
std::size_t content(const LidarTQ::scene_t& scene)
{
    std::size_t d = digest(scene.depth, static_cast<std::size_t>(scene.rows) * 4096 + scene.cols);
    d = digest(scene.intensity, d);
    d = digest(scene.ambient, d);
    return digest(scene.pointcloud, d);
}

struct Tally {
    int matched = 0;
    int mismatched = 0;
    int unknown = 0;  // a frame assembled across a loss, never seen alone
};

TEST(ConcurrentSessions, EachSensorKeepsItsOwnCalibration)
{
    const char* env = std::getenv("VELKOR_FOUR_SENSOR_SECONDS");
    const int seconds = env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : 3;

    // Walk-error coefficients of four sensors: the defaults and three others
    // whose correction at the room's intensities differs by up to some ns.
    const std::vector<std::vector<double>> walk_errors = {
        {-56548.832, 0.17180148, 56550.078, 0.17181453, 1258.0, 702.8},
        {-1000.0, 0.1, 1004.0, 0.1, 1258.0, 702.8},
        {-56548.832, 0.17180148, 56550.078, 0.17181453, 1100.0, 650.0},
        {-2000.0, 0.12, 2002.5, 0.12, 900.0, 800.0},
    };
    std::vector<std::unique_ptr<SimSensor>> sims;
    std::vector<LidarTQ> lidars(kSensors);
    lidars[0].set_signal_data_processing(true);  // for every handle of the process
    for (int k = 0; k < kSensors; ++k) {
        SimOptions options;
        options.fps = 10.0;
        options.settings = SimSensor::default_settings();
        options.settings["PL_Reg"]["walk_err_param"] = walk_errors[k];
        sims.push_back(std::make_unique<SimSensor>(options));
        sims[k]->set_datagram_source(std::make_shared<RoomCycle>(options));
        ASSERT_TRUE(sims[k]->start());
    }

    // Alone: each sensor in turn is connected and streams until every frame
    // of its cycle has come; it stays connected while the next one streams.
    std::vector<std::map<std::size_t, std::size_t>> alone(kSensors);
    LidarTQ::scene_t scene;
    for (int k = 0; k < kSensors; ++k) {
        ASSERT_TRUE(lidars[k].connect({"127.0.0.1", sims[k]->port()}, {"127.0.0.1", 0})) << lidars[k].last_error();
        ASSERT_TRUE(lidars[k].run());
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (alone[k].size() < kCycle && std::chrono::steady_clock::now() < end) {
            if (lidars[k].wait_scene(scene, 200ms)) {
                alone[k].emplace(frame_key(scene), content(scene));
            }
        }
        lidars[k].stop();
        ASSERT_EQ(alone[k].size(), static_cast<std::size_t>(kCycle)) << "sensor " << k;
    }
    // The calibrations tell the sensors apart, so a scene processed with
    // another sensor's coefficients cannot pass.
    for (int k = 1; k < kSensors; ++k) {
        ASSERT_NE(alone[k].begin()->second, alone[0].at(alone[k].begin()->first)) << "sensor " << k;
    }

    // Together: four threads, each taking its own sensor's scenes.
    std::vector<Tally> tallies(kSensors);
    std::vector<std::thread> threads;
    for (int k = 0; k < kSensors; ++k) {
        ASSERT_TRUE(lidars[k].run());
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (int k = 0; k < kSensors; ++k) {
        threads.emplace_back([&, k] {
            LidarTQ::scene_t mine;
            while (std::chrono::steady_clock::now() < end) {
                if (!lidars[k].wait_scene(mine, 100ms)) {
                    continue;
                }
                const auto expected = alone[k].find(frame_key(mine));
                if (expected == alone[k].end()) {
                    ++tallies[k].unknown;
                } else if (expected->second == content(mine)) {
                    ++tallies[k].matched;
                } else {
                    ++tallies[k].mismatched;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (int k = 0; k < kSensors; ++k) {
        lidars[k].stop();
        lidars[k].disconnect();
        sims[k]->stop();
        std::printf("sensor %d: %d matched, %d mismatched, %d unknown in %d s\n", k, tallies[k].matched,
                    tallies[k].mismatched, tallies[k].unknown, seconds);
        EXPECT_EQ(tallies[k].mismatched, 0) << "sensor " << k;
        // Whatever a loaded machine loses, a handful of frames comes through.
        EXPECT_GE(tallies[k].matched, 5) << "sensor " << k;
    }
}

}  // namespace
