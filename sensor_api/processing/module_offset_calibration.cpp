#include "processing/module_offset_calibration.hpp"

#include "processing/direction_tables.hpp"

namespace TQZ {

namespace {

// Residual delay per receiver row (one calibration value per row), ns.
constexpr float kRowTerm[kTableRows] = {
    -1.22664f, -1.21840f, -1.08610f, -1.07059f, -0.99470f, -0.97186f, -0.99256f, -0.95837f,
    -0.91784f, -0.83864f, -0.83808f, -0.74100f, -0.71039f, -0.68300f, -0.61828f, -0.62484f,
    -0.70297f, -0.67569f, -0.68344f, -0.62088f, -0.62425f, -0.67525f, -0.59318f, -0.62956f,
    -0.60530f, -0.55678f, -0.61524f, -0.57696f, -0.45170f, -0.43012f, -0.38705f, -0.33841f,
    -0.38730f, -0.40068f, -0.39566f, -0.29006f, -0.25819f, -0.26126f, -0.25655f, -0.20678f,
    -0.23213f, -0.26319f, -0.17426f, -0.13472f, -0.16850f, -0.19353f, -0.15752f, -0.15205f,
    -0.12505f, -0.09486f, -0.04346f, -0.13530f, -0.12056f, -0.12969f, -0.23611f, -0.25103f,
};

// Residual delay across the columns, ns: a smooth curve that starts at 0,
// peaks at column 103 and turns negative towards the right edge.
constexpr float kColumnTerm[kTableCols] = {
    0.0f, 0.00616f, 0.01230f, 0.01845f, 0.02463f, 0.03087f, 0.03717f, 0.04355f,
    0.05001f, 0.05655f, 0.06317f, 0.06987f, 0.07664f, 0.08347f, 0.09036f, 0.09728f,
    0.10423f, 0.11120f, 0.11817f, 0.12513f, 0.13206f, 0.13895f, 0.14579f, 0.15256f,
    0.15925f, 0.16585f, 0.17234f, 0.17873f, 0.18499f, 0.19112f, 0.19712f, 0.20298f,
    0.20869f, 0.21425f, 0.21966f, 0.22492f, 0.23002f, 0.23498f, 0.23979f, 0.24446f,
    0.24899f, 0.25339f, 0.25767f, 0.26183f, 0.26588f, 0.26984f, 0.27371f, 0.27751f,
    0.28124f, 0.28492f, 0.28856f, 0.29217f, 0.29576f, 0.29935f, 0.30295f, 0.30657f,
    0.31022f, 0.31392f, 0.31767f, 0.32148f, 0.32537f, 0.32934f, 0.33340f, 0.33755f,
    0.34181f, 0.34617f, 0.35064f, 0.35523f, 0.35992f, 0.36473f, 0.36964f, 0.37466f,
    0.37977f, 0.38498f, 0.39027f, 0.39563f, 0.40106f, 0.40654f, 0.41205f, 0.41758f,
    0.42312f, 0.42864f, 0.43412f, 0.43955f, 0.44490f, 0.45016f, 0.45529f, 0.46028f,
    0.46511f, 0.46974f, 0.47416f, 0.47834f, 0.48227f, 0.48592f, 0.48927f, 0.49230f,
    0.49500f, 0.49735f, 0.49935f, 0.50098f, 0.50224f, 0.50314f, 0.50367f, 0.50384f,
    0.50367f, 0.50317f, 0.50233f, 0.50117f, 0.49969f, 0.49790f, 0.49581f, 0.49341f,
    0.49071f, 0.48773f, 0.48447f, 0.48093f, 0.47712f, 0.47304f, 0.46871f, 0.46413f,
    0.45930f, 0.45424f, 0.44894f, 0.44342f, 0.43768f, 0.43173f, 0.42557f, 0.41921f,
    0.41266f, 0.40592f, 0.39900f, 0.39190f, 0.38464f, 0.37721f, 0.36962f, 0.36189f,
    0.35401f, 0.34599f, 0.33783f, 0.32955f, 0.32114f, 0.31262f, 0.30399f, 0.29525f,
    0.28640f, 0.27746f, 0.26843f, 0.25931f, 0.25011f, 0.24084f, 0.23149f, 0.22207f,
    0.21258f, 0.20304f, 0.19344f, 0.18379f, 0.17409f, 0.16434f, 0.15456f, 0.14473f,
    0.13488f, 0.12499f, 0.11508f, 0.10514f, 0.09518f, 0.08520f, 0.07520f, 0.06520f,
    0.05518f, 0.04515f, 0.03512f, 0.02509f, 0.01505f, 0.00502f, -0.00502f, -0.01504f,
    -0.02506f, -0.03507f, -0.04507f, -0.05506f, -0.06503f, -0.07499f, -0.08493f, -0.09485f,
    -0.10475f, -0.11463f, -0.12448f, -0.13432f, -0.14412f, -0.15390f, -0.16365f, -0.17337f,
};

}  // namespace

float offset_row_term(int row) { return row >= 0 && row < kTableRows ? kRowTerm[row] : 0.0f; }

float offset_column_term(int col) { return col >= 0 && col < kTableCols ? kColumnTerm[col] : 0.0f; }

std::vector<float> default_offset_table()
{
    std::vector<float> table(static_cast<size_t>(kTableRows) * kTableCols);
    for (int r = 0; r < kTableRows; ++r) {
        for (int c = 0; c < kTableCols; ++c) {
            table[static_cast<size_t>(r) * kTableCols + c] = kRowTerm[r] + kColumnTerm[c];
        }
    }
    return table;
}

module_offset_calibration::module_offset_calibration() { parameters = default_offset_table(); }

bool module_offset_calibration::process(scene_t& scene)
{
    // The table fits only the image as assembled (56 x 192); a widened or
    // truncated image is left alone.
    if (!enabled || parameters.size() != scene.depth.size()) {
        return false;
    }
    float* depth = scene.depth.data();
    const float* offset = parameters.data();
    const size_t n = scene.depth.size();
    for (size_t i = 0; i < n; ++i) {
        depth[i] = depth[i] - offset[i];
    }
    return true;
}

}  // namespace TQZ
