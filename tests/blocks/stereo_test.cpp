#include "orba/blocks/blocks/stereo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "orba/blocks/frame.h"
#include "tests/support/block_harness.h"

namespace orba::blocks::stereo {
namespace {

using test::run_period;
using test::test_signal;

struct Settings {
    float mode = 0.0f;
    float width = 1.0f;
    float mid_db = 0.0f;
    float side_db = 0.0f;
};

// One control period of `input` through a freshly prepared block.
std::vector<SliceArray> process(const Settings& s, const std::vector<SliceArray>& input) {
    Stereo stereo;
    stereo.prepare(input.size(), 48000.0f);
    const float args[] = {s.mode, s.width, s.mid_db, s.side_db};
    stereo.control(args);
    return run_period(stereo, input, SLICE);
}

// Checks every sample of a two-channel result against the expected pair.
template <typename Expected>
void expect_pairs(const std::vector<SliceArray>& in, const std::vector<SliceArray>& out,
                  Expected expected, float tolerance = 1e-6f) {
    for (std::size_t j = 0; j < SLICE; ++j) {
        const auto [l, r] = expected(in[0][j], in[1][j]);
        ASSERT_NEAR(out[0][j], l, tolerance) << j;
        ASSERT_NEAR(out[1][j], r, tolerance) << j;
    }
}

using Pair = std::pair<float, float>;

TEST(Stereo, WidthOneLeavesTheImageAlone) {
    const auto in = test_signal(2);
    expect_pairs(in, process({}, in), [](float l, float r) { return Pair{l, r}; });
}

TEST(Stereo, WidthZeroFoldsToMonoAtTheMidLevel) {
    const auto in = test_signal(2);
    expect_pairs(in, process({.width = 0.0f}, in), [](float l, float r) {
        return Pair{(l + r) / 2, (l + r) / 2};
    });
    // 20 * log10(2) dB on the mid doubles it.
    expect_pairs(
        in, process({.width = 0.0f, .mid_db = 6.0206f}, in),
        [](float l, float r) {
            return Pair{l + r, l + r};
        },
        1e-5f);
}

TEST(Stereo, WidthTwoDoublesTheSide) {
    const auto in = test_signal(2);
    expect_pairs(in, process({.width = 2.0f}, in), [](float l, float r) {
        return Pair{1.5f * l - 0.5f * r, 1.5f * r - 0.5f * l};
    });
}

TEST(Stereo, SideLevelActsLikeWidth) {
    const auto in = test_signal(2);
    expect_pairs(
        in, process({.side_db = 6.0206f}, in),
        [](float l, float r) {
            return Pair{1.5f * l - 0.5f * r, 1.5f * r - 0.5f * l};
        },
        1e-5f);
}

TEST(Stereo, EncodeThenDecodeRestoresTheInput) {
    const auto in = test_signal(2);
    const auto encoded = process({.mode = 1.0f}, in);
    expect_pairs(in, encoded, [](float l, float r) { return Pair{(l + r) / 2, (l - r) / 2}; });
    const auto decoded = process({.mode = 2.0f}, encoded);
    expect_pairs(in, decoded, [](float l, float r) { return Pair{l, r}; });
}

TEST(Stereo, MonoAndSwapDoWhatTheySay) {
    const auto in = test_signal(2);
    expect_pairs(in, process({.mode = 3.0f}, in), [](float l, float r) {
        return Pair{(l + r) / 2, (l + r) / 2};
    });
    expect_pairs(
        in, process({.mode = 4.0f}, in),
        [](float l, float r) {
            return Pair{r, l};
        },
        0.0f);
}

TEST(Stereo, AnyOtherChannelCountIsLeftUntouched) {
    for (std::size_t channels : {1u, 3u, 4u}) {
        const auto in = test_signal(channels);
        for (float mode : {0.0f, 1.0f, 2.0f, 3.0f, 4.0f}) {
            EXPECT_EQ(process({.mode = mode, .width = 2.0f, .mid_db = 6.0f}, in), in)
                << channels << " channels, mode " << mode;
        }
    }
}

TEST(Stereo, WidthGlidesAcrossThePeriodAfterTheFirst) {
    Stereo stereo;
    stereo.prepare(2, 48000.0f);
    const float wide[] = {0.0f, 1.0f, 0.0f, 0.0f};
    const float narrow[] = {0.0f, 0.0f, 0.0f, 0.0f};
    std::vector<SliceArray> left_only(2);
    left_only[0].fill(1.0f);
    stereo.control(wide);
    EXPECT_EQ(run_period(stereo, left_only, SLICE), left_only);
    stereo.control(narrow);
    const auto out = run_period(stereo, left_only, SLICE);
    // The side falls from 0.5 to 0 across the period: right rises from 0 to 0.5.
    EXPECT_NEAR(out[1][0], 0.5f / 32.0f, 1e-6f);
    EXPECT_NEAR(out[1][15], 0.25f, 1e-6f);
    EXPECT_NEAR(out[1][31], 0.5f, 1e-6f);
    EXPECT_NEAR(out[0][31], 0.5f, 1e-6f);
}

TEST(Stereo, ASplitPeriodSoundsTheSameAsOneSlice) {
    for (float mode : {0.0f, 1.0f, 2.0f, 3.0f, 4.0f}) {
        auto run = [&](std::size_t cut) {
            Stereo stereo;
            stereo.prepare(2, 48000.0f);
            const float first[] = {mode, 0.5f, -3.0f, 2.0f};
            const float second[] = {mode, 1.7f, 4.0f, -5.0f};
            stereo.control(first);
            run_period(stereo, test_signal(2), SLICE);
            stereo.control(second);
            return run_period(stereo, test_signal(2), cut);
        };
        EXPECT_EQ(run(10), run(SLICE)) << "mode " << mode;
    }
}

}  // namespace
}  // namespace orba::blocks::stereo
