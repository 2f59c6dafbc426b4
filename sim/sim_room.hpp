#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "datagram_encoder.hpp"
#include "sim_sensor.hpp"

namespace VELKOR {
namespace SIM {

// An axis-aligned box, corners in mm in the sensor frame: x forward, y left,
// z up, the sensor at the origin.
struct RoomBox {
    double min[3];
    double max[3];
};

// How the sensor's measured round-trip time relates to the true one. The
// host subtracts a global offset and a per-pixel offset table and adds a
// walk-error correction that depends on intensity; the simulator applies the
// inverse so that the host's own chain lands points on the true surfaces.
struct TimeModel {
    double global_offset_mm = 4935.0;
    // Per-pixel offset in ns (row * 192 + col); null means zero. SimRoom
    // starts with the host's own compiled-in calibration.
    std::function<double(int row, int col)> offset_table;
    // Walk-error coefficients a, b, c, d, m, s; fewer than six means none.
    std::vector<double> walk_error = {-56548.832, 0.17180148, 56550.078, 0.17181453, 1258.0, 702.8};

    // Raw round-trip ns the sensor reports for a true one of `true_ns`.
    double raw_ns(double true_ns, int row, int col, uint16_t intensity) const;
    // Same, with the walk correction for the intensity already taken.
    double raw_ns_corrected(double true_ns, int row, int col, double correction) const;
    // The host's correction for `intensity` (ns added to the raw time).
    double walk_correction(uint16_t intensity) const;
};

// A synthetic room seen by the sensor: floor, walls, two boxes and one object
// walking left and right, ray-cast along the pixel directions of the
// direction tables. Intensity falls with distance, ambient light varies
// across the image.
class SimRoom : public DatagramSource {
public:
    explicit SimRoom(const SimOptions& options);

    bool next_frame(std::vector<std::vector<uint8_t>>& datagrams) override;

    // The frame at `frame_number` (deterministic for a given seed and fps).
    EncoderFrame render(uint32_t frame_number) const;

    // True distance in mm along the ray of pixel (row, col) at time t
    // seconds, 0 when nothing is hit within range.
    double distance_mm(int row, int col, double t) const;

    TimeModel time_model;
    EncoderOptions encoder;

    // Room geometry, mm.
    static constexpr double kFloorZ = -1200.0;
    static constexpr double kCeilingZ = 1800.0;
    static constexpr double kBackWallX = 6000.0;
    static constexpr double kLeftWallY = 2500.0;
    static constexpr double kRightWallY = -3000.0;
    static constexpr double kMaxRangeMm = 20000.0;

private:
    std::vector<RoomBox> boxes_at(double t) const;
    double cast(int row, int col, const std::vector<RoomBox>& boxes) const;

    SimOptions options_;
    uint32_t frame_number_ = 0;
    // Unit ray of every pixel (x, y, z), taken from the direction tables once.
    std::vector<double> rays_;
};

}  // namespace SIM
}  // namespace VELKOR
