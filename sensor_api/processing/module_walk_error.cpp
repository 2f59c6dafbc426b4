#include "processing/module_walk_error.hpp"

#include <cmath>
#include <cstring>

namespace TQZ {

module_walk_error::module_walk_error()
{
    parameters = {-56548.832f, 0.17180148f, 56550.078f, 0.17181453f, 1258.0f, 702.8f};
}

double module_walk_error::correction(uint16_t intensity, const float* coefficients)
{
    const double a = coefficients[0];
    const double b = coefficients[1];
    const double c = coefficients[2];
    const double d = coefficients[3];
    const double m = coefficients[4];
    const double s = coefficients[5];
    const double z = (static_cast<double>(intensity) - m) / s;
    const double e1 = a * std::exp(b * z);
    const double e2 = c * std::exp(d * z);
    return e1 + e2;
}

std::shared_ptr<const module_walk_error::correction_table> module_walk_error::table_for_parameters()
{
    auto table = table_.get();
    // Compared bit for bit: -0.0 and 0.0 are different coefficients here.
    if (table && std::memcmp(table->coefficients.data(), parameters.data(), sizeof(float) * 6) == 0) {
        return table;
    }
    auto fresh = std::make_shared<correction_table>();
    std::memcpy(fresh->coefficients.data(), parameters.data(), sizeof(float) * 6);
    fresh->by_intensity.resize(65536);
    for (uint32_t i = 0; i < 65536; ++i) {
        fresh->by_intensity[i] = correction(static_cast<uint16_t>(i), fresh->coefficients.data());
    }
    table_.publish(fresh);
    return fresh;
}

bool module_walk_error::process(scene_t& scene)
{
    if (!enabled || parameters.size() != 6) {
        return false;
    }
    const size_t n = scene.depth.size();
    // Every depth value needs its intensity; a shorter intensity image would
    // be read past its end.
    if (scene.intensity.size() < n) {
        return false;
    }
    const auto table = table_for_parameters();
    const double* term = table->by_intensity.data();
    float* depth = scene.depth.data();
    const uint16_t* intensity = scene.intensity.data();
    for (size_t i = 0; i < n; ++i) {
        depth[i] = static_cast<float>(term[intensity[i]] + static_cast<double>(depth[i]));
    }
    return true;
}

}  // namespace TQZ
