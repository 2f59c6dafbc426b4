#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <limits>
#include <random>
#include <vector>

#include "processing/module_depth_completion.hpp"
#include "processing/widened_points.hpp"

namespace {

using point_t = VELKOR::LidarTQ::point_t;
using TQZ::direction_group;
using TQZ::widened_columns;

// A row with awkward values everywhere: negative, zero, huge, infinite and
// NaN depths, the whole intensity range, random directions and trig values
// (the writer only multiplies them, so they need not be true sines).
struct random_row {
    widened_columns columns;
    std::vector<point_t> measured;
    std::vector<direction_group> groups;

    random_row(size_t cols, uint32_t seed) : measured(cols), groups(widened_columns::kMaxGroups)
    {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> unit(-1.0, 1.0);
        const float odd_depths[] = {0.0f, -0.0f, -3.5f, 1e30f, INFINITY, -INFINITY, NAN, FLT_MIN / 4};
        for (size_t k = 0; k < widened_columns::kKinds; ++k) {
            for (size_t c = 0; c < cols; ++c) {
                columns.depth[k][c] =
                    rng() % 5 == 0 ? odd_depths[rng() % 8] : static_cast<float>(std::ldexp(unit(rng), rng() % 12));
                columns.intensity[k][c] = static_cast<uint16_t>(rng());
            }
        }
        for (size_t c = 0; c < cols; ++c) {
            measured[c] = {unit(rng) * 1e6, unit(rng), unit(rng), 1.0, 2.0, 3.0, 4.0};
        }
        for (direction_group& g : groups) {
            for (auto& kind : g.trig) {
                for (auto& values : kind) {
                    for (double& v : values) {
                        v = rng() % 50 == 0 ? NAN : unit(rng);
                    }
                }
            }
            for (auto& side : g.inserted) {
                for (auto& values : side) {
                    for (float& v : values) {
                        v = static_cast<float>(unit(rng));
                    }
                }
            }
        }
        columns.measured = measured.data();
        columns.directions = groups.data();
    }
};

// Records around the row are filled with a marker that no write may touch.
std::vector<point_t> guarded(size_t records)
{
    point_t marker;
    marker.spare = marker.azimuth = marker.elevation = marker.x = marker.y = marker.z = marker.intensity = 7.25;
    return std::vector<point_t>(records + 2, marker);
}

bool same_bytes(const point_t* a, const point_t* b, size_t count)
{
    return std::memcmp(a, b, count * sizeof(point_t)) == 0;
}

TEST(WidenedPoints, PortableWriterFollowsThePointFormulas)
{
    random_row row(9, 1);
    std::vector<point_t> out = guarded(27);
    const float light = 149.896225f;
    TQZ::write_widened_points_portable(row.columns, 9, light, out.data() + 1);
    for (size_t c = 0; c < 9; ++c) {
        const direction_group& g = row.groups[c / 4];
        const size_t lane = c % 4;
        for (size_t k = 0; k < 3; ++k) {
            SCOPED_TRACE(testing::Message() << "column " << c << " kind " << k);
            const point_t& p = out[1 + 3 * c + k];
            const double d = static_cast<double>(row.columns.depth[k][c] * light);
            const double x = (g.trig[k][2][lane] * d) * g.trig[k][0][lane];
            const double y = (g.trig[k][2][lane] * d) * g.trig[k][1][lane];
            const double z = g.trig[k][3][lane] * d;
            EXPECT_EQ(std::memcmp(&p.x, &x, 8), 0);
            EXPECT_EQ(std::memcmp(&p.y, &y, 8), 0);
            EXPECT_EQ(std::memcmp(&p.z, &z, 8), 0);
            EXPECT_EQ(p.intensity, row.columns.intensity[k][c]);
            if (k == 1) {
                EXPECT_EQ(p.spare, row.measured[c].spare);
                EXPECT_EQ(p.azimuth, row.measured[c].azimuth);
                EXPECT_EQ(p.elevation, row.measured[c].elevation);
            } else {
                const size_t side = k == 0 ? 0 : 1;
                EXPECT_EQ(p.spare, 0.0);
                EXPECT_EQ(p.azimuth, static_cast<double>(g.inserted[side][0][lane]));
                EXPECT_EQ(p.elevation, static_cast<double>(g.inserted[side][1][lane]));
            }
        }
    }
}

TEST(WidenedPoints, VectorWriterGivesThePortableBytesAndStaysInItsRecords)
{
#if defined(VELKOR_NO_CPU_DISPATCH) || !defined(__x86_64__)
    GTEST_SKIP() << "built without the AVX2 writer";
#else
    if (!__builtin_cpu_supports("avx2")) {
        GTEST_SKIP() << "no AVX2 on this processor";
    }
#endif
    // Whole groups of four, a partial last group, single columns, the sensor.
    for (size_t cols : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 13u, 64u, 191u, 192u}) {
        for (uint32_t seed = 0; seed < 4; ++seed) {
            SCOPED_TRACE(testing::Message() << cols << " columns, seed " << seed);
            random_row row(cols, seed);
            const size_t records = 3 * cols;
            std::vector<point_t> portable = guarded(records);
            std::vector<point_t> vector = guarded(records);
            TQZ::write_widened_points_portable(row.columns, cols, 149.896225f, portable.data() + 1);
            ASSERT_TRUE(TQZ::write_widened_points_avx2(row.columns, cols, 149.896225f, vector.data() + 1));
            EXPECT_TRUE(same_bytes(portable.data(), vector.data(), records + 2));
            EXPECT_EQ(vector.front().spare, 7.25);
            EXPECT_EQ(vector.back().spare, 7.25);
        }
    }
}

