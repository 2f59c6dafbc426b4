#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "processing/module_adaptive_threshold.hpp"
#include "processing/module_walk_error.hpp"

namespace TQZ {

// Global offset, offset calibration, walk error and adaptive threshold over
// a run of pixels in one pass, with the same bits as the four modules in
// turn. Filled by the processing chain for a frame on which all four apply.
struct pixel_corrections {
    float offset_ns = 0.0f;            // global offset as round-trip time
    const float* offsets = nullptr;    // per-pixel offset table, ns
    const double* walk_term = nullptr;  // walk-error correction by intensity, ns
    const int32_t* by_level = nullptr;  // thresholds of the tabulated levels
    const float* coefficients = nullptr;
    // Held for the frame, so that a table replaced meanwhile stays alive.
    std::shared_ptr<const module_walk_error::correction_table> walk;
    std::shared_ptr<const module_adaptive_threshold::threshold_table> limits;

    // Ambient levels of `count` pixels: the unsigned 32-bit sum of each
    // pixel's three samples (it wraps like the sensor's own arithmetic) over
    // 100. From samples stored pixel by pixel, or as three planes.
    static void levels(const uint32_t* ambient, size_t count, uint32_t* level);
    static void levels(const uint32_t* left, const uint32_t* measured, const uint32_t* right, size_t count,
                       uint32_t* level);

    // Corrects the depth of pixels first..first + count - 1 of the frame
    // (their intensity, depth and level given from the first of them).
    void apply(const uint32_t* level, const uint16_t* intensity, float* depth, size_t first, size_t count) const;
};

}  // namespace TQZ
