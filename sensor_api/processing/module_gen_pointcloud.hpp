#pragma once

#include <cstdint>
#include <vector>

#include "processing/data_processing.hpp"
#include "processing/published_table.hpp"

namespace TQZ {

// Turns every pixel's round-trip time and direction into a Cartesian point in
// mm (x forward, y left, z up) and copies its intensity into the point. Runs
// whatever `enabled` says.
class module_gen_pointcloud : public data_processing {
public:
    bool process(scene_t& scene) override;

private:
    // Sines and cosines of a point cloud's directions, kept from the frame
    // that first had them: the directions of a pixel do not change from
    // frame to frame. Each entry remembers the angles it was made from, so a
    // point whose angles differ is computed directly.
    struct direction_trig {
        uint64_t azimuth_bits;
        uint64_t elevation_bits;
        double cos_elevation;
        double sin_elevation;
        double cos_azimuth;
        double sin_azimuth;
    };
    using trig_table = std::vector<direction_trig>;
    static std::shared_ptr<const trig_table> make_trig_table(const scene_t& scene);

    // One table per point-cloud length (192 and 576 columns when processing
    // is switched back and forth); replaced round robin.
    published_table<trig_table> tables_[2];
    unsigned next_slot_ = 0;
};

}  // namespace TQZ
