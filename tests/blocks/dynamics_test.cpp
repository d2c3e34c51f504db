#include "orba/blocks/blocks/dynamics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "orba/blocks/frame.h"
#include "tests/support/block_harness.h"
#include "tests/support/block_model.h"

namespace orba::blocks::dynamics {
namespace {

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

// The block as its definition reads, one sample at a time: every channel's
// level, then every channel's gain, then the audio. Arguments by position:
// mode, threshold_db, ratio, knee_db, attack_ms, release_ms, makeup_db,
// auto_makeup, detector, sidechain_hpf_hz, link, lookahead_ms, range_db.
class Model final : public Block {
  public:
    void configure(std::span<const float> args) override { lookahead_ms_ = args[11]; }
    void prepare(std::size_t channels, float sample_rate) override {
        const float lookahead_ms = lookahead_ms_;
        *this = Model{};
        lookahead_ms_ = lookahead_ms;
        r_ = static_cast<std::uint32_t>(std::round(sample_rate * (lookahead_ms_ * 0.001f)));
        gain_.assign(channels, 0.0f);
        mean_square_.assign(channels, 0.0f);
        hpf_state_.assign(channels, 0.0f);
        level_.assign(channels, 0.0f);
        lines_.assign(channels, std::vector<float>(std::max<std::uint32_t>(r_, 1), 0.0f));
        rate_ = sample_rate;
    }
    void control(std::span<const float> args) override {
        mode_ = static_cast<unsigned>(args[0]);
        threshold_ = args[1];
        ratio_ = mode_ == 1 ? 1000.0f : mode_ == 2 ? std::max(args[2], 20.0f) : args[2];
        knee_ = args[3];
        attack_ = std::exp(-1.0f / ((args[4] * 0.001f) * rate_));
        release_ = std::exp(-1.0f / (rate_ * (args[5] * 0.001f)));
        float estimate = 0.0f;
        if (mode_ == 0 && args[7] >= 0.5f)
            estimate = std::min((1.0f - 1.0f / ratio_) * threshold_ * -0.5f, 24.0f);
        makeup_ = estimate + args[6];
        rms_ = args[8] >= 0.5f;
        hpf_ = 0.0f;
        if (args[9] > 15.0f) {
            const float fc = std::clamp(args[9], 1.0f, 0.49f * rate_);
            hpf_ = 1.0f - std::exp(fc * -6.2831855f / rate_);
        }
        link_ = args[10];
        range_ = args[12];
    }
    void process(Frame& frame, std::size_t) override {
        const float m = std::exp(-1.0f / (rate_ * 0.01f));
        const std::size_t channels = frame.channels;
        for (std::size_t i = 0; i < frame.frames; ++i) {
            float loudest = 0.0f;
            for (std::size_t j = 0; j < channels; ++j) {
                float x = frame.data[j][i];
                float& s = hpf_state_[j];
                if (rms_) {
                    if (hpf_ > 0.0f) {
                        s = s + hpf_ * (x - s);
                        x = x - s;
                    }
                    mean_square_[j] = mean_square_[j] + (1.0f - m) * (x * x - mean_square_[j]);
                    level_[j] = std::sqrt(mean_square_[j]);
                } else if (hpf_ > 0.0f) {
                    s = s + hpf_ * (x - s);
                    level_[j] = std::fabs(x - s);
                } else {
                    level_[j] = std::fabs(x);
                }
                loudest = std::max(loudest, level_[j]);
            }
            for (std::size_t j = 0; j < channels; ++j) {
                const float v = level_[j] + link_ * (loudest - level_[j]);
                const float u = 20.0f * std::log10(std::max(v, 1e-9f)) - threshold_;
                const float k = knee_ / 2.0f;
                const bool knee = knee_ > 0.0f && std::fabs(u) < k;
                float g = 0.0f;
                if (mode_ <= 1) {
                    if (knee) g = (1.0f / ratio_ - 1.0f) * ((u + k) * (u + k)) / (2.0f * knee_);
                    else if (u > 0.0f) g = (1.0f / ratio_ - 1.0f) * u;
                } else {
                    if (knee) g = -(ratio_ - 1.0f) * ((k - u) * (k - u)) / (2.0f * knee_);
                    else if (u < 0.0f) g = (ratio_ - 1.0f) * u;
                }
                const float target = std::clamp(g, -range_, 0.0f);
                float& c = gain_[j];
                c = target + (target < c ? attack_ : release_) * (c - target);
            }
            float deepest = 0.0f;
            for (std::size_t j = 0; j < channels; ++j) {
                float y = frame.data[j][i];
                if (r_ > 0) std::swap(y, lines_[j][position_]);  // exactly r samples late
                frame.data[j][i] =
                    y * std::exp((makeup_ + gain_[j]) * std::bit_cast<float>(0x3DEBC8E2u));
                deepest = std::min(deepest, gain_[j]);
            }
            meter_ = -deepest;
            if (r_ > 0) position_ = (position_ + 1) % r_;
        }
        for (std::size_t j = 0; j < channels; ++j) {
            if (std::fabs(gain_[j]) < 1e-20f) gain_[j] = 0.0f;
            if (std::fabs(mean_square_[j]) < 1e-20f) mean_square_[j] = 0.0f;
        }
    }
    std::uint32_t latency() const override { return r_; }
    float meter(std::size_t index) const override { return index == 0 ? meter_ : 0.0f; }

  private:
    float lookahead_ms_ = 0.0f;
    std::vector<float> gain_, mean_square_, hpf_state_, level_;
    std::vector<std::vector<float>> lines_;
    std::uint32_t r_ = 0, position_ = 0;
    unsigned mode_ = 0;
    float rate_ = 0.0f, threshold_ = 0.0f, ratio_ = 0.0f, knee_ = 0.0f, attack_ = 0.0f;
    float release_ = 0.0f, makeup_ = 0.0f, hpf_ = 0.0f, link_ = 0.0f, range_ = 0.0f;
    float meter_ = 0.0f;
    bool rms_ = false;
};

TEST(Dynamics, EverySampleAndTheMeterMatchAPlainModel) {
    // Some regroupings, such as the attack coefficient's, change its bits only
    // at a few sample rates and times, hence the many runs.
    test::expect_block_matches_model(INFO, [] { return std::make_unique<Model>(); }, 1,
                                     {.runs = 400});
}

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
        EXPECT_EQ(rig.block.meter(1), 0.0f);
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

}  // namespace
}  // namespace orba::blocks::dynamics
