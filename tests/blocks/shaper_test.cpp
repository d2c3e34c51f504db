#include "orba/blocks/blocks/shaper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <span>
#include <vector>

#include "orba/blocks/frame.h"
#include "tests/support/block_model.h"

namespace orba::blocks::shaper {
namespace {

struct Settings {
    float curve = 0.0f;
    float drive_db = 0.0f;
    float bias = 0.0f;
    float output_db = 0.0f;
};

// Prepares a one-channel shaper, runs one control period over `input` (at most
// 32 samples) and returns the output.
std::vector<float> shape(const Settings& s, const std::vector<float>& input) {
    Shaper shaper;
    shaper.prepare(1, 48000.0f);
    const float args[] = {s.curve, s.drive_db, s.bias, s.output_db};
    shaper.control(args);
    Frame frame;
    frame.resize(1);
    frame.frames = input.size();
    for (std::size_t j = 0; j < input.size(); ++j)
        frame.data[0][j] = input[j];
    shaper.process(frame, 0);
    return {frame.data[0].begin(), frame.data[0].begin() + input.size()};
}

float shape_one(const Settings& s, float x) {
    return shape(s, {x})[0];
}

// The block as its definition reads, one sample at a time.
class Model final : public Block {
  public:
    void prepare(std::size_t, float) override { *this = Model{}; }
    void control(std::span<const float> args) override {
        curve_ = static_cast<unsigned>(args[0]);
        bias_ = args[2];
        dc_ = curve(bias_);
        const float db = std::bit_cast<float>(0x3DEBC8E2u);
        const float drive = std::exp(args[1] * db);
        const float output = std::exp(args[3] * db);
        prev_drive_ = primed_ ? drive_ : drive;
        prev_output_ = primed_ ? output_ : output;
        primed_ = true;
        drive_ = drive;
        output_ = output;
    }
    void process(Frame& frame, std::size_t phase) override {
        for (std::size_t c = 0; c < frame.channels; ++c) {
            for (std::size_t j = 0; j < frame.frames; ++j) {
                const float u = static_cast<float>(phase + j + 1);
                float& x = frame.data[c][j];
                const float w =
                    bias_ + x * (prev_drive_ + (drive_ - prev_drive_) * (u * 0.03125f));
                x = (prev_output_ + (output_ - prev_output_) * (u * 0.03125f)) *
                    (curve(w) - dc_);
            }
        }
    }

  private:
    float curve(float w) const {
        switch (curve_) {
            case 0: return std::tanh(w);
            case 1: return std::clamp(w, -1.0f, 1.0f);
            case 2:
                if (w >= 1.0f) return 1.0f;
                if (w <= -1.0f) return -1.0f;
                return 1.5f * (w + (w * (w * w)) / -3.0f);
            case 3: return std::sin(w * 1.5707964f);
            default: return w >= 0.0f ? 1.0f - std::exp(-w) : -0.8f * (1.0f - std::exp(1.25f * w));
        }
    }

    unsigned curve_ = 0;
    float prev_drive_ = 0.0f, drive_ = 0.0f, prev_output_ = 0.0f, output_ = 0.0f;
    float bias_ = 0.0f, dc_ = 0.0f;
    bool primed_ = false;
};

TEST(Shaper, EverySampleMatchesAPlainModel) {
    test::expect_block_matches_model(INFO, [] { return std::make_unique<Model>(); }, 1,
                                     {.runs = 200});
}

TEST(Shaper, SilenceStaysSilentForEveryCurveAndBias) {
    for (float curve : {0.0f, 1.0f, 2.0f, 3.0f, 4.0f}) {
        for (float bias : {-1.0f, -0.7f, -0.25f, 0.0f, 0.1f, 0.5f, 1.0f}) {
            for (float drive : {-24.0f, 0.0f, 48.0f}) {
                const auto out = shape({curve, drive, bias, 12.0f}, std::vector<float>(32, 0.0f));
                for (float y : out) {
                    ASSERT_EQ(y, 0.0f) << "curve " << curve << " bias " << bias;
                }
            }
        }
    }
}

// Landmarks of each curve and of the gains, which a model misreading a
// formula the same way as the block would still miss.
TEST(Shaper, CurvesAndGainsMeetTheirLandmarks) {
    struct Case {
        Settings settings;
        float x, expected, tolerance;
    };
    const Case cases[] = {
        {{.curve = 0.0f}, 0.5f, 0.46211716f, 1e-6f},
        {{.curve = 1.0f}, -0.75f, -0.75f, 0.0f},
        {{.curve = 1.0f}, 1.5f, 1.0f, 0.0f},
        {{.curve = 1.0f}, -3.0f, -1.0f, 0.0f},
        {{.curve = 2.0f}, 1.0f, 1.0f, 0.0f},
        {{.curve = 2.0f}, 0.5f, 0.6875f, 0.0f},
        {{.curve = 2.0f}, -4.0f, -1.0f, 0.0f},
        {{.curve = 3.0f}, 1.0f, 1.0f, 1e-7f},
        {{.curve = 3.0f}, 2.0f, 0.0f, 1e-6f},
        {{.curve = 4.0f}, 50.0f, 1.0f, 1e-6f},
        {{.curve = 4.0f}, -50.0f, -0.8f, 1e-6f},
        // Both tube halves leave zero with slope 1.
        {{.curve = 4.0f}, 1e-3f, 1e-3f, 1e-6f},
        {{.curve = 4.0f}, -1e-3f, -1e-3f, 1e-6f},
        // 20 log10(2) dB doubles, before or after the curve.
        {{.curve = 1.0f, .output_db = 6.0206f}, 0.25f, 0.5f, 1e-5f},
        {{.curve = 1.0f, .drive_db = 6.0206f}, 0.25f, 0.5f, 1e-5f},
        {{.curve = 1.0f, .drive_db = 6.0206f}, 0.75f, 1.0f, 0.0f},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(shape_one(c.settings, c.x), c.expected, c.tolerance)
            << "curve " << c.settings.curve << " at " << c.x;
    }
}

TEST(Shaper, BiasMakesTheHalvesOfASineUnequalButKeepsZeroAtZero) {
    const Settings biased{.curve = 0.0f, .drive_db = 6.0f, .bias = 0.5f};
    EXPECT_EQ(shape_one(biased, 0.0f), 0.0f);
    const float up = shape_one(biased, 0.8f);
    const float down = shape_one(biased, -0.8f);
    EXPECT_GT(up, 0.0f);
    EXPECT_LT(down, 0.0f);
    EXPECT_GT(std::fabs(down) - up, 0.1f);
}

}  // namespace
}  // namespace orba::blocks::shaper
