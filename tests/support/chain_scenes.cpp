#include "chain_scenes.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "processing/direction_tables.hpp"

namespace chain_scenes {

namespace {

scene_t empty_scene()
{
    scene_t scene;
    scene.rows = kRows;
    scene.cols = kCols;
    scene.ambient.assign(kRows * kCols * 3, 0);
    scene.depth.assign(kRows * kCols, 0.0f);
    scene.intensity.assign(kRows * kCols, 0);
    scene.pointcloud.assign(kRows * kCols, VELKOR::LidarTQ::point_t{});
    for (int i = 0; i < kRows * kCols; ++i) {
        scene.pointcloud[i].azimuth = TQZ::direction_tables().azimuth[i];
        scene.pointcloud[i].elevation = TQZ::direction_tables().elevation[i];
    }
    return scene;
}

}  // namespace

float encoded_depth(uint16_t whole_ns, uint16_t sixteenths)
{
    const uint32_t word = (static_cast<uint32_t>(whole_ns) << 4) | (sixteenths & 0xFu);
    return static_cast<float>(word * 0.0625);
}

scene_t uniform_scene(float depth_ns, uint16_t intensity, uint32_t ambient)
{
    scene_t scene = empty_scene();
    std::fill(scene.depth.begin(), scene.depth.end(), depth_ns);
    std::fill(scene.intensity.begin(), scene.intensity.end(), intensity);
    std::fill(scene.ambient.begin(), scene.ambient.end(), ambient);
    return scene;
}

scene_t random_scene(uint32_t seed)
{
    std::mt19937 rng(seed);
    scene_t scene = empty_scene();
    const bool wide_ambient = rng() % 4 == 0;
    for (int i = 0; i < kRows * kCols; ++i) {
        const uint32_t kind = rng() % 16;
        if (kind == 0) {
            scene.depth[i] = 0.0f;
            scene.intensity[i] = 0;
        } else if (kind < 4 && i > 0) {
            // Close to the left neighbour: interpolation and intensity rules.
            scene.depth[i] = scene.depth[i - 1] + static_cast<float>(rng() % 200) * 0.0625f;
            scene.intensity[i] = static_cast<uint16_t>(scene.intensity[i - 1] + rng() % 160);
        } else {
            scene.depth[i] = encoded_depth(static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng()));
            if (kind < 10) {
                scene.depth[i] = encoded_depth(static_cast<uint16_t>(rng() % 400), static_cast<uint16_t>(rng()));
            }
            scene.intensity[i] = static_cast<uint16_t>(kind < 12 ? rng() % 4000 : rng());
        }
    }
    for (auto& a : scene.ambient) {
        const uint32_t kind = rng() % 8;
        a = wide_ambient ? static_cast<uint32_t>(rng()) : kind < 5 ? rng() % 3000 : rng() & 0xFFFFFFu;
    }
    return scene;
}

scene_t realistic_scene(uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    scene_t scene = empty_scene();
    constexpr double kMmPerNs = 149.896225;
    const double box_x = 2000.0 + (seed % 7) * 300.0;
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kCols; ++c) {
            const int i = r * kCols + c;
            const double az = TQZ::direction_tables().azimuth[i];
            const double el = TQZ::direction_tables().elevation[i];
            // Unit ray: x forward, y left, z up.
            const double dx = std::cos(el) * std::cos(az);
            const double dy = std::cos(el) * std::sin(az);
            const double dz = std::sin(el);
            // Room 8 m deep, 6 m wide, floor 1.2 m below, ceiling 1.6 m above.
            double range = 1e9;
            double reflect = 0.6;
            if (dx > 1e-6) range = std::min(range, 8000.0 / dx);
            if (dy > 1e-6) range = std::min(range, 3000.0 / dy);
            if (dy < -1e-6) range = std::min(range, -3000.0 / dy);
            if (dz < -1e-6 && -1200.0 / dz < range) {
                range = -1200.0 / dz;
                reflect = 0.3;
            }
            if (dz > 1e-6) range = std::min(range, 1600.0 / dz);
            // A box in front of the sensor.
            if (dx > 1e-6) {
                const double t = box_x / dx;
                if (t < range && std::fabs(dy * t) < 500.0 && dz * t > -1200.0 && dz * t < 200.0) {
                    range = t;
                    reflect = 0.9;
                }
            }
            range += noise(rng) * 15.0;
            const double ns = 2.0 * range / (2.0 * kMmPerNs) + 4935.0 / kMmPerNs;
            const double strength = reflect * 4.0e9 / (range * range) * (1.0 + 0.05 * noise(rng));
            const bool dropout = rng() % 50 == 0 || strength < 20.0;
            if (!dropout) {
                const double sixteenths = std::max(0.0, std::round(ns * 16.0));
                scene.depth[i] = encoded_depth(static_cast<uint16_t>(sixteenths / 16.0),
                                               static_cast<uint16_t>(std::fmod(sixteenths, 16.0)));
                scene.intensity[i] = static_cast<uint16_t>(std::min(strength, 65535.0));
            }
            for (int k = 0; k < 3; ++k) {
                const int col = 3 * c + k;
                double light = 150.0 + 40.0 * noise(rng);
                if (col > 380 && col < 470 && r > 8 && r < 30) {
                    light += 2500.0;  // window
                }
                scene.ambient[static_cast<size_t>(r) * kCols * 3 + col] =
                    static_cast<uint32_t>(std::max(0.0, light));
            }
        }
    }
    return scene;
}

}  // namespace chain_scenes

namespace {

template <class T>
bool same_vector_bits(const std::vector<T>& a, const std::vector<T>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

}  // namespace

bool same_bits(const VELKOR::LidarTQ::scene_t& a, const VELKOR::LidarTQ::scene_t& b)
{
    return a.rows == b.rows && a.cols == b.cols && same_vector_bits(a.ambient, b.ambient) &&
           same_vector_bits(a.depth, b.depth) && same_vector_bits(a.intensity, b.intensity) &&
           same_vector_bits(a.pointcloud, b.pointcloud);
}
