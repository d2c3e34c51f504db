#include "orba/blocks/blocks/onepole.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <span>
#include <vector>

#include "tests/support/block_harness.h"
#include "tests/support/block_model.h"

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

// The block as its definition reads, one sample at a time.
class Model final : public Block {
  public:
    void prepare(std::size_t channels, float sample_rate) override {
        states_.assign(channels, 0.0f);
        log_freq_ = 0.0f;
        primed_ = false;
        rate_ = sample_rate;
        smoothing_ = 1.0f - std::exp(-32.0f / (sample_rate * (5.0f * 0.001f)));
        coefficient_ = 0.0f;
        highpass_ = false;
    }
    void control(std::span<const float> args) override {
        float v = std::log2(args[1]);
        if (primed_) v = log_freq_ + smoothing_ * (v - log_freq_);
        primed_ = true;
        log_freq_ = v;
        const float f = std::clamp(std::exp2(v), 1.0f, 0.49f * rate_);
        coefficient_ = 1.0f - std::exp(f * -6.2831855f / rate_);
        highpass_ = args[0] >= 0.5f;
    }
    void process(Frame& frame, std::size_t) override {
        for (std::size_t c = 0; c < frame.channels && c < states_.size(); ++c) {
            float& s = states_[c];
            for (std::size_t j = 0; j < frame.frames; ++j) {
                const float x = frame.data[c][j];
                s = s + coefficient_ * (x - s);
                frame.data[c][j] = highpass_ ? x - s : s;
            }
            if (std::fabs(s) < 1e-20f) s = 0.0f;
        }
    }

  private:
    std::vector<float> states_;
    float log_freq_ = 0.0f;
    bool primed_ = false;
    float rate_ = 0.0f;
    float smoothing_ = 0.0f;
    float coefficient_ = 0.0f;
    bool highpass_ = false;
};

TEST(OnePole, EverySampleMatchesAPlainModel) {
    test::expect_block_matches_model(INFO, [] { return std::make_unique<Model>(); }, 1,
                                     {.runs = 200});
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

}  // namespace
}  // namespace orba::blocks::onepole
