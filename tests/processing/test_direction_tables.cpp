#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "processing/direction_tables.hpp"

namespace {

constexpr double kDegPerRad = 180.0 / 3.14159265358979323846;

double azimuth_deg(int r, int c) { return TQZ::azimuth_table[r * TQZ::kTableCols + c] * kDegPerRad; }
double elevation_deg(int r, int c) { return TQZ::elevation_table[r * TQZ::kTableCols + c] * kDegPerRad; }

TEST(DirectionTables, TellingAnglesOfTheLensModel)
{
    TQZ::build_direction_tables();
    struct golden {
        int row, col;
        double azimuth, elevation;
    };
    const golden cases[] = {
        {0, 0, 61.134, 14.154},   {0, 191, -61.134, 14.154}, {27, 0, 59.693, 0.259}, {27, 95, 0.313, 0.313},
        {28, 96, -0.313, -0.313}, {0, 95, 0.322, 17.189},    {55, 95, 0.322, -17.189},
    };
    for (const auto& g : cases) {
        SCOPED_TRACE(testing::Message() << "row " << g.row << " col " << g.col);
        EXPECT_NEAR(azimuth_deg(g.row, g.col), g.azimuth, 0.0005);
        EXPECT_NEAR(elevation_deg(g.row, g.col), g.elevation, 0.0005);
    }
}

TEST(DirectionTables, FieldOfViewIsSymmetricAndNoPixelLooksAlongTheAxis)
{
    TQZ::build_direction_tables();
    for (int r = 0; r < TQZ::kTableRows; ++r) {
        for (int c = 0; c < TQZ::kTableCols; ++c) {
            ASSERT_FLOAT_EQ(azimuth_deg(r, c), -azimuth_deg(r, 191 - c));
            ASSERT_FLOAT_EQ(elevation_deg(r, c), -elevation_deg(55 - r, c));
            ASSERT_NE(azimuth_deg(r, c), 0.0);
            ASSERT_NE(elevation_deg(r, c), 0.0);
            // Left of centre looks left, top rows look up.
            ASSERT_EQ(azimuth_deg(r, c) > 0, c < 96);
            ASSERT_EQ(elevation_deg(r, c) > 0, r < 28);
        }
    }
}

TEST(DirectionTables, SolverStepsGrowTowardsTheCorners)
{
    EXPECT_EQ(TQZ::lens_direction(27, 95).steps, 1);
    EXPECT_EQ(TQZ::lens_direction(28, 96).steps, 1);
    const int corner = TQZ::lens_direction(0, 0).steps;
    EXPECT_GE(corner, 15);
    EXPECT_LE(corner, 30);
    EXPECT_EQ(TQZ::lens_direction(55, 191).steps, corner);
}

TEST(DirectionTables, RebuildRestoresTheSameBits)
{
    TQZ::build_direction_tables();
    float first[TQZ::kTableRows * TQZ::kTableCols];
    std::memcpy(first, TQZ::azimuth_table, sizeof first);
    TQZ::azimuth_table[100] = 42.0f;
    TQZ::elevation_table[7] = -1.0f;
    TQZ::build_direction_tables();
    EXPECT_EQ(std::memcmp(first, TQZ::azimuth_table, sizeof first), 0);
    EXPECT_EQ(TQZ::elevation_table[7], static_cast<float>(TQZ::lens_direction(0, 7).elevation));
}

}  // namespace
