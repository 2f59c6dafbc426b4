#include "processing/depth_completion_points.hpp"

#include "processing/cpu_dispatch.hpp"
#include "processing/pixel_corrections.hpp"
#include "processing/widened_points.hpp"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace TQZ {

// The directions of the widened points with their sines and cosines, and
// the measured directions they were made from. Rows are held in the order
// the pass visits them (visit_order), so that a frame reads the table from
// the first byte to the last.
struct widened_direction_table {
    int32_t rows = 0;
    int32_t cols = 0;  // columns before widening
    // Azimuth and elevation of each measured pixel, cols pairs per row.
    std::vector<double> measured;
    std::vector<direction_group> groups;  // groups_per_row(cols) per row
};

namespace {

using point_t = VELKOR::LidarTQ::point_t;

constexpr size_t kMaxCols = depth_completion_points::kMaxCols;
constexpr size_t kKinds = widened_columns::kKinds;
constexpr size_t kLanes = direction_group::kLanes;
static_assert(kMaxCols == widened_columns::kMaxCols, "row buffers hold one sensor row");

size_t groups_per_row(size_t cols) { return (cols + kLanes - 1) / kLanes; }

// The first widened row that lies wholly beyond the old values.
size_t first_row_beyond(size_t rows) { return (rows + kKinds - 1) / kKinds; }

// Where the pass visits row r: the rows from first_row_beyond upwards, then
// the ones below it downwards.
size_t visit_order(size_t r, size_t rows)
{
    const size_t beyond = first_row_beyond(rows);
    return r >= beyond ? r - beyond : (rows - beyond) + (beyond - 1 - r);
}

// The inserted directions of a row and the sines and cosines of all its
// widened directions, from the row's measured points.
void make_directions(const point_t* measured, size_t cols, direction_group* groups)
{
    for (size_t g = 0; g < groups_per_row(cols); ++g) {
        groups[g] = direction_group{};
    }
    for (size_t c = 0; c < cols; ++c) {
        direction_group& group = groups[c / kLanes];
        const size_t lane = c % kLanes;
        const point_t& p = measured[c];
        // The interpolated angles are 32-bit values held in doubles.
        float left_azimuth = 0.0f;
        float left_elevation = 0.0f;
        float right_azimuth = 0.0f;
        float right_elevation = 0.0f;
        if (c > 0) {
            left_azimuth =
                static_cast<float>(module_depth_completion::interpolate_angle(p.azimuth, measured[c - 1].azimuth));
            left_elevation = static_cast<float>(
                module_depth_completion::interpolate_angle(p.elevation, measured[c - 1].elevation));
        }
        if (c + 1 < cols) {
            right_azimuth =
                static_cast<float>(module_depth_completion::interpolate_angle(p.azimuth, measured[c + 1].azimuth));
            right_elevation = static_cast<float>(
                module_depth_completion::interpolate_angle(p.elevation, measured[c + 1].elevation));
        }
        group.inserted[0][0][lane] = left_azimuth;
        group.inserted[0][1][lane] = left_elevation;
        group.inserted[1][0][lane] = right_azimuth;
        group.inserted[1][1][lane] = right_elevation;
        const double azimuth[kKinds] = {static_cast<double>(left_azimuth), p.azimuth,
                                        static_cast<double>(right_azimuth)};
        const double elevation[kKinds] = {static_cast<double>(left_elevation), p.elevation,
                                          static_cast<double>(right_elevation)};
        for (size_t k = 0; k < kKinds; ++k) {
            group.trig[k][0][lane] = std::cos(azimuth[k]);
            group.trig[k][1][lane] = std::sin(azimuth[k]);
            group.trig[k][2][lane] = std::cos(elevation[k]);
            group.trig[k][3][lane] = std::sin(elevation[k]);
        }
    }
}

// The table of the directions of a scene's rows before widening.
std::shared_ptr<const widened_direction_table> make_table(const point_t* measured, size_t rows, size_t cols)
{
    auto table = std::make_shared<widened_direction_table>();
    table->rows = static_cast<int32_t>(rows);
    table->cols = static_cast<int32_t>(cols);
    table->measured.resize(rows * cols * 2);
    table->groups.resize(rows * groups_per_row(cols));
    for (size_t r = 0; r < rows; ++r) {
        const size_t at = visit_order(r, rows);
        const point_t* row = measured + r * cols;
        for (size_t c = 0; c < cols; ++c) {
            table->measured[2 * (at * cols + c)] = row[c].azimuth;
            table->measured[2 * (at * cols + c) + 1] = row[c].elevation;
        }
        make_directions(row, cols, table->groups.data() + at * groups_per_row(cols));
    }
    return table;
}

// True when the measured directions of a row are bit for bit those of the
// table's row (pairs of azimuth and elevation).
bool same_directions(const point_t* measured, const double* table, size_t cols)
{
    uint64_t differ = 0;
    for (size_t c = 0; c < cols; ++c) {
        uint64_t azimuth, elevation, table_azimuth, table_elevation;
        std::memcpy(&azimuth, &measured[c].azimuth, sizeof azimuth);
        std::memcpy(&elevation, &measured[c].elevation, sizeof elevation);
        std::memcpy(&table_azimuth, table + 2 * c, sizeof table_azimuth);
        std::memcpy(&table_elevation, table + 2 * c + 1, sizeof table_elevation);
        differ |= (azimuth ^ table_azimuth) | (elevation ^ table_elevation);
    }
    return differ == 0;
}

// Fills a run of inserted pixels from their nearer and farther neighbours.
void fill_run(float range_gap, const module_depth_completion::gap_limits& limits, const float* near_range,
              const float* far_range, const uint16_t* near_intensity, const uint16_t* far_intensity,
              const uint32_t* near_ambient, const uint32_t* own_ambient, size_t count, float* depth,
              uint16_t* intensity)
{
    for (size_t k = 0; k < count; ++k) {
        const module_depth_completion::inserted_pixel p =
            module_depth_completion::fill_pixel(near_range[k], far_range[k], near_intensity[k], far_intensity[k],
                                                near_ambient[k], own_ambient[k], range_gap, limits);
        depth[k] = p.depth;
        intensity[k] = p.intensity;
    }
}

// One row on its way from the old layout to the widened one, on the caller's
// stack: the old values are copied here first, so that the widened row may
// then overwrite them in the scene.
struct row_work {
    widened_columns columns;
    uint32_t ambient[kKinds][kMaxCols];
    // The directions of a row the table does not hold.
    direction_group directions[widened_columns::kMaxGroups];
    // The old points of a row that its widened row overwrites.
    point_t measured[kMaxCols];
};

}  // namespace

