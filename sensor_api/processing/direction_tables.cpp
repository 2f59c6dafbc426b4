#include "processing/direction_tables.hpp"

#include <cmath>
#include <cstring>
#include <mutex>

namespace TQZ {

float azimuth_table[kTableRows * kTableCols];
float elevation_table[kTableRows * kTableCols];

namespace {

constexpr double kCentreCol = 95.5;
constexpr double kCentreRow = 27.5;
constexpr double kFocalLength = 91.66335978835978;  // pixels per unit of tangent
constexpr double kK1 = 0.331489785192576;
constexpr double kK2 = 0.17548466693546;
constexpr double kK3 = 0.074414911168096;
constexpr double kK4 = 0.015676737552914;
constexpr double kTolerance = 1e-6;  // rad
constexpr int kMaxSteps = 100;

// Angle off the optical axis as the lens maps it, for true angle theta.
double lens_distortion(double theta)
{
    return theta * (1.0 - kK1 * std::pow(theta, 2) + kK2 * std::pow(theta, 4) - kK3 * std::pow(theta, 6) +
                    kK4 * std::pow(theta, 8));
}

struct direction_master {
    float azimuth[kTableRows * kTableCols];
    float elevation[kTableRows * kTableCols];
};

// The lens model is solved once per process; every later call only restores
// the tables from this copy (they must never differ from it).
const direction_master& master_tables()
{
    static direction_master master;
    static std::once_flag once;
    std::call_once(once, [] {
        for (int r = 0; r < kTableRows; ++r) {
            for (int c = 0; c < kTableCols; ++c) {
                const pixel_direction dir = lens_direction(r, c);
                master.azimuth[r * kTableCols + c] = static_cast<float>(dir.azimuth);
                master.elevation[r * kTableCols + c] = static_cast<float>(dir.elevation);
            }
        }
    });
    return master;
}

}  // namespace

pixel_direction lens_direction(int row, int col)
{
    const double u = (col - kCentreCol) / kFocalLength;
    const double v = (row - kCentreRow) / kFocalLength;
    const double rho = std::sqrt(u * u + v * v);  // never 0: the centres are half-integers
    const double phi = std::atan(rho);

    // Fixed-point iteration of D(theta) = phi, starting from the pinhole angle.
    double theta = phi;
    double t = 0.0;
    int steps = 0;
    while (steps < kMaxSteps) {
        ++steps;
        const double g = lens_distortion(theta) - phi;
        theta = theta - g;
        t = std::tan(theta);
        if (std::fabs(g) <= kTolerance) {
            break;
        }
    }
    const double ur = u / rho;
    const double vr = v / rho;
    const double it = 1.0 / t;
    const double azimuth = -std::atan2(ur, it);
    const double elevation = -std::atan2(vr, std::sqrt(ur * ur + it * it));
    return {azimuth, elevation, steps};
}

void build_direction_tables()
{
    const direction_master& master = master_tables();
    // Skipping the copy when nothing changed keeps concurrent readers of the
    // tables (another object's scene fill) free of writes.
    if (std::memcmp(azimuth_table, master.azimuth, sizeof azimuth_table) != 0) {
        std::memcpy(azimuth_table, master.azimuth, sizeof azimuth_table);
    }
    if (std::memcmp(elevation_table, master.elevation, sizeof elevation_table) != 0) {
        std::memcpy(elevation_table, master.elevation, sizeof elevation_table);
    }
}

}  // namespace TQZ
