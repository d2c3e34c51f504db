#include "orba/blocks/blocks/delay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#include "tests/support/block_harness.h"
#include "tests/support/block_model.h"

namespace orba::blocks::delay {
namespace {

// The delay block written plainly from its definition: one sample at a time,
// every read before its write, one sine per channel per sample, the damping
// coefficient worked out at every control and no fast paths.
class Model final : public Block {
  public:
    void configure(std::span<const float> args) override { max_ms_ = args[6]; }

    void prepare(std::size_t channels, float sample_rate) override {
        const auto length = static_cast<std::size_t>(sample_rate * (max_ms_ * 0.001f)) + 24;
        lines_.assign(channels, std::vector<float>(length, 0.0f));
        write_.assign(channels, 0);
        state_.assign(channels, 0.0f);
        rate_ = sample_rate;
        start_ = target_ = feedback_ = coefficient_ = depth_ = 0.0f;
        increment_ = phase_ = 0.0;
        pingpong_ = primed_ = false;
    }

    void control(std::span<const float> a) override {
        const float t = rate_ * (std::fmin(a[0], max_ms_) * 0.001f);
        start_ = primed_ ? target_ : t;
        primed_ = true;
        target_ = t;
        feedback_ = a[1];
        const float cutoff = std::clamp(a[2], 1.0f, 0.49f * rate_);
        coefficient_ = 1.0f - std::exp(cutoff * -6.2831855f / rate_);
        depth_ = rate_ * (a[4] * 0.001f);
        increment_ = static_cast<double>(a[5]) / static_cast<double>(rate_);
        pingpong_ = a[3] >= 0.5f && lines_.size() == 2;
    }

    void process(Frame& frame, std::size_t p) override {
        const std::size_t n = frame.frames;
        if (pingpong_) {
            float* left = frame.channel(0);
            float* right = frame.channel(1);
            for (std::size_t j = 0; j < n; ++j) {
                const float d = time(0.0, j, p);
                const float yl = read(0, d), yr = read(1, d);
                state_[0] = state_[0] + coefficient_ * (yl - state_[0]);
                state_[1] = state_[1] + coefficient_ * (yr - state_[1]);
                push(0, feedback_ * state_[1] + 0.5f * (left[j] + right[j]));
                push(1, feedback_ * state_[0]);
                left[j] = yl;
                right[j] = yr;
            }
        } else {
            for (std::size_t c = 0; c < std::min(frame.channels, lines_.size()); ++c) {
                float* x = frame.channel(c);
                for (std::size_t j = 0; j < n; ++j) {
                    const float y = read(c, time(0.25 * static_cast<double>(c), j, p));
                    state_[c] = state_[c] + coefficient_ * (y - state_[c]);
                    push(c, feedback_ * state_[c] + x[j]);
                    x[j] = y;
                }
            }
        }
        const double advanced = phase_ + increment_ * static_cast<double>(n);
        phase_ = advanced - std::floor(advanced);
        for (float& s : state_) {
            if (std::fabs(s) < 1e-20f) s = 0.0f;
        }
    }

    std::uint32_t tail(std::span<const float> a, float sample_rate) const override {
        float repeats = 1.0f;
        if (a[1] > 0.01f) {
            repeats = std::clamp(std::ceil(-6.9077554f / std::log(a[1])), 1.0f, 60.0f);
        }
        const float span =
            sample_rate * (std::fmin(a[0], a[6]) * 0.001f) + sample_rate * (a[4] * 0.001f);
        const float samples = repeats * span;
        return samples >= 4294967296.0f ? 4294967295u : static_cast<std::uint32_t>(samples);
    }

  private:
    // The glided, modulated delay of sample j; `lead` is the channel's LFO
    // offset in cycles.
    float time(double lead, std::size_t j, std::size_t p) const {
        const float glide = start_ + (target_ - start_) * (static_cast<float>(p + j + 1) / 32.0f);
        const double q = phase_ + lead + increment_ * static_cast<double>(j);
        const auto lfo = static_cast<float>(std::sin(2.0 * std::numbers::pi * (q - std::trunc(q))));
        return glide + depth_ * lfo;
    }

