#pragma once

#include <array>
#include <cstdint>

// Colouring points by one measured value of their pixel: the fields a user
// can colour by, the colour scale (one look-up table, built once) and the
// value range the scale spans, rounded outward to a readable step so that
// the legend and the colours stay put while the values wobble frame by frame.
class colour_field {
public:
    enum field_t { intensity, range, ambient, height, row };
    static constexpr int field_count = 5;
    static constexpr int palette_size = 256;

    struct value_range {
        double lo = 0.0;
        double hi = 1.0;
        bool operator==(const value_range& o) const { return lo == o.lo && hi == o.hi; }
        bool operator!=(const value_range& o) const { return !(*this == o); }
    };

    using rgb = std::array<uint8_t, 3>;

    // Legend title of a field, with its unit.
    static const char* title(field_t field);
    // The scale from the lowest (index 0) to the highest value.
    static const std::array<rgb, palette_size>& palette();
    // [min, max] of the values shown, widened to whole multiples of a 1-2-5
    // step of about a tenth of the span; a single value spans one step.
    static value_range legend_range(double min, double max);
    // Palette index of a value within the range (clamped to the ends).
    static int index_of(double value, const value_range& range) {
        const double t = (value - range.lo) / (range.hi - range.lo);
        const int i = static_cast<int>(t * palette_size);
        return i < 0 ? 0 : (i >= palette_size ? palette_size - 1 : i);
    }
};
