#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "processing/direction_tables.hpp"

namespace {

constexpr double kDegPerRad = 180.0 / 3.14159265358979323846;

double azimuth_deg(int r, int c) { return TQZ::direction_tables().azimuth[r * TQZ::kTableCols + c] * kDegPerRad; }
double elevation_deg(int r, int c)
{
    return TQZ::direction_tables().elevation[r * TQZ::kTableCols + c] * kDegPerRad;
}

TEST(DirectionTables, TellingAnglesOfTheLensModel)
{
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

// The tables hold the lens model's angles rounded to 32 bits, whichever
// thread first asks for them.
TEST(DirectionTables, TheFirstCallSolvesThemOnceForEveryThread)
{
    const TQZ::direction_table_set* seen[2] = {nullptr, nullptr};
    std::thread other([&] { seen[0] = &TQZ::direction_tables(); });
    seen[1] = &TQZ::direction_tables();
    other.join();
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(seen[1]->azimuth[100], static_cast<float>(TQZ::lens_direction(0, 100).azimuth));
    EXPECT_EQ(seen[1]->elevation[7], static_cast<float>(TQZ::lens_direction(0, 7).elevation));
}

}  // namespace
