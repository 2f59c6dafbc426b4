#include "sim_room.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "processing/direction_tables.hpp"
#include "processing/module_offset_calibration.hpp"

namespace VELKOR {
namespace SIM {

namespace {

constexpr double kHalfLightSpeed = 149.896225;  // mm per ns of round-trip time

// Distance along the unit ray `dir` to the box, or infinity when missed.
double hit_box(const RoomBox& box, const double dir[3])
{
    double near_t = 0.0;
    double far_t = INFINITY;
    for (int a = 0; a < 3; ++a) {
        if (std::fabs(dir[a]) < 1e-12) {
            if (box.min[a] > 0.0 || box.max[a] < 0.0) {
                return INFINITY;
            }
            continue;
        }
        double t0 = box.min[a] / dir[a];
        double t1 = box.max[a] / dir[a];
        if (t0 > t1) {
            std::swap(t0, t1);
        }
        near_t = std::max(near_t, t0);
        far_t = std::min(far_t, t1);
        if (near_t > far_t) {
            return INFINITY;
        }
    }
    return near_t > 0.0 ? near_t : INFINITY;
}

// Distance to the plane coordinate[axis] == value along dir, if ahead.
double hit_plane(int axis, double value, const double dir[3])
{
    if (std::fabs(dir[axis]) < 1e-12) {
        return INFINITY;
    }
    const double t = value / dir[axis];
    return t > 0.0 ? t : INFINITY;
}

}  // namespace

double TimeModel::walk_correction(uint16_t intensity) const
{
    if (walk_error.size() < 6) {
        return 0.0;
    }
    // Same evaluation as the host, with the coefficients rounded to float.
    const double a = static_cast<float>(walk_error[0]);
    const double b = static_cast<float>(walk_error[1]);
    const double c = static_cast<float>(walk_error[2]);
    const double d = static_cast<float>(walk_error[3]);
    const double m = static_cast<float>(walk_error[4]);
    const double s = static_cast<float>(walk_error[5]);
    const double z = (intensity - m) / s;
    return a * std::exp(b * z) + c * std::exp(d * z);
}

double TimeModel::raw_ns(double true_ns, int row, int col, uint16_t intensity) const
{
    return raw_ns_corrected(true_ns, row, col, walk_correction(intensity));
}

double TimeModel::raw_ns_corrected(double true_ns, int row, int col, double correction) const
{
    double raw = true_ns + global_offset_mm / kHalfLightSpeed;
    if (offset_table) {
        raw += offset_table(row, col);
    }
    return raw - correction;
}

// The six walk-error coefficients of a settings document; empty when it does
// not hold six numbers (the host then corrects no walk error either).
static std::vector<double> served_walk_error(const nlohmann::json& settings)
{
    const nlohmann::json& doc = settings.is_null() ? SimSensor::default_settings() : settings;
    std::vector<double> out;
    if (!doc.is_object() || !doc.contains("PL_Reg") || !doc["PL_Reg"].is_object()) {
        return out;
    }
    const nlohmann::json& pl_reg = doc["PL_Reg"];
    if (!pl_reg.contains("walk_err_param") || !pl_reg["walk_err_param"].is_array()) {
        return out;
    }
    for (const nlohmann::json& element : pl_reg["walk_err_param"]) {
        if (!element.is_number()) {
            return {};
        }
        out.push_back(element.get<double>());
    }
    if (out.size() != 6) {
        out.clear();
    }
    return out;
}

SimRoom::SimRoom(const SimOptions& options) : options_(options)
{
    encoder.slots_field = options.slots_field;
    time_model.walk_error = served_walk_error(options.settings);
    // The residual delays the host's offset calibration removes, summed in
    // 32 bits as the host's table holds them.
    time_model.offset_table = [](int row, int col) {
        return static_cast<double>(TQZ::offset_row_term(row) + TQZ::offset_column_term(col));
    };
    const TQZ::direction_table_set& directions = TQZ::direction_tables();
    rays_.resize(static_cast<std::size_t>(kFrameRows) * kFrameCols * 3);
    for (int i = 0; i < kFrameRows * kFrameCols; ++i) {
        const double az = directions.azimuth[i];
        const double el = directions.elevation[i];
        rays_[3 * i] = std::cos(el) * std::cos(az);
        rays_[3 * i + 1] = std::cos(el) * std::sin(az);
        rays_[3 * i + 2] = std::sin(el);
    }
}

std::vector<RoomBox> SimRoom::boxes_at(double t) const
{
    std::vector<RoomBox> boxes = {
        {{2800.0, 600.0, kFloorZ}, {3600.0, 1400.0, kFloorZ + 900.0}},
        {{4000.0, -2000.0, kFloorZ}, {4600.0, -1000.0, kFloorZ + 1400.0}},
    };
    // A person-sized object walking across the room, 4 s per round trip.
    const double y = 1500.0 * std::sin(2.0 * M_PI * t / 4.0);
    boxes.push_back({{2000.0, y - 200.0, kFloorZ}, {2400.0, y + 200.0, kFloorZ + 1700.0}});
    return boxes;
}

double SimRoom::distance_mm(int row, int col, double t) const { return cast(row, col, boxes_at(t)); }

double SimRoom::cast(int row, int col, const std::vector<RoomBox>& boxes) const
{
    const double* dir = &rays_[3 * (static_cast<std::size_t>(row) * kFrameCols + col)];

    double best = std::min({hit_plane(2, kFloorZ, dir), hit_plane(2, kCeilingZ, dir),
                            hit_plane(0, kBackWallX, dir), hit_plane(1, kLeftWallY, dir),
                            hit_plane(1, kRightWallY, dir)});
    for (const auto& box : boxes) {
        best = std::min(best, hit_box(box, dir));
    }
    return best <= kMaxRangeMm ? best : 0.0;
}

EncoderFrame SimRoom::render(uint32_t frame_number) const
{
    EncoderFrame frame;
    frame.returns = std::max(1, options_.returns);
    frame.ambient_words = options_.ambient_words == 576 ? 576 : 192;
    frame.sequence = frame_number;
    frame.allocate();
    const double fps = options_.fps > 0.0 ? options_.fps : 10.0;
    const double t = frame_number / fps;
    const std::vector<RoomBox> boxes = boxes_at(t);
    // The walk correction depends on the intensity alone, and the exp pair
    // behind it is most of a frame's cost at 100 fps: each intensity value
    // is corrected once per frame (NaN marks one not met yet).
    std::vector<double> walk(4001, std::numeric_limits<double>::quiet_NaN());

    for (int row = 0; row < kFrameRows; ++row) {
        for (int col = 0; col < kFrameCols; ++col) {
            const double mm = cast(row, col, boxes);
            if (mm <= 0.0) {
                continue;
            }
            // Echo strength falls with the square of the distance, strong
            // enough that every surface of the room clears the host's
            // ambient-dependent threshold (about 125 counts in the brightest
            // columns): about 540 at the back wall, 50 at the range limit.
            const double echo = 2.0e10 / (mm * mm + 1.0e6);
            const auto intensity = static_cast<uint16_t>(std::clamp(echo, 40.0, 4000.0));
            double& correction = walk[intensity];
            if (std::isnan(correction)) {
                correction = time_model.walk_correction(intensity);
            }
            const double raw = time_model.raw_ns_corrected(mm / kHalfLightSpeed, row, col, correction);
            const double sixteenths = std::round(raw * 16.0);
            const std::size_t k = frame.index(row, col);
            frame.depth[k] = static_cast<uint32_t>(std::clamp(sixteenths, 1.0, 1048575.0));
            frame.intensity[k] = intensity;
        }
    }
    // Ambient light: a bright band in the middle columns, darker at the top.
    // The two waves depend on the column alone, so they are taken once per
    // column, not once per word.
    std::vector<double> band(static_cast<std::size_t>(frame.ambient_words));
    std::vector<double> wave(band.size());
    for (int j = 0; j < frame.ambient_words; ++j) {
        const double x = static_cast<double>(j) / frame.ambient_words;
        band[j] = 2500.0 * std::sin(M_PI * x);
        wave[j] = 300.0 * std::sin(2.0 * M_PI * (x + t / 8.0));
    }
    for (int row = 0; row < kFrameRows; ++row) {
        for (int j = 0; j < frame.ambient_words; ++j) {
            const double level = 1500.0 + band[j] + 40.0 * row + wave[j];
            frame.ambient[static_cast<std::size_t>(row) * frame.ambient_words + j] =
                static_cast<uint32_t>(std::clamp(level, 0.0, 16777215.0));
        }
    }
    return frame;
}

bool SimRoom::next_frame(std::vector<std::vector<uint8_t>>& datagrams)
{
    const EncoderFrame frame = render(frame_number_++);
    datagrams.resize(static_cast<std::size_t>(frame.rows));
    for (int row = 0; row < frame.rows; ++row) {
        encode_slot_into(frame, row, encoder, datagrams[row]);
    }
    return true;
}

}  // namespace SIM
}  // namespace VELKOR
