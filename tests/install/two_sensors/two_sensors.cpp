// Streams two sensors at once, one thread each, taking scenes with
// wait_scene: two_sensors PORT_A PORT_B [FRAMES]. Both sensors are on
// 127.0.0.1. Exits 0 when every sensor gave FRAMES full scenes.

#include <velkor/lidar_tq.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Outcome {
    int scenes = 0;
    std::string error;
};

void stream(int port, int frames, Outcome& outcome)
{
    VELKOR::LidarTQ lidar;
    if (!lidar.connect({"127.0.0.1", port}, {"127.0.0.1", 0}) || !lidar.run()) {
        outcome.error = "cannot stream from port " + std::to_string(port) + ": " + lidar.last_error();
        return;
    }
    VELKOR::LidarTQ::scene_t scene;
    while (outcome.scenes < frames && lidar.wait_scene(scene, std::chrono::seconds(5))) {
        if (scene.rows != 56 || scene.depth.size() != static_cast<std::size_t>(scene.rows) * scene.cols) {
            outcome.error = "scene " + std::to_string(outcome.scenes) + " is not a full 56-row image";
            break;
        }
        ++outcome.scenes;
    }
    if (outcome.scenes < frames && outcome.error.empty())
        outcome.error = "no scene within 5 s from port " + std::to_string(port);
    lidar.stop();
    lidar.disconnect();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: two_sensors PORT_A PORT_B [FRAMES]\n");
        return 2;
    }
    const int frames = argc > 3 ? std::atoi(argv[3]) : 5;
    const std::vector<int> ports = {std::atoi(argv[1]), std::atoi(argv[2])};
    std::vector<Outcome> outcomes(ports.size());
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < ports.size(); ++k)
        threads.emplace_back(stream, ports[k], frames, std::ref(outcomes[k]));
    for (auto& thread : threads)
        thread.join();

    int failures = 0;
    for (std::size_t k = 0; k < ports.size(); ++k) {
        if (!outcomes[k].error.empty()) {
            std::fprintf(stderr, "sensor %zu: %s\n", k, outcomes[k].error.c_str());
            ++failures;
        } else {
            std::printf("sensor %zu: %d scenes\n", k, outcomes[k].scenes);
        }
    }
    std::printf("%s\n", VELKOR::LidarTQ::api_info().c_str());
    return failures == 0 ? 0 : 1;
}