// --- integer limits of the two gap tests of depth completion ---

using TQZ::module_depth_completion;

TEST(GapLimits, IntegerLimitsDecideAsTheFloatComparisons)
{
    const float gaps[] = {400.0f,    0.0f,        -0.0f,    -1.0f,     100.0f,       100.5f,    1e-45f,
                          65535.0f,  65535.5f,    65536.0f, 16777216.0f, 16777218.0f, 3e9f,     2147483648.0f,
                          4294967296.0f, 5e9f, INFINITY, -INFINITY, NAN};
    for (float intensity_gap : gaps) {
        for (float ambient_gap : gaps) {
            const auto limits = module_depth_completion::limits_for(intensity_gap, ambient_gap);
            // Spreads and steps at and around the limits, and at the ends.
            std::vector<uint32_t> steps = {0u, 1u, 399u, 400u, 401u, 16777216u, 16777217u, 16777219u,
                                           2147483647u, 2147483648u, 4294967040u, 4294967295u};
            for (int64_t around = -2; around <= 2; ++around) {
                steps.push_back(static_cast<uint32_t>(static_cast<int64_t>(limits.step_limit) + around));
            }
            std::vector<int32_t> spreads = {0, 1, 99, 100, 101, 65534, 65535};
            for (int32_t around = -2; around <= 2; ++around) {
                const int32_t s = limits.spread_limit + around;
                if (s >= 0 && s <= 65535) {
                    spreads.push_back(s);
                }
            }
            for (uint32_t step : steps) {
                ASSERT_EQ(static_cast<float>(step) < ambient_gap,
                          limits.step_limit_count != 0 && step <= limits.step_limit)
                    << "step " << step << " gap " << ambient_gap;
            }
            for (int32_t spread : spreads) {
                ASSERT_EQ(static_cast<float>(spread) < intensity_gap, spread <= limits.spread_limit)
                    << "spread " << spread << " gap " << intensity_gap;
            }
        }
    }
}

// An inserted pixel as defined, with the gaps compared as floats.
module_depth_completion::inserted_pixel fill_with_gaps(float near_range, float far_range, uint16_t near_i,
                                                       uint16_t far_i, uint32_t near_a, uint32_t own_a,
                                                       float range_gap, float intensity_gap, float ambient_gap)
{
    const float kNear = module_depth_completion::kNearWeight;
    const float kFar = module_depth_completion::kFarWeight;
    const int32_t n = near_i;
    const int32_t f = far_i;
    if (std::fabs(far_range - near_range) < range_gap) {
        const int32_t spread = std::abs(n - f);
        const float mixed = static_cast<float>(n) * kNear + static_cast<float>(f) * kFar;
        const int32_t value = static_cast<float>(spread) < intensity_gap ? static_cast<int32_t>(mixed) : std::min(n, f);
        return {near_range * kNear + far_range * kFar, static_cast<uint16_t>(value)};
    }
    if (near_range > module_depth_completion::kNearRangeLimit) {
        return {0.0f, 0};
    }
    const uint32_t step = near_a > own_a ? near_a - own_a : own_a - near_a;
    return {static_cast<float>(step) < ambient_gap ? near_range : 0.0f, static_cast<uint16_t>(n)};
}

TEST(GapLimits, FillPixelWithLimitsMatchesTheGapsOnRandomPixels)
{
    std::mt19937 rng(5);
    const float gaps[][3] = {{7.0f, 100.0f, 400.0f}, {0.0f, 0.0f, 0.0f}, {NAN, NAN, NAN},
                             {1e9f, 70000.0f, 5e9f}, {-1.0f, 50.5f, 16777217.0f}};
    for (const auto& g : gaps) {
        const auto limits = module_depth_completion::limits_for(g[1], g[2]);
        for (int i = 0; i < 20000; ++i) {
            const float near_range = static_cast<float>(rng() % 4000) / 10.0f;
            const float far_range = near_range + static_cast<float>(static_cast<int>(rng() % 200) - 100) / 10.0f;
            const uint16_t near_i = static_cast<uint16_t>(rng());
            const uint16_t far_i = static_cast<uint16_t>(rng() % 2 ? rng() : near_i + rng() % 200);
            const uint32_t near_a = rng() % 3 ? rng() % 5000 : rng();
            const uint32_t own_a = rng() % 3 ? near_a + rng() % 800 : rng();
            const auto a = fill_with_gaps(near_range, far_range, near_i, far_i, near_a, own_a, g[0], g[1], g[2]);
            const auto b =
                module_depth_completion::fill_pixel(near_range, far_range, near_i, far_i, near_a, own_a, g[0], limits);
            ASSERT_EQ(std::memcmp(&a.depth, &b.depth, sizeof a.depth), 0);
            ASSERT_EQ(a.intensity, b.intensity);
        }
    }
}

}  // namespace
