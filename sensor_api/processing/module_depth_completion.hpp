#pragma once

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
};

}  // namespace TQZ
