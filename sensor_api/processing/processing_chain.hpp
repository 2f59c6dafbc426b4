#pragma once

#include <cstdint>
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
#include "processing/raw_points.hpp"

namespace TQZ {

// The chain of processing modules every scene passes before get_scene
// returns. Each session owns one, built with the defaults: back-beam removal
// off, every other module on, the walk-error coefficients compiled in until
// the session's sensor sends its own. It takes no lock: the thread that drives
// the session drives its chain.
//
// The process-wide switch (set_signal_data_processing below) reaches every
// chain: a chain built after a switch starts with it, and a chain that has
// not yet seen the latest switch takes it before its next run. Module flags
// set directly on a chain hold until the next switch.
class processing_chain {
public:
    processing_chain();

    // Takes the latest process-wide switch, prepares the second-echo buffers
    // and runs the modules over the scene in their fixed order; the modules'
    // results are not consulted.
    void run(VELKOR::LidarTQ::scene_t& scene);
    // The same for a raw scene from the stream worker, which ends with the
    // bits run() gives the scene fill_scene makes: with points placed with
    // this chain's raw recipe, only the global offset is left to apply; with
    // the directions left, they are read from direction_table_points()
    // instead of the scene's points.
    void run(VELKOR::LidarTQ::scene_t& scene, const worker_points& points);

    // After taking the latest switch: true, with the recipe, when this chain
    // does to a raw scene nothing but the global offset and point generation
    // (processing off); false when any other module would take part.
    bool raw_recipe(raw_point_recipe& out);

    // This chain's flags: global offset always on; offset calibration,
    // back-beam removal, walk error, adaptive threshold and depth completion
    // follow `enable`; point generation always runs.
    void set_signal_data_processing(bool enable);

    // Takes the process-wide switch if it changed since this chain last did;
    // run() calls it first.
    void follow_processing_switch();

    // Loads "PL_Reg" -> "walk_err_param" of a settings document into this
    // chain's walk-error module (numbers by value, booleans as 0 and 1). A
    // document without that array, or with an array of another length than
    // six, leaves the module a pass-through and is not an error. An element
    // that is not a number or a boolean, or a number beyond the 32-bit float
    // range, makes the document malformed: the module is left a pass-through
    // as well (neither the defaults nor a partial list fit the device) and the
    // result is false. Never throws.
    bool load_walk_error_parameters(const nlohmann::json& settings);

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
    // run(), with each point's direction from `directions` (null: from the
    // scene's own points).
    void run_steps(VELKOR::LidarTQ::scene_t& scene, const std::vector<VELKOR::LidarTQ::point_t>* directions);

    // Global offset, offset calibration, walk error and adaptive threshold in
    // one pass over the pixels, for a scene on which corrections_for found
    // all four to apply. The same bits as the four modules in turn.
    void run_corrections(VELKOR::LidarTQ::scene_t& scene, const pixel_corrections& corrections);

    // Whether all four corrections apply to the scene, with what they need.
    bool corrections_for(const VELKOR::LidarTQ::scene_t& scene, pixel_corrections& out);

    // Depth completion and point generation in one pass, for the scenes on
    // which both would run; the same bits as the two modules in turn.
    depth_completion_points completion_points_;

    // The process-wide switch as this chain last took it (0: none yet).
    uint64_t applied_switch_ = 0;
};

// The process-wide switch of the correcting modules of every session's chain
// (global offset and point generation stay on); callable from any thread.
void set_signal_data_processing(bool enable);

}  // namespace TQZ
