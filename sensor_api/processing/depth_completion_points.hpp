#pragma once

#include <cstdint>
#include <vector>

#include "processing/data_processing.hpp"
#include "processing/module_depth_completion.hpp"
#include "processing/module_gen_pointcloud.hpp"
#include "processing/published_table.hpp"

namespace TQZ {

struct widened_direction_table;
struct pixel_corrections;

// Depth completion followed by point generation in a single pass over the
// scene: each widened row of depth, intensity and points is made from its old
// row and written once, instead of the cloud being moved by the completion and
// rewritten by the point generation. The result is bit for bit what the two
// modules give one after the other.
class depth_completion_points {
public:
    // Runs both steps on a scene that the two modules would both process
    // (completion switched on, images of consistent size, at most kMaxCols
    // columns) and returns true; returns false, with the scene untouched,
    // for any other scene, which then goes through the modules one by one.
    // With `corrections`, each row is corrected first as it is reached
    // (the caller has found that all four corrections apply). With
    // `measured`, the scene's points before widening are those (rows x cols
    // of them), and the scene's own are not read.
    bool process(scene_t& scene, const module_depth_completion& completion, const module_gen_pointcloud& points,
                 const pixel_corrections* corrections, const VELKOR::LidarTQ::point_t* measured = nullptr);

    // Rows wider than this (the sensor's 192) take the module-by-module path.
    static constexpr int32_t kMaxCols = 192;

private:
    // Directions of the widened points with their sines and cosines, kept
    // from the frame that first had them: a pixel's direction does not change
    // from frame to frame, and those of the inserted columns follow from the
    // measured ones. A row whose measured directions differ from the table's
    // is computed directly, and the table is made anew from that frame.
    published_table<widened_direction_table> table_;
};

}  // namespace TQZ
