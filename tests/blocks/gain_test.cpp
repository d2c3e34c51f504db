#include "orba/blocks/blocks/gain.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "tests/support/block_harness.h"

namespace orba::blocks::gain {
namespace {

struct Settings {
    float gain_db = 0.0f;
    float pan = 0.0f;
    float invert = 0.0f;
};

std::vector<float> values(const Settings& s) {
    return {s.gain_db, s.pan, s.invert};
}

// A prepared gain block and a frame of `channels` arrays of noise.
struct Rig {
    std::unique_ptr<Block> block = INFO.make();
    Frame frame;
    Frame input;

    explicit Rig(std::size_t channels, unsigned seed = 1) {
        block->prepare(channels, 48000.0f);
        input.resize(channels);
        input.frames = SLICE;
        std::mt19937 random(seed);
        std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
        for (std::size_t c = 0; c < channels; ++c) {
            for (std::size_t j = 0; j < SLICE; ++j)
                input.channel(c)[j] = sample(random);
        }
        input.channel(0)[3] = 0.0f;
        frame = input;
    }

    // One whole control period with the given settings.
    void period(const Settings& s) {
        block->control(values(s));
        frame = input;
        block->process(frame, 0);
    }

    float in(std::size_t c, std::size_t j) const { return input.channel(c)[j]; }
    float out(std::size_t c, std::size_t j) const { return frame.channel(c)[j]; }
};

std::uint32_t bits(float x) {
    return std::bit_cast<std::uint32_t>(x);
}

TEST(Gain, UnityLeavesMonoBitExactAndInvertNegatesExactly) {
    Rig rig(1);
    rig.period({});
    for (std::size_t j = 0; j < SLICE; ++j)
        EXPECT_EQ(bits(rig.out(0, j)), bits(rig.in(0, j)));
    Rig inverted(1);
    inverted.period({.invert = 1.0f});
    for (std::size_t j = 0; j < SLICE; ++j) {
        EXPECT_EQ(bits(inverted.out(0, j)), bits(-inverted.in(0, j))) << j;
    }
}

TEST(Gain, DecibelsBecomeAmplitude) {
    const struct {
        float db, amplitude;
    } cases[] = {{-6.0206f, 0.5f}, {20.0f, 10.0f}, {-40.0f, 0.01f}, {48.0f, 251.18864f}};
    for (const auto& c : cases) {
        Rig rig(1);
        rig.period({.gain_db = c.db});
        EXPECT_NEAR(rig.out(0, 5) / rig.in(0, 5), c.amplitude, c.amplitude * 1e-5f) << c.db;
    }
}

TEST(Gain, StereoCentreIsJustBelowUnity) {
    Rig rig(2);
    rig.period({});
    for (std::size_t c = 0; c < 2; ++c) {
        for (std::size_t j = 0; j < SLICE; ++j) {
            EXPECT_EQ(rig.out(c, j), rig.in(c, j) * 0.99999994f) << c << ":" << j;
        }
    }
}

TEST(Gain, PanKeepsThePowerConstant) {
    for (float pan = -1.0f; pan <= 1.0f; pan += 0.125f) {
        Rig rig(2);
        rig.period({.gain_db = -6.0f, .pan = pan});
        const float g = std::exp(-6.0f * 0.115129247f);
        const float left = rig.out(0, 7) / rig.in(0, 7);
        const float right = rig.out(1, 7) / rig.in(1, 7);
        EXPECT_NEAR(left * left + right * right, 2.0f * g * g, 1e-5f) << pan;
        EXPECT_GE(left, -1e-6f);
        EXPECT_GE(right, -1e-6f);
    }
}

TEST(Gain, HardPanPutsEverythingOnOneSideThreeDecibelsUp) {
    Rig left(2), right(2);
    left.period({.pan = -1.0f});
    right.period({.pan = 1.0f});
    EXPECT_FLOAT_EQ(left.out(0, 9) / left.in(0, 9), 1.4142135f);
    EXPECT_NEAR(left.out(1, 9), 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(right.out(1, 9) / right.in(1, 9), 1.4142135f);
    EXPECT_NEAR(right.out(0, 9), 0.0f, 1e-6f);
}

TEST(Gain, PanIsIgnoredUnlessThereAreExactlyTwoChannels) {
    for (std::size_t channels : {1u, 3u}) {
        Rig panned(channels), centred(channels);
        panned.period({.gain_db = -3.0f, .pan = 0.8f});
        centred.period({.gain_db = -3.0f});
        for (std::size_t c = 0; c < channels; ++c) {
            for (std::size_t j = 0; j < SLICE; ++j) {
                EXPECT_EQ(bits(panned.out(c, j)), bits(centred.out(c, j)));
                EXPECT_EQ(panned.out(c, j), centred.in(c, j) * std::exp(-3.0f * 0.115129247f));
            }
        }
    }
}

TEST(Gain, StepFadesInAStraightLineOverOnePeriod) {
    Rig rig(1);
    rig.period({});
    // The first period after prepare did not glide: unity throughout.
    for (std::size_t j = 0; j < SLICE; ++j)
        EXPECT_EQ(rig.out(0, j), rig.in(0, j));
    rig.period({.gain_db = -96.0f});
    const float g = std::exp(-96.0f * 0.115129247f);
    for (std::size_t k = 1; k <= SLICE; ++k) {
        const float gain = 1.0f + (g - 1.0f) * (static_cast<float>(k) / 32.0f);
        EXPECT_EQ(rig.out(0, k - 1), rig.in(0, k - 1) * gain) << k;
    }
    rig.period({.gain_db = -96.0f});
    for (std::size_t j = 0; j < SLICE; ++j)
        EXPECT_EQ(rig.out(0, j), rig.in(0, j) * g);
}

// A settled period must sound the same whatever the block heard before, so
// nothing it keeps from earlier settings (levels, pan angles) may go stale.
TEST(Gain, SettledOutputDependsOnlyOnTheCurrentSettings) {
    const Settings path[] = {{-6.0f, 0.0f, 0.0f}, {-6.0f, 0.5f, 0.0f},  {3.0f, 0.5f, 1.0f},
                             {3.0f, -1.0f, 1.0f}, {-0.0f, -1.0f, 0.0f}, {0.0f, 0.25f, 0.0f}};
    Rig travelled(2);
    for (const Settings& s : path) {
        travelled.period(s);
        travelled.period(s);  // the glide has settled
        Rig fresh(2);
        fresh.period(s);
        for (std::size_t c = 0; c < 2; ++c) {
            for (std::size_t j = 0; j < SLICE; ++j)
                ASSERT_EQ(bits(travelled.out(c, j)), bits(fresh.out(c, j)))
                    << s.gain_db << " " << s.pan;
        }
    }
}

TEST(Gain, PeriodSplitIntoTwoSlicesSoundsLikeOneSlice) {
    const Settings steps[] = {
        {}, {.gain_db = -12.0f, .pan = 0.3f}, {.gain_db = 6.0f, .invert = 1.0f}};
    for (std::size_t channels : {1u, 2u, 3u}) {
        Rig whole(channels), split(channels);
        for (const Settings& s : steps) {
            whole.period(s);
            split.block->control(values(s));
            const auto out = test::run_period(*split.block, split.input.data, 10);
            for (std::size_t c = 0; c < channels; ++c) {
                for (std::size_t j = 0; j < SLICE; ++j) {
                    EXPECT_EQ(bits(out[c][j]), bits(whole.out(c, j)))
                        << channels << " " << c << ":" << j;
                }
            }
        }
    }
}

TEST(Gain, FrameWithoutChannelsIsLeftAlone) {
    Rig rig(2);
    rig.block->control(values({.gain_db = 6.0f}));
    Frame empty;
    empty.frames = SLICE;
    rig.block->process(empty, 0);
    EXPECT_EQ(empty.channels, 0u);
}

}  // namespace
}  // namespace orba::blocks::gain
