#include "processing/module_back_beam_removal.hpp"

namespace TQZ {

module_back_beam_removal::module_back_beam_removal() { parameters = {1.0f}; }

uint16_t module_back_beam_removal::to_intensity(float value)
{
    if (!(value > 0.0f)) {
        return 0;
    }
    if (value >= 65535.0f) {
        return 65535;
    }
    return static_cast<uint16_t>(value);
}

bool module_back_beam_removal::process(scene_t& scene)
{
    if (!enabled || parameters.size() != 3) {
        return false;
    }
    const size_t n = scene.depth.size();
    if (second_echo.size() < 2 || second_echo[0].size() < n || second_echo[1].size() < n ||
        scene.intensity.size() < n) {
        return false;
    }
    const double near_limit = parameters[0];
    const double weak_limit = parameters[1];
    const double echo_min = parameters[2];
    const float* echo_range = second_echo[0].data();
    const float* echo_intensity = second_echo[1].data();
    float* depth = scene.depth.data();
    uint16_t* intensity = scene.intensity.data();
    for (size_t i = 0; i < n; ++i) {
        if (static_cast<double>(depth[i]) > near_limit || static_cast<double>(intensity[i]) > weak_limit) {
            continue;
        }
        const float range2 = echo_range[i];
        if (static_cast<double>(range2) <= near_limit) {
            depth[i] = 0.0f;
            continue;
        }
        const float intensity2 = echo_intensity[i];
        if (static_cast<double>(intensity2) >= echo_min) {
            depth[i] = range2;
            intensity[i] = to_intensity(intensity2);
        } else {
            depth[i] = 0.0f;
        }
    }
    return true;
}

}  // namespace TQZ
