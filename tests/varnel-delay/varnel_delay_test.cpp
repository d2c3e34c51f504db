#include "varnel-delay/varnel_delay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "orba/blocks/blocks/delay.h"

namespace orba {
namespace {

enum Index : std::size_t { TIME, RATIO, DECAY, FEEDBACK, DAMP, MODE, MIX };

struct Rendered {
    std::vector<std::vector<float>> channels;
};

// Runs `frames` samples of `input` (one vector per channel) through the
// plug-in in host blocks of `block` frames.
Rendered render(VarnelDelay& plugin, std::vector<std::vector<float>> input, std::size_t block) {
    const std::size_t frames = input[0].size();
    for (std::size_t start = 0; start < frames; start += block) {
        const std::size_t n = std::min(block, frames - start);
        std::vector<std::span<float>> spans;
        for (auto& channel : input)
            spans.emplace_back(channel.data() + start, n);
        plugin.process(spans, ProcessContext{});
    }
    return Rendered{std::move(input)};
}

void prepare(VarnelDelay& plugin, std::uint32_t channels, float rate = 48000.0f) {
    plugin.params()->set_channels(channels);
    plugin.prepare(ProcessSetup{.max_frames = 1024, .sample_rate = rate, .channels = channels});
}

std::vector<std::vector<float>> impulse(std::size_t channels, std::size_t frames,
                                        std::size_t on_channel = 0) {
    std::vector<std::vector<float>> input(channels, std::vector<float>(frames, 0.0f));
    input[on_channel][0] = 1.0f;
    return input;
}

// Every non-zero sample of a channel as (position, value).
std::vector<std::pair<std::size_t, float>> nonzero(const std::vector<float>& channel) {
    std::vector<std::pair<std::size_t, float>> found;
    for (std::size_t i = 0; i < channel.size(); ++i) {
        if (channel[i] != 0.0f) found.emplace_back(i, channel[i]);
    }
    return found;
}

TEST(VarnelDelay, FreshPluginShowsItsDefaults) {
    VarnelDelay plugin;
    EXPECT_EQ(plugin.latency_samples(), 0u);
    const auto params = plugin.params();
    ASSERT_EQ(params->size(), 7u);
    const char* shown[] = {"400.00 ms", "0.62", "-4.00 dB", "0.30", "6000.00 Hz", "Normal", "0.35"};
    const char* names[] = {"Time", "Ratio", "Decay", "Feedback", "Damping", "Mode", "Mix"};
    for (std::size_t i = 0; i < params->size(); ++i) {
        const Param& p = params->at(i);
        EXPECT_EQ(p.slot_count(), 1u) << names[i];
        EXPECT_EQ(p.info().name, names[i]);
        EXPECT_EQ(p.info().display(p.get()), shown[i]) << names[i];
    }
}

TEST(VarnelDelay, ModeRoundsToPingPong) {
    VarnelDelay plugin;
    Param& mode = plugin.params()->at(MODE);
    EXPECT_EQ(mode.set(0.7f), 1.0f);
    EXPECT_EQ(mode.info().display(mode.get()), "PingPong");
}

TEST(VarnelDelay, GraphTextIsTheOneLineConstant) {
    EXPECT_EQ(varnel::GRAPH_TEXT.size(), 1048u);
    EXPECT_EQ(varnel::GRAPH_TEXT.find_first_of(" \t\r\n"), std::string_view::npos);
    EXPECT_TRUE(Graph::from_str(varnel::GRAPH_TEXT, varnel::PARAM_NAMES).ok());
}

// Whole-sample delays (400 ms at 48 kHz halved at every level) so that every
// echo is an exact copy of the impulse scaled by the decay gains.
void set_nested_test_pattern(VarnelDelay& plugin) {
    auto& p = *plugin.params();
    p.at(MIX).set(1.0f);
    p.at(FEEDBACK).set(0.0f);
    p.at(RATIO).set(0.5f);
    p.at(DECAY).set(-6.0f);
    p.at(TIME).set(400.0f);
}

TEST(VarnelDelay, ImpulseGivesTheFourNestedEchoesAndNothingElse) {
    VarnelDelay plugin;
    set_nested_test_pattern(plugin);
    prepare(plugin, 1);
    const auto out = render(plugin, impulse(1, 48000), 256);
    const float g = std::exp(-6.0f * 0.115129247f);
    const std::vector<std::pair<std::size_t, float>> expected{
        {9600 + 2400 + 600 + 300, g * g * g},
        {9600 + 2400 + 1200, g * g},
        {9600 + 4800, g},
        {19200, 1.0f},
    };
    EXPECT_EQ(nonzero(out.channels[0]), expected);
}

TEST(VarnelDelay, PingPongSendsTheMonoSumLeftAndBouncesTheRepeats) {
    VarnelDelay plugin;
    set_nested_test_pattern(plugin);
    plugin.params()->at(MODE).set(1.0f);
    prepare(plugin, 2);
    const auto out = render(plugin, impulse(2, 48000), 256);
    // The gain block pans at centre with a constant-power law on two channels.
    const float g = std::exp(-6.0f * 0.115129247f);
    const float gl = (g * 1.4142135f) * std::cos(0.7853982f);
    // Each line takes half the left+right sum of what reaches it, on the left.
    const std::vector<std::pair<std::size_t, float>> left{
        {12900, 0.5f * (0.5f * (0.5f * (0.5f * gl) * gl) * gl)},
        {13200, 0.5f * (0.5f * (0.5f * gl) * gl)},
        {14400, 0.5f * (0.5f * gl)},
        {19200, 0.5f},
    };
    EXPECT_EQ(nonzero(out.channels[0]), left);
    EXPECT_TRUE(nonzero(out.channels[1]).empty());

    // With feedback the repeats cross over: the innermost line's first repeat
    // is the first thing heard on the right, one 300-sample delay later.
    VarnelDelay bouncing;
    set_nested_test_pattern(bouncing);
    bouncing.params()->at(MODE).set(1.0f);
    bouncing.params()->at(FEEDBACK).set(0.5f);
    prepare(bouncing, 2);
    const auto repeats = render(bouncing, impulse(2, 48000), 256);
    const auto right = nonzero(repeats.channels[1]);
    ASSERT_FALSE(right.empty());
    EXPECT_EQ(right.front().first, 12900u + 300u);
}

TEST(VarnelDelay, MixZeroReturnsTheInput) {
    VarnelDelay plugin;
    prepare(plugin, 2);
    std::vector<std::vector<float>> input(2, std::vector<float>(4800));
    for (std::size_t i = 0; i < 4800; ++i) {
        input[0][i] = std::sin(0.01f * static_cast<float>(i));
        input[1][i] = std::cos(0.013f * static_cast<float>(i));
    }
    // Run with the default mix first so the delays hold sound, then turn it off.
    render(plugin, input, 512);
    plugin.params()->at(MIX).set(0.0f);
    const auto out = render(plugin, input, 512);
    for (std::size_t c = 0; c < 2; ++c) {
        for (std::size_t i = 32; i < 4800; ++i) {
            const float expected = std::fabs(input[c][i]) < 1e-30f ? 0.0f : input[c][i];
            ASSERT_EQ(out.channels[c][i], expected) << "channel " << c << " sample " << i;
        }
    }
}

TEST(VarnelDelay, OneBadHostSampleDoesNotSilenceItForGood) {
    VarnelDelay plugin;
    prepare(plugin, 2);
    std::vector<std::vector<float>> input(2, std::vector<float>(48000 * 3, 0.0f));
    input[0][0] = 0.5f;
    input[0][10] = std::numeric_limits<float>::quiet_NaN();
    input[1][20] = std::numeric_limits<float>::infinity();
    const auto out = render(plugin, input, 512);
    for (std::size_t c = 0; c < 2; ++c) {
        for (float x : out.channels[c])
            ASSERT_TRUE(std::isfinite(x)) << "channel " << c;
    }
    EXPECT_FALSE(nonzero(out.channels[0]).empty());  // the good impulse still echoes
}

TEST(VarnelDelay, ASecondOfOverloudInputLeavesTheOutputFiniteSoonAfter) {
    // 1e38 builds up past the largest float in the feedback lines. Every line
    // holds two seconds, and the longest path runs through four lines in turn,
    // each finite again within its length and a slice of its input being so.
    constexpr std::size_t RATE = 48000;
    constexpr std::size_t BOUND = 4 * (2 * RATE + 24 + 32);
    for (const float mode : {0.0f, 1.0f}) {
        SCOPED_TRACE(mode == 0.0f ? "normal" : "ping-pong");
        VarnelDelay plugin;
        plugin.params()->at(FEEDBACK).set(0.9f);
        plugin.params()->at(MODE).set(mode);
        prepare(plugin, 2);
        std::vector<std::vector<float>> input(2, std::vector<float>(RATE + BOUND + RATE, 0.0f));
        for (auto& channel : input) {
            std::fill_n(channel.begin(), RATE, 1e38f);
            // A quiet pluck once the bound has passed, which must echo.
            channel[RATE + BOUND] = 0.5f;
        }
        const auto out = render(plugin, input, 512);
        std::size_t last_bad = 0;
        for (std::size_t c = 0; c < 2; ++c) {
            for (std::size_t i = 0; i < out.channels[c].size(); ++i) {
                if (!std::isfinite(out.channels[c][i])) last_bad = std::max(last_bad, i);
            }
        }
        EXPECT_LT(last_bad, RATE + BOUND);
        EXPECT_NE(out.channels[0][RATE + BOUND + 400 * RATE / 1000], 0.0f) << "the pluck echoes";
    }
}

TEST(VarnelDelay, TailIsTheOutermostDelaysDecay) {
    VarnelDelay plugin;
    prepare(plugin, 2);
    // The outermost line: time 400 ms, feedback 0.3, damping 6000 Hz, normal mode.
    auto outer = blocks::delay::INFO.make();
    const float args[] = {400.0f, 0.3f, 6000.0f, 0.0f, 0.0f, 0.5f, 2000.0f};
    const std::uint32_t expected = outer->tail(args, 48000.0f);
    EXPECT_EQ(expected, 6u * 19200u);  // six repeats until -60 dB at feedback 0.3
    EXPECT_EQ(plugin.tail_samples(), expected);
}

TEST(VarnelDelay, LongestSettingsFitTheDelayLines) {
    VarnelDelay plugin;
    auto& p = *plugin.params();
    p.at(TIME).set(1000.0f);
    p.at(RATIO).set(0.9f);
    p.at(MIX).set(1.0f);
    p.at(FEEDBACK).set(0.0f);
    p.at(DECAY).set(0.0f);
    prepare(plugin, 1);
    const auto out = render(plugin, impulse(1, 48000 * 2), 1024);
    // The outermost echo arrives exactly at one second; the innermost path is
    // shorter than that and all of them lie inside the lines' two seconds.
    EXPECT_EQ(out.channels[0][48000], 1.0f);
    const auto heard = nonzero(out.channels[0]);
    ASSERT_FALSE(heard.empty());
    EXPECT_LT(heard.back().first, 2u * 48000u);
}

}  // namespace
}  // namespace orba
