#include "processing/depth_completion_points.hpp"

#include "processing/cpu_dispatch.hpp"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <iterator>

namespace TQZ {

// The direction of one widened point with its sines and cosines.
struct widened_direction {
    double azimuth;
    double elevation;
    double cos_azimuth;
    double sin_azimuth;
    double cos_elevation;
    double sin_elevation;
};

struct widened_direction_table {
    int32_t rows = 0;
    int32_t cols = 0;  // columns before widening
    std::vector<widened_direction> by_point;
};

namespace {

using point_t = VELKOR::LidarTQ::point_t;

constexpr size_t kMaxCols = depth_completion_points::kMaxCols;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::shared_ptr<const widened_direction_table> make_table(const scene_t& widened, size_t cols)
{
    auto table = std::make_shared<widened_direction_table>();
    table->rows = widened.rows;
    table->cols = static_cast<int32_t>(cols);
    const size_t count = static_cast<size_t>(widened.rows) * 3 * cols;
    table->by_point.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const point_t& p = widened.pointcloud[i];
        table->by_point[i] = {p.azimuth,           p.elevation,           std::cos(p.azimuth),
                              std::sin(p.azimuth), std::cos(p.elevation), std::sin(p.elevation)};
    }
    return table;
}

// The point of one widened pixel: x = (cos el * d) * cos az,
// y = (cos el * d) * sin az, z = sin el * d, with d in mm.
inline point_t make_point(double spare, double azimuth, double elevation, double cos_azimuth, double sin_azimuth,
                          double cos_elevation, double sin_elevation, float depth, uint16_t intensity, float light)
{
    const double d = static_cast<double>(depth * light);
    point_t p;
    p.spare = spare;
    p.azimuth = azimuth;
    p.elevation = elevation;
    p.x = (cos_elevation * d) * cos_azimuth;
    p.y = (cos_elevation * d) * sin_azimuth;
    p.z = sin_elevation * d;
    p.intensity = static_cast<double>(intensity);
    return p;
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
    float old_depth[kMaxCols];
    uint16_t old_intensity[kMaxCols];
    double azimuth[kMaxCols];
    double elevation[kMaxCols];
    uint32_t ambient_left[kMaxCols];
    uint32_t ambient_measured[kMaxCols];
    uint32_t ambient_right[kMaxCols];
    float left_depth[kMaxCols];
    uint16_t left_intensity[kMaxCols];
    float right_depth[kMaxCols];
    uint16_t right_intensity[kMaxCols];
    float depth[3 * kMaxCols];
    uint16_t intensity[3 * kMaxCols];
    double spare[3 * kMaxCols];
    // The table's directions of this row, when every measured direction of
    // the row matches them; null otherwise.
    const widened_direction* directions = nullptr;
};

// The points of a row whose directions the table holds, one by one: the row
// is appended to the cloud from this, so the cloud never grows by zeroed
// records that would be overwritten at once.
class known_row_points {
public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = point_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const point_t*;
    using reference = point_t;

    known_row_points(const row_work& row, float light, size_t j) : row_(&row), light_(light), j_(j) {}

    point_t operator*() const
    {
        const widened_direction& t = row_->directions[j_];
        return make_point(row_->spare[j_], t.azimuth, t.elevation, t.cos_azimuth, t.sin_azimuth, t.cos_elevation,
                          t.sin_elevation, row_->depth[j_], row_->intensity[j_], light_);
    }
    known_row_points& operator++()
    {
        ++j_;
        return *this;
    }
    known_row_points operator++(int)
    {
        known_row_points before = *this;
        ++j_;
        return before;
    }
    known_row_points& operator--()
    {
        --j_;
        return *this;
    }
    known_row_points& operator+=(difference_type n)
    {
        j_ = static_cast<size_t>(static_cast<difference_type>(j_) + n);
        return *this;
    }
    known_row_points operator+(difference_type n) const { return known_row_points(*this) += n; }
    point_t operator[](difference_type n) const { return *(*this + n); }
    bool operator<(const known_row_points& other) const { return j_ < other.j_; }
    difference_type operator-(const known_row_points& other) const
    {
        return static_cast<difference_type>(j_) - static_cast<difference_type>(other.j_);
    }
    bool operator==(const known_row_points& other) const { return j_ == other.j_; }
    bool operator!=(const known_row_points& other) const { return j_ != other.j_; }

private:
    const row_work* row_;
    float light_;
    size_t j_;
};

}  // namespace

