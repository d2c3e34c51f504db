#include "orba/blocks/blocks/tremolo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "orba/blocks/frame.h"
#include "tests/support/block_harness.h"

namespace orba::blocks::tremolo {
namespace {

using test::run_period;
using test::test_signal;

constexpr float RATE = 48000.0f;

struct Settings {
    float rate_hz = 4.0f;
    float depth = 0.5f;
    float shape = 0.0f;
    float stereo_phase = 0.0f;
};

// The gain each channel gets, sample by sample, over `periods` control
// periods of a constant 1 in.
std::vector<std::vector<float>> gains(const Settings& s, std::size_t channels,
                                      std::size_t periods) {
    Tremolo tremolo;
    tremolo.prepare(channels, RATE);
    const float args[] = {s.rate_hz, s.depth, s.shape, s.stereo_phase};
    std::vector<std::vector<float>> out(channels);
    Frame frame;
    frame.resize(channels);
    frame.frames = SLICE;
    for (std::size_t p = 0; p < periods; ++p) {
        tremolo.control(args);
        for (auto& channel : frame.data)
            channel.fill(1.0f);
        tremolo.process(frame, 0);
        for (std::size_t c = 0; c < channels; ++c) {
            out[c].insert(out[c].end(), frame.data[c].begin(), frame.data[c].end());
        }
    }
    return out;
}

TEST(Tremolo, DepthZeroLeavesTheSignalBitExact) {
    for (float shape : {0.0f, 1.0f}) {
        Tremolo tremolo;
        tremolo.prepare(2, RATE);
        const float args[] = {7.0f, 0.0f, shape, 90.0f};
        const auto input = test_signal(2);
        for (int p = 0; p < 50; ++p) {
            tremolo.control(args);
            ASSERT_EQ(run_period(tremolo, input, SLICE), input);
        }
    }
}

TEST(Tremolo, FullDepthTriangleReachesSilenceAtTheStartOfEachCycle) {
    // 40 Hz at 48 kHz: a cycle every 1200 samples.
    const auto g = gains({.rate_hz = 40.0f, .depth = 1.0f, .shape = 1.0f}, 1, 80)[0];
    EXPECT_EQ(g[0], 0.0f);
    EXPECT_NEAR(g[600], 1.0f, 1e-6f);
    EXPECT_NEAR(g[1200], 0.0f, 1e-5f);
    EXPECT_NEAR(g[1500], 0.5f, 1e-5f);  // linear in between
    EXPECT_NEAR(g[1800], 1.0f, 1e-5f);
    EXPECT_NEAR(g[2400], 0.0f, 1e-5f);
}

TEST(Tremolo, SineSwingsBetweenFullLevelAndOneMinusDepth) {
    const auto g = gains({.rate_hz = 40.0f, .depth = 0.6f}, 1, 80)[0];
    const auto [low, high] = std::minmax_element(g.begin(), g.end());
    EXPECT_NEAR(*low, 0.4f, 1e-5f);
    EXPECT_NEAR(*high, 1.0f, 1e-6f);
    EXPECT_NEAR(g[0], 0.7f, 1e-6f);    // half way at the start of the cycle
    EXPECT_NEAR(g[300], 1.0f, 1e-5f);  // a quarter cycle on: the top
    EXPECT_NEAR(g[900], 0.4f, 1e-5f);  // three quarters: the bottom
}

TEST(Tremolo, HalfACycleApartTwoChannelsPanAutomatically) {
    const auto g = gains({.rate_hz = 3.0f, .depth = 1.0f, .stereo_phase = 180.0f}, 2, 600);
    const auto top = std::max_element(g[0].begin(), g[0].end()) - g[0].begin();
    EXPECT_NEAR(g[0][top], 1.0f, 1e-6f);
    EXPECT_NEAR(g[1][top], 0.0f, 1e-6f);
    // The level moves from side to side and never dips in the sum.
    for (std::size_t i = 0; i < g[0].size(); ++i) {
        ASSERT_NEAR(g[0][i] + g[1][i], 1.0f, 1e-5f) << i;
    }
}

TEST(Tremolo, StereoPhaseZeroMovesAllChannelsTogether) {
    const auto g = gains({.rate_hz = 5.0f, .depth = 0.8f}, 3, 100);
    EXPECT_EQ(g[1], g[0]);
    EXPECT_EQ(g[2], g[0]);
}

TEST(Tremolo, EachChannelRunsTheStereoPhaseAheadOfThePrevious) {
    // 40 Hz: 1200 samples a cycle; 90 degrees is 300 samples.
    for (float shape : {0.0f, 1.0f}) {
        const auto g =
            gains({.rate_hz = 40.0f, .depth = 1.0f, .shape = shape, .stereo_phase = 90.0f}, 3, 100);
        for (std::size_t i = 0; i + 600 < g[0].size(); ++i) {
            ASSERT_NEAR(g[1][i], g[0][i + 300], 1e-5f) << i;
            ASSERT_NEAR(g[2][i], g[0][i + 600], 1e-5f) << i;
        }
    }
}

TEST(Tremolo, DepthGlidesAcrossThePeriodAfterTheFirst) {
    Tremolo tremolo;
    tremolo.prepare(1, RATE);
    Frame frame;
    frame.resize(1);
    frame.frames = SLICE;
    // Triangle at phase 0 is the bottom of the cycle, where the gain is 1 -
    // depth.
    const float shallow[] = {0.05f, 0.2f, 1.0f, 0.0f};
    const float deep[] = {0.05f, 1.0f, 1.0f, 0.0f};
    tremolo.control(shallow);
    frame.data[0].fill(1.0f);
    tremolo.process(frame, 0);
    EXPECT_NEAR(frame.data[0][0], 0.8f, 1e-4f);
    tremolo.control(deep);
    frame.data[0].fill(1.0f);
    tremolo.process(frame, 0);
    EXPECT_NEAR(frame.data[0][0], 1.0f - (0.2f + 0.8f / 32.0f), 1e-3f);
    EXPECT_NEAR(frame.data[0][31], 0.0f, 1e-3f);
}

TEST(Tremolo, ASplitPeriodSoundsTheSameAsOneSlice) {
    for (float shape : {0.0f, 1.0f}) {
        auto run = [&](std::size_t cut) {
            Tremolo tremolo;
            tremolo.prepare(3, RATE);
            const float first[] = {13.0f, 0.3f, shape, 60.0f};
            const float second[] = {17.0f, 0.9f, shape, 60.0f};
            for (int p = 0; p < 7; ++p) {
                tremolo.control(first);
                run_period(tremolo, test_signal(3), SLICE);
            }
            tremolo.control(second);
            auto out = run_period(tremolo, test_signal(3), cut);
            tremolo.control(second);
            auto next = run_period(tremolo, test_signal(3), SLICE);
            out.insert(out.end(), next.begin(), next.end());
            return out;
        };
        const auto split = run(10);
        const auto whole = run(SLICE);
        for (std::size_t c = 0; c < whole.size(); ++c) {
            for (std::size_t j = 0; j < SLICE; ++j) {
                ASSERT_FLOAT_EQ(split[c][j], whole[c][j]) << "block " << c << " sample " << j;
            }
        }
    }
}

}  // namespace
}  // namespace orba::blocks::tremolo
