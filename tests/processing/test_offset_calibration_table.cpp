#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "processing/module_offset_calibration.hpp"

namespace {

constexpr int kRows = 56;
constexpr int kCols = 192;

// The calibration sheet prints its figures to four decimals.
double printed(float value) { return std::round(static_cast<double>(value) * 1e4) / 1e4; }

class OffsetTable : public testing::Test {
protected:
    std::vector<float> table = TQZ::default_offset_table();
    float at(int r, int c) const { return table[r * kCols + c]; }
};

TEST_F(OffsetTable, IsTheSumOfARowAndAColumnTerm)
{
    ASSERT_EQ(table.size(), 10752u);
    EXPECT_EQ(TQZ::module_offset_calibration().parameters, table);
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kCols; ++c) {
            ASSERT_EQ(at(r, c), TQZ::offset_row_term(r) + TQZ::offset_column_term(c)) << r << "," << c;
        }
    }
}

TEST_F(OffsetTable, RowTermsMatchTheSheet)
{
    const std::pair<int, double> listed[] = {{0, -1.2266},  {1, -1.2184},  {2, -1.0861},  {13, -0.6830},
                                             {27, -0.5770}, {28, -0.4517}, {50, -0.0435}, {55, -0.2510}};
    for (const auto& [row, value] : listed) {
        EXPECT_DOUBLE_EQ(printed(TQZ::offset_row_term(row)), value) << "row " << row;
    }
    // Lowest at row 0, highest at row 50.
    for (int r = 0; r < kRows; ++r) {
        EXPECT_GE(TQZ::offset_row_term(r), TQZ::offset_row_term(0));
        EXPECT_LE(TQZ::offset_row_term(r), TQZ::offset_row_term(50));
    }
}

TEST_F(OffsetTable, ColumnCurveRisesToColumn103AndCrossesZeroAfter173)
{
    EXPECT_EQ(TQZ::offset_column_term(0), 0.0f);
    EXPECT_DOUBLE_EQ(printed(TQZ::offset_column_term(1)), 0.0062);
    EXPECT_DOUBLE_EQ(printed(TQZ::offset_column_term(2)), 0.0123);
    EXPECT_DOUBLE_EQ(printed(TQZ::offset_column_term(103)), 0.5038);
    EXPECT_DOUBLE_EQ(printed(TQZ::offset_column_term(191)), -0.1734);
    for (int c = 0; c < 103; ++c) {
        EXPECT_LT(TQZ::offset_column_term(c), TQZ::offset_column_term(c + 1)) << c;
    }
    for (int c = 103; c < kCols - 1; ++c) {
        EXPECT_GT(TQZ::offset_column_term(c), TQZ::offset_column_term(c + 1)) << c;
    }
    EXPECT_GT(TQZ::offset_column_term(173), 0.0f);
    EXPECT_LT(TQZ::offset_column_term(174), 0.0f);
}

TEST_F(OffsetTable, ExtremesAndPrintedRows)
{
    const auto [lo, hi] = std::minmax_element(table.begin(), table.end());
    EXPECT_EQ(lo - table.begin(), 0 * kCols + 191);
    EXPECT_EQ(hi - table.begin(), 50 * kCols + 103);
    EXPECT_DOUBLE_EQ(printed(*lo), -1.4000);
    EXPECT_DOUBLE_EQ(printed(*hi), 0.4604);

    const int cols[] = {0, 1, 2, 3, 95, 96, 189, 190, 191};
    const double row0[] = {-1.2266, -1.2205, -1.2143, -1.2082, -0.7343, -0.7316, -1.3805, -1.3903, -1.4000};
    const double row27[] = {-0.5770, -0.5708, -0.5647, -0.5585, -0.0847, -0.0820, -0.7309, -0.7406, -0.7503};
    const double row55[] = {-0.2510, -0.2449, -0.2387, -0.2326, 0.2413, 0.2440, -0.4049, -0.4147, -0.4244};
    for (int k = 0; k < 9; ++k) {
        SCOPED_TRACE(testing::Message() << "column " << cols[k]);
        EXPECT_DOUBLE_EQ(printed(at(0, cols[k])), row0[k]);
        EXPECT_DOUBLE_EQ(printed(at(27, cols[k])), row27[k]);
        EXPECT_DOUBLE_EQ(printed(at(55, cols[k])), row55[k]);
    }
}

}  // namespace
