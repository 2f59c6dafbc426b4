#pragma once

#include <cstdint>

#include "api/lidar_tq.hpp"

// Scenes as get_scene fills them from an assembled frame (56 x 192 depth and
// intensity, 56 x 576 ambient, directions from the direction tables), for
// feeding the processing chain directly.
namespace chain_scenes {

using scene_t = VELKOR::LidarTQ::scene_t;

constexpr int kRows = 56;
constexpr int kCols = 192;

// Depth as the sensor encodes it: whole ns plus sixteenths.
float encoded_depth(uint16_t whole_ns, uint16_t sixteenths);

// A scene of the given constant values, directions from the tables.
scene_t uniform_scene(float depth_ns, uint16_t intensity, uint32_t ambient);

// Every field random over its whole range (depth over all encodable values,
// ambient over 24 bits or, now and then, all 32 bits), with runs of equal and
// zero values mixed in so that every branch of the chain is taken.
scene_t random_scene(uint32_t seed);

// A room seen by the sensor: walls, floor and a few boxes, intensities falling
// with range, daylight ambient with a bright window, dropouts and noise.
scene_t realistic_scene(uint32_t seed);

}  // namespace chain_scenes

// True when two scenes carry the same bits in every field.
bool same_bits(const VELKOR::LidarTQ::scene_t& a, const VELKOR::LidarTQ::scene_t& b);

namespace chain_scenes {

}  // namespace chain_scenes
