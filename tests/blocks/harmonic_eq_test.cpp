#include "orba/blocks/blocks/harmonic_eq.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <vector>

#include "tests/support/block_harness.h"
#include "tests/support/block_model.h"

namespace orba::blocks::harmonic_eq {
namespace {

using test::sine_gain_db;
using test::to_db;

constexpr double PI = std::numbers::pi;

// fundamental_hz, harmonics, first, gain_db, tilt_db_oct, odd_db, even_db,
// bandwidth, stretch, trim_1_db .. trim_8_db.
struct Args {
    std::array<float, 17> values{110, 8, 1, 0, 0, 0, 0, 0.25f, 0, 0, 0, 0, 0, 0, 0, 0, 0};

    Args& set(std::size_t index, float value) {
        values[index] = value;
        return *this;
    }
    operator std::span<const float>() const { return values; }
};

enum : std::size_t { FUNDAMENTAL, HARMONICS, FIRST, GAIN, TILT, ODD, EVEN, BANDWIDTH, STRETCH };
constexpr std::size_t trim(std::size_t harmonic) {
    return 8 + harmonic;
}

double band_db(const biquad::Coeffs& c, double freq, double rate) {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * PI * freq / rate);
    const std::complex<double> num = double(c.b0) + z1 * (double(c.b1) + z1 * double(c.b2));
    const std::complex<double> den = 1.0 + z1 * (double(c.a1) + z1 * double(c.a2));
    return to_db(std::abs(num / den));
}

// The centre of a peaking band, recovered from its coefficients: with
// beta = alpha / A, a2 = (1 - beta) / (1 + beta) and a1 = -2 cos w0 / (1 + beta).
double centre_hz(const biquad::Coeffs& c, double rate) {
    const double beta = (1.0 - double(c.a2)) / (1.0 + double(c.a2));
    return std::acos(-double(c.a1) * (1.0 + beta) / 2.0) * rate / (2.0 * PI);
}

// Harmonic numbers of the active bands.
std::vector<int> active_bands(const HarmonicEq& eq) {
    std::vector<int> bands;
    for (int h = 1; h <= 32; ++h) {
        if (eq.active(h)) bands.push_back(h);
    }
    return bands;
}

HarmonicEq controlled(const Args& args, float rate = 48000.0f) {
    HarmonicEq eq;
    eq.prepare(1, rate);
    eq.control(args);
    return eq;
}

TEST(HarmonicEq, ArgumentTableListsSeventeenLevelsAndShapes) {
    EXPECT_EQ(INFO.name, "harmonic_eq");
    const std::vector<std::string_view> names = {
        "fundamental_hz", "harmonics", "first",     "gain_db",   "tilt_db_oct", "odd_db",
        "even_db",        "bandwidth", "stretch",   "trim_1_db", "trim_2_db",   "trim_3_db",
        "trim_4_db",      "trim_5_db", "trim_6_db", "trim_7_db", "trim_8_db"};
    ASSERT_EQ(INFO.args.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(INFO.args[i].name, names[i]);
        EXPECT_TRUE(INFO.args[i].choices.empty());
        EXPECT_FALSE(INFO.args[i].constant);
        if (i >= trim(1)) {
            EXPECT_EQ(INFO.args[i].unit, "dB");
            EXPECT_EQ(INFO.args[i].min, -24.0f);
            EXPECT_EQ(INFO.args[i].max, 24.0f);
        }
    }
    EXPECT_EQ(INFO.args[TILT].min, -12.0f);
    EXPECT_EQ(INFO.args[BANDWIDTH].default_value, 0.25f);
    EXPECT_EQ(INFO.args[STRETCH].max, 0.02f);
}

// The equalizer sample by sample: every active band in ascending order for
// each sample in turn, the controls smoothed one step per period.
class Model final : public Block {
  public:
    void prepare(std::size_t channels, float sample_rate) override {
        *this = Model{};
        states_.assign(channels, std::array<float, 64>{});
        sample_rate_ = sample_rate;
        k_ = 1.0f - std::exp(-32.0f / (sample_rate * 0.008f));
    }
    void control(std::span<const float> args) override {
        const auto step = [&](std::size_t i, float target) {
            values_[i] = primed_[i] ? values_[i] + k_ * (target - values_[i]) : target;
            primed_[i] = true;
            return values_[i];
        };
        const float f0 = std::exp2(step(FUNDAMENTAL, std::log2(args[FUNDAMENTAL])));
        const float bw = std::exp2(step(BANDWIDTH, std::log2(args[BANDWIDTH])));
        for (std::size_t i = GAIN; i < 17; ++i) {
            if (i != BANDWIDTH) step(i, args[i]);
        }
        active_.fill(false);
        const int first = static_cast<int>(std::round(args[FIRST]));
        const int last = std::min(first + static_cast<int>(std::round(args[HARMONICS])) - 1, 32);
        for (int h = first; h <= last; ++h) {
            const float n = static_cast<float>(h);
            const float fk = f0 * n * std::sqrt(values_[STRETCH] * n * n + 1.0f);
            if (fk >= sample_rate_ * 0.45f) break;
            float gk = values_[h % 2 ? ODD : EVEN] + (values_[GAIN] + values_[TILT] * std::log2(n));
            if (h <= 8) gk = gk + values_[trim(static_cast<std::size_t>(h))];
            if (std::fabs(gk) < 0.02f) continue;
            const float q = std::clamp(fk / (f0 * bw), 0.5f, 300.0f);
            bands_[h - 1] =
                biquad::design(biquad::PEAK, fk, q, std::clamp(gk, -36.0f, 36.0f), sample_rate_);
            active_[h - 1] = true;
        }
    }
    void process(Frame& frame, std::size_t) override {
        for (std::size_t c = 0; c < std::min(frame.channels, states_.size()); ++c) {
            auto& s = states_[c];
            for (std::size_t b = 0; b < 32; ++b) {
                if (!active_[b]) s[2 * b] = s[2 * b + 1] = 0.0f;
            }
            for (std::size_t j = 0; j < frame.frames; ++j) {
                float x = frame.data[c][j];
                for (std::size_t b = 0; b < 32; ++b) {
                    if (!active_[b]) continue;
                    const biquad::Coeffs& f = bands_[b];
                    const float y = f.b0 * x + s[2 * b];
                    s[2 * b] = s[2 * b + 1] + (f.b1 * x - f.a1 * y);
                    s[2 * b + 1] = f.b2 * x - f.a2 * y;
                    x = y;
                }
                frame.data[c][j] = x;
            }
            for (float& v : s) {
                if (std::fabs(v) < 1e-20f) v = 0.0f;
            }
        }
    }

