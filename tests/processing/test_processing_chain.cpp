#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "chain_scenes.hpp"
#include "processing/processing_chain.hpp"
#include "reference_chain.hpp"

namespace {

using scene_t = VELKOR::LidarTQ::scene_t;

uint32_t bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

TEST(ProcessingChain, StartsWithTheDefaults)
{
    TQZ::processing_chain chain;
    EXPECT_FALSE(chain.back_beam_removal->enabled);
    EXPECT_TRUE(chain.global_offset->enabled);
    EXPECT_TRUE(chain.offset_calibration->enabled);
    EXPECT_TRUE(chain.walk_error->enabled);
    EXPECT_TRUE(chain.adaptive_threshold->enabled);
    EXPECT_TRUE(chain.depth_completion->enabled);
    EXPECT_TRUE(chain.gen_pointcloud->enabled);
    EXPECT_EQ(bits(chain.gen_pointcloud->half_light_speed), 0x4315E56Fu);

    ASSERT_EQ(chain.global_offset->parameters.size(), 1u);
    EXPECT_EQ(bits(chain.global_offset->parameters[0]), 0x459A3800u);
    EXPECT_EQ(chain.back_beam_removal->parameters, std::vector<float>{1.0f});
    EXPECT_EQ(chain.offset_calibration->parameters.size(), 10752u);
    EXPECT_TRUE(chain.depth_completion->parameters.empty());

    const uint32_t walk[] = {0xC75CE4D5, 0x3E2FECBA, 0x475CE614, 0x3E2FF026, 0x449D4000, 0x442FB333};
    ASSERT_EQ(chain.walk_error->parameters.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(bits(chain.walk_error->parameters[i]), walk[i]) << i;
    }
    const uint32_t poly[] = {0x9AC3F785, 0x21B4A16A, 0xA7D70E4F, 0x2CB9C603,
                             0x33254535, 0xB8F7AC74, 0x3F0D6388, 0x419D47AE};
    ASSERT_EQ(chain.adaptive_threshold->parameters.size(), 8u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(bits(chain.adaptive_threshold->parameters[i]), poly[i]) << i;
    }
}

TEST(ProcessingChain, SecondEchoBuffersAreTrimmedToTwoAndHandedOn)
{
    TQZ::processing_chain chain;
    chain.second_echo_buffers = {{1.0f, 2.0f}, {3.0f}, {4.0f}, {5.0f}};
    scene_t scene = chain_scenes::uniform_scene(100.0f, 500, 100);
    chain.run(scene);
    const std::vector<std::vector<float>> expected = {{1.0f, 2.0f}, {3.0f}};
    EXPECT_EQ(chain.second_echo_buffers, expected);
    EXPECT_EQ(chain.back_beam_removal->second_echo, expected);

    chain.second_echo_buffers.clear();
    chain.run(scene);
    EXPECT_EQ(chain.second_echo_buffers.size(), 2u);
    EXPECT_TRUE(chain.back_beam_removal->second_echo[0].empty());
}

TEST(ProcessingChain, WithProcessingOnAFrameLeaves576ColumnsWide)
{
    TQZ::processing_chain chain;
    chain.set_signal_data_processing(true);
    scene_t scene = chain_scenes::realistic_scene(1);
    chain.run(scene);
    EXPECT_EQ(scene.rows, 56);
    EXPECT_EQ(scene.cols, 576);
    EXPECT_EQ(scene.depth.size(), 56u * 576);
    EXPECT_EQ(scene.intensity.size(), 56u * 576);
    EXPECT_EQ(scene.pointcloud.size(), 56u * 576);
    EXPECT_EQ(scene.ambient.size(), 56u * 576);
    for (int r = 0; r < 56; ++r) {
        for (int j : {0, 575}) {
            const auto& p = scene.pointcloud[r * 576 + j];
            EXPECT_EQ(scene.depth[r * 576 + j], 0.0f);
            EXPECT_EQ(p.x, 0.0);
            EXPECT_EQ(p.azimuth, 0.0);
            EXPECT_EQ(p.elevation, 0.0);
        }
    }
}

TEST(ProcessingChain, WithProcessingOffOnlyTheGlobalOffsetAppliesAndPointsAreStillMade)
{
    TQZ::processing_chain chain;
    chain.set_signal_data_processing(false);
    scene_t scene = chain_scenes::uniform_scene(100.0f, 0, 0);
    chain.run(scene);
    EXPECT_EQ(scene.cols, 192);
    ASSERT_EQ(scene.depth.size(), 56u * 192);
    const float expected = 100.0f - 4935.0f / 149.896225f;
    EXPECT_NEAR(expected, 67.08, 0.005);
    for (float d : scene.depth) {
        ASSERT_EQ(d, expected);  // no table offset, walk error or threshold
    }
    const auto& p = scene.pointcloud[27 * 192 + 95];
    const double d = static_cast<double>(expected * 149.896225f);
    EXPECT_EQ(p.x, (std::cos(p.elevation) * d) * std::cos(p.azimuth));
    EXPECT_GT(p.x, 10000.0);
}

TEST(ProcessingChain, SwitchingBackOnEnablesAllSixModules)
{
    TQZ::processing_chain chain;
    chain.set_signal_data_processing(false);
    EXPECT_TRUE(chain.global_offset->enabled);
    EXPECT_FALSE(chain.offset_calibration->enabled);
    EXPECT_FALSE(chain.depth_completion->enabled);
    chain.gen_pointcloud->enabled = false;  // not consulted and not touched
    chain.set_signal_data_processing(true);
    EXPECT_TRUE(chain.back_beam_removal->enabled);
    EXPECT_TRUE(chain.offset_calibration->enabled);
    EXPECT_TRUE(chain.walk_error->enabled);
    EXPECT_TRUE(chain.adaptive_threshold->enabled);
    EXPECT_TRUE(chain.depth_completion->enabled);
    EXPECT_FALSE(chain.gen_pointcloud->enabled);
    scene_t scene = chain_scenes::uniform_scene(50.0f, 1000, 10);
    chain.run(scene);
    EXPECT_NE(scene.pointcloud[56 * 576 / 2 + 1].x, 0.0);
}

// The switch belongs to the process and cannot be taken back, so the child
// process of a death test makes it. Chains built before and after it follow
// it; a flag set on one chain holds until the next switch.
TEST(ProcessingChain, TheProcessWideSwitchReachesEveryChain)
{
    EXPECT_EXIT(
        {
            auto check = [](bool holds, const char* what) {
                if (!holds) {
                    std::fprintf(stderr, "failed: %s\n", what);
                    std::exit(1);
                }
            };
            TQZ::processing_chain before;
            before.walk_error->enabled = false;
            scene_t scene = chain_scenes::uniform_scene(50.0f, 1000, 10);
            before.run(scene);
            check(!before.walk_error->enabled && scene.cols == 576, "own flag held");
            TQZ::set_signal_data_processing(false);
            TQZ::processing_chain after;
            check(!after.offset_calibration->enabled && after.global_offset->enabled, "later chain starts off");
            scene = chain_scenes::uniform_scene(50.0f, 1000, 10);
            before.run(scene);
            check(!before.depth_completion->enabled && scene.cols == 192, "earlier chain switched off");
            TQZ::set_signal_data_processing(true);
            scene = chain_scenes::uniform_scene(50.0f, 1000, 10);
            after.run(scene);
            check(after.back_beam_removal->enabled && after.walk_error->enabled && scene.cols == 576,
                  "switched on again");
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

// The fast chain against the plain transcription, frame after frame through
// the same scene object (as get_scene reuses the caller's scene).
void expect_matches_reference(TQZ::processing_chain& chain, bool processing, int random_frames, int realistic_frames)
{
    chain.set_signal_data_processing(processing);
    scene_t fast;
    scene_t plain;
    for (int k = 0; k < random_frames + realistic_frames; ++k) {
        const uint32_t seed = 1000u + k;
        const scene_t input = k < random_frames ? chain_scenes::random_scene(seed) : chain_scenes::realistic_scene(seed);
        fast = input;
        plain = input;
        const reference_chain::settings settings = reference_chain::from_chain(chain);
        chain.run(fast);
        reference_chain::run(plain, settings);
        ASSERT_TRUE(same_bits(fast, plain)) << "frame " << k << " processing " << processing;
    }
}

TEST(ProcessingChain, BitIdenticalToTheReferenceWithProcessingOn)
{
    TQZ::processing_chain chain;
    expect_matches_reference(chain, true, 60, 20);
}

TEST(ProcessingChain, BitIdenticalToTheReferenceWithProcessingOff)
{
    TQZ::processing_chain chain;
    expect_matches_reference(chain, false, 30, 10);
}

TEST(ProcessingChain, BitIdenticalWithBackBeamRemovalAndOtherCoefficients)
{
    TQZ::processing_chain chain;
    chain.set_signal_data_processing(true);
    chain.back_beam_removal->set_parameters({60.0f, 800.0f, 300.0f});
    std::mt19937 rng(5);
    std::vector<float> range(56 * 192), strength(56 * 192);
    for (size_t i = 0; i < range.size(); ++i) {
        range[i] = static_cast<float>(rng() % 4000) * 0.0625f;
        strength[i] = static_cast<float>(rng() % 70000) - 1000.0f;
    }
    chain.second_echo_buffers = {range, strength};
    expect_matches_reference(chain, true, 20, 5);

    // Coefficients as a device might send them: the tables follow.
    chain.walk_error->set_parameters({-50000.0f, 0.2f, 50001.5f, 0.20002f, 1000.0f, 650.0f});
    chain.adaptive_threshold->set_parameters({0, 0, 0, 0, 0, -1e-4f, 0.6f, 25.0f});
    expect_matches_reference(chain, true, 20, 5);
    chain.adaptive_threshold->set_parameters({1e-20f, 1e-15f, 0, 0, 0, 0, 0.6f, 25.0f});
    expect_matches_reference(chain, true, 10, 0);
}

TEST(ProcessingChain, CallerAnglesAreHonouredFrameAfterFrame)
{
    TQZ::processing_chain chain;
    chain.set_signal_data_processing(false);
    for (int k = 0; k < 3; ++k) {
        scene_t fast = chain_scenes::realistic_scene(7);
        fast.pointcloud[k * 10].azimuth = 0.5 + k;
        fast.pointcloud[k * 10 + 1].elevation = -0.25;
        scene_t plain = fast;
        const auto settings = reference_chain::from_chain(chain);
        chain.run(fast);
        reference_chain::run(plain, settings);
        ASSERT_TRUE(same_bits(fast, plain)) << k;
    }
}

// Completion and point generation run as one pass on well-formed scenes; the
// cases below reach its edges: directions that change from frame to frame in
// a single row, a NaN direction, and shapes that it hands to the modules.
TEST(ProcessingChain, ChangedDirectionsWithProcessingOnMatchTheReferenceFrameAfterFrame)
{
    TQZ::processing_chain chain;
    chain.set_signal_data_processing(true);
    scene_t fast;
    scene_t plain;
    for (int k = 0; k < 8; ++k) {
        scene_t input = chain_scenes::realistic_scene(11);
        if (k % 2 == 1) {
            input.pointcloud[k * 192 + 5].azimuth = 0.25 * k;        // one row, one pixel
            input.pointcloud[55 * 192 + 191].elevation = -0.125 * k;  // last pixel
            input.pointcloud[3].spare = 7.5;
        }
        if (k == 5) {
            input.pointcloud[30 * 192 + 40].elevation = std::nan("");
            input.pointcloud[40 * 192 + 100].azimuth = 1e300;  // beyond the 32-bit range
        }
        fast = input;
        plain = input;
        const auto settings = reference_chain::from_chain(chain);
        chain.run(fast);
        reference_chain::run(plain, settings);
        ASSERT_TRUE(same_bits(fast, plain)) << "frame " << k;
    }
}

// The corrections run as one pass only while all four apply; each one
// missing on its own must still give the reference's bits.
TEST(ProcessingChain, EachCorrectionMissingOnItsOwnMatchesTheReference)
{
    TQZ::processing_chain chain;
    for (int missing = 0; missing < 5; ++missing) {
        chain.set_signal_data_processing(true);
        chain.walk_error->set_parameters({-56548.832f, 0.17180148f, 56550.078f, 0.17181453f, 1258.0f, 702.8f});
        switch (missing) {
        case 0: chain.global_offset->set_parameters({4935.0f, 1.0f}); break;
        case 1: chain.offset_calibration->enabled = false; break;
        case 2: chain.walk_error->set_parameters({1.0f, 2.0f, 3.0f, 4.0f, 5.0f}); break;
        case 3: chain.adaptive_threshold->enabled = false; break;
        case 4: break;  // all four
        }
        for (uint32_t seed = 0; seed < 3; ++seed) {
            scene_t fast = seed == 0 ? chain_scenes::realistic_scene(seed) : chain_scenes::random_scene(seed);
            if (seed == 2) {
                fast.ambient.resize(fast.ambient.size() / 2);  // too short for the threshold
            }
            scene_t plain = fast;
            const auto settings = reference_chain::from_chain(chain);
            chain.run(fast);
            reference_chain::run(plain, settings);
            ASSERT_TRUE(same_bits(fast, plain)) << "missing " << missing << " seed " << seed;
        }
    }
}

scene_t random_shaped_scene(int rows, int cols, uint32_t seed)
{
    std::mt19937 rng(seed);
    scene_t scene;
    scene.rows = rows;
    scene.cols = cols;
    const size_t n = static_cast<size_t>(rows) * cols;
    scene.ambient.resize(3 * n);
    scene.depth.resize(n);
    scene.intensity.resize(n);
    scene.pointcloud.resize(n);
    for (size_t i = 0; i < n; ++i) {
        scene.depth[i] = static_cast<float>(rng() % 4000) * 0.0625f;
        scene.intensity[i] = static_cast<uint16_t>(rng() % 3000);
        scene.pointcloud[i].azimuth = static_cast<float>(static_cast<int>(rng() % 2000) - 1000) * 1e-3f;
        scene.pointcloud[i].elevation = static_cast<float>(static_cast<int>(rng() % 600) - 300) * 1e-3f;
        scene.pointcloud[i].spare = static_cast<double>(i);
    }
    for (auto& a : scene.ambient) {
        a = rng() % 1500;
    }
    return scene;
}

TEST(ProcessingChain, UnusualShapesWithProcessingOnMatchTheReference)
{
    TQZ::processing_chain chain;
    chain.set_signal_data_processing(true);
    struct shape {
        int rows;
        int cols;
    };
    // One row, a few, wider than the sensor, a single column, and the
    // sensor's own size after a smaller one (the direction table follows).
    for (const shape s : {shape{1, 192}, shape{2, 7}, shape{3, 64}, shape{56, 193}, shape{4, 1}, shape{56, 192},
                          shape{5, 192}, shape{56, 192}}) {
        for (uint32_t seed = 0; seed < 2; ++seed) {
            scene_t fast = random_shaped_scene(s.rows, s.cols, seed);
            scene_t plain = fast;
            const auto settings = reference_chain::from_chain(chain);
            chain.run(fast);
            reference_chain::run(plain, settings);
            ASSERT_TRUE(same_bits(fast, plain)) << s.rows << " x " << s.cols;
        }
    }
    // Images of inconsistent length: a longer point cloud, a short ambient image.
    scene_t longer = random_shaped_scene(56, 192, 9);
    longer.pointcloud.resize(longer.pointcloud.size() + 10);
    scene_t short_ambient = random_shaped_scene(56, 192, 10);
    short_ambient.ambient.resize(short_ambient.ambient.size() - 1);
    for (scene_t* odd : {&longer, &short_ambient}) {
        scene_t plain = *odd;
        const auto settings = reference_chain::from_chain(chain);
        chain.run(*odd);
        reference_chain::run(plain, settings);
        ASSERT_TRUE(same_bits(*odd, plain));
    }
}

// --- walk-error coefficients from the device's settings document ---

class WalkErrorLoader : public testing::Test {
protected:
    TQZ::processing_chain chain;
    std::vector<float>& loaded = chain.walk_error->parameters;
};

TEST_F(WalkErrorLoader, SixNumbersReplaceTheDefaults)
{
    const auto doc = nlohmann::json::parse(R"({"PL_Reg": {"walk_err_param": [-5e4, 0.2, 50001, 0.2, 1000, 650.5]}})");
    EXPECT_TRUE(chain.load_walk_error_parameters(doc));
    EXPECT_EQ(loaded, (std::vector<float>{-5e4f, 0.2f, 50001.0f, 0.2f, 1000.0f, 650.5f}));
}

TEST_F(WalkErrorLoader, IntegersUnsignedAndBooleansConvertByValue)
{
    nlohmann::json doc;
    doc["PL_Reg"]["walk_err_param"] = {-3, 7u, true, false, 18446744073709551615u, 2.5};
    EXPECT_TRUE(chain.load_walk_error_parameters(doc));
    EXPECT_EQ(loaded, (std::vector<float>{-3.0f, 7.0f, 1.0f, 0.0f, 18446744073709551615.0f, 2.5f}));
}

TEST_F(WalkErrorLoader, MissingOrMisshapenMemberLeavesAPassThrough)
{
    const char* docs[] = {R"({"other": 1})", R"({"PL_Reg": 3})", R"({"PL_Reg": {"walk_err_param": 5}})",
                          R"({"PL_Reg": {"walk_err_param": [1, 2, 3, 4, 5]}})",
                          R"({"PL_Reg": {"walk_err_param": [1, 2, 3, 4, 5, 6, 7]}})", R"([1, 2])", "null"};
    for (const char* text : docs) {
        SCOPED_TRACE(text);
        chain.walk_error->parameters = {1, 2, 3, 4, 5, 6};
        EXPECT_TRUE(chain.load_walk_error_parameters(nlohmann::json::parse(text)));
        EXPECT_NE(loaded.size(), 6u);
        scene_t scene = chain_scenes::uniform_scene(80.0f, 900, 0);
        const scene_t before = scene;
        EXPECT_FALSE(chain.walk_error->process(scene));
        EXPECT_TRUE(same_bits(scene, before));
    }
}

TEST_F(WalkErrorLoader, NonNumericElementIsMalformedAndNeverThrows)
{
    const char* docs[] = {R"({"PL_Reg": {"walk_err_param": [1, 2, "3", 4, 5, 6]}})",
                          R"({"PL_Reg": {"walk_err_param": [1, 2, 3, 4, 5, null]}})",
                          R"({"PL_Reg": {"walk_err_param": [1, 2, 3, 4, 5, 6, {}]}})",
                          R"({"PL_Reg": {"walk_err_param": [[1], 2, 3, 4, 5, 6]}})",
                          R"({"PL_Reg": {"walk_err_param": [1e300, 2, 3, 4, 5, 6]}})"};
    for (const char* text : docs) {
        SCOPED_TRACE(text);
        bool result = true;
        EXPECT_NO_THROW(result = chain.load_walk_error_parameters(nlohmann::json::parse(text)));
        EXPECT_FALSE(result);
        EXPECT_TRUE(loaded.empty());
    }
}

}  // namespace
