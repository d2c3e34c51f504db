#include "orba/blocks/blocks/dynamics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "orba/blocks/frame.h"
#include "tests/support/block_harness.h"

namespace orba::blocks::dynamics {
namespace {

using test::run_period;
using test::test_signal;

constexpr float RATE = 48000.0f;

using Overrides = test::ArgOverrides;

std::vector<float> args_with(Overrides overrides) {
    return test::args_with(INFO, overrides);
}

float from_db(float db) {
    return std::pow(10.0f, db / 20.0f);
}
float to_db(float gain) {
    return 20.0f * std::log10(gain);
}

// A prepared block fed one control period at a time, the way the graph runs it.
struct Rig {
    Dynamics block;
    std::vector<float> args;
    Frame frame;

    Rig(Overrides overrides, std::size_t channels = 1) : args(args_with(overrides)) {
        block.configure(args);
        block.prepare(channels, RATE);
        frame.resize(channels);
        frame.frames = SLICE;
    }

    // Runs `periods` control periods; `input(channel, sample)` gives each
    // sample, counting from the first sample of this call. Returns channel
    // `keep`'s output.
    template <typename Input>
    std::vector<float> run(std::size_t periods, Input input, std::size_t keep = 0) {
        std::vector<float> out;
        for (std::size_t p = 0; p < periods; ++p) {
            block.control(args);
            for (std::size_t c = 0; c < frame.channels; ++c) {
                for (std::size_t j = 0; j < SLICE; ++j)
                    frame.data[c][j] = input(c, p * SLICE + j);
            }
            block.process(frame, 0);
            out.insert(out.end(), frame.data[keep].begin(), frame.data[keep].end());
        }
        return out;
    }

