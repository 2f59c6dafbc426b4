#pragma once

#include <cstdint>

#include "processing/data_processing.hpp"

namespace TQZ {

// Replaces a near, weak first return by the pixel's second echo when that
// echo is far and strong enough, and drops it otherwise. parameters = near
// limit (ns), weak limit (intensity), minimum second-echo intensity; the
// second-echo images come through `second_echo`.
class module_back_beam_removal : public data_processing {
public:
    module_back_beam_removal();
    bool process(scene_t& scene) override;

    // A second-echo intensity truncated to 16 bits; values outside 0..65535
    // saturate instead of wrapping (their conversion would be undefined).
    static uint16_t to_intensity(float value);
};

}  // namespace TQZ
