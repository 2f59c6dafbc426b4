#include "processing/module_global_offset.hpp"

namespace TQZ {

module_global_offset::module_global_offset() { parameters = {4935.0f}; }

bool module_global_offset::process(scene_t& scene)
{
    if (!enabled || parameters.size() != 1) {
        return false;
    }
    const float offset_ns = parameters[0] / half_light_speed;
    for (float& depth : scene.depth) {
        depth = depth - offset_ns;
    }
    return true;
}

}  // namespace TQZ
