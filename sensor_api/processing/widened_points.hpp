#pragma once

#include <cstddef>
#include <cstdint>

#include "processing/data_processing.hpp"

namespace TQZ {

// One image row on its way to three points per column: the inserted point
// left of each measured column (kind 0), the measured point (kind 1) and the
// inserted point right of it (kind 2). Point 3c + k of the widened row is
// made from column c of kind k.
struct widened_columns {
    static constexpr size_t kMaxCols = 192;
    static constexpr size_t kKinds = 3;

    float depth[kKinds][kMaxCols];  // ns of round-trip time
    uint16_t intensity[kKinds][kMaxCols];
    // The row's points before widening: the measured points keep their
    // spare value and direction. Must not overlap the records written.
    const VELKOR::LidarTQ::point_t* measured = nullptr;
    // Directions of the inserted points, which are 32-bit values: array a of
    // `cols` values at inserted + a * cols, a = 0 azimuth left, 1 azimuth
    // right, 2 elevation left, 3 elevation right (rad).
    const float* inserted = nullptr;
    // Sines and cosines of the directions: array (t, k) of `cols` values at
    // trig + (t * 3 + k) * cols, t = 0 cos azimuth, 1 sin azimuth,
    // 2 cos elevation, 3 sin elevation. This is also the layout of one row
    // of the direction table.
    const double* trig = nullptr;
};

constexpr size_t kInsertedArrays = 4;
constexpr size_t kTrigArrays = 4;

// Writes the points of columns [from, to) to `out`, the record of widened
// point 3 * from: x = (cos el * d) * cos az, y = (cos el * d) * sin az,
// z = sin el * d with d = depth * light in mm, intensity as a double.
// Uses the vector build where the processor has one; every build gives the
// same bits.
void write_widened_points(const widened_columns& row, size_t cols, size_t from, size_t to, float light,
                          VELKOR::LidarTQ::point_t* out);

// The plain build, one point after the other.
void write_widened_points_portable(const widened_columns& row, size_t cols, size_t from, size_t to, float light,
                                   VELKOR::LidarTQ::point_t* out);

// The AVX2 build; false (nothing written) where the processor lacks AVX2 or
// the library was built for another architecture.
bool write_widened_points_avx2(const widened_columns& row, size_t cols, size_t from, size_t to, float light,
                               VELKOR::LidarTQ::point_t* out);

}  // namespace TQZ
