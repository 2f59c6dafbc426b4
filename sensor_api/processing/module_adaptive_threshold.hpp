#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "processing/data_processing.hpp"
#include "processing/published_table.hpp"

namespace TQZ {

// Drops (depth 0) every pixel whose intensity does not exceed a threshold
// that grows with the ambient light at the pixel: a degree-7 polynomial in
// x = (sum of the pixel's three ambient samples) / 100, coefficients highest
// power first.
class module_adaptive_threshold : public data_processing {
public:
    module_adaptive_threshold();
    bool process(scene_t& scene) override;

    // Threshold for scaled ambient level x, evaluated in 32-bit arithmetic in
    // the defined order and truncated towards zero. Values beyond the 32-bit
    // integer range saturate and a NaN gives INT32_MIN (nothing is dropped):
    // a plain conversion would be undefined there.
    static int32_t threshold(float x, const float* coefficients);

    // x values below this are tabulated; larger ones are evaluated per pixel.
    static constexpr uint32_t kTabulatedLevels = 1u << 16;

    // Thresholds of the levels below kTabulatedLevels for the current
    // `parameters`, which must hold eight values.
    struct threshold_table {
        std::array<float, 8> coefficients;
        std::vector<int32_t> by_level;
    };
    std::shared_ptr<const threshold_table> table_for_parameters();

private:
    published_table<threshold_table> table_;
};

}  // namespace TQZ
