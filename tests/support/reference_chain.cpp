#include "reference_chain.hpp"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "processing/processing_chain.hpp"

namespace reference_chain {

settings from_chain(const TQZ::processing_chain& chain)
{
    settings s;
    s.back_beam_enabled = chain.back_beam_removal->enabled;
    s.global_offset_enabled = chain.global_offset->enabled;
    s.offset_calibration_enabled = chain.offset_calibration->enabled;
    s.walk_error_enabled = chain.walk_error->enabled;
    s.threshold_enabled = chain.adaptive_threshold->enabled;
    s.depth_completion_enabled = chain.depth_completion->enabled;
    s.back_beam = chain.back_beam_removal->parameters;
    s.global_offset = chain.global_offset->parameters;
    s.offset_table = chain.offset_calibration->parameters;
    s.walk_error = chain.walk_error->parameters;
    s.threshold = chain.adaptive_threshold->parameters;
    s.second_echo = chain.second_echo_buffers;
    s.second_echo.resize(2);
    s.half_light_speed = chain.gen_pointcloud->half_light_speed;
    s.range_gap = chain.depth_completion->range_gap;
    s.intensity_gap = chain.depth_completion->intensity_gap;
    s.ambient_gap = chain.depth_completion->ambient_gap;
    return s;
}

void run(scene_t& scene, const settings& s)
{
    back_beam_removal(scene, s);
    global_offset(scene, s);
    offset_calibration(scene, s);
    walk_error(scene, s);
    adaptive_threshold(scene, s);
    depth_completion(scene, s);
    gen_pointcloud(scene, s);
}

bool back_beam_removal(scene_t& scene, const settings& s)
{
    if (!s.back_beam_enabled || s.back_beam.size() != 3) {
        return false;
    }
    const size_t n = scene.depth.size();
    if (s.second_echo.size() < 2 || s.second_echo[0].size() < n || s.second_echo[1].size() < n ||
        scene.intensity.size() < n) {
        return false;
    }
    const double p0 = s.back_beam[0];
    const double p1 = s.back_beam[1];
    const double p2 = s.back_beam[2];
    for (size_t i = 0; i < n; ++i) {
        if (double(scene.depth[i]) > p0 || double(scene.intensity[i]) > p1) {
            continue;
        }
        const float r2 = s.second_echo[0][i];
        if (double(r2) <= p0) {
            scene.depth[i] = 0;
            continue;
        }
        const float i2 = s.second_echo[1][i];
        if (double(i2) >= p2) {
            scene.depth[i] = r2;
            // Truncation, saturated to the 16-bit range.
            const double t = std::trunc(double(i2));
            scene.intensity[i] = t <= 0 ? 0 : t >= 65535 ? 65535 : uint16_t(t);
        } else {
            scene.depth[i] = 0;
        }
    }
    return true;
}

bool global_offset(scene_t& scene, const settings& s)
{
    if (!s.global_offset_enabled || s.global_offset.size() != 1) {
        return false;
    }
    for (size_t i = 0; i < scene.depth.size(); ++i) {
        const float q = s.global_offset[0] / s.half_light_speed;
        scene.depth[i] = scene.depth[i] - q;
    }
    return true;
}

bool offset_calibration(scene_t& scene, const settings& s)
{
    if (!s.offset_calibration_enabled || s.offset_table.size() != scene.depth.size()) {
        return false;
    }
    for (size_t i = 0; i < scene.depth.size(); ++i) {
        scene.depth[i] = scene.depth[i] - s.offset_table[i];
    }
    return true;
}

bool walk_error(scene_t& scene, const settings& s)
{
    if (!s.walk_error_enabled || s.walk_error.size() != 6) {
        return false;
    }
    if (scene.intensity.size() < scene.depth.size()) {
        return false;
    }
    const double a = s.walk_error[0], b = s.walk_error[1], c = s.walk_error[2];
    const double d = s.walk_error[3], m = s.walk_error[4], sd = s.walk_error[5];
    for (size_t i = 0; i < scene.depth.size(); ++i) {
        const double z = (double(scene.intensity[i]) - m) / sd;
        const double e1 = a * std::exp(b * z);
        const double e2 = c * std::exp(d * z);
        scene.depth[i] = float((e1 + e2) + double(scene.depth[i]));
    }
    return true;
}

bool adaptive_threshold(scene_t& scene, const settings& s)
{
    if (!s.threshold_enabled || s.threshold.size() != 8) {
        return false;
    }
    const size_t n = scene.depth.size();
    if (scene.ambient.size() < 3 * n || scene.intensity.size() < n) {
        return false;
    }
    const std::vector<float>& p = s.threshold;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t sum = scene.ambient[3 * i] + scene.ambient[3 * i + 1] + scene.ambient[3 * i + 2];
        const float x = float(sum / 100u);
        const float t7 = ((x * p[0]) * x * x * x * x * x * x);
        const float t6 = (x * p[1]) * x * x * x * x * x;
        const float t5 = (x * p[2]) * x * x * x * x;
        const float t4 = (x * p[3]) * x * x * x;
        const float t3 = (x * p[4]) * x * x;
        const float t2 = (x * p[5]) * x;
        const float t1 = x * p[6];
        const float t = ((((((t7 + t6) + t5) + t4) + t3) + t2) + t1) + p[7];
        // Truncation towards zero, saturated to the 32-bit range; NaN drops nothing.
        int64_t threshold;
        if (std::isnan(t)) {
            threshold = INT32_MIN;
        } else {
            const double tt = std::trunc(double(t));
            threshold = tt > INT32_MAX ? INT32_MAX : tt < INT32_MIN ? INT32_MIN : int64_t(tt);
        }
        if (threshold >= int64_t(scene.intensity[i])) {
            scene.depth[i] = 0;
        }
    }
    return true;
}