// Built twice, for AVX2 and for the x86-64 baseline, and chosen at load time
// by the processor: with everything it calls inlined (flatten), the runs of
// pixels and points become 8- and 4-wide vector code where AVX2 is there.
// Neither build contracts a multiply and an add into one rounding (AVX2 alone
// brings no FMA, and the file is compiled with -ffp-contract=off), so both
// give the same bits.
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
    const size_t width = 3 * cols;
    const size_t old_count = rows * cols;
    const size_t new_count = rows * width;
    if (scene.depth.size() != old_count || scene.intensity.size() != old_count ||
        scene.pointcloud.size() != old_count || scene.ambient.size() < new_count) {
        return false;
    }

    const auto table = table_.get();
    const bool table_fits = table && table->rows == scene.rows && static_cast<size_t>(table->cols) == cols;
    const float light = points.half_light_speed;
    bool stale = false;
    row_work row;
    // Points of rows computed directly; only frames with new directions need it.
    std::vector<point_t> computed;

    // Copies old row r and widens its depth and intensity.
    auto prepare = [&](size_t r) {
        const size_t old_base = r * cols;
        std::memcpy(row.old_depth, scene.depth.data() + old_base, cols * sizeof(float));
        std::memcpy(row.old_intensity, scene.intensity.data() + old_base, cols * sizeof(uint16_t));
        const point_t* old_points = scene.pointcloud.data() + old_base;
        const widened_direction* directions = table_fits ? table->by_point.data() + r * width : nullptr;
        bool known = directions != nullptr;
        for (size_t c = 0; c < cols; ++c) {
            const point_t& p = old_points[c];
            row.azimuth[c] = p.azimuth;
            row.elevation[c] = p.elevation;
            row.spare[3 * c] = 0.0;
            row.spare[3 * c + 1] = p.spare;
            row.spare[3 * c + 2] = 0.0;
            if (known) {
                const widened_direction& t = directions[3 * c + 1];
                known = same_bits(t.azimuth, p.azimuth) && same_bits(t.elevation, p.elevation);
            }
        }
        row.directions = known ? directions : nullptr;

        // The inserted pixels left and right of each measured column, as two
        // runs over the gaps between neighbours (straight loops the compiler
        // turns into vector code), then spread over the widened row.
        const uint32_t* ambient = scene.ambient.data() + r * width;
        for (size_t c = 0; c < cols; ++c) {
            row.ambient_left[c] = ambient[3 * c];
            row.ambient_measured[c] = ambient[3 * c + 1];
            row.ambient_right[c] = ambient[3 * c + 2];
        }
        const size_t gaps = cols - 1;
        fill_run(completion, row.old_depth + 1, row.old_depth, row.old_intensity + 1, row.old_intensity,
                 row.ambient_measured + 1, row.ambient_left + 1, gaps, row.left_depth + 1, row.left_intensity + 1);
        fill_run(completion, row.old_depth, row.old_depth + 1, row.old_intensity, row.old_intensity + 1,
                 row.ambient_measured, row.ambient_right, gaps, row.right_depth, row.right_intensity);
        row.left_depth[0] = 0.0f;
        row.left_intensity[0] = 0;
        row.right_depth[cols - 1] = 0.0f;
        row.right_intensity[cols - 1] = 0;
        for (size_t c = 0; c < cols; ++c) {
            row.depth[3 * c] = row.left_depth[c];
            row.intensity[3 * c] = row.left_intensity[c];
            row.depth[3 * c + 1] = row.old_depth[c];
            row.intensity[3 * c + 1] = row.old_intensity[c];
            row.depth[3 * c + 2] = row.right_depth[c];
            row.intensity[3 * c + 2] = row.right_intensity[c];
        }
    };

    // The points of a prepared row whose directions are not in the table:
    // inserted directions interpolated, sines and cosines computed.
    auto compute_points = [&](point_t* out) {
        stale = true;
        for (size_t j = 0; j < width; ++j) {
            const size_t c = j / 3;
            double azimuth = 0.0;
            double elevation = 0.0;
            if (j % 3 == 1) {
                azimuth = row.azimuth[c];
                elevation = row.elevation[c];
            } else if (j % 3 == 0 && c > 0) {
                azimuth = module_depth_completion::interpolate_angle(row.azimuth[c], row.azimuth[c - 1]);
                elevation = module_depth_completion::interpolate_angle(row.elevation[c], row.elevation[c - 1]);
            } else if (j % 3 == 2 && c + 1 < cols) {
                azimuth = module_depth_completion::interpolate_angle(row.azimuth[c], row.azimuth[c + 1]);
                elevation = module_depth_completion::interpolate_angle(row.elevation[c], row.elevation[c + 1]);
            }
            out[j] = make_point(row.spare[j], azimuth, elevation, std::cos(azimuth), std::sin(azimuth),
                                std::cos(elevation), std::sin(elevation), row.depth[j], row.intensity[j], light);
        }
    };

    // Writes points [from, to) of the prepared row at `out` (the cloud's
    // record of widened index r * width + from).
    auto write_points = [&](point_t* out, size_t from, size_t to) {
        if (row.directions) {
            for (known_row_points p(row, light, from), end(row, light, to); p != end; ++p, ++out) {
                *out = *p;
            }
        } else {
            computed.resize(width);
            compute_points(computed.data());
            std::memcpy(out, computed.data() + from, (to - from) * sizeof(point_t));
        }
    };

    // Rows that lie wholly or partly beyond the old values are appended in
    // order (their old rows are not touched by appending); then the rows
    // within the old values are written in place from the last to the first,
    // each after its old row has been copied: widened row r covers old rows
    // 3r..3r+2, which are done by then.
    scene.cols = static_cast<int32_t>(width);
    scene.depth.reserve(new_count);
    scene.intensity.reserve(new_count);
    scene.pointcloud.reserve(new_count);
    const size_t split = old_count / width;  // the row that holds index old_count
    for (size_t r = split; r < rows; ++r) {
        prepare(r);
        const size_t from = old_count > r * width ? old_count - r * width : 0;
        scene.depth.insert(scene.depth.end(), row.depth + from, row.depth + width);
        scene.intensity.insert(scene.intensity.end(), row.intensity + from, row.intensity + width);
        if (row.directions) {
            scene.pointcloud.insert(scene.pointcloud.end(), known_row_points(row, light, from),
                                    known_row_points(row, light, width));
        } else {
            computed.resize(width);
            compute_points(computed.data());
            scene.pointcloud.insert(scene.pointcloud.end(), computed.data() + from, computed.data() + width);
        }
    }
    for (size_t r = split + 1; r-- > 0;) {
        const size_t base = r * width;
        if (base >= old_count) {
            continue;
        }
        const size_t to = old_count - base < width ? old_count - base : width;
        prepare(r);
        std::memcpy(scene.depth.data() + base, row.depth, to * sizeof(float));
        std::memcpy(scene.intensity.data() + base, row.intensity, to * sizeof(uint16_t));
        write_points(scene.pointcloud.data() + base, 0, to);
    }

    // New directions (the first frame, other tables, or a caller's own
    // angles): remember them for the next frame.
    if (stale || !table_fits) {
        table_.publish(make_table(scene, cols));
    }
    return true;
}

}  // namespace TQZ
