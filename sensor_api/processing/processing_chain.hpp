#pragma once

#include <nlohmann/json.hpp>

#include "api/lidar_tq.hpp"

namespace TQZ {

// Runs the process-wide chain of processing modules over a scene in place.
void run_processing_chain(VELKOR::LidarTQ::scene_t& scene);

// Switches the correcting modules; global offset and point generation stay on.
void set_signal_data_processing(bool enable);

// Loads "PL_Reg" -> "walk_err_param" of a settings document into the
// walk-error module. False when an element is not a number.
bool load_walk_error_parameters(const nlohmann::json& settings);

}  // namespace TQZ
