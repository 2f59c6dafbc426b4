#include <gtest/gtest.h>

#include <cmath>

#include "chain_scenes.hpp"
#include "processing/processing_chain.hpp"

namespace {

using scene_t = VELKOR::LidarTQ::scene_t;

TEST(WalkError, CorrectionsWithTheDefaultCoefficients)
{
    TQZ::module_walk_error walk;
    const std::pair<uint16_t, double> listed[] = {{0, -0.0553},   {100, 0.0225},  {500, 0.3738},   {1258, 1.2461},
                                                  {2000, 2.4283}, {4000, 8.0659}, {10000, 88.3742}};
    for (const auto& [intensity, correction] : listed) {
        scene_t scene = chain_scenes::uniform_scene(0.0f, intensity, 0);
        ASSERT_TRUE(walk.process(scene));
        EXPECT_NEAR(scene.depth[0], correction, 0.00006) << intensity;
    }
    scene_t saturated = chain_scenes::uniform_scene(0.0f, 65535, 0);
    ASSERT_TRUE(walk.process(saturated));
    EXPECT_NEAR(saturated.depth[5], 4.6e8, 0.1e8);
}

TEST(AdaptiveThreshold, ThresholdsWithTheDefaultCoefficients)
{
    const TQZ::module_adaptive_threshold module;
    const float* p = module.parameters.data();
    const std::pair<float, int> listed[] = {{0, 19},    {1, 20},    {10, 25},   {50, 46},    {100, 73},
                                            {200, 125}, {500, 271}, {1000, 492}, {2000, 921}, {5000, 2078}};
    for (const auto& [x, threshold] : listed) {
        EXPECT_EQ(TQZ::module_adaptive_threshold::threshold(x, p), threshold) << x;
    }
    EXPECT_GT(TQZ::module_adaptive_threshold::threshold(7200, p), 0);
    EXPECT_LT(TQZ::module_adaptive_threshold::threshold(7300, p), 0);
    EXPECT_NEAR(TQZ::module_adaptive_threshold::threshold(5820, p), 2256, 5);
    // Far beyond the integer range the threshold saturates instead of wrapping.
    EXPECT_EQ(TQZ::module_adaptive_threshold::threshold(4.0e7f, p), INT32_MIN);
}

TEST(AdaptiveThreshold, DropsWeakReturnsForTheAmbientLight)
{
    TQZ::module_adaptive_threshold threshold;
    // Ambient sum 99 -> x = 0 -> threshold 19: 19 is dropped, 20 kept.
    scene_t scene = chain_scenes::uniform_scene(50.0f, 19, 33);
    scene.intensity[1] = 20;
    ASSERT_TRUE(threshold.process(scene));
    EXPECT_EQ(scene.depth[0], 0.0f);
    EXPECT_EQ(scene.depth[1], 50.0f);
    // Sum 800,000 (x = 8000): negative threshold, nothing dropped.
    scene_t bright = chain_scenes::uniform_scene(50.0f, 0, 266667);
    ASSERT_TRUE(threshold.process(bright));
    EXPECT_EQ(bright.depth[0], 50.0f);
}

TEST(Offsets, GlobalOffsetAndTableAsTheSheetSays)
{
    TQZ::module_global_offset global;
    TQZ::module_offset_calibration table;
    scene_t scene = chain_scenes::uniform_scene(100.0f, 0, 0);
    ASSERT_TRUE(global.process(scene));
    EXPECT_NEAR(scene.depth[0], 67.08, 0.005);
    ASSERT_TRUE(table.process(scene));
    EXPECT_NEAR(scene.depth[191], 68.477, 0.0005);

    global.parameters = {1.0f, 2.0f};
    const scene_t before = scene;
    EXPECT_FALSE(global.process(scene));
    EXPECT_TRUE(same_bits(scene, before));
    scene.depth.resize(56 * 576);
    EXPECT_FALSE(table.process(scene));
}

TEST(BackBeamRemoval, DefaultSingleParameterNeverApplies)
{
    TQZ::module_back_beam_removal beam;
    beam.enabled = true;
    beam.second_echo = {std::vector<float>(10752, 100.0f), std::vector<float>(10752, 900.0f)};
    scene_t scene = chain_scenes::uniform_scene(0.5f, 0, 0);
    EXPECT_FALSE(beam.process(scene));
    EXPECT_EQ(scene.depth[0], 0.5f);
}

TEST(BackBeamRemoval, NearWeakReturnsTakeAStrongSecondEcho)
{
    TQZ::module_back_beam_removal beam;
    beam.set_parameters({10.0f, 200.0f, 300.0f});
    scene_t scene = chain_scenes::uniform_scene(5.0f, 100, 0);
    std::vector<float> range(10752, 80.0f), strength(10752, 500.7f);
    range[1] = 8.0f;      // second echo near as well: dropped
    strength[2] = 10.0f;  // too weak: dropped
    scene.depth[3] = 20.0f;  // far first return: kept
    scene.intensity[4] = 900;  // strong first return: kept
    strength[5] = 1e9f;        // saturates
    beam.second_echo = {range, strength};
    ASSERT_TRUE(beam.process(scene));
    EXPECT_EQ(scene.depth[0], 80.0f);
    EXPECT_EQ(scene.intensity[0], 500);
    EXPECT_EQ(scene.depth[1], 0.0f);
    EXPECT_EQ(scene.depth[2], 0.0f);
    EXPECT_EQ(scene.depth[3], 20.0f);
    EXPECT_EQ(scene.depth[4], 5.0f);
    EXPECT_EQ(scene.intensity[5], 65535);
}

// Depth completion on a row whose first two measured columns are set.
scene_t completed(float left, float right, uint16_t left_i, uint16_t right_i, uint32_t ambient = 1000)
{
    scene_t scene = chain_scenes::uniform_scene(0.0f, 0, ambient);
    scene.depth[0] = left;
    scene.depth[1] = right;
    scene.intensity[0] = left_i;
    scene.intensity[1] = right_i;
    TQZ::module_depth_completion completion;
    EXPECT_TRUE(completion.process(scene));
    return scene;
}

TEST(DepthCompletion, InterpolatesCloseNeighbours)
{
    const scene_t s = completed(100.0f, 105.0f, 1000, 1050);
    EXPECT_EQ(s.cols, 576);
    EXPECT_NEAR(s.depth[2], 101.6667, 0.0001);
    EXPECT_NEAR(s.depth[3], 103.3333, 0.0001);
    EXPECT_EQ(s.depth[1], 100.0f);
    EXPECT_EQ(s.depth[4], 105.0f);
    EXPECT_EQ(s.intensity[2], 1016);
    EXPECT_EQ(s.intensity[3], 1033);
    const scene_t spread = completed(100.0f, 101.0f, 1000, 1150);
    EXPECT_EQ(spread.intensity[2], 1000);
    EXPECT_EQ(spread.intensity[3], 1000);
    EXPECT_EQ(s.depth[0], 0.0f);
    EXPECT_EQ(s.pointcloud[0].azimuth, 0.0);
    EXPECT_EQ(s.pointcloud[575].elevation, 0.0);
}

TEST(DepthCompletion, EdgesCopyTheNearerNeighbourWhenTheAmbientAgrees)
{
    scene_t scene = chain_scenes::uniform_scene(0.0f, 0, 1000);
    scene.depth[0] = 100.0f;
    scene.depth[1] = 110.0f;
    scene.intensity[0] = 700;
    scene.intensity[1] = 800;
    scene.ambient[3] = 1500;  // column 3: nearer neighbour is column 4 (ambient 1000)
    TQZ::module_depth_completion completion;
    ASSERT_TRUE(completion.process(scene));
    EXPECT_EQ(scene.depth[2], 100.0f);
    EXPECT_EQ(scene.intensity[2], 700);
    EXPECT_EQ(scene.depth[3], 0.0f);
    EXPECT_EQ(scene.intensity[3], 800);

    const scene_t far = completed(340.0f, 350.0f, 700, 800);
    EXPECT_EQ(far.depth[2], 0.0f);
    EXPECT_EQ(far.intensity[2], 0);
    const scene_t dropped = completed(0.0f, 20.0f, 0, 500);
    EXPECT_EQ(dropped.depth[2], 0.0f);
    EXPECT_EQ(dropped.depth[3], 20.0f);
}

TEST(GenPointcloud, ZeroAndNegativeRanges)
{
    TQZ::module_gen_pointcloud gen;
    scene_t scene = chain_scenes::uniform_scene(0.0f, 77, 0);
    scene.depth[1] = -10.0f;
    scene_t mirrored = scene;
    mirrored.depth[1] = 10.0f;
    ASSERT_TRUE(gen.process(scene));
    ASSERT_TRUE(gen.process(mirrored));
    EXPECT_EQ(scene.pointcloud[0].x, 0.0);
    EXPECT_EQ(scene.pointcloud[0].z, 0.0);
    EXPECT_EQ(scene.pointcloud[0].intensity, 77.0);
    EXPECT_DOUBLE_EQ(scene.pointcloud[1].x, -mirrored.pointcloud[1].x);
    EXPECT_DOUBLE_EQ(scene.pointcloud[1].y, -mirrored.pointcloud[1].y);
    EXPECT_DOUBLE_EQ(scene.pointcloud[1].z, -mirrored.pointcloud[1].z);
    EXPECT_GT(mirrored.pointcloud[1].x, 0.0);
    scene_t empty;
    EXPECT_FALSE(gen.process(empty));
}

// Every module that reads a second image by the depth image's index must
// leave a scene alone whose other image is too short.
TEST(ShortImages, EveryModuleLeavesTheSceneUnchanged)
{
    TQZ::processing_chain chain;
    chain.set_signal_data_processing(true);
    chain.back_beam_removal->set_parameters({100.0f, 60000.0f, 0.0f});
    chain.back_beam_removal->second_echo = {std::vector<float>(10752, 200.0f), std::vector<float>(10752, 5.0f)};
    std::vector<TQZ::data_processing*> modules = {
        chain.back_beam_removal.get(), chain.global_offset.get(), chain.offset_calibration.get(),
        chain.walk_error.get(), chain.adaptive_threshold.get(), chain.depth_completion.get(),
        chain.gen_pointcloud.get()};
    const scene_t base = chain_scenes::random_scene(9);
    auto check = [&](const char* what, auto shorten, std::vector<int> affected) {
        for (int k : affected) {
            scene_t scene = base;
            shorten(scene);
            const scene_t before = scene;
            EXPECT_FALSE(modules[k]->process(scene)) << what << " module " << k;
            EXPECT_TRUE(same_bits(scene, before)) << what << " module " << k;
        }
    };
    check("intensity", [](scene_t& s) { s.intensity.resize(100); }, {0, 3, 4, 5, 6});
    check("ambient", [](scene_t& s) { s.ambient.resize(3 * 10752 - 1); }, {4, 5});
    check("pointcloud", [](scene_t& s) { s.pointcloud.resize(10751); }, {5});
    check("depth", [](scene_t& s) { s.depth.resize(10751); }, {2, 5, 6});
    check("rows", [](scene_t& s) { s.rows = -1; }, {5});
    check("cols", [](scene_t& s) {
        s.rows = 0;
        s.cols = 1000000000;
    }, {5});
    chain.back_beam_removal->second_echo[1].resize(10);
    check("second echo", [](scene_t&) {}, {0});
}

}  // namespace
