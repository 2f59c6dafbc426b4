#pragma once

#include <vector>

#include "api/lidar_tq.hpp"

namespace TQZ {

using scene_t = VELKOR::LidarTQ::scene_t;

// Base of the processing modules. Each module rewrites a scene in place; a
// module that is switched off, or whose parameter list does not have the
// count it needs, leaves the scene untouched and returns false.
class data_processing {
public:
    virtual ~data_processing() = default;
    virtual bool process(scene_t& scene) = 0;
    // Replaces `parameters` by a copy of `values`; no validation here, a wrong
    // count only shows as a process() that returns false.
    virtual void set_parameters(const std::vector<float>& values);

    bool enabled = true;
    std::vector<float> parameters;
    // Second-echo images (entry 0: range in ns, entry 1: intensity), same
    // indexing as the depth image; only back-beam removal reads them.
    std::vector<std::vector<float>> second_echo;
    // mm of distance per ns of round-trip time (bits 0x4315E56F).
    float half_light_speed = 149.896225f;
};

}  // namespace TQZ
