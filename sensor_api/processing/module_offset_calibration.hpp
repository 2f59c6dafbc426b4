#pragma once

#include <vector>

#include "processing/data_processing.hpp"

namespace TQZ {

// Subtracts the per-pixel residual delay of the 56 x 192 depth image, in ns,
// from the calibration compiled into the library.
class module_offset_calibration : public data_processing {
public:
    module_offset_calibration();
    bool process(scene_t& scene) override;
};

// The compiled-in calibration: 10752 values in ns, row-major, each the sum of
// a row term and a column term.
std::vector<float> default_offset_table();

}  // namespace TQZ

namespace TQZ {

// The two terms of the calibration, in ns: table[r * 192 + c] is
// offset_row_term(r) + offset_column_term(c) in 32-bit arithmetic.
float offset_row_term(int row);
float offset_column_term(int col);

}  // namespace TQZ
