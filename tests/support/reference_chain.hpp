#pragma once

#include <vector>

#include "api/lidar_tq.hpp"

// A plain transcription of the processing chain, formula by formula, with no
// tables, caches or in-place tricks. The library's chain must give the same
// bits on every scene.
namespace reference_chain {

using scene_t = VELKOR::LidarTQ::scene_t;

struct settings {
    bool back_beam_enabled = false;
    bool global_offset_enabled = true;
    bool offset_calibration_enabled = true;
    bool walk_error_enabled = true;
    bool threshold_enabled = true;
    bool depth_completion_enabled = true;
    std::vector<float> back_beam;
    std::vector<float> global_offset;
    std::vector<float> offset_table;
    std::vector<float> walk_error;
    std::vector<float> threshold;
    std::vector<std::vector<float>> second_echo;
    float half_light_speed = 149.896225f;
    float range_gap = 7.0f;
    float intensity_gap = 100.0f;
    float ambient_gap = 400.0f;
};

}  // namespace reference_chain

namespace TQZ {
class processing_chain;
}

namespace reference_chain {

// The flags, parameters and second-echo buffers of a chain.
settings from_chain(const TQZ::processing_chain& chain);

// The whole chain in its fixed order.
void run(scene_t& scene, const settings& s);

bool back_beam_removal(scene_t& scene, const settings& s);
bool global_offset(scene_t& scene, const settings& s);
bool offset_calibration(scene_t& scene, const settings& s);
bool walk_error(scene_t& scene, const settings& s);
bool adaptive_threshold(scene_t& scene, const settings& s);
bool depth_completion(scene_t& scene, const settings& s);
bool gen_pointcloud(scene_t& scene, const settings& s);

}  // namespace reference_chain
