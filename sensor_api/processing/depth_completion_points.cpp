#include "processing/depth_completion_points.hpp"

#include "processing/cpu_dispatch.hpp"
#include "processing/widened_points.hpp"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace TQZ {

// The directions of the widened points with their sines and cosines, and
// the measured directions they were made from.
struct widened_direction_table {
    int32_t rows = 0;
    int32_t cols = 0;  // columns before widening
    // Azimuth and elevation of each measured pixel, rows x cols pairs.
    std::vector<double> measured;
    // Row r: the inserted directions at r * 4 * cols and the sines and
    // cosines at r * 12 * cols, laid out as widened_columns::inserted and
    // widened_columns::trig.
    std::vector<float> inserted;
    std::vector<double> trig;
};

namespace {

using point_t = VELKOR::LidarTQ::point_t;

constexpr size_t kMaxCols = depth_completion_points::kMaxCols;
constexpr size_t kKinds = widened_columns::kKinds;
constexpr size_t kRowTrig = kTrigArrays * kKinds;  // arrays per row
static_assert(kMaxCols == widened_columns::kMaxCols, "row buffers hold one sensor row");

// The inserted directions of a row from its measured ones, laid out as
// widened_columns::inserted.
void interpolate_row(const point_t* measured, size_t cols, float* inserted)
{
    float* azimuth_left = inserted;
    float* azimuth_right = inserted + cols;
    float* elevation_left = inserted + 2 * cols;
    float* elevation_right = inserted + 3 * cols;
    for (size_t c = 0; c < cols; ++c) {
        const point_t& p = measured[c];
        // The interpolated angles are 32-bit values held in doubles.
        azimuth_left[c] = c == 0 ? 0.0f
                                 : static_cast<float>(module_depth_completion::interpolate_angle(
                                       p.azimuth, measured[c - 1].azimuth));
        elevation_left[c] = c == 0 ? 0.0f
                                   : static_cast<float>(module_depth_completion::interpolate_angle(
                                         p.elevation, measured[c - 1].elevation));
        azimuth_right[c] = c + 1 == cols ? 0.0f
                                         : static_cast<float>(module_depth_completion::interpolate_angle(
                                               p.azimuth, measured[c + 1].azimuth));
        elevation_right[c] = c + 1 == cols ? 0.0f
                                           : static_cast<float>(module_depth_completion::interpolate_angle(
                                                 p.elevation, measured[c + 1].elevation));
    }
}

// Sines and cosines of a row's widened directions, laid out as
// widened_columns::trig.
void compute_trig(const point_t* measured, const float* inserted, size_t cols, double* trig)
{
    for (size_t k = 0; k < kKinds; ++k) {
        for (size_t c = 0; c < cols; ++c) {
            double azimuth = measured[c].azimuth;
            double elevation = measured[c].elevation;
            if (k != 1) {
                const size_t side = k == 0 ? 0 : 1;
                azimuth = static_cast<double>(inserted[side * cols + c]);
                elevation = static_cast<double>(inserted[(2 + side) * cols + c]);
            }
            trig[(0 * kKinds + k) * cols + c] = std::cos(azimuth);
            trig[(1 * kKinds + k) * cols + c] = std::sin(azimuth);
            trig[(2 * kKinds + k) * cols + c] = std::cos(elevation);
            trig[(3 * kKinds + k) * cols + c] = std::sin(elevation);
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
    table->inserted.resize(rows * kInsertedArrays * cols);
    table->trig.resize(rows * kRowTrig * cols);
    for (size_t r = 0; r < rows; ++r) {
        const point_t* row = measured + r * cols;
        for (size_t c = 0; c < cols; ++c) {
            table->measured[2 * (r * cols + c)] = row[c].azimuth;
            table->measured[2 * (r * cols + c) + 1] = row[c].elevation;
        }
        float* inserted = table->inserted.data() + r * kInsertedArrays * cols;
        interpolate_row(row, cols, inserted);
        compute_trig(row, inserted, cols, table->trig.data() + r * kRowTrig * cols);
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
void fill_run(const module_depth_completion& completion, const float* near_range, const float* far_range,
              const uint16_t* near_intensity, const uint16_t* far_intensity, const uint32_t* near_ambient,
              const uint32_t* own_ambient, size_t count, float* depth, uint16_t* intensity)
{
    const float range_gap = completion.range_gap;
    const float intensity_gap = completion.intensity_gap;
    const float ambient_gap = completion.ambient_gap;
    for (size_t k = 0; k < count; ++k) {
        const module_depth_completion::inserted_pixel p =
            module_depth_completion::fill_pixel(near_range[k], far_range[k], near_intensity[k], far_intensity[k],
                                                near_ambient[k], own_ambient[k], range_gap, intensity_gap, ambient_gap);
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
    float depth[kKinds * kMaxCols];  // widened, interleaved
    uint16_t intensity[kKinds * kMaxCols];
    // The directions of a row the table does not hold.
    float inserted[kInsertedArrays * kMaxCols];
    double trig[kRowTrig * kMaxCols];
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
VELKOR_HOT_PASS bool depth_completion_points::process(
    scene_t& scene, const module_depth_completion& completion, const module_gen_pointcloud& points)
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
    bool stale = !table_fits;
    // Some 40 KB: on the stack of the thread that runs the chain, which
    // keeps the pass free of allocations and its row in the first-level cache.
    row_work row;
    widened_columns& w = row.columns;

    // Copies old row r and widens its depth and intensity; finds the
    // directions and their sines and cosines.
    auto prepare = [&](size_t r) {
        const size_t old_base = r * cols;
        std::memcpy(w.depth[1], scene.depth.data() + old_base, cols * sizeof(float));
        std::memcpy(w.intensity[1], scene.intensity.data() + old_base, cols * sizeof(uint16_t));
        const point_t* old_points = scene.pointcloud.data() + old_base;
        // Widened row r starts before old row r ends only for the first row.
        if (r * width < old_base + cols) {
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

        // The inserted pixels left and right of each measured column, as two
        // runs over the gaps between neighbours (straight loops the compiler
        // turns into vector code).
        const size_t gaps = cols - 1;
        fill_run(completion, w.depth[1] + 1, w.depth[1], w.intensity[1] + 1, w.intensity[1], row.ambient[1] + 1,
                 row.ambient[0] + 1, gaps, w.depth[0] + 1, w.intensity[0] + 1);
        fill_run(completion, w.depth[1], w.depth[1] + 1, w.intensity[1], w.intensity[1] + 1, row.ambient[1],
                 row.ambient[2], gaps, w.depth[2], w.intensity[2]);
        w.depth[0][0] = 0.0f;
        w.intensity[0][0] = 0;
        w.depth[2][cols - 1] = 0.0f;
        w.intensity[2][cols - 1] = 0;
        for (size_t c = 0; c < cols; ++c) {
            for (size_t k = 0; k < kKinds; ++k) {
                row.depth[kKinds * c + k] = w.depth[k][c];
                row.intensity[kKinds * c + k] = w.intensity[k][c];
            }
        }

        // The table's directions when it was made from these very measured
        // ones (the inserted ones follow from them); computed otherwise.
        if (table_fits && same_directions(old_points, table->measured.data() + 2 * old_base, cols)) {
            w.inserted = table->inserted.data() + r * kInsertedArrays * cols;
            w.trig = table->trig.data() + r * kRowTrig * cols;
        } else {
            interpolate_row(old_points, cols, row.inserted);
            compute_trig(old_points, row.inserted, cols, row.trig);
            w.inserted = row.inserted;
            w.trig = row.trig;
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
    const size_t beyond = (old_count + width - 1) / width;  // the first row wholly beyond
    for (size_t r = beyond; r < rows; ++r) {
        const size_t base = r * width;
        scene.pointcloud.resize(base + width);
        prepare(r);
        std::memcpy(scene.depth.data() + base, row.depth, width * sizeof(float));
        std::memcpy(scene.intensity.data() + base, row.intensity, width * sizeof(uint16_t));
        write_widened_points(w, cols, 0, cols, light, scene.pointcloud.data() + base);
    }
    scene.pointcloud.resize(new_count);
    for (size_t r = beyond; r-- > 0;) {
        const size_t base = r * width;
        prepare(r);
        std::memcpy(scene.depth.data() + base, row.depth, width * sizeof(float));
        std::memcpy(scene.intensity.data() + base, row.intensity, width * sizeof(uint16_t));
        write_widened_points(w, cols, 0, cols, light, scene.pointcloud.data() + base);
    }

    // New directions (the first frame, other tables, or a caller's own
    // angles): remember them for the next frame.
    if (stale) {
        std::vector<point_t> measured(old_count);
        for (size_t i = 0; i < old_count; ++i) {
            measured[i] = scene.pointcloud[kKinds * i + 1];
        }
        table_.publish(make_table(measured.data(), rows, cols));
    }
    return true;
}

}  // namespace TQZ
