#include "orba/blocks/blocks/delay.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/block_harness.h"

namespace orba::blocks::delay {
namespace {

using Audio = std::vector<std::vector<float>>;

// Drives a block the way the graph runtime does: control at the start of each
// 32-sample period, then the period in slices (`first` frames, then the rest).
struct Rig {
    std::unique_ptr<Block> block = INFO.make();
    std::vector<float> args;
    Frame frame;
    std::size_t phase = 0;

    Rig(std::size_t channels, float sample_rate, test::ArgOverrides given = {})
        : args(test::args_with(INFO, given)) {
        block->configure(args);
        block->prepare(channels, sample_rate);
        frame.resize(channels);
    }

    void set(std::string_view name, float value) { test::set_arg(INFO, args, name, value); }

    void run(Audio& audio, std::size_t first = SLICE) {
        std::size_t done = 0;
        const std::size_t length = audio[0].size();
        while (done < length) {
            if (phase == 0) block->control(args);
            const std::size_t limit = phase < first ? first - phase : SLICE - phase;
            const std::size_t n = std::min(limit, length - done);
            frame.frames = n;
            for (std::size_t c = 0; c < audio.size(); ++c) {
                std::copy_n(audio[c].begin() + done, n, frame.channel(c));
            }
            block->process(frame, phase);
            for (std::size_t c = 0; c < audio.size(); ++c) {
                std::copy_n(frame.channel(c), n, audio[c].begin() + done);
            }
            done += n;
            phase = (phase + n) % SLICE;
        }
    }
};

Audio silence(std::size_t channels, std::size_t length) {
    return Audio(channels, std::vector<float>(length, 0.0f));
}

Audio noise(std::size_t channels, std::size_t length, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    Audio audio = silence(channels, length);
    for (auto& channel : audio) {
        for (float& x : channel)
            x = sample(random);
    }
    return audio;
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

bool same_bits(const Audio& a, const Audio& b) {
    for (std::size_t c = 0; c < a.size(); ++c) {
        for (std::size_t i = 0; i < a[c].size(); ++i) {
            if (std::bit_cast<std::uint32_t>(a[c][i]) != std::bit_cast<std::uint32_t>(b[c][i])) {
                ADD_FAILURE() << "channel " << c << " sample " << i << ": " << a[c][i]
                              << " != " << b[c][i];
                return false;
            }
        }
    }
    return true;
}

TEST(Delay, EchoArrivesExactlyAtTheDelayTime) {
    Rig rig(1, 48000.0f, {{"time_ms", 250.0f}, {"feedback", 0.0f}});
    Audio audio = silence(1, 40000);
    audio[0][0] = 1.0f;
    rig.run(audio);
    EXPECT_EQ(nonzero(audio[0]), std::vector<std::size_t>{12000});
    EXPECT_EQ(audio[0][12000], 1.0f);
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

TEST(Delay, TimeAboveTheMaximumPlaysAtTheMaximum) {
    Rig rig(1, 48000.0f, {{"time_ms", 250.0f}, {"feedback", 0.0f}, {"max_ms", 100.0f}});
    Audio audio = silence(1, 20000);
    audio[0][0] = 1.0f;
    rig.run(audio);
    EXPECT_EQ(nonzero(audio[0]), std::vector<std::size_t>{4800});
}

TEST(Delay, DelayShorterThanTwoSamplesReadsAsTwo) {
    // 0.1 ms at 8000 Hz is 0.8 samples.
    Rig rig(1, 8000.0f, {{"time_ms", 0.1f}, {"feedback", 0.0f}});
    Audio audio = silence(1, 64);
    audio[0][5] = 1.0f;
    rig.run(audio);
    EXPECT_EQ(nonzero(audio[0]), std::vector<std::size_t>{7});
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

TEST(Delay, PingPongWithOneOrThreeChannelsIsPlainDelay) {
    for (std::size_t channels : {1u, 3u}) {
        Audio normal = noise(channels, 3000, 7);
        Audio pingpong = normal;
        Rig a(channels, 48000.0f, {{"time_ms", 9.0f}, {"feedback", 0.6f}, {"mode", 0.0f}});
        Rig b(channels, 48000.0f, {{"time_ms", 9.0f}, {"feedback", 0.6f}, {"mode", 1.0f}});
        a.run(normal);
        b.run(pingpong);
        EXPECT_TRUE(same_bits(normal, pingpong)) << channels << " channels";
    }
}

// A ramp input turns the output into a readout of the delay: a line holding
// x[n] = n returns n - delay, exactly for whole delays.
TEST(Delay, TimeChangeGlidesAcrossOneControlPeriod) {
    // At 32000 Hz one millisecond is 32 samples.
    Rig rig(1, 32000.0f, {{"time_ms", 12.0f}, {"feedback", 0.0f}});
    Audio audio = silence(1, 1024);
    for (std::size_t n = 0; n < 1024; ++n)
        audio[0][n] = static_cast<float>(n + 1);
    rig.run(audio);
    // The first period after prepare starts at 384 samples instead of
    // gliding up from nothing, so it reads only silence.
    EXPECT_EQ(peak(audio[0], 0, 384), 0.0f);
    for (std::size_t n = 384; n < 1024; ++n) {
        ASSERT_EQ(audio[0][n], static_cast<float>(n + 1 - 384)) << n;
    }
    rig.set("time_ms", 13.0f);
    Audio next = silence(1, 96);
    for (std::size_t n = 0; n < 96; ++n)
        next[0][n] = static_cast<float>(1024 + n + 1);
    rig.run(next);
    for (std::size_t k = 1; k <= 32; ++k) {
        EXPECT_EQ(next[0][k - 1], static_cast<float>(1024 + k - 384 - k)) << k;
    }
    for (std::size_t n = 32; n < 96; ++n) {
        EXPECT_EQ(next[0][n], static_cast<float>(1024 + n + 1 - 416)) << n;
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

TEST(Delay, PeriodSplitIntoTwoSlicesSoundsLikeOneSlice) {
    for (float mode : {0.0f, 1.0f}) {
        Audio whole = noise(2, 4000, 3);
        Audio split = whole;
        std::initializer_list<std::pair<std::string_view, float>> given = {
            {"time_ms", 3.0f}, {"feedback", 0.8f}, {"mode", mode}, {"mod_depth_ms", 1.5f}};
        Rig a(2, 44100.0f, given);
        Rig b(2, 44100.0f, given);
        for (float time : {3.0f, 4.5f, 2.25f}) {
            a.set("time_ms", time);
            b.set("time_ms", time);
            a.run(whole);
            b.run(split, 10);
        }
        EXPECT_TRUE(same_bits(whole, split)) << "mode " << mode;
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

TEST(Delay, PrepareForgetsEverythingHeld) {
    Rig rig(2, 48000.0f, {{"time_ms", 10.0f}, {"feedback", 0.9f}});
    Audio audio = noise(2, 2000, 5);
    rig.run(audio);
    rig.block->prepare(2, 48000.0f);
    rig.phase = 0;
    Audio after = silence(2, 4000);
    rig.run(after);
    EXPECT_EQ(peak(after[0], 0, 4000), 0.0f);
    EXPECT_EQ(peak(after[1], 0, 4000), 0.0f);
}

TEST(Delay, LineLengthFollowsTheMaximumTime) {
    Delay block;
    std::vector<float> args;
    for (const ArgInfo& arg : INFO.args)
        args.push_back(arg.default_value);
    block.configure(args);
    block.prepare(3, 48000.0f);
    ASSERT_EQ(block.lines().size(), 3u);
    EXPECT_EQ(block.lines()[0].buffer.size(), 96024u);
}

TEST(Delay, LineReadsWholeDelaysExactlyAndClampsToItsLength) {
    Line line(40);
    for (int i = 1; i <= 100; ++i)
        line.push(static_cast<float>(i));
    // 100 was written last: delay d reads 101 - d.
    EXPECT_EQ(line.read(2.0f), 99.0f);
    EXPECT_EQ(line.read(17.0f), 84.0f);
    EXPECT_EQ(line.read(1.0f), 99.0f);
    EXPECT_EQ(line.read(std::nanf("")), 99.0f);
    EXPECT_EQ(line.read(36.0f), 65.0f);
    EXPECT_EQ(line.read(1000.0f), 65.0f);
    // Catmull-Rom reproduces a straight line between the points.
    EXPECT_NEAR(line.read(10.5f), 90.5f, 1e-4f);
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
        std::vector<float> args;
        for (const ArgInfo& arg : INFO.args)
            args.push_back(arg.default_value);
        args[0] = c.time_ms;
        args[1] = c.feedback;
        args[4] = c.depth_ms;
        args[6] = c.max_ms;
        EXPECT_EQ(block.tail(args, c.sample_rate), c.samples)
            << "feedback " << c.feedback << ", time " << c.time_ms;
    }
}

// The sample-by-sample definition, written plainly: the block's fast paths
// must agree with it bit for bit.
struct Model {
    std::vector<std::vector<float>> lines;
    std::vector<std::size_t> write;
    std::vector<float> state;
    float start = 0, target = 0, rate = 0, max_ms = 0, feedback = 0, coefficient = 0, depth = 0;
    double increment = 0, phase = 0;
    bool pingpong = false, primed = false;

    void prepare(std::size_t channels, float sample_rate, float max) {
        max_ms = max;
        rate = sample_rate;
        const auto length = static_cast<std::size_t>(sample_rate * (max * 0.001f)) + 24;
        lines.assign(channels, std::vector<float>(length, 0.0f));
        write.assign(channels, 0);
        state.assign(channels, 0.0f);
    }
    void control(const std::vector<float>& a) {
        const float t = rate * (std::fmin(a[0], max_ms) * 0.001f);
        start = primed ? target : t;
        primed = true;
        target = t;
        feedback = a[1];
        const float cutoff = std::clamp(a[2], 1.0f, 0.49f * rate);
        coefficient = 1.0f - std::exp(cutoff * -6.2831855f / rate);
        depth = rate * (a[4] * 0.001f);
        increment = static_cast<double>(a[5]) / static_cast<double>(rate);
        pingpong = a[3] >= 0.5f && lines.size() == 2;
    }
    float read(std::size_t c, float delay) const {
        const auto& b = lines[c];
        const auto length = static_cast<std::int64_t>(b.size());
        const float d = std::clamp(delay, 2.0f, static_cast<float>(length - 4));
        const auto i = static_cast<std::int64_t>(std::floor(d));
        const float t = d - std::floor(d);
        const auto w = static_cast<std::int64_t>(write[c]);
        auto at = [&](std::int64_t k) {
            return b[static_cast<std::size_t>((k % length + length) % length)];
        };
        const float y0 = at(w - i + 1), y1 = at(w - i), y2 = at(w - i - 1), y3 = at(w - i - 2);
        return y1 + t * (0.5f * (y2 - y0) + t * ((y0 - 2.5f * y1 + 2.0f * y2 - 0.5f * y3) +
                                                 t * (1.5f * (y1 - y2) + 0.5f * (y3 - y0))));
    }
    void push(std::size_t c, float x) {
        lines[c][write[c]] = x;
        write[c] = (write[c] + 1) % lines[c].size();
    }
    float time(std::size_t c, std::size_t j, std::size_t p) const {
        const float glide = start + (target - start) * (static_cast<float>(p + j + 1) / 32.0f);
        const double q = phase + 0.25 * static_cast<double>(c) + increment * static_cast<double>(j);
        const auto lfo = static_cast<float>(std::sin(2.0 * std::numbers::pi * (q - std::trunc(q))));
        return glide + depth * lfo;
    }
    void process(Audio& audio, std::size_t from, std::size_t n, std::size_t p) {
        for (std::size_t j = 0; j < n; ++j) {
            if (pingpong) {
                const float d = time(0, j, p);
                const float yl = read(0, d), yr = read(1, d);
                state[0] = state[0] + coefficient * (yl - state[0]);
                state[1] = state[1] + coefficient * (yr - state[1]);
                const float xl = audio[0][from + j], xr = audio[1][from + j];
                push(0, feedback * state[1] + 0.5f * (xl + xr));
                push(1, feedback * state[0]);
                audio[0][from + j] = yl;
                audio[1][from + j] = yr;
                continue;
            }
            for (std::size_t c = 0; c < lines.size(); ++c) {
                const float y = read(c, time(c, j, p));
                state[c] = state[c] + coefficient * (y - state[c]);
                push(c, feedback * state[c] + audio[c][from + j]);
                audio[c][from + j] = y;
            }
        }
        const double advanced = phase + increment * static_cast<double>(n);
        phase = advanced - std::trunc(advanced);
        for (float& s : state) {
            if (std::fabs(s) < 1e-20f) s = 0.0f;
        }
    }
};

TEST(Delay, FastPathsMatchTheSampleBySampleDefinitionBitForBit) {
    struct Case {
        std::size_t channels;
        float sample_rate, max_ms, mode, depth_ms;
        std::vector<float> times;  // one per stretch of 20 periods
    };
    const Case cases[] = {
        {2, 48000.0f, 2000.0f, 0.0f, 0.0f, {250.0f, 250.0f, 180.5f, 180.5f}},
        {2, 48000.0f, 2000.0f, 1.0f, 0.0f, {3.3f, 3.3f, 0.05f, 0.05f}},
        {3, 8000.0f, 10.0f, 0.0f, 0.0f, {9.0f, 9.0f, 0.1f, 10.0f}},
        {2, 8000.0f, 10.0f, 1.0f, 0.0f, {7.25f, 7.25f, 2.0f, 2.0f}},
        {1, 44100.0f, 20.0f, 0.0f, 4.0f, {5.0f, 5.0f, 15.0f}},
        {2, 44100.0f, 30.0f, 1.0f, 20.0f, {25.0f, 25.0f, 1.0f}},
        {4, 96000.0f, 12.0f, 0.0f, 0.5f, {1.0f, 11.0f, 11.0f}},
        {2, 8000.0f, 10.0f, 0.0f, 0.0f, {3.875f, 3.875f, 4.0f, 4.0f, 4.125f, 4.125f}},
        {2, 8000.0f, 20.0f, 1.0f, 0.5f, {4.25f, 4.25f}},
    };
    unsigned seed = 11;
    for (const Case& c : cases) {
        Rig rig(c.channels, c.sample_rate,
                {{"max_ms", c.max_ms},
                 {"mode", c.mode},
                 {"mod_depth_ms", c.depth_ms},
                 {"mod_rate_hz", 3.0f},
                 {"feedback", 0.9f},
                 {"damp_hz", 2500.0f}});
        Model model;
        model.prepare(c.channels, c.sample_rate, c.max_ms);
        // Whole periods and periods cut in two alternate, so that delays just
        // longer and just shorter than a slice both occur.
        std::size_t first = SLICE;
        for (float time : c.times) {
            rig.set("time_ms", time);
            Audio input = noise(c.channels, 20 * SLICE, seed++);
            Audio expected = input;
            for (std::size_t period = 0; period < 20; ++period) {
                model.control(rig.args);
                model.process(expected, period * SLICE, first, 0);
                model.process(expected, period * SLICE + first, SLICE - first, first);
            }
            rig.run(input, first);
            ASSERT_TRUE(same_bits(input, expected))
                << c.channels << " channels at " << c.sample_rate << " Hz, time " << time;
            first = first == SLICE ? 13 : SLICE;
        }
    }
}

}  // namespace
}  // namespace orba::blocks::delay
