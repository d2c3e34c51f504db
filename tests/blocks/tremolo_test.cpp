#include "orba/blocks/blocks/tremolo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "orba/blocks/frame.h"
#include "tests/support/block_model.h"

namespace orba::blocks::tremolo {
namespace {

constexpr float RATE = 48000.0f;

// The tremolo sample by sample, every LFO value computed afresh from the
// phase at the start of the slice.
class Model final : public Block {
  public:
    void prepare(std::size_t, float sample_rate) override {
        *this = Model{};
        sample_rate_ = sample_rate;
    }
    void control(std::span<const float> args) override {
        increment_ = static_cast<double>(args[0]) / static_cast<double>(sample_rate_);
        previous_ = primed_ ? target_ : args[1];
        primed_ = true;
        target_ = args[1];
        triangle_ = args[2] >= 0.5f;
        offset_ = static_cast<double>(args[3]) / 360.0;
    }
    void process(Frame& frame, std::size_t p) override {
        for (std::size_t c = 0; c < frame.channels; ++c) {
            for (std::size_t j = 0; j < frame.frames; ++j) {
                const double q = static_cast<double>(c) * offset_ +
                                 (phase_ + increment_ * static_cast<double>(j));
                const double phi = q - std::trunc(q);
                const float d =
                    previous_ + (target_ - previous_) * (static_cast<float>(p + j + 1) * 0.03125f);
                const float gain =
                    triangle_
                        ? 1.0f + (-0.5f * d) *
                                     (1.0f - static_cast<float>(1.0 - 4.0 * std::fabs(phi - 0.5)))
                        : 1.0f + (-0.5f * d) *
                                     (static_cast<float>(std::sin(-2.0 * std::numbers::pi * phi)) +
                                      1.0f);
                frame.data[c][j] *= gain;
            }
        }
        const double next = phase_ + increment_ * static_cast<double>(frame.frames);
        phase_ = next - std::floor(next);
    }

  private:
    double increment_ = 0.0, offset_ = 0.0, phase_ = 0.0;
    float previous_ = 0.0f, target_ = 0.0f, sample_rate_ = 0.0f;
    bool triangle_ = false, primed_ = false;
};

TEST(Tremolo, MatchesThePlainModelBitForBit) {
    test::ModelRunOptions options;
    options.runs = 96;
    test::expect_block_matches_model(
        INFO, [] { return std::make_unique<Model>(); }, 6, options);
}

// The gain each channel gets, sample by sample, over `periods` control
// periods of a constant 1 in.
std::vector<std::vector<float>> gains(float rate_hz, float depth, float shape, float stereo_phase,
                                      std::size_t channels, std::size_t periods) {
    Tremolo tremolo;
    tremolo.prepare(channels, RATE);
    const float args[] = {rate_hz, depth, shape, stereo_phase};
    std::vector<std::vector<float>> out(channels);
    Frame frame;
    frame.resize(channels);
    frame.frames = SLICE;
    for (std::size_t p = 0; p < periods; ++p) {
        tremolo.control(args);
        for (auto& channel : frame.data)
            channel.fill(1.0f);
        tremolo.process(frame, 0);
        for (std::size_t c = 0; c < channels; ++c)
            out[c].insert(out[c].end(), frame.data[c].begin(), frame.data[c].end());
    }
    return out;
}

// 40 Hz at 48 kHz: a cycle every 1200 samples.
TEST(Tremolo, TheWavesSwingBetweenFullLevelAndOneMinusDepth) {
    const auto triangle = gains(40.0f, 1.0f, 1.0f, 0.0f, 1, 80)[0];
    EXPECT_EQ(triangle[0], 0.0f);
    EXPECT_NEAR(triangle[600], 1.0f, 1e-6f);
    EXPECT_NEAR(triangle[1200], 0.0f, 1e-5f);
    EXPECT_NEAR(triangle[1500], 0.5f, 1e-5f);  // linear in between

    const auto sine = gains(40.0f, 0.6f, 0.0f, 0.0f, 1, 80)[0];
    const auto [low, high] = std::minmax_element(sine.begin(), sine.end());
    EXPECT_NEAR(*low, 0.4f, 1e-5f);
    EXPECT_NEAR(*high, 1.0f, 1e-6f);
    EXPECT_NEAR(sine[0], 0.7f, 1e-6f);    // half way at the start of the cycle
    EXPECT_NEAR(sine[300], 1.0f, 1e-5f);  // a quarter cycle on: the top
    EXPECT_NEAR(sine[900], 0.4f, 1e-5f);  // three quarters: the bottom
}

TEST(Tremolo, HalfACycleApartTwoChannelsPanAutomatically) {
    const auto g = gains(3.0f, 1.0f, 0.0f, 180.0f, 2, 600);
    const auto top = std::max_element(g[0].begin(), g[0].end()) - g[0].begin();
    EXPECT_NEAR(g[0][top], 1.0f, 1e-6f);
    EXPECT_NEAR(g[1][top], 0.0f, 1e-6f);
    // The level moves from side to side and never dips in the sum.
    for (std::size_t i = 0; i < g[0].size(); ++i)
        ASSERT_NEAR(g[0][i] + g[1][i], 1.0f, 1e-5f) << i;
}

TEST(Tremolo, EachChannelRunsTheStereoPhaseAheadOfThePrevious) {
    // 90 degrees at 40 Hz is 300 samples; 0 degrees moves every channel together.
    for (const float degrees : {0.0f, 90.0f}) {
        for (const float shape : {0.0f, 1.0f}) {
            const auto g = gains(40.0f, 1.0f, shape, degrees, 3, 100);
            const std::size_t lead = degrees == 0.0f ? 0 : 300;
            for (std::size_t i = 0; i + 2 * lead < g[0].size(); ++i) {
                ASSERT_NEAR(g[1][i], g[0][i + lead], 1e-5f) << i;
                ASSERT_NEAR(g[2][i], g[0][i + 2 * lead], 1e-5f) << i;
            }
        }
    }
}

}  // namespace
}  // namespace orba::blocks::tremolo
