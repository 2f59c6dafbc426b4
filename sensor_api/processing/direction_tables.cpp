#include "processing/direction_tables.hpp"

#include <cmath>

#include "processing/raw_points.hpp"

namespace TQZ {

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

const direction_table_set& direction_tables()
{
    static const direction_table_set tables = [] {
        direction_table_set solved;
        for (int r = 0; r < kTableRows; ++r) {
            for (int c = 0; c < kTableCols; ++c) {
                const pixel_direction dir = lens_direction(r, c);
                solved.azimuth[r * kTableCols + c] = static_cast<float>(dir.azimuth);
                solved.elevation[r * kTableCols + c] = static_cast<float>(dir.elevation);
            }
        }
        return solved;
    }();
    return tables;
}

const std::vector<direction_sines>& direction_table_sines()
{
    static const std::vector<direction_sines> sines = [] {
        const direction_table_set& tables = direction_tables();
        std::vector<direction_sines> out(static_cast<std::size_t>(kTableRows) * kTableCols);
        for (std::size_t i = 0; i < out.size(); ++i) {
            // The point cloud holds the angles as doubles; so does point generation.
            const double azimuth = tables.azimuth[i];
            const double elevation = tables.elevation[i];
            out[i] = {std::cos(elevation), std::sin(elevation), std::cos(azimuth), std::sin(azimuth)};
        }
        return out;
    }();
    return sines;
}

const std::vector<VELKOR::LidarTQ::point_t>& direction_table_points()
{
    static const std::vector<VELKOR::LidarTQ::point_t> points = [] {
        const direction_table_set& tables = direction_tables();
        std::vector<VELKOR::LidarTQ::point_t> out(static_cast<std::size_t>(kTableRows) * kTableCols);
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i].azimuth = tables.azimuth[i];
            out[i].elevation = tables.elevation[i];
        }
        return out;
    }();
    return points;
}

}  // namespace TQZ
