#include "orba/blocks/blocks/shaper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "orba/blocks/frame.h"
#include "tests/support/block_harness.h"

namespace orba::blocks::shaper {
namespace {

using test::run_period;
using test::test_signal;

struct Settings {
    float curve = 0.0f;
    float drive_db = 0.0f;
    float bias = 0.0f;
    float output_db = 0.0f;
};

// Prepares a one-channel shaper, runs one control period over `input` (at most
// 32 samples) and returns the output.
std::vector<float> shape(const Settings& s, const std::vector<float>& input) {
    Shaper shaper;
    shaper.prepare(1, 48000.0f);
    const float args[] = {s.curve, s.drive_db, s.bias, s.output_db};
    shaper.control(args);
    Frame frame;
    frame.resize(1);
    frame.frames = input.size();
    for (std::size_t j = 0; j < input.size(); ++j)
        frame.data[0][j] = input[j];
    shaper.process(frame, 0);
    return {frame.data[0].begin(), frame.data[0].begin() + input.size()};
}

float shape_one(const Settings& s, float x) {
    return shape(s, {x})[0];
}

TEST(Shaper, SilenceStaysSilentForEveryCurveAndBias) {
    for (float curve : {0.0f, 1.0f, 2.0f, 3.0f, 4.0f}) {
        for (float bias : {-1.0f, -0.7f, -0.25f, 0.0f, 0.1f, 0.5f, 1.0f}) {
            for (float drive : {-24.0f, 0.0f, 48.0f}) {
                const auto out = shape({curve, drive, bias, 12.0f}, std::vector<float>(32, 0.0f));
                for (float y : out) {
                    ASSERT_EQ(y, 0.0f) << "curve " << curve << " bias " << bias;
                }
            }
        }
    }
}

TEST(Shaper, HardPassesTheUnitRangeAndClipsTheRest) {
    const Settings hard{.curve = 1.0f};
    const std::vector<float> in = {0.0f, 0.25f, -0.75f, 1.0f, -1.0f, 1.5f, -3.0f};
    const std::vector<float> expected = {0.0f, 0.25f, -0.75f, 1.0f, -1.0f, 1.0f, -1.0f};
    EXPECT_EQ(shape(hard, in), expected);
}

TEST(Shaper, SoftclipMeetsOneWithAGentleKnee) {
    const Settings soft{.curve = 2.0f};
    EXPECT_EQ(shape_one(soft, 1.0f), 1.0f);
    EXPECT_EQ(shape_one(soft, 0.5f), 0.6875f);
    EXPECT_EQ(shape_one(soft, -0.5f), -0.6875f);
    EXPECT_EQ(shape_one(soft, 4.0f), 1.0f);
    EXPECT_EQ(shape_one(soft, -4.0f), -1.0f);
}

TEST(Shaper, FoldTurnsPeaksBackOnThemselves) {
    const Settings fold{.curve = 3.0f};
    EXPECT_FLOAT_EQ(shape_one(fold, 1.0f), 1.0f);
    EXPECT_NEAR(shape_one(fold, 2.0f), 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(shape_one(fold, 1.5f), shape_one(fold, 0.5f));
}

TEST(Shaper, TubeSaturatesItsTwoHalvesAtDifferentLevels) {
    const Settings tube{.curve = 4.0f};
    EXPECT_NEAR(shape_one(tube, 50.0f), 1.0f, 1e-6f);
    EXPECT_NEAR(shape_one(tube, -50.0f), -0.8f, 1e-6f);
    // Both halves leave zero with slope 1.
    EXPECT_NEAR(shape_one(tube, 1e-3f), 1e-3f, 1e-6f);
    EXPECT_NEAR(shape_one(tube, -1e-3f), -1e-3f, 1e-6f);
}

TEST(Shaper, TanhRoundsPeaksTowardOne) {
    EXPECT_NEAR(shape_one({.curve = 0.0f}, 0.5f), 0.46211716f, 1e-6f);
    const float hot = shape_one({.curve = 0.0f, .drive_db = 12.0f}, 1.0f);
    EXPECT_GT(hot, 0.999f);
    EXPECT_LT(hot, 1.0f);
}

TEST(Shaper, BiasMakesTheHalvesOfASineUnequalButKeepsZeroAtZero) {
    const Settings biased{.curve = 0.0f, .drive_db = 6.0f, .bias = 0.5f};
    EXPECT_EQ(shape_one(biased, 0.0f), 0.0f);
    const float up = shape_one(biased, 0.8f);
    const float down = shape_one(biased, -0.8f);
    EXPECT_GT(up, 0.0f);
    EXPECT_LT(down, 0.0f);
    EXPECT_GT(std::fabs(down) - up, 0.1f);
}

TEST(Shaper, DriveAndOutputGainsApplyInDecibels) {
    // Output 20 * log10(2) dB doubles a signal the hard curve passes through.
    const Settings louder{.curve = 1.0f, .output_db = 6.0206f};
    EXPECT_NEAR(shape_one(louder, 0.25f), 0.5f, 1e-5f);
    const Settings driven{.curve = 1.0f, .drive_db = 6.0206f};
    EXPECT_NEAR(shape_one(driven, 0.25f), 0.5f, 1e-5f);
    EXPECT_EQ(shape_one(driven, 0.75f), 1.0f);
}

TEST(Shaper, OutputGlidesAcrossThePeriodAfterTheFirst) {
    Shaper shaper;
    shaper.prepare(1, 48000.0f);
    Frame frame;
    frame.resize(1);
    frame.frames = SLICE;
    const float quiet[] = {1.0f, 0.0f, 0.0f, 0.0f};
    const float loud[] = {1.0f, 0.0f, 0.0f, 6.0206f};
    // The first period takes its values directly.
    shaper.control(quiet);
    frame.data[0].fill(0.25f);
    shaper.process(frame, 0);
    for (float y : frame.data[0])
        ASSERT_EQ(y, 0.25f);
    shaper.control(loud);
    frame.data[0].fill(0.25f);
    shaper.process(frame, 0);
    EXPECT_NEAR(frame.data[0][0], 0.25f * (1.0f + 1.0f / 32.0f), 1e-5f);
    EXPECT_NEAR(frame.data[0][15], 0.375f, 1e-5f);
    EXPECT_NEAR(frame.data[0][31], 0.5f, 1e-5f);
}

TEST(Shaper, ASplitPeriodSoundsTheSameAsOneSlice) {
    const float first[] = {0.0f, 0.0f, 0.2f, 0.0f};
    const float second[] = {0.0f, 18.0f, 0.2f, -6.0f};
    auto run = [&](std::size_t cut) {
        Shaper shaper;
        shaper.prepare(2, 48000.0f);
        shaper.control(first);
        run_period(shaper, test_signal(2), SLICE);
        shaper.control(second);
        return run_period(shaper, test_signal(2), cut);
    };
    EXPECT_EQ(run(10), run(SLICE));
}

}  // namespace
}  // namespace orba::blocks::shaper
