#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

#include "processing/data_processing.hpp"

namespace TQZ {

// Triples the horizontal resolution of depth, intensity and point cloud to the
// ambient image's 576 columns: each measured column j = 3c + 1 keeps old
// column c, and the inserted columns on either side are filled from their
// nearer and farther measured neighbours, guided by the ambient image at edges.
class module_depth_completion : public data_processing {
public:
    bool process(scene_t& scene) override;

    // Largest round-trip difference (ns, exclusive) that is interpolated.
    float range_gap = 7.0f;
    // Largest intensity difference (exclusive) that is interpolated.
    float intensity_gap = 100.0f;
    // Largest ambient difference (exclusive) across which an edge is filled.
    float ambient_gap = 400.0f;

    static constexpr float kNearWeight = 0.6666667f;
    static constexpr float kFarWeight = 0.33333334f;
    // Edges whose nearer neighbour is beyond this (ns, about 50 m) stay empty.
    static constexpr float kNearRangeLimit = 334.0f;

    // Depth and intensity of an inserted pixel from its nearer and farther
    // measured neighbours and the ambient samples of the nearer neighbour and
    // of the pixel itself; an edge beyond the near-range limit stays empty
    // (0 and 0).
    struct inserted_pixel {
        float depth;
        uint16_t intensity;
    };

    // Two of the tests of an inserted pixel compare an integer distance with
    // a float gap: static_cast<float>(spread) < intensity_gap for the
    // intensity spread of the neighbours and static_cast<float>(step) <
    // ambient_gap for the ambient step at an edge. As integer limits: the
    // first holds exactly when spread <= spread_limit, the second exactly
    // when step_limit_count is 1 and step <= step_limit (the conversions to
    // float never decrease, so each test holds up to some largest distance).
    struct gap_limits {
        int32_t spread_limit;       // -1: no intensity spread passes
        uint32_t step_limit;        // valid when step_limit_count is 1
        uint32_t step_limit_count;  // 0: no ambient step passes
    };
    static gap_limits limits_for(float intensity_gap, float ambient_gap);

    // The inserted pixel, with the limits of the two gaps; integer
    // comparisons where the definition converts to float make runs of pixels
    // short vector code. Both outcomes are computed and one is selected, so
    // that a run has no unpredictable branches on noisy depth.
    static inserted_pixel fill_pixel(float near_range, float far_range, uint16_t near_intensity,
                                     uint16_t far_intensity, uint32_t near_ambient, uint32_t own_ambient,
                                     float range_gap, const gap_limits& limits)
    {
        const int32_t near_i = near_intensity;
        const int32_t far_i = far_intensity;
        const float blended = near_range * kNearWeight + far_range * kFarWeight;
        const int32_t spread = near_i > far_i ? near_i - far_i : far_i - near_i;
        const float mixed = static_cast<float>(near_i) * kNearWeight + static_cast<float>(far_i) * kFarWeight;
        const int32_t smaller = near_i < far_i ? near_i : far_i;
        const int32_t blended_intensity = spread <= limits.spread_limit ? static_cast<int32_t>(mixed) : smaller;
        const uint32_t ambient_step = near_ambient > own_ambient ? near_ambient - own_ambient
                                                                 : own_ambient - near_ambient;
        const bool near_edge = near_range <= kNearRangeLimit;
        const bool same_surface = (ambient_step <= limits.step_limit) & (limits.step_limit_count != 0);
        const float edge_depth = (near_edge & same_surface) ? near_range : 0.0f;
        const int32_t edge_intensity = near_edge ? near_i : 0;
        const bool close = std::fabs(far_range - near_range) < range_gap;
        return {close ? blended : edge_depth, static_cast<uint16_t>(close ? blended_intensity : edge_intensity)};
    }

    // The direction angle of an inserted column from its nearer and farther
    // neighbour, in 32-bit arithmetic; only a pair whose difference is not
    // finite falls back to the larger angle.
    static double interpolate_angle(double nearer, double farther)
    {
        const float n = static_cast<float>(nearer);
        const float f = static_cast<float>(farther);
        if (std::fabs(f - n) < FLT_MAX) {
            return static_cast<double>(n * kNearWeight + f * kFarWeight);
        }
        return static_cast<double>(n < f ? f : n);
    }
};

}  // namespace TQZ
