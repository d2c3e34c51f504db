#include "orba/blocks/blocks/stereo.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "orba/blocks/frame.h"
#include "tests/support/block_harness.h"
#include "tests/support/block_model.h"

namespace orba::blocks::stereo {
namespace {

using test::run_period;
using test::test_signal;

// The stereo block sample by sample, one mode at a time.
class Model final : public Block {
  public:
    void prepare(std::size_t channels, float) override {
        *this = Model{};
        two_channels_ = channels == 2;
    }
    void control(std::span<const float> args) override {
        const float db_to_ln = std::bit_cast<float>(0x3DEBC8E2u);
        mode_ = static_cast<unsigned>(args[0]);
        const float mid = std::exp(args[2] * db_to_ln);
        const float side = args[1] * std::exp(args[3] * db_to_ln);
        previous_mid_ = primed_ ? mid_ : mid;
        previous_side_ = primed_ ? side_ : side;
        primed_ = true;
        mid_ = mid;
        side_ = side;
    }
    void process(Frame& frame, std::size_t p) override {
        if (!two_channels_) return;
        for (std::size_t j = 0; j < frame.frames; ++j) {
            const float l = frame.data[0][j];
            const float r = frame.data[1][j];
            float left = r, right = l;
            if (mode_ == 0) {
                const float g = static_cast<float>(p + j + 1) * 0.03125f;
                const float mid = (previous_mid_ + (mid_ - previous_mid_) * g) * ((l + r) * 0.5f);
                const float side =
                    (previous_side_ + (side_ - previous_side_) * g) * ((l - r) * 0.5f);
                left = mid + side;
                right = mid - side;
            } else if (mode_ == 1) {
                left = (l + r) * 0.5f;
                right = (l - r) * 0.5f;
            } else if (mode_ == 2) {
                left = l + r;
                right = l - r;
            } else if (mode_ == 3) {
                left = right = (l + r) * 0.5f;
            }
            frame.data[0][j] = left;
            frame.data[1][j] = right;
        }
    }

  private:
    unsigned mode_ = 0;
    float previous_mid_ = 0.0f, mid_ = 0.0f, previous_side_ = 0.0f, side_ = 0.0f;
    bool two_channels_ = false, primed_ = false;
};

TEST(Stereo, MatchesThePlainModelBitForBit) {
    test::ModelRunOptions options;
    options.runs = 60;
    test::expect_block_matches_model(
        INFO, [] { return std::make_unique<Model>(); }, 8, options);
}

struct Settings {
    float mode = 0.0f;
    float width = 1.0f;
    float mid_db = 0.0f;
    float side_db = 0.0f;
};

// One control period of `input` through a freshly prepared block.
std::vector<SliceArray> process(const Settings& s, const std::vector<SliceArray>& input) {
    Stereo stereo;
    stereo.prepare(input.size(), 48000.0f);
    const float args[] = {s.mode, s.width, s.mid_db, s.side_db};
    stereo.control(args);
    return run_period(stereo, input, SLICE);
}

// Checks every sample of a two-channel result against the expected pair.
template <typename Expected>
void expect_pairs(const std::vector<SliceArray>& in, const std::vector<SliceArray>& out,
                  Expected expected, float tolerance = 1e-6f) {
    for (std::size_t j = 0; j < SLICE; ++j) {
        const auto [l, r] = expected(in[0][j], in[1][j]);
        ASSERT_NEAR(out[0][j], l, tolerance) << j;
        ASSERT_NEAR(out[1][j], r, tolerance) << j;
    }
}

using Pair = std::pair<float, float>;

TEST(Stereo, WidthOneLeavesTheImageAloneAndWidthZeroFoldsToMono) {
    const auto in = test_signal(2);
    expect_pairs(in, process({}, in), [](float l, float r) { return Pair{l, r}; });
    // 20 * log10(2) dB on the mid doubles it.
    expect_pairs(
        in, process({.width = 0.0f, .mid_db = 6.0206f}, in),
        [](float l, float r) {
            return Pair{l + r, l + r};
        },
        1e-5f);
}

TEST(Stereo, WidthTwoAndSixDecibelsOnTheSideBothDoubleTheSide) {
    const auto in = test_signal(2);
    const auto doubled = [](float l, float r) {
        return Pair{1.5f * l - 0.5f * r, 1.5f * r - 0.5f * l};
    };
    expect_pairs(in, process({.width = 2.0f}, in), doubled);
    expect_pairs(in, process({.side_db = 6.0206f}, in), doubled, 1e-5f);
}

TEST(Stereo, EncodeThenDecodeRestoresTheInput) {
    const auto in = test_signal(2);
    const auto encoded = process({.mode = 1.0f}, in);
    expect_pairs(in, encoded, [](float l, float r) { return Pair{(l + r) / 2, (l - r) / 2}; });
    const auto decoded = process({.mode = 2.0f}, encoded);
    expect_pairs(in, decoded, [](float l, float r) { return Pair{l, r}; });
}

}  // namespace
}  // namespace orba::blocks::stereo
