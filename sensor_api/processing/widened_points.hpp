#pragma once

#include <cstddef>
#include <cstdint>

#include "processing/data_processing.hpp"

namespace TQZ {

// The directions of the widened points of four neighbouring columns with
// their sines and cosines, in the order the point writer reads them (448
// bytes, seven cache lines).
struct direction_group {
    static constexpr size_t kLanes = 4;
    // [kind][t][lane], t = 0 cos azimuth, 1 sin azimuth, 2 cos elevation,
    // 3 sin elevation.
    double trig[3][4][kLanes];
    // Directions of the inserted points, which are 32-bit values (rad):
    // [side][0 azimuth, 1 elevation][lane], side 0 left (kind 0), 1 right
    // (kind 2).
    float inserted[2][2][kLanes];
};
static_assert(sizeof(direction_group) == 448, "seven cache lines, no padding");

// One image row on its way to three points per column: the inserted point
// left of each measured column (kind 0), the measured point (kind 1) and the
// inserted point right of it (kind 2). Point 3c + k of the widened row is
// made from column c of kind k.
struct widened_columns {
    static constexpr size_t kMaxCols = 192;
    static constexpr size_t kKinds = 3;
    static constexpr size_t kMaxGroups = (kMaxCols + direction_group::kLanes - 1) / direction_group::kLanes;

    float depth[kKinds][kMaxCols];  // ns of round-trip time
    uint16_t intensity[kKinds][kMaxCols];
    // The row's points before widening: the measured points keep their
    // spare value and direction. Must not overlap the records written.
    const VELKOR::LidarTQ::point_t* measured = nullptr;
    // Column c's directions are lane c % 4 of group c / 4.
    const direction_group* directions = nullptr;
};

// Writes the 3 * cols points of a row to `out`: x = (cos el * d) * cos az,
// y = (cos el * d) * sin az, z = sin el * d with d = depth * light in mm,
// intensity as a double. Uses the vector build where the processor has one;
// every build gives the same bits.
void write_widened_points(const widened_columns& row, size_t cols, float light, VELKOR::LidarTQ::point_t* out);

// The plain build, one point after the other.
void write_widened_points_portable(const widened_columns& row, size_t cols, float light,
                                   VELKOR::LidarTQ::point_t* out);

// The AVX2 build; false (nothing written) where the processor lacks AVX2,
// the library was built for another architecture or without dispatch.
bool write_widened_points_avx2(const widened_columns& row, size_t cols, float light, VELKOR::LidarTQ::point_t* out);

}  // namespace TQZ
