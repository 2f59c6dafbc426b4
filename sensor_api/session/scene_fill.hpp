#pragma once

#include "api/lidar_tq.hpp"
#include "session/frame_types.hpp"

namespace TQZ {

// Fills a scene from an assembled frame: depth as round-trip nanoseconds of
// the first return, its intensity, the ambient image and each pixel's ray
// direction from the direction tables. rows/cols are set to 56 x 192; the
// images take the frame's own size (rows x row 0's ambient and pixel counts)
// and reuse the scene's storage. Pixels a row lacks are zero.
void fill_scene(const _TQ_RANGE_T& frame, VELKOR::LidarTQ::scene_t& scene);

}  // namespace TQZ
