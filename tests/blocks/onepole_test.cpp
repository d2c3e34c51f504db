#include "orba/blocks/blocks/onepole.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include "tests/support/block_harness.h"

namespace orba::blocks::onepole {
namespace {

using test::sine_gain_db;
using test::to_db;

using Args = std::array<float, 2>;  // type, freq

constexpr double PI = std::numbers::pi;

// The frequency behind a low-pass coefficient a = 1 - exp(-2 pi f / fs).
double corner(float coefficient, double rate) {
    return -std::log(1.0 - double(coefficient)) * rate / (2.0 * PI);
}

// Runs `periods` control periods of a constant input and returns the last
// output sample.
float settle(OnePole& filter, const Args& args, float input, int periods) {
    Frame frame;
    frame.resize(1);
    frame.frames = SLICE;
    for (int p = 0; p < periods; ++p) {
        filter.control(args);
        frame.data[0].fill(input);
        filter.process(frame, 0);
    }
    return frame.data[0][SLICE - 1];
}

TEST(OnePole, ArgumentTableOffersLowpassAndHighpass) {
    EXPECT_EQ(INFO.name, "onepole");
    ASSERT_EQ(INFO.args.size(), 2u);
    EXPECT_EQ(INFO.args[0].name, "type");
    ASSERT_EQ(INFO.args[0].choices.size(), 2u);
    EXPECT_EQ(INFO.args[0].choices[0], "lowpass");
    EXPECT_EQ(INFO.args[0].choices[1], "highpass");
    EXPECT_EQ(INFO.args[1].name, "freq");
    EXPECT_EQ(INFO.args[1].unit, "Hz");
    EXPECT_EQ(INFO.args[1].min, 1.0f);
    EXPECT_EQ(INFO.args[1].max, 24000.0f);
    EXPECT_EQ(INFO.args[1].default_value, 1000.0f);
}

TEST(OnePole, ConstantInputPassesTheLowpassAndIsRemovedByTheHighpass) {
    OnePole filter;
    filter.prepare(1, 48000.0f);
    EXPECT_NEAR(settle(filter, Args{0.0f, 50.0f}, 0.5f, 3000), 0.5f, 1e-5f);
    filter.prepare(1, 48000.0f);
    // At 5 Hz the f32 memory stops creeping once coefficient * (x - s) falls
    // below half a unit in the last place of s: a residue near -80 dB.
    EXPECT_NEAR(settle(filter, Args{1.0f, 5.0f}, 0.5f, 30000), 0.0f, 5e-5f);
}

// The one-pole's own response, H = a / (1 - (1 - a) z^-1), and 1 - H for the
// high-pass.
double onepole_db(bool highpass, double corner_hz, double freq, double rate) {
    const double a = 1.0 - std::exp(-2.0 * PI * corner_hz / rate);
    const std::complex<double> z1 = std::polar(1.0, -2.0 * PI * freq / rate);
    const std::complex<double> lowpass = a / (1.0 - (1.0 - a) * z1);
    return to_db(std::abs(highpass ? 1.0 - lowpass : lowpass));
}

TEST(OnePole, SineThroughTheBlockFollowsTheFirstOrderResponse) {
    for (float type : {0.0f, 1.0f}) {
        for (double freq : {10.0, 50.0, 200.0, 800.0, 3200.0, 12000.0}) {
            OnePole filter;
            EXPECT_NEAR(sine_gain_db(filter, Args{type, 200.0f}, freq, 48000.0f),
                        onepole_db(type > 0.5f, 200.0, freq, 48000.0), 0.01)
                << "type " << type << " at " << freq;
        }
    }
}

TEST(OnePole, CornerIsAboutThreeDecibelsDownWithSixDecibelsPerOctaveBeyond) {
    for (bool highpass : {false, true}) {
        EXPECT_NEAR(onepole_db(highpass, 200.0, 200.0, 48000.0), -3.01, 0.15) << highpass;
    }
    const double lowpass_octave =
        onepole_db(false, 200.0, 1600.0, 48000.0) - onepole_db(false, 200.0, 3200.0, 48000.0);
    EXPECT_NEAR(lowpass_octave, 6.0, 0.1);
    const double highpass_octave =
        onepole_db(true, 200.0, 25.0, 48000.0) - onepole_db(true, 200.0, 12.5, 48000.0);
    EXPECT_NEAR(highpass_octave, 6.0, 0.1);
}

TEST(OnePole, FrequencyIsHeldBelow49PercentOfTheSampleRate) {
    OnePole filter;
    filter.prepare(1, 44100.0f);
    filter.control(Args{0.0f, 24000.0f});
    EXPECT_NEAR(corner(filter.coefficient(), 44100.0), 21609.0, 0.5);
    const float at_top = filter.coefficient();
    filter.prepare(1, 44100.0f);
    filter.control(Args{0.0f, 22000.0f});
    EXPECT_EQ(filter.coefficient(), at_top);
}

TEST(OnePole, FrequencyGlideLeavesOnePercentAfterAbout23MillisecondsAtAnyRate) {
    for (float rate : {44100.0f, 48000.0f, 96000.0f, 192000.0f}) {
        OnePole filter;
        filter.prepare(1, rate);
        filter.control(Args{0.0f, 100.0f});
        // The first control after prepare lands on its target.
        EXPECT_NEAR(corner(filter.coefficient(), rate), 100.0, 0.01) << rate;

        const double from = std::log2(100.0);
        const double to = std::log2(6400.0);
        int periods = 0;
        double remaining = 1.0;
        while (remaining > 0.01 && periods < 1000) {
            filter.control(Args{0.0f, 6400.0f});
            ++periods;
            remaining = (to - std::log2(corner(filter.coefficient(), rate))) / (to - from);
            if (periods == 1) {
                EXPECT_NEAR(remaining, std::exp(-32.0 / (0.005 * rate)), 1e-4) << rate;
            }
        }
        const double ms = periods * 32 * 1000.0 / rate;
        EXPECT_GE(ms, 23.0) << rate;
        EXPECT_LE(ms, 23.03 + 32 * 1000.0 / rate) << rate;
    }
}

TEST(OnePole, PrepareForgetsTheGlide) {
    OnePole filter;
    filter.prepare(1, 48000.0f);
    filter.control(Args{0.0f, 20.0f});
    filter.prepare(1, 48000.0f);
    filter.control(Args{0.0f, 3000.0f});
    EXPECT_NEAR(corner(filter.coefficient(), 48000.0), 3000.0, 0.1);
}

TEST(OnePole, SwitchingToHighpassKeepsTheStateSoNothingJumps) {
    OnePole filter;
    filter.prepare(1, 48000.0f);
    EXPECT_NEAR(settle(filter, Args{0.0f, 500.0f}, 1.0f, 100), 1.0f, 1e-5f);
    // The high-pass output is the input less the low-pass memory: close to 0,
    // not the full step a cleared state would give.
    EXPECT_NEAR(settle(filter, Args{1.0f, 500.0f}, 1.0f, 1), 0.0f, 1e-5f);
}

TEST(OnePole, TailDecaysToExactSilence) {
    OnePole filter;
    filter.prepare(2, 48000.0f);
    Frame frame;
    frame.resize(2);
    frame.frames = SLICE;
    frame.data[0][0] = 1.0f;
    frame.data[1][0] = -1.0f;
    for (int period = 0; period < 200; ++period) {
        filter.control(Args{0.0f, 2000.0f});
        filter.process(frame, 0);
        if (period + 1 < 200) {
            frame.data[0].fill(0.0f);
            frame.data[1].fill(0.0f);
        }
    }
    for (std::size_t c = 0; c < 2; ++c) {
        for (float y : frame.data[c])
            EXPECT_EQ(y, 0.0f);
    }
}

}  // namespace
}  // namespace orba::blocks::onepole