  private:
    std::vector<std::array<float, 64>> states_;
    std::array<bool, 32> active_{};
    std::array<biquad::Coeffs, 32> bands_{};
    std::array<float, 17> values_{};  // smoothed, by argument index; logs for 0 and 7
    std::array<bool, 17> primed_{};
    float sample_rate_ = 0.0f, k_ = 0.0f;
};

TEST(HarmonicEq, MatchesThePlainModelBitForBit) {
    test::ModelRunOptions options;
    options.runs = 48;
    test::expect_block_matches_model(
        INFO, [] { return std::make_unique<Model>(); }, 14, options);
}

TEST(HarmonicEq, BandsSitOnTheHarmonicsWithQOfFourTimesTheHarmonicNumber) {
    const HarmonicEq eq = controlled(Args{}.set(FUNDAMENTAL, 100).set(GAIN, 6));
    EXPECT_EQ(active_bands(eq), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    for (int h = 1; h <= 8; ++h) {
        const double f = 100.0 * h;
        EXPECT_NEAR(centre_hz(eq.band(h), 48000.0), f, 0.1) << h;
        EXPECT_NEAR(band_db(eq.band(h), f, 48000.0), 6.0, 0.001) << h;
        // A band that is 25 Hz wide at every harmonic: Q = 100 h / 25.
        const biquad::Coeffs expected = biquad::design(biquad::PEAK, f, 4.0f * h, 6.0f, 48000.0f);
        EXPECT_NEAR(eq.band(h).a2, expected.a2, 1e-6f) << h;
        EXPECT_NEAR(eq.band(h).b0, expected.b0, 1e-6f) << h;
        EXPECT_NEAR(eq.band(h).b2, expected.b2, 1e-6f) << h;
    }
}

TEST(HarmonicEq, SinesOnTheHarmonicsAreLiftedAndThoseBetweenMuchLess) {
    const Args args = Args{}.set(FUNDAMENTAL, 100).set(GAIN, 6);
    const HarmonicEq bands = controlled(args);
    for (double freq : {100.0, 250.0, 300.0, 650.0, 800.0, 2000.0}) {
        // What the chain of bands should do to this sine ...
        double chain_db = 0.0;
        for (int h = 1; h <= 8; ++h)
            chain_db += band_db(bands.band(h), freq, 48000.0);
        // ... and what it does.
        HarmonicEq eq;
        const double measured = sine_gain_db(eq, args, freq, 48000.0f);
        EXPECT_NEAR(measured, chain_db, 0.01) << freq;
        const bool on_a_harmonic = std::fmod(freq, 100.0) == 0.0 && freq <= 800.0;
        if (on_a_harmonic) {
            EXPECT_GE(measured, 6.0) << freq;
        } else {
            EXPECT_LT(measured, 1.0) << freq;
        }
    }
}

TEST(HarmonicEq, StretchRaisesTheUpperBands) {
    const HarmonicEq eq = controlled(Args{}.set(FUNDAMENTAL, 100).set(GAIN, 6).set(STRETCH, 0.02f));
    // 8 sqrt(1 + 0.02 * 64) = 12.08 times the fundamental.
    EXPECT_NEAR(centre_hz(eq.band(8), 48000.0), 100.0 * 8.0 * std::sqrt(2.28), 0.5);
    EXPECT_NEAR(centre_hz(eq.band(1), 48000.0), 100.0 * std::sqrt(1.02), 0.1);
}

TEST(HarmonicEq, TiltLiftsAndTrimsShapeTheBandGains) {
    struct Case {
        std::size_t arg;
        float value;
        std::array<double, 8> expected_db;  // harmonics 1 to 8; 0 means inactive
    };
    const Case cases[] = {
        {TILT, 3, {0, 3, 4.755, 6, 6.966, 7.755, 8.422, 9}},
        {ODD, -6, {-6, 0, -6, 0, -6, 0, -6, 0}},
        {EVEN, 4, {0, 4, 0, 4, 0, 4, 0, 4}},
        {trim(3), 5, {0, 0, 5, 0, 0, 0, 0, 0}},
        {trim(8), -24, {0, 0, 0, 0, 0, 0, 0, -24}},
        {GAIN, 0.01f, {0, 0, 0, 0, 0, 0, 0, 0}},  // inside +-0.02 dB: no band at all
        {GAIN, 0.03f, {0.03, 0.03, 0.03, 0.03, 0.03, 0.03, 0.03, 0.03}},
    };
    for (const Case& c : cases) {
        const HarmonicEq eq = controlled(Args{}.set(FUNDAMENTAL, 100).set(c.arg, c.value));
        for (int h = 1; h <= 8; ++h) {
            const double expected = c.expected_db[h - 1];
            EXPECT_EQ(eq.active(h), expected != 0.0) << c.arg << " harmonic " << h;
            if (expected != 0.0) {
                EXPECT_NEAR(band_db(eq.band(h), 100.0 * h, 48000.0), expected, 0.002)
                    << c.arg << " harmonic " << h;
            }
        }
    }
}

TEST(HarmonicEq, FundamentalGlideLeavesOnePercentAfterAbout37Milliseconds) {
    for (float rate : {44100.0f, 48000.0f, 96000.0f}) {
        HarmonicEq eq;
        eq.prepare(1, rate);
        const Args from_args = Args{}.set(FUNDAMENTAL, 400).set(HARMONICS, 1).set(GAIN, 6);
        eq.control(from_args);
        // The first control after prepare lands on its target.
        EXPECT_NEAR(centre_hz(eq.band(1), rate), 400.0, 0.2) << rate;

        const Args to_args = Args{from_args}.set(FUNDAMENTAL, 1600);
        int periods = 0;
        double remaining = 1.0;
        while (remaining > 0.01 && periods < 1000) {
            eq.control(to_args);
            ++periods;
            remaining = (std::log2(1600.0) - std::log2(centre_hz(eq.band(1), rate))) / 2.0;
            if (periods == 1) {
                EXPECT_NEAR(remaining, std::exp(-32.0 / (0.008 * rate)), 1e-3) << rate;
            }
        }
        // 8 ms * ln(100) = 36.8 ms.
        const double ms = periods * 32 * 1000.0 / rate;
        EXPECT_GE(ms, 36.7) << rate;
        EXPECT_LE(ms, 36.9 + 32 * 1000.0 / rate) << rate;
    }
}

TEST(HarmonicEq, RingingDecaysToExactSilence) {
    HarmonicEq eq;
    eq.prepare(1, 48000.0f);
    Frame frame;
    frame.resize(1);
    frame.frames = SLICE;
    frame.data[0][0] = 1.0f;
    const Args args = Args{}.set(FUNDAMENTAL, 200).set(GAIN, 12).set(BANDWIDTH, 0.1f);
    for (int period = 0; period < 3000; ++period) {  // two seconds
        eq.control(args);
        eq.process(frame, 0);
        if (period + 1 < 3000) frame.data[0].fill(0.0f);
    }
    for (float y : frame.data[0])
        EXPECT_EQ(y, 0.0f);
}

}  // namespace
}  // namespace orba::blocks::harmonic_eq
