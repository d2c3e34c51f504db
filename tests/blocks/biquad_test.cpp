#include "orba/blocks/blocks/biquad.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <numbers>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#include "tests/support/block_harness.h"
#include "tests/support/block_model.h"

namespace orba::blocks::biquad {
namespace {

using test::sine_gain_db;
using test::to_db;

using Args = std::array<float, 5>;  // type, freq, q, gain_db, slope

constexpr double PI = std::numbers::pi;
constexpr float BUTTERWORTH_Q = 0.70710677f;

// The cookbook section written out term by term in f64, every coefficient
// divided by a0 only at the end.
Coeffs cookbook(unsigned response, float freq, float q, float gain_db, float sample_rate) {
    const double fs = sample_rate;
    const double f = std::fmin(static_cast<double>(std::fmax(freq, 5.0f)), 0.49 * fs);
    const double w0 = 2.0 * PI * f / fs;
    const double c = std::cos(w0);
    const double sn = std::sin(w0);
    const double alpha = sn / (2.0 * std::fmax(static_cast<double>(q), 0.05));
    const double A = std::pow(10.0, static_cast<double>(gain_db) / 40.0);
    const double r = 2.0 * std::sqrt(A) * alpha;
    // b0, b1, b2, a0, a1, a2 of each response.
    const double raw[8][6] = {
        {(1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha},
        {(1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha},
        {alpha, 0, -alpha, 1 + alpha, -2 * c, 1 - alpha},
        {1, -2 * c, 1, 1 + alpha, -2 * c, 1 - alpha},
        {1 + alpha * A, -2 * c, 1 - alpha * A, 1 + alpha / A, -2 * c, 1 - alpha / A},
        {A * ((A + 1) - (A - 1) * c + r), 2 * A * ((A - 1) - (A + 1) * c),
         A * ((A + 1) - (A - 1) * c - r), (A + 1) + (A - 1) * c + r, -2 * ((A - 1) + (A + 1) * c),
         (A + 1) + (A - 1) * c - r},
        {A * ((A + 1) + (A - 1) * c + r), -2 * A * ((A - 1) + (A + 1) * c),
         A * ((A + 1) + (A - 1) * c - r), (A + 1) - (A - 1) * c + r, 2 * ((A - 1) - (A + 1) * c),
         (A + 1) - (A - 1) * c - r},
        {1 - alpha, -2 * c, 1 + alpha, 1 + alpha, -2 * c, 1 - alpha},
    };
    const double* k = raw[response];
    return {static_cast<float>(k[0] / k[3]), static_cast<float>(k[1] / k[3]),
            static_cast<float>(k[2] / k[3]), static_cast<float>(k[4] / k[3]),
            static_cast<float>(k[5] / k[3])};
}

// The filter block written plainly: three smoothed controls, the sections
// designed once per period, and every sample through every active section in
// transposed direct form II.
class Model final : public Block {
  public:
    void prepare(std::size_t channels, float sample_rate) override {
        states_.assign(channels, {});
        k_ = 1.0f - std::exp(-32.0f / (sample_rate * 0.0050000004f));
        sections_.fill(Coeffs{});
        active_ = 1;
        for (Smooth& s : smooth_)
            s = {};
        rate_ = sample_rate;
    }

    void control(std::span<const float> args) override {
        const unsigned kind = std::min(static_cast<unsigned>(args[0]), 7u);
        const float freq = std::exp2(smooth_[0].to(std::log2(args[1]), k_));
        const float q = std::exp2(smooth_[1].to(std::log2(args[2]), k_));
        const float gain_db = smooth_[2].to(args[3], k_);
        const auto slope = static_cast<unsigned>(args[4]);
        if (kind <= 1 && slope >= 1 && slope <= 3) {
            const unsigned n = slope + 1;
            const float m = 4.0f * static_cast<float>(n);
            const float numerators[] = {3.1415927f, 9.424778f, 15.707964f, 21.99115f};
            for (unsigned s = 0; s < n; ++s) {
                const float section_q = 1.0f / (2.0f * std::sin(numerators[s] / m));
                sections_[s] = cookbook(kind, freq, section_q, 0.0f, rate_);
            }
            active_ = n;
        } else {
            sections_[0] = cookbook(kind, freq, q, gain_db, rate_);
            active_ = 1;
        }
    }

    void process(Frame& frame, std::size_t) override {
        for (std::size_t ch = 0; ch < std::min(frame.channels, states_.size()); ++ch) {
            std::array<float, 8>& s = states_[ch];
            for (std::size_t j = 0; j < frame.frames; ++j) {
                float x = frame.channel(ch)[j];
                for (std::size_t i = 0; i < active_; ++i) {
                    const Coeffs& c = sections_[i];
                    const float y = c.b0 * x + s[2 * i];
                    s[2 * i] = s[2 * i + 1] + (c.b1 * x - c.a1 * y);
                    s[2 * i + 1] = c.b2 * x - c.a2 * y;
                    x = y;
                }
                frame.channel(ch)[j] = x;
            }
            for (float& v : s) {
                if (std::fabs(v) < 1e-20f) v = 0.0f;
            }
        }
    }

  private:
    struct Smooth {
        float value = 0.0f;
        bool primed = false;
        float to(float target, float k) {
            value = primed ? value + k * (target - value) : target;
            primed = true;
            return value;
        }
    };

    std::vector<std::array<float, 8>> states_;
    std::array<Coeffs, 4> sections_{};
    std::size_t active_ = 1;
    Smooth smooth_[3];  // log2 Hz, log2 Q, dB
    float rate_ = 0.0f;
    float k_ = 0.0f;
};

TEST(Filter, MatchesThePlainModelBitForBit) {
    test::expect_block_matches_model(
        INFO, [] { return std::make_unique<Model>(); }, 2);
}

bool same(const Coeffs& a, const Coeffs& b) {
    const float x[] = {a.b0, a.b1, a.b2, a.a1, a.a2};
    const float y[] = {b.b0, b.b1, b.b2, b.a1, b.a2};
    for (std::size_t i = 0; i < 5; ++i) {
        if (std::bit_cast<std::uint32_t>(x[i]) != std::bit_cast<std::uint32_t>(y[i])) return false;
    }
    return true;
}

TEST(Filter, DesignGivesTheCookbookCoefficientsBitForBit) {
    std::mt19937 random(3);
    auto uniform = [&](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    // Each value is one of the ends of its range (or beyond, where design
    // limits it), a default, or drawn log-uniformly.
    auto pick = [&](std::initializer_list<float> fixed, float low, float high) {
        const std::size_t which = random() % (fixed.size() + 4);
        if (which < fixed.size()) return fixed.begin()[which];
        return static_cast<float>(low * std::pow(high / low, uniform(0.0, 1.0)));
    };
    for (int i = 0; i < 20000; ++i) {
        const float rate = pick({8000.0f, 44100.0f, 48000.0f, 768000.0f}, 8000.0f, 768000.0f);
        float freq =
            pick({10.0f, 24000.0f, 1000.0f, 5.0f, 1.0f, 0.49f * rate, 0.5f * rate}, 1.0f, 24000.0f);
        float q = pick({0.1f, 40.0f, BUTTERWORTH_Q, 0.05f, 0.01f}, 0.01f, 40.0f);
        const float gain_db = random() % 4 == 0   ? 0.0f
                              : random() % 3 == 0 ? (random() % 2 ? 36.0f : -36.0f)
                                                  : static_cast<float>(uniform(-36.0, 36.0));
        // A rounding inside design shows in the f32 result mostly where a
        // coefficient nearly cancels, so half the cases are steered there: Q
        // such that alpha, alpha * A or alpha / A is 1, or such that a shelf's
        // end coefficient is 0, or the frequency where a shelf's middle one is.
        const double A = std::pow(10.0, gain_db / 40.0);
        const double w0 = 2.0 * PI * std::min(std::max(freq, 5.0f), 0.49f * rate) / rate;
        const double c = std::cos(w0), sn = std::sin(w0), mid = (A - 1) / (A + 1);
        const double alpha[] = {1.0, 1.0 / A, A, ((A + 1) + (A - 1) * c) / (2 * std::sqrt(A)),
                                ((A + 1) - (A - 1) * c) / (2 * std::sqrt(A))};
        const std::size_t steer = random() % 14;
        if (steer < 5) {
            q = static_cast<float>(sn / (2.0 * alpha[steer]));
        } else if (steer < 7) {
            freq = static_cast<float>(std::acos(steer == 5 ? mid : -mid) * rate / (2.0 * PI));
        }
        for (unsigned response = 0; response < 8; ++response) {
            ASSERT_TRUE(same(design(response, freq, q, gain_db, rate),
                             cookbook(response, freq, q, gain_db, rate)))
                << "response " << response << ", " << freq << " Hz, q " << q << ", " << gain_db
                << " dB at " << rate << " Hz";
        }
        ASSERT_EQ(smoothing_coefficient(rate, 5.0f * 0.001f),
                  1.0f - std::exp(-32.0f / (rate * 0.0050000004f)))
            << rate;
    }
}

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

// The responses as a listener measures them, which a model sharing a misread
// formula would not notice.
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
        // At 0 dB the peak and the shelves pass everything (A = 1).
        {PEAK, 700, 3, 0, 700, 0.0, 1e-4},
        {LOWSHELF, 700, 3, 0, 100, 0.0, 1e-4},
        {HIGHSHELF, 700, 3, 0, 5000, 0.0, 1e-4},
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

TEST(Filter, FrequencyIsHeldBetweenFiveHertzAnd49PercentOfTheSampleRate) {
    EXPECT_NEAR(lowpass_cutoff(design(LOWPASS, 24000.0f, 1.0f, 0.0f, 44100.0f), 44100.0), 21609.0,
                0.5);
    EXPECT_NEAR(lowpass_cutoff(design(LOWPASS, 1.0f, 1.0f, 0.0f, 48000.0f), 48000.0), 5.0, 0.01);
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
    // The 12 dB slope is one section with the user's Q.
    Filter filter;
    filter.prepare(1, 48000.0f);
    filter.control(Args{0.0f, 1000.0f, 4.0f, 0.0f, 0.0f});
    ASSERT_EQ(filter.sections().size(), 1u);
    EXPECT_NEAR(response_db(filter.sections(), 1000.0, 48000.0), to_db(4.0), 0.01);
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