// Built twice, for AVX2 and for the x86-64 baseline, and chosen at load time
// by the processor: with everything it calls inlined (flatten), the runs of
// pixels become 8-wide vector code where AVX2 is there. Neither build
// contracts a multiply and an add into one rounding (AVX2 alone brings no
// FMA, and the file is compiled with -ffp-contract=off), so both give the
// same bits.
VELKOR_HOT_PASS bool depth_completion_points::process(scene_t& scene, const module_depth_completion& completion,
                                                      const module_gen_pointcloud& points,
                                                      const pixel_corrections* corrections,
                                                      const point_t* measured)
{
    // Exactly the scenes on which completion succeeds and point generation
    // then has a full cloud; anything unusual goes the module-by-module way.
    if (!completion.enabled || scene.rows <= 0 || scene.cols <= 0 || scene.cols > kMaxCols) {
        return false;
    }
    const size_t rows = static_cast<size_t>(scene.rows);
    const size_t cols = static_cast<size_t>(scene.cols);
    const size_t width = kKinds * cols;
    const size_t old_count = rows * cols;
    const size_t new_count = rows * width;
    if (scene.depth.size() != old_count || scene.intensity.size() != old_count ||
        scene.pointcloud.size() != old_count || scene.ambient.size() < new_count) {
        return false;
    }

    const auto table = table_.get();
    const bool table_fits = table && table->rows == scene.rows && static_cast<size_t>(table->cols) == cols;
    const float light = points.half_light_speed;
    const float range_gap = completion.range_gap;
    const module_depth_completion::gap_limits limits =
        module_depth_completion::limits_for(completion.intensity_gap, completion.ambient_gap);
    bool stale = !table_fits;
    // Some 40 KB: on the stack of the thread that runs the chain, which
    // keeps the pass free of allocations and its row in the first-level cache.
    row_work row;
    widened_columns& w = row.columns;

    // Copies old row r and widens its depth and intensity; finds the
    // directions and their sines and cosines.
    auto prepare = [&](size_t r) {
        const size_t old_base = r * cols;
        // Loops rather than memcpy: GCC expands a copy of unknown length
        // inline as rep movsq, which is slow to start for rows this short.
        const float* old_depth = scene.depth.data() + old_base;
        const uint16_t* old_intensity = scene.intensity.data() + old_base;
        for (size_t c = 0; c < cols; ++c) {
            w.depth[1][c] = old_depth[c];
            w.intensity[1][c] = old_intensity[c];
        }
        const point_t* old_points = (measured != nullptr ? measured : scene.pointcloud.data()) + old_base;
        // Widened row r starts before old row r ends only for the first row.
        if (measured == nullptr && r * width < old_base + cols) {
            std::memcpy(row.measured, old_points, cols * sizeof(point_t));
            old_points = row.measured;
        }
        w.measured = old_points;
        const uint32_t* ambient = scene.ambient.data() + r * width;
        for (size_t c = 0; c < cols; ++c) {
            for (size_t k = 0; k < kKinds; ++k) {
                row.ambient[k][c] = ambient[kKinds * c + k];
            }
        }
        // The corrections of the row's measured depth; the widened row
        // replaces the old one, so only the copy here needs them.
        if (corrections) {
            uint32_t level[kMaxCols];
            pixel_corrections::levels(row.ambient[0], row.ambient[1], row.ambient[2], cols, level);
            corrections->apply(level, w.intensity[1], w.depth[1], old_base, cols);
        }

        // The inserted pixels left and right of each measured column, as two
        // runs over the gaps between neighbours (straight loops the compiler
        // turns into vector code).
        const size_t gaps = cols - 1;
        fill_run(range_gap, limits, w.depth[1] + 1, w.depth[1], w.intensity[1] + 1, w.intensity[1], row.ambient[1] + 1,
                 row.ambient[0] + 1, gaps, w.depth[0] + 1, w.intensity[0] + 1);
        fill_run(range_gap, limits, w.depth[1], w.depth[1] + 1, w.intensity[1], w.intensity[1] + 1, row.ambient[1],
                 row.ambient[2], gaps, w.depth[2], w.intensity[2]);
        w.depth[0][0] = 0.0f;
        w.intensity[0][0] = 0;
        w.depth[2][cols - 1] = 0.0f;
        w.intensity[2][cols - 1] = 0;
        // The widened row's depth and intensity go straight to the scene:
        // the old values they overwrite have been copied above.
        float* depth = scene.depth.data() + r * width;
        uint16_t* intensity = scene.intensity.data() + r * width;
        for (size_t c = 0; c < cols; ++c) {
            for (size_t k = 0; k < kKinds; ++k) {
                depth[kKinds * c + k] = w.depth[k][c];
                intensity[kKinds * c + k] = w.intensity[k][c];
            }
        }

        // The table's directions when it was made from these very measured
        // ones (the inserted ones follow from them); computed otherwise.
        const size_t at = visit_order(r, rows);
        if (table_fits && same_directions(old_points, table->measured.data() + 2 * at * cols, cols)) {
            w.directions = table->groups.data() + at * groups_per_row(cols);
        } else {
            make_directions(old_points, cols, row.directions);
            w.directions = row.directions;
            stale = true;
        }
    };

    // Rows that lie wholly beyond the old values are made first, in order,
    // each as the cloud grows by it (the new records are zeroed, then
    // overwritten while still in the cache); then the rows within the old
    // values are written in place from the last to the first, each after its
    // old row has been copied: widened row r covers old rows 3r..3r+2, which
    // are done by then.
    scene.cols = static_cast<int32_t>(width);
    scene.depth.resize(new_count);
    scene.intensity.resize(new_count);
    scene.pointcloud.reserve(new_count);
    const size_t beyond = first_row_beyond(rows);
    for (size_t r = beyond; r < rows; ++r) {
        const size_t base = r * width;
        scene.pointcloud.resize(base + width);
        prepare(r);
        write_widened_points(w, cols, light, scene.pointcloud.data() + base);
    }
    scene.pointcloud.resize(new_count);
    for (size_t r = beyond; r-- > 0;) {
        const size_t base = r * width;
        prepare(r);
        write_widened_points(w, cols, light, scene.pointcloud.data() + base);
    }

    // New directions (the first frame, other tables, or a caller's own
    // angles): remember them for the next frame.
    if (stale) {
        std::vector<point_t> centres(old_count);
        for (size_t i = 0; i < old_count; ++i) {
            centres[i] = scene.pointcloud[kKinds * i + 1];
        }
        table_.publish(make_table(centres.data(), rows, cols));
    }
    return true;
}

}  // namespace TQZ
