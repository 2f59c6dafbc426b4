#pragma once

#include <memory>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/lidar_tq.hpp"
#include "processing/depth_completion_points.hpp"
#include "processing/module_adaptive_threshold.hpp"
#include "processing/module_back_beam_removal.hpp"
#include "processing/module_depth_completion.hpp"
#include "processing/module_gen_pointcloud.hpp"
#include "processing/module_global_offset.hpp"
#include "processing/module_offset_calibration.hpp"
#include "processing/module_walk_error.hpp"
#include "processing/pixel_corrections.hpp"

namespace TQZ {

// The chain of processing modules every scene passes before get_scene
// returns. One instance per process (shared_processing_chain()), built with
// the defaults when the library is loaded: back-beam removal off, every other
// module on. It takes no lock: callers drive it from one thread.
class processing_chain {
public:
    processing_chain();

    // Prepares the second-echo buffers and runs the modules over the scene in
    // their fixed order; the modules' results are not consulted.
    void run(VELKOR::LidarTQ::scene_t& scene);

    // Global offset always on; offset calibration, back-beam removal, walk
    // error, adaptive threshold and depth completion follow `enable`; point
    // generation always runs.
    void set_signal_data_processing(bool enable);

    // Second-echo range and intensity images for back-beam removal; nothing
    // in the library fills them, so by default they are two empty lists.
    std::vector<std::vector<float>> second_echo_buffers;

    std::shared_ptr<module_global_offset> global_offset;
    std::shared_ptr<module_offset_calibration> offset_calibration;
    std::shared_ptr<module_walk_error> walk_error;
    std::shared_ptr<module_adaptive_threshold> adaptive_threshold;
    std::shared_ptr<module_depth_completion> depth_completion;
    std::shared_ptr<module_back_beam_removal> back_beam_removal;
    std::shared_ptr<module_gen_pointcloud> gen_pointcloud;

private:
    // Global offset, offset calibration, walk error and adaptive threshold in
    // one pass over the pixels, for a scene on which corrections_for found
    // all four to apply. The same bits as the four modules in turn.
    void run_corrections(VELKOR::LidarTQ::scene_t& scene, const pixel_corrections& corrections);

    // Whether all four corrections apply to the scene, with what they need.
    bool corrections_for(const VELKOR::LidarTQ::scene_t& scene, pixel_corrections& out);

    // Depth completion and point generation in one pass, for the scenes on
    // which both would run; the same bits as the two modules in turn.
    depth_completion_points completion_points_;
};

// The process-wide chain.
processing_chain& shared_processing_chain();

// Runs the process-wide chain of processing modules over a scene in place.
void run_processing_chain(VELKOR::LidarTQ::scene_t& scene);

// Switches the correcting modules; global offset and point generation stay on.
void set_signal_data_processing(bool enable);

// Loads "PL_Reg" -> "walk_err_param" of a settings document into the
// walk-error module (numbers by value, booleans as 0 and 1). A document
// without that array, or with an array of another length than six, leaves the
// module a pass-through and is not an error. An element that is not a number
// or a boolean, or a number beyond the 32-bit float range, makes the document
// malformed: the module is left a pass-through as well (neither the defaults
// nor a partial list fit the device) and the result is false. Never throws.
bool load_walk_error_parameters(const nlohmann::json& settings);

}  // namespace TQZ