    float read(std::size_t c, float delay) const {
        const std::vector<float>& b = lines_[c];
        const auto length = static_cast<std::int64_t>(b.size());
        const float d = std::clamp(delay, 2.0f, static_cast<float>(length - 4));
        const auto i = static_cast<std::int64_t>(std::floor(d));
        const float t = d - std::floor(d);
        const auto w = static_cast<std::int64_t>(write_[c]);
        auto at = [&](std::int64_t k) {
            return b[static_cast<std::size_t>((k % length + length) % length)];
        };
        const float y0 = at(w - i + 1), y1 = at(w - i), y2 = at(w - i - 1), y3 = at(w - i - 2);
        return y1 + t * (0.5f * (y2 - y0) + t * ((y0 - 2.5f * y1 + 2.0f * y2 - 0.5f * y3) +
                                                 t * (1.5f * (y1 - y2) + 0.5f * (y3 - y0))));
    }

    void push(std::size_t c, float x) {
        lines_[c][write_[c]] = x;
        write_[c] = (write_[c] + 1) % lines_[c].size();
    }

    std::vector<std::vector<float>> lines_;
    std::vector<std::size_t> write_;
    std::vector<float> state_;
    float start_ = 0, target_ = 0, rate_ = 0, max_ms_ = 0, feedback_ = 0, coefficient_ = 0,
          depth_ = 0;
    double increment_ = 0, phase_ = 0;
    bool pingpong_ = false, primed_ = false;
};

TEST(Delay, MatchesThePlainModelBitForBit) {
    const auto model = [] { return std::make_unique<Model>(); };
    test::expect_block_matches_model(INFO, model, 1);

    // Held to a few milliseconds at low rates, many delays are shorter than a
    // slice or two, so reads reach what the same slice has written, and the
    // lines fill and wrap within a run, so the longest reads are clamped.
    std::vector<ArgInfo> args(INFO.args.begin(), INFO.args.end());
    args[0].max = 25.0f;  // time_ms
    args[0].default_value = 4.0f;
    args[4].max = 5.0f;   // mod_depth_ms
    args[6].max = 20.0f;  // max_ms
    args[6].default_value = 10.0f;
    BlockInfo short_lines = INFO;
    short_lines.args = args;
    test::ModelRunOptions options;
    options.sample_rates = {8000.0f, 22050.0f, 44100.0f};
    test::expect_block_matches_model(short_lines, model, 2, options);
}

using Audio = std::vector<std::vector<float>>;

// Drives a block the way the graph runtime does: control at the start of each
// 32-sample period, then the period in one slice.
struct Rig {
    std::unique_ptr<Block> block = INFO.make();
    std::vector<float> args;
    Frame frame;

    Rig(std::size_t channels, float sample_rate, test::ArgOverrides given = {})
        : args(test::args_with(INFO, given)) {
        block->configure(args);
        block->prepare(channels, sample_rate);
        frame.resize(channels);
    }

    void run(Audio& audio) {
        for (std::size_t done = 0; done < audio[0].size(); done += frame.frames) {
            block->control(args);
            frame.frames = std::min(SLICE, audio[0].size() - done);
            for (std::size_t c = 0; c < audio.size(); ++c)
                std::copy_n(audio[c].begin() + done, frame.frames, frame.channel(c));
            block->process(frame, 0);
            for (std::size_t c = 0; c < audio.size(); ++c)
                std::copy_n(frame.channel(c), frame.frames, audio[c].begin() + done);
        }
    }
};

Audio silence(std::size_t channels, std::size_t length) {
    return Audio(channels, std::vector<float>(length, 0.0f));
}

std::vector<std::size_t> nonzero(const std::vector<float>& samples) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i] != 0.0f) at.push_back(i);
    }
    return at;
}

double sum(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    double total = 0.0;
    for (std::size_t i = from; i < to; ++i)
        total += samples[i];
    return total;
}

float peak(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    float most = 0.0f;
    for (std::size_t i = from; i < to; ++i)
        most = std::max(most, std::fabs(samples[i]));
    return most;
}

TEST(Delay, EchoArrivesExactlyAtTheDelayTimeOnceWithoutFeedback) {
    struct Case {
        float time_ms, max_ms, sample_rate;
        std::size_t echo;
    };
    const Case cases[] = {
        {250.0f, 2000.0f, 48000.0f, 12000},
        {250.0f, 100.0f, 48000.0f, 4800},  // a time above the maximum plays at the maximum
        {0.1f, 2000.0f, 8000.0f, 2},       // 0.8 samples reads as the shortest, 2
    };
    for (const Case& c : cases) {
        Rig rig(1, c.sample_rate,
                {{"time_ms", c.time_ms}, {"max_ms", c.max_ms}, {"feedback", 0.0f}});
        Audio audio = silence(1, 20000);
        audio[0][0] = 1.0f;
        rig.run(audio);
        EXPECT_EQ(nonzero(audio[0]), std::vector<std::size_t>{c.echo}) << c.time_ms;
        EXPECT_EQ(audio[0][c.echo], 1.0f) << c.time_ms;
    }
}

