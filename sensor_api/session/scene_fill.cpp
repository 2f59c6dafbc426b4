#include "session/scene_fill.hpp"

#include "processing/direction_tables.hpp"

namespace TQZ {

namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

void fill_scene(const _TQ_RANGE_T& frame, VELKOR::LidarTQ::scene_t& scene)
{
    scene.rows = kTableRows;
    scene.cols = kTableCols;

    const std::size_t rows = frame.rows.size();
    const std::size_t ambient_cols = rows > 0 ? frame.rows[0].ambient.size() : 0;
    const std::size_t pixel_cols = rows > 0 ? frame.rows[0].pixel_count() : 0;
    scene.ambient.resize(rows * ambient_cols);
    scene.depth.resize(rows * pixel_cols);
    scene.intensity.resize(rows * pixel_cols);
    scene.pointcloud.resize(rows * pixel_cols);
    const direction_table_set& directions = direction_tables();

    for (std::size_t r = 0; r < rows; ++r) {
        const FrameRow& row = frame.rows[r];
        const std::size_t ambient_have = row.ambient.size();
        for (std::size_t j = 0; j < ambient_cols; ++j) {
            scene.ambient[r * ambient_cols + j] = j < ambient_have ? row.ambient[j] : 0;
        }

        // A row with fewer records, or records without a return, leaves those pixels empty.
        const std::size_t pixels_have = row.returns > 0 ? row.pixel_count() : 0;
        for (std::size_t j = 0; j < pixel_cols; ++j) {
            const std::size_t at = r * pixel_cols + j;
            float depth = 0.0f;
            uint16_t intensity = 0;
            if (j < pixels_have) {
                const uint8_t* ret = row.first_return(j);
                const uint32_t whole = le16(ret + 4);
                const uint32_t fraction = le16(ret + 6) & 0xFu;
                depth = static_cast<float>(static_cast<double>((whole << 4) | fraction) * 0.0625);
                intensity = le16(ret);
            }
            scene.depth[at] = depth;
            scene.intensity[at] = intensity;

            // The tables cover 56 x 192 pixels; a pixel outside them has no direction.
            VELKOR::LidarTQ::point_t point;
            if (r < static_cast<std::size_t>(kTableRows) && j < static_cast<std::size_t>(kTableCols)) {
                point.azimuth = directions.azimuth[r * kTableCols + j];
                point.elevation = directions.elevation[r * kTableCols + j];
            }
            scene.pointcloud[at] = point;
        }
    }
}

}  // namespace TQZ
