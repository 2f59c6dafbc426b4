#include "views/colour_field.hpp"

#include <algorithm>
#include <cmath>

namespace {

// A perceptually ordered rainbow (dark blue - cyan - green - yellow - red),
// as a polynomial fit so it needs no data table.
colour_field::rgb scale_colour(double t) {
    const auto channel = [t](double c0, double c1, double c2, double c3, double c4, double c5) {
        const double v = c0 + t * (c1 + t * (c2 + t * (c3 + t * (c4 + t * c5))));
        return static_cast<uint8_t>(std::lround(255.0 * std::clamp(v, 0.0, 1.0)));
    };
    return {channel(0.13572138, 4.61539260, -42.66032258, 132.13108234, -152.94239396, 59.28637943),
            channel(0.09140261, 2.19418839, 4.84296658, -14.18503333, 4.27729857, 2.82956604),
            channel(0.10667330, 12.64194608, -60.58204836, 110.36276771, -89.90310912, 27.34824973)};
}

}  // namespace

const char* colour_field::title(field_t field) {
    switch (field) {
    case intensity: return "Intensity";
    case range: return "Range [m]";
    case ambient: return "Ambient";
    case height: return "Height Z [m]";
    case row: return "Row";
    }
    return "";
}

const std::array<colour_field::rgb, colour_field::palette_size>& colour_field::palette() {
    static const std::array<rgb, palette_size> table = [] {
        std::array<rgb, palette_size> t{};
        for (int i = 0; i < palette_size; ++i)
            t[i] = scale_colour((i + 0.5) / palette_size);
        return t;
    }();
    return table;
}

colour_field::value_range colour_field::legend_range(double min, double max) {
    if (!(min <= max))  // no value, or NaN
        return {0.0, 1.0};
    double step = 1.0;
    const double span = max - min;
    if (span > 0.0) {
        const double rough = span / 10.0;
        const double decade = std::pow(10.0, std::floor(std::log10(rough)));
        const double f = rough / decade;
        step = (f <= 1.0 ? 1.0 : f <= 2.0 ? 2.0 : f <= 5.0 ? 5.0 : 10.0) * decade;
    }
    value_range r{std::floor(min / step) * step, std::ceil(max / step) * step};
    if (r.hi <= r.lo)
        r.hi = r.lo + step;
    return r;
}
