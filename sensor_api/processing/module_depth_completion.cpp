#include "processing/module_depth_completion.hpp"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace TQZ {

namespace {

// How many of the distances 0, 1, ..., count - 1 pass a test that holds up
// to some distance and fails beyond it.
template <class Passes>
uint64_t passing(uint64_t count, Passes passes)
{
    uint64_t low = 0;
    uint64_t high = count;
    while (low < high) {
        const uint64_t mid = low + (high - low) / 2;
        if (passes(mid)) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return low;
}

}  // namespace

module_depth_completion::gap_limits module_depth_completion::limits_for(float intensity_gap, float ambient_gap)
{
    // Intensity spreads lie in 0..65535.
    const uint64_t spreads = passing(65536, [intensity_gap](uint64_t spread) {
        return static_cast<float>(static_cast<int32_t>(spread)) < intensity_gap;
    });
    const uint64_t steps = passing(uint64_t{1} << 32, [ambient_gap](uint64_t step) {
        return static_cast<float>(static_cast<uint32_t>(step)) < ambient_gap;
    });
    gap_limits limits;
    limits.spread_limit = static_cast<int32_t>(spreads) - 1;
    limits.step_limit = steps == 0 ? 0 : static_cast<uint32_t>(steps - 1);
    limits.step_limit_count = steps == 0 ? 0 : 1;
    return limits;
}

namespace {

using point_t = VELKOR::LidarTQ::point_t;

point_t inserted_point(const point_t& nearer, const point_t& farther)
{
    point_t p;
    p.elevation = module_depth_completion::interpolate_angle(nearer.elevation, farther.elevation);
    p.azimuth = module_depth_completion::interpolate_angle(nearer.azimuth, farther.azimuth);
    return p;
}

// Spreads the first R * C values of a row-major R x C image over the measured
// columns of an R x 3C image, in place: walking backwards, every write lands
// at or beyond the element being read, so no unread value is overwritten.
template <class T>
void widen_in_place(std::vector<T>& image, size_t rows, size_t cols)
{
    const size_t width = 3 * cols;
    image.resize(rows * width);
    T* data = image.data();
    for (size_t r = rows; r-- > 0;) {
        for (size_t c = cols; c-- > 0;) {
            const T value = data[r * cols + c];
            T* out = data + r * width + 3 * c;
            out[2] = T{};
            out[1] = value;
            out[0] = T{};
        }
    }
}

}  // namespace

bool module_depth_completion::process(scene_t& scene)
{
    if (!enabled || scene.rows < 0 || scene.cols < 0 || scene.cols > INT32_MAX / 3) {
        return false;
    }
    const size_t rows = static_cast<size_t>(scene.rows);
    const size_t cols = static_cast<size_t>(scene.cols);
    const size_t width = 3 * cols;
    const size_t old_count = rows * cols;
    const size_t new_count = rows * width;
    // Everything read below must exist: the widened ambient image, and the old
    // depth, intensity and point records (a short point cloud would be read
    // past its end just like a short depth image).
    if (scene.ambient.size() < new_count || scene.depth.size() < old_count ||
        scene.intensity.size() < old_count || scene.pointcloud.size() < old_count) {
        return false;
    }
    scene.cols = static_cast<int32_t>(width);

    // Point cloud: the measured records move to their new columns, inserted
    // records are zero but for directions interpolated from the neighbours.
    // Walking backwards in place, the left neighbour (c - 1) is still at its
    // old index and the right one (c + 1) already at its new index.
    scene.pointcloud.resize(new_count);
    point_t* points = scene.pointcloud.data();
    for (size_t r = rows; r-- > 0;) {
        for (size_t c = cols; c-- > 0;) {
            const point_t measured = points[r * cols + c];
            point_t* out = points + r * width + 3 * c;
            out[2] = c + 1 < cols ? inserted_point(measured, out[4]) : point_t{};
            out[1] = measured;
            out[0] = c > 0 ? inserted_point(measured, points[r * cols + c - 1]) : point_t{};
        }
    }

    widen_in_place(scene.depth, rows, cols);
    widen_in_place(scene.intensity, rows, cols);

    float* depth = scene.depth.data();
    uint16_t* intensity = scene.intensity.data();
    const uint32_t* ambient = scene.ambient.data();
    const gap_limits limits = limits_for(intensity_gap, ambient_gap);
    auto fill = [&](size_t j, size_t n, size_t f) {
        const inserted_pixel p = fill_pixel(depth[n], depth[f], intensity[n], intensity[f], ambient[n], ambient[j],
                                            range_gap, limits);
        depth[j] = p.depth;
        intensity[j] = p.intensity;
    };
    for (size_t r = 0; r < rows; ++r) {
        const size_t base = r * width;
        for (size_t c = 0; c < cols; ++c) {
            const size_t measured = base + 3 * c + 1;
            if (c > 0) {
                fill(measured - 1, measured, measured - 3);
            }
            if (c + 1 < cols) {
                fill(measured + 1, measured, measured + 3);
            }
        }
    }
    return true;
}

}  // namespace TQZ
