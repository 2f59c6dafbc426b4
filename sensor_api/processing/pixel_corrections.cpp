#include "processing/pixel_corrections.hpp"

#include "processing/cpu_dispatch.hpp"

namespace TQZ {

// Each pass is a straight loop the compiler turns into vector code, built
// for AVX2 and for the baseline (see cpu_dispatch.hpp).
VELKOR_HOT_PASS void pixel_corrections::levels(const uint32_t* ambient, size_t count, uint32_t* level)
{
    for (size_t k = 0; k < count; ++k) {
        level[k] = (ambient[3 * k] + ambient[3 * k + 1] + ambient[3 * k + 2]) / 100;
    }
}

VELKOR_HOT_PASS void pixel_corrections::levels(const uint32_t* left, const uint32_t* measured,
                                               const uint32_t* right, size_t count, uint32_t* level)
{
    for (size_t k = 0; k < count; ++k) {
        level[k] = (left[k] + measured[k] + right[k]) / 100;
    }
}

VELKOR_HOT_PASS void pixel_corrections::apply(const uint32_t* level, const uint16_t* intensity, float* depth,
                                              size_t first, size_t count) const
{
    // The thresholds in blocks: tabulated levels by lookup, and the few
    // beyond the table, which take the polynomial, put right afterwards.
    constexpr size_t kBlock = 256;
    constexpr uint32_t kLastLevel = module_adaptive_threshold::kTabulatedLevels - 1;
    int32_t limit[kBlock];
    for (size_t start = 0; start < count; start += kBlock) {
        const size_t n = count - start < kBlock ? count - start : kBlock;
        const uint32_t* lv = level + start;
        uint32_t beyond = 0;
        for (size_t k = 0; k < n; ++k) {
            limit[k] = by_level[lv[k] < kLastLevel ? lv[k] : kLastLevel];
            beyond |= lv[k] > kLastLevel ? 1u : 0u;
        }
        if (beyond != 0) {
            for (size_t k = 0; k < n; ++k) {
                if (lv[k] > kLastLevel) {
                    limit[k] = module_adaptive_threshold::threshold(static_cast<float>(lv[k]), coefficients);
                }
            }
        }
        const uint16_t* in = intensity + start;
        const float* table = offsets + first + start;
        float* out = depth + start;
        for (size_t k = 0; k < n; ++k) {
            float d = out[k] - offset_ns;
            d = d - table[k];
            d = static_cast<float>(walk_term[in[k]] + static_cast<double>(d));
            out[k] = limit[k] >= static_cast<int32_t>(in[k]) ? 0.0f : d;
        }
    }
}

}  // namespace TQZ