TEST(Delay, EchoesFallByTheFeedbackAndGetDarker) {
    const std::size_t period = 4800;  // 100 ms
    Rig rig(1, 48000.0f, {{"time_ms", 100.0f}, {"feedback", 0.5f}, {"damp_hz", 3000.0f}});
    Audio audio = silence(1, 5 * period);
    audio[0][0] = 1.0f;
    rig.run(audio);
    // The first echo is untouched; every repeat went once more through the
    // low-pass, whose gain at DC is 1, so each echo's area falls by exactly
    // the feedback while its peak falls further as it spreads out.
    EXPECT_EQ(audio[0][period], 1.0f);
    EXPECT_EQ(peak(audio[0], 0, period), 0.0f);
    double area = 1.0;
    float last_peak = 1.0f;
    for (std::size_t echo = 2; echo <= 4; ++echo) {
        const std::size_t from = echo * period;
        const double echo_area = sum(audio[0], from, from + period);
        EXPECT_NEAR(echo_area, 0.5 * area, 1e-3) << "echo " << echo;
        const float echo_peak = peak(audio[0], from, from + period);
        EXPECT_LT(echo_peak, 0.5f * last_peak) << "echo " << echo;
        area = echo_area;
        last_peak = echo_peak;
    }
}

TEST(Delay, PingPongStartsLeftAndAlternates) {
    const std::size_t period = 4800;
    for (std::size_t from : {0u, 1u}) {
        Rig rig(2, 48000.0f,
                {{"time_ms", 100.0f}, {"feedback", 0.5f}, {"mode", 1.0f}, {"damp_hz", 5000.0f}});
        Audio audio = silence(2, 5 * period);
        audio[from][0] = 1.0f;
        rig.run(audio);
        // Either input reaches the left line as half the mono sum.
        EXPECT_EQ(audio[0][period], 0.5f);
        EXPECT_EQ(peak(audio[0], 0, period), 0.0f);
        EXPECT_EQ(peak(audio[1], 0, 2 * period), 0.0f);
        double expected = 0.5;
        for (std::size_t echo = 2; echo <= 4; ++echo) {
            expected *= 0.5;
            const std::size_t at = echo * period;
            const std::size_t loud = echo % 2 == 0 ? 1 : 0;
            EXPECT_NEAR(sum(audio[loud], at, at + period), expected, 1e-3) << "echo " << echo;
            EXPECT_EQ(peak(audio[1 - loud], at, at + period), 0.0f) << "echo " << echo;
        }
    }
}

TEST(Delay, LfoSwingsTheTimeByItsDepthAQuarterCycleApartPerChannel) {
    // 1 Hz at 8000 Hz: one LFO cycle is 8000 samples, a quarter 2000; a
    // depth of 10 ms is 80 samples around 400.
    Rig rig(
        2, 8000.0f,
        {{"time_ms", 50.0f}, {"feedback", 0.0f}, {"mod_depth_ms", 10.0f}, {"mod_rate_hz", 1.0f}});
    const std::size_t length = 12000;
    Audio audio = silence(2, length);
    // A ramp turns the output into a readout of the delay.
    for (auto& channel : audio) {
        for (std::size_t n = 0; n < length; ++n)
            channel[n] = static_cast<float>(n) * 0.25f;
    }
    rig.run(audio);
    auto swing = [&](std::size_t c, std::size_t n) {
        return static_cast<double>(n) - audio[c][n] / 0.25 - 400.0;
    };
    for (std::size_t n = 600; n < length; n += 97) {
        const double expected =
            80.0 * std::sin(2.0 * std::numbers::pi * static_cast<double>(n) / 8000.0);
        EXPECT_NEAR(swing(0, n), expected, 0.05) << n;
        if (n + 2000 < length) {
            EXPECT_NEAR(swing(1, n), swing(0, n + 2000), 0.05) << n;
        }
    }
}