    // Feeds a constant level for a second and returns the gain in dB it ends at.
    float settled_gain_db(float level_db) {
        const float x = from_db(level_db);
        const auto out = run(1500, [&](std::size_t, std::size_t) { return x; });
        return to_db(out.back() / x);
    }
};

TEST(Dynamics, StaticCurvesTurnSteadyLevelsDownByTheExpectedAmount) {
    struct Case {
        const char* what;
        Overrides args;
        float level_db;
        float gain_db;
    };
    const Case cases[] = {
        {"compressor 4:1, 12 dB over", {{"knee_db", 0.0f}}, -6.0f, -9.0f},
        {"compressor below the threshold", {{"knee_db", 0.0f}}, -30.0f, 0.0f},
        {"limiter, 12 dB over", {{"mode", 1.0f}, {"knee_db", 0.0f}}, -6.0f, -11.988f},
        {"gate 10 dB under, held by range",
         {{"mode", 2.0f}, {"knee_db", 0.0f}, {"ratio", 4.0f}},
         -28.0f,
         -80.0f},
        {"gate with a 30 dB range",
         {{"mode", 2.0f}, {"knee_db", 0.0f}, {"range_db", 30.0f}},
         -28.0f,
         -30.0f},
        {"gate above the threshold", {{"mode", 2.0f}, {"knee_db", 0.0f}}, -6.0f, 0.0f},
        {"expander 2:1, 10 dB under",
         {{"mode", 3.0f}, {"knee_db", 0.0f}, {"ratio", 2.0f}},
         -28.0f,
         -10.0f},
        {"expander 1:1", {{"mode", 3.0f}, {"ratio", 1.0f}}, -60.0f, 0.0f},
        {"soft knee at the threshold", {{"knee_db", 6.0f}}, -18.0f, -0.5625f},
        {"auto makeup on a quiet compressor", {{"auto_makeup", 1.0f}}, -60.0f, 6.75f},
        {"auto makeup 24 dB at most",
         {{"auto_makeup", 1.0f}, {"threshold_db", -80.0f}, {"ratio", 100.0f}},
         -100.0f,
         24.0f},
        {"auto makeup ignored by the limiter",
         {{"mode", 1.0f}, {"auto_makeup", 1.0f}},
         -60.0f,
         0.0f},
        {"auto makeup ignored by the gate", {{"mode", 2.0f}, {"auto_makeup", 1.0f}}, -6.0f, 0.0f},
        {"auto makeup ignored by the expander",
         {{"mode", 3.0f}, {"auto_makeup", 1.0f}},
         -6.0f,
         0.0f},
        {"manual makeup", {{"makeup_db", 3.0f}}, -60.0f, 3.0f},
    };
    for (const auto& c : cases) {
        Rig rig(c.args);
        EXPECT_NEAR(rig.settled_gain_db(c.level_db), c.gain_db, 0.01f) << c.what;
    }
}

TEST(Dynamics, CompressedSignalComesOutAtMinusFifteenAndTheMeterReadsNine) {
    Rig rig({{"knee_db", 0.0f}});
    const float x = from_db(-6.0f);
    const auto out = rig.run(1500, [&](std::size_t, std::size_t) { return x; });
    EXPECT_NEAR(to_db(out.back()), -15.0f, 0.01f);
    EXPECT_NEAR(rig.block.meter(0), 9.0f, 0.01f);
    EXPECT_EQ(rig.block.meter(1), 0.0f);
}

TEST(Dynamics, MeterShowsNegativeZeroWhenNothingIsTurnedDown) {
    Rig rig({});
    rig.run(10, [](std::size_t, std::size_t) { return 0.0f; });
    EXPECT_EQ(rig.block.meter(0), 0.0f);
    EXPECT_TRUE(std::signbit(rig.block.meter(0)));
}

TEST(Dynamics, SilenceOpensTheGateToItsFullRangeButNotAUnityExpander) {
    Rig gate({{"mode", 2.0f}});
    gate.run(1500, [](std::size_t, std::size_t) { return 0.0f; });
    EXPECT_NEAR(gate.block.meter(0), 80.0f, 0.01f);
    Rig expander({{"mode", 3.0f}, {"ratio", 1.0f}});
    expander.run(1500, [](std::size_t, std::size_t) { return 0.0f; });
    EXPECT_EQ(expander.block.meter(0), 0.0f);
}

TEST(Dynamics, ReductionBuildsAndFadesWithTheAttackAndReleaseTimes) {
    // One time constant after a step, a one-pole smoother has covered 1 - 1/e.
    Rig rig({{"knee_db", 0.0f}, {"attack_ms", 10.0f}, {"release_ms", 120.0f}});
    const float loud = from_db(-6.0f);
    rig.run(15, [&](std::size_t, std::size_t) { return loud; });  // 480 samples = 10 ms
    EXPECT_NEAR(rig.block.meter(0), 9.0f * (1.0f - std::exp(-1.0f)), 0.05f);
    rig.run(1500, [&](std::size_t, std::size_t) { return loud; });
    rig.run(180, [](std::size_t, std::size_t) { return 0.0f; });  // 5760 samples = 120 ms
    EXPECT_NEAR(rig.block.meter(0), 9.0f * std::exp(-1.0f), 0.05f);
}

TEST(Dynamics, LookaheadDelaysTheAudioByExactlyItsLatency) {
    for (const auto& [ms, samples] :
         {std::pair{5.0f, 240u}, {0.0f, 0u}, {0.01f, 0u}, {10.0f, 480u}}) {
        // Threshold 0 dB and a half-level impulse: nothing is turned down.
        Rig rig({{"lookahead_ms", ms}, {"threshold_db", 0.0f}});
        EXPECT_EQ(rig.block.latency(), samples);
        const auto out = rig.run(
            20, [](std::size_t c, std::size_t i) { return c == 0 && i == 0 ? 0.5f : 0.0f; });
        for (std::size_t i = 0; i < out.size(); ++i) {
            ASSERT_EQ(out[i], i == samples ? 0.5f : 0.0f) << "lookahead " << ms << " sample " << i;
        }
    }
}

TEST(Dynamics, LatencyFollowsTheSampleRateItIsPreparedFor) {
    Dynamics block;
    block.configure(args_with({{"lookahead_ms", 5.0f}}));
    EXPECT_EQ(block.latency(), 0u);
    block.prepare(2, 96000.0f);
    EXPECT_EQ(block.latency(), 480u);
    block.prepare(2, 44100.0f);
    EXPECT_EQ(block.latency(), 221u);  // 220.5 rounds away from zero
}

TEST(Dynamics, LookaheadTurnsAStepDownBeforeItIsHeard) {
    auto step = [](std::size_t, std::size_t) { return 1.0f; };
    Rig plain({{"mode", 1.0f}, {"threshold_db", -20.0f}, {"knee_db", 0.0f}, {"attack_ms", 1.0f}});
    EXPECT_GT(plain.run(1, step)[0], 0.9f);
    Rig ahead({{"mode", 1.0f},
               {"threshold_db", -20.0f},
               {"knee_db", 0.0f},
               {"attack_ms", 1.0f},
               {"lookahead_ms", 5.0f}});
    const auto out = ahead.run(10, step);
    EXPECT_EQ(out[239], 0.0f);
    EXPECT_LT(to_db(out[240]), -16.0f);
}

TEST(Dynamics, LinkTurnsEveryChannelDownByTheLoudestOne) {
    const float loud = from_db(-6.0f);
    const float quiet = from_db(-40.0f);
    auto input = [&](std::size_t c, std::size_t) { return c == 0 ? loud : quiet; };
    for (const auto& [link, quiet_gain_db] :
         {std::pair{1.0f, -9.0f}, {0.0f, 0.0f}, {0.5f, -4.613f}}) {
        Rig rig({{"knee_db", 0.0f}, {"link", link}}, 2);
        const auto out = rig.run(1500, input, 1);
        EXPECT_NEAR(to_db(out.back() / quiet), quiet_gain_db, 0.1f) << "link " << link;
        EXPECT_NEAR(rig.block.meter(0), 9.0f, 0.01f) << "link " << link;
    }
}

TEST(Dynamics, SidechainHighPassKeepsBassFromPumping) {
    const float dc = from_db(-6.0f);
    auto input = [&](std::size_t, std::size_t) { return dc; };
    for (float detector : {0.0f, 1.0f}) {
        for (const auto& [hz, reduction] :
             {std::pair{10.0f, 9.0f}, {15.0f, 9.0f}, {100.0f, 0.0f}}) {
            Rig rig({{"knee_db", 0.0f}, {"sidechain_hpf_hz", hz}, {"detector", detector}});
            rig.run(3000, input);
            EXPECT_NEAR(rig.block.meter(0), reduction, 0.02f) << hz << " Hz, detector " << detector;
        }
    }
}

TEST(Dynamics, RmsDetectorReadsASineThreeDecibelsBelowItsPeak) {
    Rig rig({{"knee_db", 0.0f}, {"detector", 1.0f}});
    const float peak = from_db(-6.0f);
    // 1 kHz: a whole cycle every 48 samples.
    rig.run(1500, [&](std::size_t, std::size_t i) {
        return peak * std::sin(6.2831853f * static_cast<float>(i % 48) / 48.0f);
    });
    // RMS -9.01 dB is 8.99 dB over, turned down by three quarters of that.
    EXPECT_NEAR(rig.block.meter(0), 0.75f * 8.99f, 0.15f);
}

TEST(Dynamics, ASplitPeriodSoundsTheSameAsOneSlice) {
    const Overrides settings = {{"knee_db", 3.0f},      {"attack_ms", 0.5f},
                                {"detector", 1.0f},     {"link", 0.3f},
                                {"lookahead_ms", 0.2f}, {"sidechain_hpf_hz", 80.0f}};
    auto run = [&](std::size_t cut) {
        Rig rig(settings, 2);
        rig.run(3, [](std::size_t c, std::size_t i) {
            return (0.2f + 0.3f * static_cast<float>(c)) * std::sin(0.05f * static_cast<float>(i));
        });
        rig.block.control(rig.args);
        auto out = run_period(rig.block, test_signal(2, 0.9f), cut);
        out.push_back({rig.block.meter(0)});
        return out;
    };
    EXPECT_EQ(run(10), run(SLICE));
}

}  // namespace
}  // namespace orba::blocks::dynamics
