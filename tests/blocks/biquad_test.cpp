#include "orba/blocks/blocks/biquad.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <span>
#include <string_view>
#include <vector>
#include "tests/support/block_harness.h"

namespace orba::blocks::biquad {
namespace {

using test::sine_gain_db;
using test::to_db;

using Args = std::array<float, 5>;  // type, freq, q, gain_db, slope

constexpr double PI = std::numbers::pi;
constexpr float BUTTERWORTH_Q = 0.70710677f;

// |H| of a cascade at `freq`, evaluated from the f32 coefficients in f64.
double response_db(std::span<const Coeffs> sections, double freq, double rate) {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * PI * freq / rate);  // z^-1
    double gain = 1.0;
    for (const Coeffs& c : sections) {
        const std::complex<double> num = double(c.b0) + z1 * (double(c.b1) + z1 * double(c.b2));
        const std::complex<double> den = 1.0 + z1 * (double(c.a1) + z1 * double(c.a2));
        gain *= std::abs(num / den);
    }
    return to_db(gain);
}

double response_db(const Coeffs& c, double freq, double rate) {
    return response_db(std::span<const Coeffs>(&c, 1), freq, rate);
}

// A Butterworth filter of `poles` poles after the bilinear transform with the
// cutoff prewarped: |H|^2 = 1 / (1 + W^2n), W = tan(pi f / fs) / tan(pi fc /
// fs).
double butterworth_db(double freq, double cutoff, double rate, int poles, bool highpass) {
    double w = std::tan(PI * freq / rate) / std::tan(PI * cutoff / rate);
    if (highpass) w = 1.0 / w;
    return -10.0 * std::log10(1.0 + std::pow(w, 2 * poles));
}

// The 0 dB band-pass after the same transform: |H|^2 = 1 / (1 + Q^2 (W -
// 1/W)^2).
double bandpass_db(double freq, double centre, double q, double rate) {
    const double w = std::tan(PI * freq / rate) / std::tan(PI * centre / rate);
    return -10.0 * std::log10(1.0 + q * q * (w - 1.0 / w) * (w - 1.0 / w));
}

// The cutoff of a low-pass section, recovered from its coefficients:
// alpha = (1 - a2) / (1 + a2) and 1 - cos w0 = b1 (1 + alpha).
double lowpass_cutoff(const Coeffs& c, double rate) {
    const double alpha = (1.0 - double(c.a2)) / (1.0 + double(c.a2));
    const double one_minus_cos = double(c.b1) * (1.0 + alpha);
    return 2.0 * std::asin(std::sqrt(one_minus_cos / 2.0)) * rate / (2.0 * PI);
}

TEST(Filter, ArgumentTableNamesTheResponsesAndSlopes) {
    EXPECT_EQ(INFO.name, "filter");
    ASSERT_EQ(INFO.args.size(), 5u);
    const std::string_view names[] = {"type", "freq", "q", "gain_db", "slope"};
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(INFO.args[i].name, names[i]);
    const std::vector<std::string_view> types(INFO.args[0].choices.begin(),
                                              INFO.args[0].choices.end());
    EXPECT_EQ(types, (std::vector<std::string_view>{"lowpass", "highpass", "bandpass", "notch",
                                                    "peak", "lowshelf", "highshelf", "allpass"}));
    const std::vector<std::string_view> slopes(INFO.args[4].choices.begin(),
                                               INFO.args[4].choices.end());
    EXPECT_EQ(slopes, (std::vector<std::string_view>{"12", "24", "36", "48"}));
    EXPECT_EQ(INFO.args[2].default_value, BUTTERWORTH_Q);
    for (const ArgInfo& arg : INFO.args)
        EXPECT_FALSE(arg.constant) << arg.name;
}

TEST(Filter, EveryResponseHasItsShapeAtChosenFrequencies) {
    struct Case {
        unsigned type;
        float freq, q, gain_db;
        double probe, expected_db, tolerance_db;
    };
    const Case cases[] = {
        {LOWPASS, 1000, BUTTERWORTH_Q, 0, 20, 0.0, 0.01},
        {LOWPASS, 1000, BUTTERWORTH_Q, 0, 1000, -3.0103, 0.01},
        {LOWPASS, 1000, 2, 0, 1000, 6.0206, 0.01},  // the gain at the cutoff is Q
        {LOWPASS, 1000, BUTTERWORTH_Q, 0, 8000, butterworth_db(8000, 1000, 48000, 2, false), 0.01},
        {HIGHPASS, 1000, BUTTERWORTH_Q, 0, 20000, 0.0, 0.01},
        {HIGHPASS, 1000, BUTTERWORTH_Q, 0, 1000, -3.0103, 0.01},
        {HIGHPASS, 1000, 2, 0, 1000, 6.0206, 0.01},
        {HIGHPASS, 1000, BUTTERWORTH_Q, 0, 125, butterworth_db(125, 1000, 48000, 2, true), 0.01},
        {BANDPASS, 1000, 2, 0, 1000, 0.0, 0.01},
        {BANDPASS, 1000, 2, 0, 100, bandpass_db(100, 1000, 2, 48000), 0.01},
        {BANDPASS, 1000, 2, 0, 10000, bandpass_db(10000, 1000, 2, 48000), 0.01},
        {NOTCH, 1000, 2, 0, 1000, -100.0, 60.0},  // a deep null: anything below -40 dB
        {NOTCH, 1000, 2, 0, 30, 0.0, 0.01},
        {NOTCH, 1000, 2, 0, 20000, 0.0, 0.05},
        {PEAK, 1000, 1, 12, 1000, 12.0, 0.01},
        {PEAK, 1000, 1, -12, 1000, -12.0, 0.01},
        {PEAK, 1000, 1, 12, 20, 0.0, 0.05},
        {LOWSHELF, 1000, BUTTERWORTH_Q, 9, 10, 9.0, 0.02},
        {LOWSHELF, 1000, BUTTERWORTH_Q, 9, 1000, 4.5, 0.01},
        {LOWSHELF, 1000, BUTTERWORTH_Q, 9, 23990, 0.0, 0.02},
        {HIGHSHELF, 1000, BUTTERWORTH_Q, -9, 23990, -9.0, 0.02},
        {HIGHSHELF, 1000, BUTTERWORTH_Q, -9, 1000, -4.5, 0.01},
        {HIGHSHELF, 1000, BUTTERWORTH_Q, -9, 10, 0.0, 0.02},
    };
    for (const Case& c : cases) {
        const Coeffs coeffs = design(c.type, c.freq, c.q, c.gain_db, 48000.0f);
        EXPECT_NEAR(response_db(coeffs, c.probe, 48000.0), c.expected_db, c.tolerance_db)
            << "type " << c.type << " q " << c.q << " gain " << c.gain_db << " at " << c.probe;
    }
}

TEST(Filter, AllpassHasUnityMagnitudeEverywhere) {
    for (float q : {0.1f, 0.7071f, 5.0f, 40.0f}) {
        const Coeffs c = design(ALLPASS, 2000.0f, q, 0.0f, 48000.0f);
        for (double probe = 10.0; probe < 24000.0; probe *= 1.3) {
            EXPECT_NEAR(response_db(c, probe, 48000.0), 0.0, 1e-4) << q << " at " << probe;
        }
    }
}

TEST(Filter, PeakAndShelvesAtZeroDecibelsPassTheSignalThrough) {
    for (float type : {4.0f, 5.0f, 6.0f}) {
        Filter filter;
        filter.prepare(1, 48000.0f);
        Frame frame;
        frame.resize(1);
        frame.frames = SLICE;
        unsigned noise = 1;
        for (int period = 0; period < 100; ++period) {
            filter.control(Args{type, 700.0f, 3.0f, 0.0f, 0.0f});
            SliceArray input{};
            for (float& x : input) {
                noise = noise * 1664525u + 1013904223u;
                x = static_cast<float>(noise >> 8) / 8388608.0f - 1.0f;
            }
            frame.data[0] = input;
            filter.process(frame, 0);
            for (std::size_t j = 0; j < SLICE; ++j) {
                ASSERT_NEAR(frame.data[0][j], input[j], 1e-5f) << "type " << type;
            }
        }
    }
}

TEST(Filter, SteepSlopesAreButterworthAndThreeDecibelsDownAtTheCutoff) {
    for (unsigned type : {LOWPASS, HIGHPASS}) {
        for (unsigned slope = 1; slope <= 3; ++slope) {
            Filter filter;
            filter.prepare(1, 48000.0f);
            // The user's Q of 8 would make a resonant peak if it were used.
            filter.control(Args{float(type), 1000.0f, 8.0f, 0.0f, float(slope)});
            ASSERT_EQ(filter.sections().size(), slope + 1);
            const int poles = 2 * int(slope + 1);
            EXPECT_NEAR(response_db(filter.sections(), 1000.0, 48000.0), -3.0103, 0.01);
            for (double probe : {250.0, 500.0, 800.0, 1250.0, 2000.0, 4000.0}) {
                const double expected = butterworth_db(probe, 1000.0, 48000.0, poles, type);
                if (expected < -80.0) continue;
                EXPECT_NEAR(response_db(filter.sections(), probe, 48000.0), expected, 0.02)
                    << "type " << type << " slope " << slope << " at " << probe;
            }
        }
    }
}

TEST(Filter, TwelveDecibelSlopeUsesTheUsersQ) {
    Filter filter;
    filter.prepare(1, 48000.0f);
    filter.control(Args{0.0f, 1000.0f, 4.0f, 0.0f, 0.0f});
    ASSERT_EQ(filter.sections().size(), 1u);
    EXPECT_NEAR(response_db(filter.sections(), 1000.0, 48000.0), to_db(4.0), 0.01);
}

TEST(Filter, SlopeChangesNothingButLowpassAndHighpass) {
    for (unsigned type = 2; type <= 7; ++type) {
        Filter steep;
        Filter plain;
        steep.prepare(1, 48000.0f);
        plain.prepare(1, 48000.0f);
        steep.control(Args{float(type), 1500.0f, 2.0f, 6.0f, 3.0f});
        plain.control(Args{float(type), 1500.0f, 2.0f, 6.0f, 0.0f});
        ASSERT_EQ(steep.sections().size(), 1u) << type;
        EXPECT_EQ(steep.sections()[0].b0, plain.sections()[0].b0) << type;
        EXPECT_EQ(steep.sections()[0].a1, plain.sections()[0].a1) << type;
        EXPECT_EQ(steep.sections()[0].b2, plain.sections()[0].b2) << type;
    }
}

TEST(Filter, SineThroughTheBlockFollowsTheResponse) {
    struct Case {
        Args args;
        double freq, expected_db;
    };
    const Case cases[] = {
        {{0, 1000, BUTTERWORTH_Q, 0, 1}, 100, butterworth_db(100, 1000, 48000, 4, false)},
        {{0, 1000, BUTTERWORTH_Q, 0, 1}, 1000, -3.0103},
        {{0, 1000, BUTTERWORTH_Q, 0, 1}, 3000, butterworth_db(3000, 1000, 48000, 4, false)},
        {{1, 1000, BUTTERWORTH_Q, 0, 3}, 1000, -3.0103},
        {{2, 2500, 6, 0, 0}, 2500, 0.0},
        {{4, 300, 2, -8, 0}, 300, -8.0},
        {{7, 5000, 1, 0, 0}, 777, 0.0},
    };
    for (const Case& c : cases) {
        Filter filter;
        EXPECT_NEAR(sine_gain_db(filter, c.args, c.freq, 48000.0f), c.expected_db, 0.02)
            << "type " << c.args[0] << " at " << c.freq;
    }
}

TEST(Filter, FrequencyIsHeldBelow49PercentOfTheSampleRate) {
    Filter filter;
    filter.prepare(1, 44100.0f);
    filter.control(Args{0.0f, 24000.0f, 1.0f, 0.0f, 0.0f});
    const Coeffs limited = design(LOWPASS, 21609.0f, 1.0f, 0.0f, 44100.0f);
    EXPECT_NEAR(filter.sections()[0].b0, limited.b0, 1e-6f);
    EXPECT_NEAR(filter.sections()[0].a1, limited.a1, 1e-6f);
    EXPECT_NEAR(filter.sections()[0].a2, limited.a2, 1e-6f);
    EXPECT_NEAR(lowpass_cutoff(filter.sections()[0], 44100.0), 21609.0, 0.5);

    // ... and held at or above 5 Hz, whatever a caller of design asks for.
    const Coeffs low = design(HIGHPASS, 1.0f, 1.0f, 0.0f, 48000.0f);
    const Coeffs five = design(HIGHPASS, 5.0f, 1.0f, 0.0f, 48000.0f);
    EXPECT_EQ(low.b0, five.b0);
    EXPECT_EQ(low.a1, five.a1);
    EXPECT_EQ(low.a2, five.a2);
}

TEST(Filter, FrequencyGlideLeavesOnePercentAfterAbout23MillisecondsAtAnyRate) {
    for (float rate : {44100.0f, 48000.0f, 96000.0f, 192000.0f}) {
        Filter filter;
        filter.prepare(1, rate);
        filter.control(Args{0.0f, 1000.0f, BUTTERWORTH_Q, 0.0f, 0.0f});
        // The first control after prepare lands on its target.
        EXPECT_NEAR(lowpass_cutoff(filter.sections()[0], rate), 1000.0, 0.5) << rate;

        const double from = std::log2(1000.0);
        const double to = std::log2(8000.0);
        int periods = 0;
        double remaining = 1.0;
        while (remaining > 0.01 && periods < 1000) {
            filter.control(Args{0.0f, 8000.0f, BUTTERWORTH_Q, 0.0f, 0.0f});
            ++periods;
            remaining = (to - std::log2(lowpass_cutoff(filter.sections()[0], rate))) / (to - from);
            if (periods == 1) {
                EXPECT_NEAR(remaining, std::exp(-32.0 / (0.005 * rate)), 1e-3) << rate;
            }
        }
        const double ms = periods * 32 * 1000.0 / rate;
        const double period_ms = 32 * 1000.0 / rate;
        EXPECT_GE(ms, 23.0) << rate;
        EXPECT_LE(ms, 23.03 + period_ms) << rate;
    }
}

TEST(Filter, QGlidesInLog2AndGainInDecibels) {
    const float rate = 48000.0f;
    const double k = 1.0 - std::exp(-32.0 / (rate * 0.005));
    Filter filter;
    filter.prepare(1, rate);
    // A low-pass's gain at its cutoff is its Q: step Q from 0.5 to 8.
    filter.control(Args{0.0f, 1000.0f, 0.5f, 0.0f, 0.0f});
    filter.control(Args{0.0f, 1000.0f, 8.0f, 0.0f, 0.0f});
    const double q = std::exp2(-1.0 + 4.0 * k);
    EXPECT_NEAR(response_db(filter.sections(), 1000.0, rate), to_db(q), 0.01);

    // A peak's gain at its centre is its gain: step it from 0 to 12 dB.
    filter.prepare(1, rate);
    filter.control(Args{4.0f, 1000.0f, 1.0f, 0.0f, 0.0f});
    filter.control(Args{4.0f, 1000.0f, 1.0f, 12.0f, 0.0f});
    EXPECT_NEAR(response_db(filter.sections(), 1000.0, rate), 12.0 * k, 0.01);
}

TEST(Filter, PrepareForgetsTheGlide) {
    Filter filter;
    filter.prepare(1, 48000.0f);
    filter.control(Args{0.0f, 100.0f, BUTTERWORTH_Q, 0.0f, 0.0f});
    filter.prepare(1, 48000.0f);
    filter.control(Args{0.0f, 5000.0f, BUTTERWORTH_Q, 0.0f, 0.0f});
    EXPECT_NEAR(lowpass_cutoff(filter.sections()[0], 48000.0), 5000.0, 1.0);
}

TEST(Filter, RingingDecaysToExactSilence) {
    Filter filter;
    filter.prepare(1, 48000.0f);
    Frame frame;
    frame.resize(1);
    frame.frames = SLICE;
    frame.data[0][0] = 1.0f;
    for (int period = 0; period < 1500; ++period) {  // one second
        filter.control(Args{0.0f, 1000.0f, 10.0f, 0.0f, 3.0f});
        filter.process(frame, 0);
        if (period + 1 < 1500) frame.data[0].fill(0.0f);
    }
    for (float y : frame.data[0])
        EXPECT_EQ(y, 0.0f);
}

TEST(Filter, ChannelsBeyondThePreparedCountAreLeftAlone) {
    Filter filter;
    filter.prepare(1, 48000.0f);
    filter.control(Args{0.0f, 100.0f, BUTTERWORTH_Q, 0.0f, 0.0f});
    Frame frame;
    frame.resize(2);
    frame.frames = SLICE;
    frame.data[0].fill(1.0f);
    frame.data[1].fill(1.0f);
    filter.process(frame, 0);
    EXPECT_LT(frame.data[0][0], 0.01f);
    for (float y : frame.data[1])
        EXPECT_EQ(y, 1.0f);
}

}  // namespace
}  // namespace orba::blocks::biquad