bool depth_completion(scene_t& scene, const settings& s)
{
    if (!s.depth_completion_enabled || scene.rows < 0 || scene.cols < 0 || scene.cols > INT32_MAX / 3) {
        return false;
    }
    const size_t R = size_t(scene.rows), C = size_t(scene.cols), W = 3 * C;
    if (scene.ambient.size() < R * W || scene.depth.size() < R * C || scene.intensity.size() < R * C ||
        scene.pointcloud.size() < R * C) {
        return false;
    }
    const float w_near = 0.6666667f, w_far = 0.33333334f;
    // Nearer and farther measured neighbour of inserted column j.
    auto nearer = [](size_t j) { return j % 3 == 0 ? j + 1 : j - 1; };
    auto farther = [](size_t j) { return j % 3 == 0 ? j - 2 : j + 2; };

    // 1.
    scene.cols = int32_t(W);
    // 2.
    const std::vector<VELKOR::LidarTQ::point_t> old_points = scene.pointcloud;
    scene.pointcloud.assign(R * W, VELKOR::LidarTQ::point_t{});
    for (size_t r = 0; r < R; ++r) {
        for (size_t j = 1; j < W; j += 3) {
            scene.pointcloud[r * W + j] = old_points[r * C + (j - 1) / 3];
        }
    }
    // 3.
    const std::vector<VELKOR::LidarTQ::point_t> widened = scene.pointcloud;
    auto angle = [&](double n, double f) {
        const float an = float(n), af = float(f);
        if (std::fabs(af - an) < 3.4028235e38f) {
            return double(an * w_near + af * w_far);
        }
        return double(std::max(an, af));
    };
    for (size_t r = 0; r < R; ++r) {
        for (size_t j = 2; j + 3 <= W; ++j) {
            if (j % 3 == 1) {
                continue;
            }
            const auto& pn = widened[r * W + nearer(j)];
            const auto& pf = widened[r * W + farther(j)];
            scene.pointcloud[r * W + j].elevation = angle(pn.elevation, pf.elevation);
            scene.pointcloud[r * W + j].azimuth = angle(pn.azimuth, pf.azimuth);
        }
    }
    // 4. and 5.
    std::vector<float> depth(R * W, 0.0f);
    std::vector<uint16_t> intensity(R * W, 0);
    for (size_t r = 0; r < R; ++r) {
        for (size_t j = 1; j < W; j += 3) {
            depth[r * W + j] = scene.depth[r * C + (j - 1) / 3];
            intensity[r * W + j] = scene.intensity[r * C + (j - 1) / 3];
        }
    }
    // 6.
    for (size_t r = 0; r < R; ++r) {
        for (size_t j = 2; j + 3 <= W; ++j) {
            if (j % 3 == 1) {
                continue;
            }
            const size_t n = r * W + nearer(j), f = r * W + farther(j), k = r * W + j;
            const float Ln = depth[n], Lf = depth[f];
            const uint16_t In = intensity[n], If = intensity[f];
            if (std::fabs(Lf - Ln) < s.range_gap) {
                depth[k] = Ln * w_near + Lf * w_far;
                if (float(std::abs(int(In) - int(If))) < s.intensity_gap) {
                    intensity[k] = uint16_t(int(float(In) * w_near + float(If) * w_far));
                } else {
                    intensity[k] = std::min(In, If);
                }
            } else if (Ln <= 334.0f) {
                const int64_t d = std::llabs(int64_t(scene.ambient[n]) - int64_t(scene.ambient[k]));
                depth[k] = float(d) < s.ambient_gap ? Ln : 0.0f;
                intensity[k] = In;
            }
        }
    }
    scene.depth = depth;
    scene.intensity = intensity;
    return true;
}

bool gen_pointcloud(scene_t& scene, const settings& s)
{
    const size_t n = scene.pointcloud.size();
    if (scene.depth.empty() || n == 0 || scene.depth.size() < n || scene.intensity.size() < n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        auto& p = scene.pointcloud[i];
        const double d = double(scene.depth[i] * s.half_light_speed);
        p.x = (std::cos(p.elevation) * d) * std::cos(p.azimuth);
        p.y = (std::cos(p.elevation) * d) * std::sin(p.azimuth);
        p.z = std::sin(p.elevation) * d;
        p.intensity = double(scene.intensity[i]);
    }
    return true;
}

}  // namespace reference_chain
