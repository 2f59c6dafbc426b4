#include <gtest/gtest.h>

#include <cstring>

#include "processing/direction_tables.hpp"
#include "session/scene_fill.hpp"

using TQZ::FrameRow;
using TQZ::_TQ_RANGE_T;

namespace {

void put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// A row of `pixels` records with K returns; return k of pixel j gets
// intensity 100 * k + j, whole ns hi and fraction word lo.
FrameRow make_row(std::size_t pixels, uint32_t returns, std::size_t ambient, uint16_t hi, uint16_t lo)
{
    FrameRow row;
    row.returns = returns;
    row.record_size = 20 + 24 * returns;
    row.records.assign(pixels * row.record_size, 0xEE);  // header and unread bytes
    for (std::size_t j = 0; j < pixels; ++j) {
        for (uint32_t k = 0; k < returns; ++k) {
            uint8_t* ret = row.records.data() + j * row.record_size + 20 + 24 * k;
            put16(ret, static_cast<uint16_t>(100 * k + j));
            put16(ret + 4, static_cast<uint16_t>(hi + k));
            put16(ret + 6, lo);
        }
    }
    for (std::size_t i = 0; i < ambient; ++i) {
        row.ambient.push_back(static_cast<uint32_t>(0x100000 + i));
    }
    return row;
}

_TQ_RANGE_T make_frame(std::size_t rows, std::size_t pixels, std::size_t ambient, uint16_t hi = 0, uint16_t lo = 0,
                       uint32_t returns = 1)
{
    _TQ_RANGE_T frame;
    for (std::size_t r = 0; r < rows; ++r) {
        frame.rows.push_back(make_row(pixels, returns, ambient, hi, lo));
    }
    return frame;
}

class SceneFill : public testing::Test {
protected:
    VELKOR::LidarTQ::scene_t scene;
    const TQZ::direction_table_set& directions = TQZ::direction_tables();
};

}  // namespace

TEST_F(SceneFill, DepthIsWholeNanosecondsPlusSixteenths)
{
    struct Case {
        uint16_t hi;
        uint16_t lo;
        double expected;
    } cases[] = {
        {0, 0, 0.0},          {1, 0, 1.0},       {0, 1, 0.0625},      {100, 8, 100.5},
        {100, 0xFFF8, 100.5},  // only the low 4 bits of lo count
        {0xFFFF, 0xF, 65535.9375}, {0x1234, 0x7, (0x12347) * 0.0625},
    };
    for (const Case& c : cases) {
        fill_scene(make_frame(2, 3, 192, c.hi, c.lo), scene);
        ASSERT_EQ(scene.depth.size(), 6u);
        EXPECT_EQ(scene.depth[4], static_cast<float>(c.expected)) << c.hi << " " << c.lo;
    }
}

TEST_F(SceneFill, FirstReturnOnlyAndAmbientAsSent)
{
    fill_scene(make_frame(56, 192, 576, 40, 4, 3), scene);
    EXPECT_EQ(scene.rows, 56);
    EXPECT_EQ(scene.cols, 192);
    ASSERT_EQ(scene.ambient.size(), 56u * 576u);
    ASSERT_EQ(scene.intensity.size(), 56u * 192u);
    EXPECT_EQ(scene.intensity[5 * 192 + 17], 17);           // first return, not 117 or 217
    EXPECT_EQ(scene.depth[5 * 192 + 17], 40.25f);
    EXPECT_EQ(scene.ambient[5 * 576 + 575], 0x100000u + 575u);
}

TEST_F(SceneFill, AnglesComeFromTheTablesAtWidth192)
{
    // 100 pixels per row: the tables are still indexed row * 192 + column.
    fill_scene(make_frame(56, 100, 192), scene);
    ASSERT_EQ(scene.pointcloud.size(), 56u * 100u);
    for (int r : {0, 1, 27, 55}) {
        for (int j : {0, 50, 99}) {
            const auto& p = scene.pointcloud[r * 100 + j];
            EXPECT_EQ(p.azimuth, static_cast<double>(directions.azimuth[r * 192 + j])) << r << "," << j;
            EXPECT_EQ(p.elevation, static_cast<double>(directions.elevation[r * 192 + j])) << r << "," << j;
            EXPECT_EQ(p.spare, 0.0);
        }
    }
}

TEST_F(SceneFill, LargerSceneIsShrunkAndOverwritten)
{
    scene.rows = 56;
    scene.cols = 576;
    scene.depth.assign(56 * 576, 9.0f);
    scene.intensity.assign(56 * 576, 9);
    scene.ambient.assign(56 * 576 + 7, 9);
    scene.pointcloud.assign(56 * 576, VELKOR::LidarTQ::point_t{1, 2, 3, 4, 5, 6, 7});

    fill_scene(make_frame(56, 192, 192, 2, 0), scene);
    EXPECT_EQ(scene.cols, 192);
    EXPECT_EQ(scene.depth.size(), 56u * 192u);
    EXPECT_EQ(scene.intensity.size(), 56u * 192u);
    EXPECT_EQ(scene.ambient.size(), 56u * 192u);
    EXPECT_EQ(scene.pointcloud.size(), 56u * 192u);
    EXPECT_EQ(scene.depth[56 * 192 - 1], 2.0f);
    EXPECT_EQ(scene.pointcloud[77].x, 0.0);  // no coordinates left from the wider scene
}

TEST_F(SceneFill, IrregularFramesStayInBounds)
{
    // Rows shorter than row 0 leave zeros; a row with no returns has no depth.
    _TQ_RANGE_T frame = make_frame(56, 192, 192, 5, 0);
    frame.rows[3] = make_row(10, 1, 20, 5, 0);
    frame.rows[4] = make_row(192, 0, 192, 5, 0);
    fill_scene(frame, scene);
    EXPECT_EQ(scene.depth[3 * 192 + 9], 5.0f);
    EXPECT_EQ(scene.depth[3 * 192 + 10], 0.0f);
    EXPECT_EQ(scene.ambient[3 * 192 + 20], 0u);
    EXPECT_EQ(scene.depth[4 * 192 + 0], 0.0f);

    // More rows or pixels than the tables cover: no direction, no overrun.
    fill_scene(make_frame(64, 200, 192, 5, 0), scene);
    ASSERT_EQ(scene.pointcloud.size(), 64u * 200u);
    EXPECT_EQ(scene.pointcloud[63 * 200 + 199].azimuth, 0.0);
    EXPECT_EQ(scene.pointcloud[0 * 200 + 195].azimuth, 0.0);
    EXPECT_EQ(scene.depth[0 * 200 + 195], 5.0f);  // pixels beyond the ambient count are still filled

    fill_scene(_TQ_RANGE_T{}, scene);
    EXPECT_TRUE(scene.depth.empty());
    EXPECT_TRUE(scene.ambient.empty());
    EXPECT_EQ(scene.rows, 56);
}
