#include "processing/module_adaptive_threshold.hpp"

#include <cstring>

namespace TQZ {

module_adaptive_threshold::module_adaptive_threshold()
{
    parameters = {-8.105e-23f, 1.224e-18f, -5.969e-15f, 5.28e-12f, 3.848e-8f, -1.181e-4f, 0.5523f, 19.66f};
}

int32_t module_adaptive_threshold::threshold(float x, const float* p)
{
    const float t7 = x * p[0] * x * x * x * x * x * x;
    const float t6 = x * p[1] * x * x * x * x * x;
    const float t5 = x * p[2] * x * x * x * x;
    const float t4 = x * p[3] * x * x * x;
    const float t3 = x * p[4] * x * x;
    const float t2 = x * p[5] * x;
    const float t1 = x * p[6];
    const float t = t7 + t6 + t5 + t4 + t3 + t2 + t1 + p[7];
    if (t != t) {
        return INT32_MIN;
    }
    if (t >= 2147483648.0f) {
        return INT32_MAX;
    }
    if (t <= -2147483648.0f) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(t);
}

std::shared_ptr<const module_adaptive_threshold::threshold_table> module_adaptive_threshold::table_for_parameters()
{
    auto table = table_.get();
    if (table && std::memcmp(table->coefficients.data(), parameters.data(), sizeof(float) * 8) == 0) {
        return table;
    }
    auto fresh = std::make_shared<threshold_table>();
    std::memcpy(fresh->coefficients.data(), parameters.data(), sizeof(float) * 8);
    fresh->by_level.resize(kTabulatedLevels);
    for (uint32_t x = 0; x < kTabulatedLevels; ++x) {
        fresh->by_level[x] = threshold(static_cast<float>(x), fresh->coefficients.data());
    }
    table_.publish(fresh);
    return fresh;
}

bool module_adaptive_threshold::process(scene_t& scene)
{
    if (!enabled || parameters.size() != 8) {
        return false;
    }
    const size_t n = scene.depth.size();
    // Three ambient samples and one intensity per depth value; a shorter image
    // counts as a wrong parameter set and leaves the frame alone.
    if (scene.ambient.size() / 3 < n || scene.intensity.size() < n) {
        return false;
    }
    const auto table = table_for_parameters();
    const int32_t* by_level = table->by_level.data();
    const float* coefficients = table->coefficients.data();
    const uint32_t* ambient = scene.ambient.data();
    const uint16_t* intensity = scene.intensity.data();
    float* depth = scene.depth.data();
    for (size_t i = 0; i < n; ++i) {
        // Unsigned 32-bit sum: it wraps like the sensor's own arithmetic.
        const uint32_t sum = ambient[3 * i] + ambient[3 * i + 1] + ambient[3 * i + 2];
        const uint32_t level = sum / 100;
        const int32_t limit =
            level < kTabulatedLevels ? by_level[level] : threshold(static_cast<float>(level), coefficients);
        if (limit >= static_cast<int32_t>(intensity[i])) {
            depth[i] = 0.0f;
        }
    }
    return true;
}

}  // namespace TQZ
