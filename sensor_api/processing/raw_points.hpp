#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "api/lidar_tq.hpp"

namespace TQZ {

// One point from its depth in ns (after the global offset) and the sines
// and cosines of its direction: the arithmetic of point generation, shared
// by the module and by the stream worker, which places raw points while it
// fills a scene. Plain multiplies only, so every build gives the same bits.
inline void place_point(VELKOR::LidarTQ::point_t& p, float depth, float half_light_speed, double cos_elevation,
                        double sin_elevation, double cos_azimuth, double sin_azimuth, uint16_t intensity)
{
    const double d = static_cast<double>(depth * half_light_speed);
    p.x = (cos_elevation * d) * cos_azimuth;
    p.y = (cos_elevation * d) * sin_azimuth;
    p.z = sin_elevation * d;
    p.intensity = static_cast<double>(intensity);
}

// What a chain with processing off does to a raw scene, as two numbers:
// subtract offset_ns from every depth, then place every point with
// half_light_speed. A scene whose points were placed ahead with the same
// recipe needs only the subtraction (processing_chain::run).
struct raw_point_recipe {
    float offset_ns = 0.0f;
    float half_light_speed = 0.0f;

    // Bit for bit: -0 and 0 differ in what they give a depth of -0.
    bool operator==(const raw_point_recipe& other) const
    {
        return std::memcmp(&offset_ns, &other.offset_ns, sizeof offset_ns) == 0 &&
               std::memcmp(&half_light_speed, &other.half_light_speed, sizeof half_light_speed) == 0;
    }
    bool operator!=(const raw_point_recipe& other) const { return !(*this == other); }
};

// Sines and cosines of the direction tables' pixels (row * 192 + col),
// computed once from the tables (thread-safe) and read-only afterwards.
struct direction_sines {
    double cos_elevation;
    double sin_elevation;
    double cos_azimuth;
    double sin_azimuth;
};
const std::vector<direction_sines>& direction_table_sines();

// The points of the 56 x 192 image before anything is placed: each pixel's
// direction from the tables, every other field 0 (row * 192 + col). Computed
// once (thread-safe), read-only afterwards.
const std::vector<VELKOR::LidarTQ::point_t>& direction_table_points();

// What the stream worker did to a scene's points.
struct worker_points {
    // Placed with this recipe: a chain whose recipe it is has only the
    // offset left to apply.
    std::optional<raw_point_recipe> placed;
    // Nothing written to them: the scene is 56 x 192 and each point is
    // direction_table_points()'s, which the chain reads from there.
    bool directions_left = false;
};

}  // namespace TQZ
