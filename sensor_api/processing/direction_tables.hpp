#pragma once

namespace TQZ {

constexpr int kTableRows = 56;
constexpr int kTableCols = 192;

// Per-pixel ray directions of the 56 x 192 image in radians, row-major
// (row * 192 + col). Positive azimuth looks left, positive elevation up.
struct direction_table_set {
    float azimuth[kTableRows * kTableCols];
    float elevation[kTableRows * kTableCols];
};

// The tables, solved from the lens model on the first call (thread-safe) and
// read-only from then on.
const direction_table_set& direction_tables();

// Direction of one pixel from the lens model, in 64-bit arithmetic; `steps`
// receives the number of solver steps taken.
struct pixel_direction {
    double azimuth;
    double elevation;
    int steps;
};
pixel_direction lens_direction(int row, int col);

}  // namespace TQZ
