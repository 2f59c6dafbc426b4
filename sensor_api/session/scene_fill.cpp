#include "session/scene_fill.hpp"

#include "processing/direction_tables.hpp"
#include "session/frame_assembler.hpp"

namespace TQZ {

namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// A pixel outside the direction tables has no direction: angle 0.
constexpr direction_sines kNoDirection{1.0, 0.0, 1.0, 0.0};

// The images' size for a frame: its rows, and row 0's ambient and pixel counts.
struct scene_shape {
    std::size_t rows = 0;
    std::size_t ambient_cols = 0;
    std::size_t pixel_cols = 0;
};

scene_shape shape_of(const _TQ_RANGE_T& frame)
{
    scene_shape shape;
    shape.rows = frame.rows.size();
    shape.ambient_cols = shape.rows > 0 ? frame.rows[0].ambient.size() : 0;
    shape.pixel_cols = shape.rows > 0 ? frame.rows[0].pixel_count() : 0;
    return shape;
}

void size_scene(const scene_shape& shape, VELKOR::LidarTQ::scene_t& scene)
{
    scene.rows = kTableRows;
    scene.cols = kTableCols;
    scene.ambient.resize(shape.rows * shape.ambient_cols);
    scene.depth.resize(shape.rows * shape.pixel_cols);
    scene.intensity.resize(shape.rows * shape.pixel_cols);
    scene.pointcloud.resize(shape.rows * shape.pixel_cols);
}

// Image row r of `scene` from frame row `row`; the scene is sized for `shape`.
// Each point gets its direction, and with a recipe is also placed as the
// chain would place it; with the directions left, the points are not written.
void fill_row(const FrameRow& row, std::size_t r, const scene_shape& shape, VELKOR::LidarTQ::scene_t& scene,
              const worker_points& points = worker_points{})
{
    const std::size_t ambient_cols = shape.ambient_cols;
    const std::size_t pixel_cols = shape.pixel_cols;
    const std::vector<VELKOR::LidarTQ::point_t>& directions = direction_table_points();
    const raw_point_recipe* recipe = points.placed ? &*points.placed : nullptr;
    const std::vector<direction_sines>* sines = recipe != nullptr ? &direction_table_sines() : nullptr;

    const std::size_t ambient_have = row.ambient.size();
    for (std::size_t j = 0; j < ambient_cols; ++j) {
        scene.ambient[r * ambient_cols + j] = j < ambient_have ? row.ambient[j] : 0;
    }

    // A row with fewer records, or records without a return, leaves those pixels empty.
    const std::size_t pixels_have = row.returns > 0 ? row.pixel_count() : 0;
    for (std::size_t j = 0; j < pixel_cols; ++j) {
        const std::size_t at = r * pixel_cols + j;
        float depth = 0.0f;
        uint16_t intensity = 0;
        if (j < pixels_have) {
            const uint8_t* ret = row.first_return(j);
            const uint32_t whole = le16(ret + 4);
            const uint32_t fraction = le16(ret + 6) & 0xFu;
            depth = static_cast<float>(static_cast<double>((whole << 4) | fraction) * 0.0625);
            intensity = le16(ret);
        }
        scene.depth[at] = depth;
        scene.intensity[at] = intensity;
        if (points.directions_left) {
            continue;
        }

        // The tables cover 56 x 192 pixels; a pixel outside them has no direction.
        const bool in_table = r < static_cast<std::size_t>(kTableRows) && j < static_cast<std::size_t>(kTableCols);
        VELKOR::LidarTQ::point_t point = in_table ? directions[r * kTableCols + j] : VELKOR::LidarTQ::point_t{};
        if (recipe != nullptr) {
            const direction_sines& s = in_table ? (*sines)[r * kTableCols + j] : kNoDirection;
            place_point(point, depth - recipe->offset_ns, recipe->half_light_speed, s.cos_elevation, s.sin_elevation,
                        s.cos_azimuth, s.sin_azimuth, intensity);
        }
        scene.pointcloud[at] = point;
    }
}

}  // namespace

void fill_scene(const _TQ_RANGE_T& frame, VELKOR::LidarTQ::scene_t& scene)
{
    const scene_shape shape = shape_of(frame);
    size_scene(shape, scene);
    for (std::size_t r = 0; r < shape.rows; ++r) {
        fill_row(frame.rows[r], r, shape, scene);
    }
}

std::unique_ptr<VELKOR::LidarTQ::scene_t> ScenePool::take()
{
    std::unique_ptr<VELKOR::LidarTQ::scene_t> scene = spare_.take();
    return scene ? std::move(scene) : std::make_unique<VELKOR::LidarTQ::scene_t>();
}

void PointRecipeBox::set(const std::optional<raw_point_recipe>& recipe)
{
    std::lock_guard<std::mutex> lock(mutex_);
    recipe_ = recipe;
}

std::optional<raw_point_recipe> PointRecipeBox::get() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return recipe_;
}

void SceneBuilder::row_stored(const _TQ_RANGE_T& frame, std::size_t slot)
{
    if (slot == 0) {
        if (!scene_) {
            scene_ = pool_.take();
        }
        const scene_shape shape = shape_of(frame);
        size_scene(shape, *scene_);
        filled_ = 0;
        points_.placed = recipes_ != nullptr ? recipes_->get() : std::nullopt;
        points_.directions_left = !points_.placed && shape.rows == static_cast<std::size_t>(kTableRows) &&
                                  shape.pixel_cols == static_cast<std::size_t>(kTableCols);
    }
    // Rows beyond those a frame can hold are never stored.
    if (!scene_ || slot >= frame.rows.size() || slot >= static_cast<std::size_t>(FrameAssembler::kMaxRows)) {
        return;
    }
    fill_row(frame.rows[slot], slot, shape_of(frame), *scene_, points_);
    filled_ |= uint64_t{1} << slot;
}

ReadyScene SceneBuilder::finish(const _TQ_RANGE_T& frame)
{
    ReadyScene ready;
    if (!scene_) {
        return ready;
    }
    const scene_shape shape = shape_of(frame);
    for (std::size_t r = 0; r < shape.rows; ++r) {
        if (r >= static_cast<std::size_t>(FrameAssembler::kMaxRows) || (filled_ & (uint64_t{1} << r)) == 0) {
            fill_row(frame.rows[r], r, shape, *scene_, points_);
        }
    }
    filled_ = 0;
    ready.scene = std::move(scene_);
    ready.points = points_;
    return ready;
}

}  // namespace TQZ
