#pragma once

#include <string>

#include "api/lidar_tq.hpp"

namespace velkor_python {

// A scene as Python holds it: the library's scene record, where it came from
// (a recording's file name or a sensor's address) and its frame number there.
// Its arrays are views over `scene`; nothing refills a SceneObject once
// Python has it, so the views stay valid as long as they keep it alive.
struct SceneObject {
    VELKOR::LidarTQ::scene_t scene;
    std::string source;
    long frame = -1;
};

}  // namespace velkor_python
