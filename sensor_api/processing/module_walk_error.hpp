#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "processing/data_processing.hpp"
#include "processing/published_table.hpp"

namespace TQZ {

// Adds the intensity-dependent walk error to each round-trip time: a sum of
// two exponentials of the standardised intensity. parameters = a, b, c, d, m,
// s (amplitudes in ns, rates, intensity mean and spread).
class module_walk_error : public data_processing {
public:
    module_walk_error();
    bool process(scene_t& scene) override;

    // The correction in ns for one 16-bit intensity, in 64-bit arithmetic with
    // the six coefficients widened from 32 bits.
    static double correction(uint16_t intensity, const float* coefficients);

    // The correction depends only on the 16-bit intensity, so it is tabulated
    // once per coefficient set (the exponentials then cost nothing per frame).
    // Valid for the current `parameters`, which must hold six values.
    struct correction_table {
        std::array<float, 6> coefficients;
        std::vector<double> by_intensity;
    };
    std::shared_ptr<const correction_table> table_for_parameters();

private:
    published_table<correction_table> table_;
};

}  // namespace TQZ