TEST(Delay, ChannelsBeyondTheLinesPassUntouched) {
    Rig rig(1, 48000.0f);
    Frame frame;
    frame.resize(2);
    frame.frames = SLICE;
    for (std::size_t j = 0; j < SLICE; ++j)
        frame.channel(1)[j] = static_cast<float>(j);
    rig.block->control(rig.args);
    rig.block->process(frame, 0);
    for (std::size_t j = 0; j < SLICE; ++j)
        EXPECT_EQ(frame.channel(1)[j], static_cast<float>(j));
}

// The harness rarely prepares again for the very same setup, where the block
// clears in place only the part of each line written since the last prepare.
// Every way of writing must leave nothing behind: a run shorter than a line,
// one that wraps it many times, ping-pong, and reads ahead with a later settle.
TEST(Delay, PrepareForTheSameSetupForgetsEverythingHeld) {
    struct Case {
        float max_ms, mode;
        std::size_t length;
        bool ahead;
    };
    const Case cases[] = {{2000.0f, 0.0f, 2000, false},
                          {20.0f, 0.0f, 5000, false},
                          {20.0f, 1.0f, 5000, false},
                          {2000.0f, 0.0f, 2000, true},
                          {20.0f, 1.0f, 5000, true}};
    std::mt19937 random(5);
    for (const Case& c : cases) {
        Rig rig(2, 48000.0f,
                {{"time_ms", 10.0f}, {"feedback", 0.9f}, {"mode", c.mode}, {"max_ms", c.max_ms}});
        auto& block = static_cast<Delay&>(*rig.block);
        Audio audio = silence(2, c.length);
        for (auto& channel : audio) {
            for (float& x : channel)
                x = std::uniform_real_distribution<float>(-1.0f, 1.0f)(random);
        }
        if (c.ahead) {
            Delay* group[] = {&block};
            for (std::size_t done = 0; done < c.length; done += SLICE) {
                block.control(rig.args);
                rig.frame.frames = std::min(SLICE, c.length - done);
                for (std::size_t ch = 0; ch < 2; ++ch)
                    std::copy_n(audio[ch].begin() + done, rig.frame.frames, rig.frame.channel(ch));
                block.read_ahead(rig.frame, 0);
                settle(group);
            }
        } else {
            rig.run(audio);
        }
        block.prepare(2, 48000.0f);
        for (const Line& line : block.lines())
            EXPECT_TRUE(std::all_of(line.buffer.begin(), line.buffer.end(),
                                    [](float x) { return x == 0.0f; }))
                << "max_ms " << c.max_ms << ", mode " << c.mode << ", ahead " << c.ahead;
        Audio after = silence(2, 4000);
        rig.run(after);
        EXPECT_EQ(peak(after[0], 0, 4000), 0.0f);
        EXPECT_EQ(peak(after[1], 0, 4000), 0.0f);
    }
}

TEST(Delay, TailCoversTheRepeatsUntilSixtyDecibelsDown) {
    struct Case {
        float feedback, time_ms, depth_ms, max_ms, sample_rate;
        std::uint32_t samples;
    };
    const Case cases[] = {
        {0.0f, 250.0f, 0.0f, 2000.0f, 48000.0f, 12000},
        {0.01f, 250.0f, 5.0f, 2000.0f, 48000.0f, 12240},
        {0.35f, 250.0f, 0.0f, 2000.0f, 48000.0f, 7 * 12000},
        {0.5f, 250.0f, 0.0f, 2000.0f, 48000.0f, 10 * 12000},
        {0.97f, 250.0f, 0.0f, 2000.0f, 48000.0f, 60 * 12000},
        {0.0f, 3000.0f, 0.0f, 1000.0f, 48000.0f, 48000},
        {0.97f, 4000.0f, 20.0f, 4000.0f, 1e9f, 4294967295u},
    };
    Delay block;
    for (const Case& c : cases) {
        std::vector<float> args = test::args_with(INFO, {{"feedback", c.feedback},
                                                         {"time_ms", c.time_ms},
                                                         {"mod_depth_ms", c.depth_ms},
                                                         {"max_ms", c.max_ms}});
        EXPECT_EQ(block.tail(args, c.sample_rate), c.samples)
            << "feedback " << c.feedback << ", time " << c.time_ms;
    }
}

}  // namespace
}  // namespace orba::blocks::delay
