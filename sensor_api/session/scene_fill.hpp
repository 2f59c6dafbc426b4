#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "api/lidar_tq.hpp"
#include "processing/raw_points.hpp"
#include "session/frame_types.hpp"
#include "session/spare_pool.hpp"

namespace TQZ {

// Fills a scene from an assembled frame: depth as round-trip nanoseconds of
// the first return, its intensity, the ambient image and each pixel's ray
// direction from the direction tables. rows/cols are set to 56 x 192; the
// images take the frame's own size (rows x row 0's ambient and pixel counts)
// and reuse the scene's storage. Pixels a row lacks are zero.
void fill_scene(const _TQ_RANGE_T& frame, VELKOR::LidarTQ::scene_t& scene);

// Spare scenes whose storage the stream worker fills again: the caller's
// old buffers come back here when it takes a ready scene, so a steady stream
// allocates no images. Holds at most `capacity` scenes; any thread may use it.
class ScenePool {
public:
    explicit ScenePool(std::size_t capacity) : spare_(capacity) {}

    // A spare scene, or a new empty one when none is spare.
    std::unique_ptr<VELKOR::LidarTQ::scene_t> take();
    void give(std::unique_ptr<VELKOR::LidarTQ::scene_t> scene) { spare_.give(std::move(scene)); }

private:
    SparePool<VELKOR::LidarTQ::scene_t> spare_;
};

// The raw-point recipe the stream worker places points with: set by the
// thread that runs the session's chain, after each run; read by the worker
// once per frame.
class PointRecipeBox {
public:
    // None: place no points (the chain does more than the raw recipe).
    void set(const std::optional<raw_point_recipe>& recipe);
    std::optional<raw_point_recipe> get() const;

private:
    mutable std::mutex mutex_;
    std::optional<raw_point_recipe> recipe_;
};

// A filled scene on its way to the caller, with what was done to its points.
struct ReadyScene {
    std::unique_ptr<VELKOR::LidarTQ::scene_t> scene;
    worker_points points;
};

// Fills a scene row by row while its frame is assembled, so that a complete
// frame leaves only its last row to fill. Every row is written again for
// each frame (rows never stored are filled as fill_scene fills them), so the
// finished scene equals fill_scene of the finished frame and a broken frame
// leaves nothing in the next one. With a recipe in `recipes` at a frame's
// slot 0, the points of that frame are also placed as that recipe says (as
// the chain would place them after its offset; the depths stay raw), so a
// chain with that recipe has only the offset left to apply. Without one, a
// frame of the full 56 x 192 leaves its points unwritten: the chain, which
// writes every point again, reads their directions from the tables.
class SceneBuilder {
public:
    explicit SceneBuilder(ScenePool& pool, const PointRecipeBox* recipes = nullptr)
        : pool_(pool), recipes_(recipes)
    {
    }

    // The assembler has stored `slot` into `frame` (its range buffer); slot 0
    // begins a new scene, whose image size row 0 gives.
    void row_stored(const _TQ_RANGE_T& frame, std::size_t slot);
    // The frame is complete: fills the rows not filled yet and hands the
    // scene out. The scene is null when no frame was begun.
    ReadyScene finish(const _TQ_RANGE_T& frame);

private:
    ScenePool& pool_;
    const PointRecipeBox* recipes_;
    std::unique_ptr<VELKOR::LidarTQ::scene_t> scene_;
    uint64_t filled_ = 0;  // bit r: row r holds this frame's data
    worker_points points_;  // what this frame's fill does to the points
};

}  // namespace TQZ
