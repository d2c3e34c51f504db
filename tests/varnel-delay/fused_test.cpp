// The benchmark's hand-fused Varnel Delay is only a fair yardstick if it does
// exactly the plug-in's work; hold it to the plug-in's output bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bench/fused_varnel.h"
#include "varnel-delay/varnel_delay.h"

namespace orba {
namespace {

std::vector<std::vector<float>> plucks(std::size_t channels, std::size_t frames) {
    std::vector<std::vector<float>> input(channels, std::vector<float>(frames, 0.0f));
    std::uint32_t seed = 1;
    for (std::size_t c = 0; c < channels; ++c) {
        for (std::size_t i = 0; i < frames; ++i) {
            seed = seed * 1664525u + 1013904223u;
            const float noise = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
            const float envelope = std::exp(-static_cast<float>(i % 9000) / 900.0f);
            input[c][i] = 0.5f * noise * envelope;
        }
    }
    return input;
}

void expect_same_as_plugin(std::array<float, 7> values, std::size_t channels, std::size_t block) {
    VarnelDelay plugin;
    bench::FusedVarnel fused;
    for (std::size_t i = 0; i < values.size(); ++i) {
        fused.params[i] = plugin.params()->at(i).set(values[i]);
    }
    plugin.params()->set_channels(static_cast<std::uint32_t>(channels));
    plugin.prepare(ProcessSetup{.max_frames = block,
                                .sample_rate = 48000.0f,
                                .channels = static_cast<std::uint32_t>(channels)});
    fused.prepare(48000.0f, channels);

    const std::size_t frames = 48000;
    auto a = plucks(channels, frames);
    auto b = a;
    for (std::size_t start = 0; start < frames; start += block) {
        const std::size_t n = std::min(block, frames - start);
        std::vector<std::span<float>> spans;
        std::vector<float*> pointers;
        for (std::size_t c = 0; c < channels; ++c) {
            spans.emplace_back(a[c].data() + start, n);
            pointers.push_back(b[c].data() + start);
        }
        plugin.process(spans, ProcessContext{});
        fused.process(pointers.data(), n);
    }
    for (std::size_t c = 0; c < channels; ++c) {
        for (std::size_t i = 0; i < frames; ++i) {
            ASSERT_EQ(a[c][i], b[c][i]) << "channel " << c << " sample " << i;
        }
    }
}

TEST(FusedVarnel, MatchesThePluginAtTheDefaults) {
    expect_same_as_plugin({400.0f, 0.618f, -4.0f, 0.3f, 6000.0f, 0.0f, 0.35f}, 2, 256);
}

TEST(FusedVarnel, MatchesThePluginInPingPongWithOddBlocks) {
    expect_same_as_plugin({250.0f, 0.7f, -3.0f, 0.8f, 2500.0f, 1.0f, 0.6f}, 2, 100);
    // The innermost lines shorter than a slice run sample by sample.
    expect_same_as_plugin({20.0f, 0.2f, -1.0f, 0.9f, 20000.0f, 1.0f, 0.8f}, 2, 100);
}

TEST(FusedVarnel, MatchesThePluginOnOtherChannelCounts) {
    expect_same_as_plugin({123.4f, 0.33f, -9.0f, 0.5f, 15000.0f, 1.0f, 1.0f}, 1, 1024);
    expect_same_as_plugin({37.0f, 0.9f, -1.0f, 0.9f, 1000.0f, 0.0f, 0.5f}, 3, 32);
}

}  // namespace
}  // namespace orba
