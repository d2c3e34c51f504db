#include "orba/blocks/blocks/gain.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "tests/support/block_model.h"

namespace orba::blocks::gain {
namespace {

// The gain block written plainly, one sample at a time, working out its
// level and pan angle afresh at every control.
class Model final : public Block {
  public:
    void prepare(std::size_t channels, float) override {
        channels_ = channels;
        for (std::size_t i = 0; i < 3; ++i)
            previous_[i] = target_[i] = 0.0f;
        primed_ = false;
    }

    void control(std::span<const float> args) override {
        float g = std::exp(args[0] * std::bit_cast<float>(std::uint32_t{0x3DEBC8E2}));
        if (args[2] >= 0.5f) g = -g;
        float left = g, right = g;
        if (channels_ == 2) {
            const float theta = (args[1] + 1.0f) * 0.7853982f;
            left = (g * 1.4142135f) * std::cos(theta);
            right = (g * 1.4142135f) * std::sin(theta);
        }
        const float now[3] = {left, right, g};
        for (std::size_t i = 0; i < 3; ++i) {
            if (!primed_) target_[i] = now[i];
            previous_[i] = target_[i];
            target_[i] = now[i];
        }
        primed_ = true;
    }

    void process(Frame& frame, std::size_t phase) override {
        for (std::size_t c = 0; c < frame.channels; ++c) {
            const std::size_t pair = channels_ != 2 ? 2 : (c == 0 ? 0 : 1);
            const float a = previous_[pair], b = target_[pair];
            for (std::size_t j = 0; j < frame.frames; ++j) {
                const float gain =
                    a == b ? b : a + (b - a) * (static_cast<float>(phase + j + 1) / 32.0f);
                frame.channel(c)[j] *= gain;
            }
        }
    }

  private:
    std::size_t channels_ = 0;
    float previous_[3] = {};  // left, right, mono
    float target_[3] = {};
    bool primed_ = false;
};

TEST(Gain, MatchesThePlainModelBitForBit) {
    test::expect_block_matches_model(
        INFO, [] { return std::make_unique<Model>(); }, 1);
}

// The ratio of output to input on each channel of one settled period.
std::vector<float> gains(std::size_t channels, std::vector<float> args) {
    std::unique_ptr<Block> block = INFO.make();
    block->prepare(channels, 48000.0f);
    block->control(args);
    Frame frame;
    frame.resize(channels);
    frame.frames = SLICE;
    for (std::size_t c = 0; c < channels; ++c)
        frame.channel(c)[7] = 0.5f;
    block->process(frame, 0);
    std::vector<float> ratio;
    for (std::size_t c = 0; c < channels; ++c)
        ratio.push_back(frame.channel(c)[7] / 0.5f);
    return ratio;
}

// What a listener measures, which a model sharing a wrong constant would miss.
TEST(Gain, DecibelsBecomeAmplitudeAndInvertFlipsExactly) {
    const struct {
        float db, amplitude;
    } cases[] = {{-6.0206f, 0.5f}, {20.0f, 10.0f}, {-40.0f, 0.01f}, {48.0f, 251.18864f}};
    for (const auto& c : cases) {
        EXPECT_NEAR(gains(1, {c.db, 0.0f, 0.0f})[0], c.amplitude, c.amplitude * 1e-5f) << c.db;
    }
    EXPECT_EQ(gains(1, {0.0f, 0.0f, 0.0f})[0], 1.0f);
    EXPECT_EQ(gains(1, {0.0f, 0.0f, 1.0f})[0], -1.0f);
}

TEST(Gain, PanKeepsThePowerConstantAndHardPanIsThreeDecibelsUp) {
    const float g = std::exp(-6.0f * 0.115129247f);
    for (float pan = -1.0f; pan <= 1.0f; pan += 0.125f) {
        const std::vector<float> lr = gains(2, {-6.0f, pan, 0.0f});
        EXPECT_NEAR(lr[0] * lr[0] + lr[1] * lr[1], 2.0f * g * g, 1e-5f) << pan;
        EXPECT_GE(lr[0], -1e-6f);
        EXPECT_GE(lr[1], -1e-6f);
    }
    const std::vector<float> left = gains(2, {0.0f, -1.0f, 0.0f});
    EXPECT_FLOAT_EQ(left[0], 1.4142135f);
    EXPECT_NEAR(left[1], 0.0f, 1e-6f);
    const std::vector<float> right = gains(2, {0.0f, 1.0f, 0.0f});
    EXPECT_NEAR(right[0], 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(right[1], 1.4142135f);
}

TEST(Gain, FrameWithoutChannelsIsLeftAlone) {
    std::unique_ptr<Block> block = INFO.make();
    block->prepare(2, 48000.0f);
    block->control(std::vector<float>{6.0f, 0.0f, 0.0f});
    Frame empty;
    empty.frames = SLICE;
    block->process(empty, 0);
    EXPECT_EQ(empty.channels, 0u);
}

}  // namespace
}  // namespace orba::blocks::gain
