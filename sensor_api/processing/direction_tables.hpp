#pragma once

namespace TQZ {

constexpr int kTableRows = 56;
constexpr int kTableCols = 192;

// Per-pixel ray directions of the 56 x 192 image in radians, row-major
// (row * 192 + col). Positive azimuth looks left, positive elevation up.
extern float azimuth_table[kTableRows * kTableCols];
extern float elevation_table[kTableRows * kTableCols];

// Recomputes both tables from the lens model (same values every time).
void build_direction_tables();

}  // namespace TQZ
