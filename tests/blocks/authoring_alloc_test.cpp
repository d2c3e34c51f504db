// One graph description that uses every block, every node kind and a meter,
// run the way a host runs it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "orba/blocks/graph.h"
#include "orba/core/param.h"
#include "orba/core/plugin.h"
#include "tests/support/alloc_counter.h"

namespace orba {
namespace {

constexpr float RATE = 48000.0f;

constexpr ParamInfo PARAMS[] = {
    {.id = "drive", .unit = "dB", .min = -24.0f, .max = 48.0f, .default_value = 6.0f},
    {.id = "tone", .min = 0.0f, .max = 1.0f, .default_value = 0.5f},
    {.id = "pitch", .min = 0.0f, .max = 127.0f, .default_value = 57.0f},
    {.id = "mix", .min = 0.0f, .max = 1.0f, .default_value = 0.8f},
    {.id = "skip", .min = 0.0f, .max = 1.0f, .default_value = 0.0f, .kind = ParamKind::Toggle},
    {.id = "reduction",
     .unit = "dB",
     .min = 0.0f,
     .max = 80.0f,
     .default_value = 0.0f,
     .kind = ParamKind::Meter},
};
constexpr std::string_view NAMES[] = {"drive", "tone", "pitch", "mix", "skip", "reduction"};
enum : std::size_t { DRIVE, TONE, PITCH, MIX, SKIP, REDUCTION };

// All nine blocks; modulators, a tempo-synced delay, a mid/side compressor
// with lookahead (so the mix node's dry path is compensated), a parallel node
// with a gliding branch gain, and a tremolo its author can bypass.
constexpr std::string_view EVERY_BLOCK = R"js({
    "modulators": [{"id": "wobble", "shape": "triangle", "rate": 3},
                   {"id": "drift", "shape": "random", "rate": "1 + tone * 20"}],
    "mix": "mix",
    "chain": [
      {"block": "gain", "args": {"gain_db": "drive * 0.25", "pan": "wobble * 0.2"}},
      {"block": "stereo", "args": {"mode": "encode"}},
      {"only": [1], "block": "dynamics",
       "args": {"threshold_db": -24, "ratio": 3, "lookahead_ms": 2, "detector": "rms",
                "sidechain_hpf_hz": 120, "link": 0},
       "meters": {"gain_reduction_db": "reduction"}},
      {"block": "stereo", "args": {"mode": "decode"}},
      {"parallel": [
        {"node": {"chain": [
          {"block": "shaper", "args": {"curve": "tube", "drive_db": "drive", "bias": 0.1}},
          {"block": "onepole", "args": {"type": "lowpass", "freq": "300 * 2^(tone * 5)"}}]}},
        {"node": {"block": "delay",
                  "args": {"time_ms": "sync(0.25)", "feedback": 0.4, "mode": "pingpong",
                           "mod_depth_ms": 2, "max_ms": 500}},
         "gain_db": "-9 + 3 * drift"}]},
      {"block": "filter", "args": {"type": "highpass", "freq": "40 + 20 * wobble", "slope": "24"}},
      {"block": "harmonic_eq",
       "args": {"fundamental_hz": "note(pitch)", "even_db": -6, "tilt_db_oct": "tone * -3"}},
      {"bypass": "skip", "block": "tremolo",
       "args": {"rate_hz": "5 + 3 * wobble", "depth": "tone * 0.6", "stereo_phase": 180}}]})js";

struct Rig {
    std::shared_ptr<ParamSet> params;
    Graph graph;
};

std::optional<Rig> build() {
    Result<Graph> graph = Graph::from_str(EVERY_BLOCK, NAMES);
    Result<std::shared_ptr<ParamSet>> params = ParamSet::with_channels(PARAMS, 2);
    if (!graph.ok() || !params.ok()) {
        ADD_FAILURE() << (graph.ok() ? params.error() : graph.error());
        return std::nullopt;
    }
    graph->prepare(ProcessSetup{.max_frames = 512, .sample_rate = RATE, .channels = 2});
    return Rig{std::move(params).value(), std::move(graph).value()};
}

// A stereo test signal: a tone with a different partner on each side, and
// bursts so the compressor and the delay have something to work on.
std::vector<std::vector<float>> program(std::size_t frames) {
    std::vector<std::vector<float>> audio(2, std::vector<float>(frames));
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / RATE;
        const double burst = (i / 4800) % 3 == 0 ? 1.0 : 0.2;
        audio[0][i] = static_cast<float>(burst * (0.5 * std::sin(6.283185307 * 220.0 * t) +
                                                  0.2 * std::sin(6.283185307 * 1330.0 * t)));
        audio[1][i] = static_cast<float>(burst * (0.5 * std::sin(6.283185307 * 220.0 * t) -
                                                  0.3 * std::sin(6.283185307 * 95.0 * t)));
    }
    return audio;
}

// Moves every parameter a graph expression reads.
void automate(ParamSet& params, std::size_t step) {
    params.at(DRIVE).set(step % 2 ? 18.0f : -3.0f);
    params.at(TONE).set(static_cast<float>(step % 5) * 0.25f);
    params.at(PITCH).set(step % 3 ? 57.0f : 64.0f);
    params.at(MIX).set(static_cast<float>(step % 4) * 0.33f);
    params.at(SKIP).set(step % 7 == 3 ? 1.0f : 0.0f);
}

// Runs the audio in host blocks of `block` frames inside stretches of
// `stretch` frames, changing the parameters between stretches.
void run(Rig& rig, std::vector<std::vector<float>>& audio, std::size_t stretch, std::size_t block) {
    ProcessContext context;
    context.tempo = 100.0;
    const std::size_t frames = audio[0].size();
    for (std::size_t start = 0, step = 0; start < frames; start += stretch, ++step) {
        automate(*rig.params, step);
        const std::size_t end = std::min(frames, start + stretch);
        for (std::size_t at = start; at < end; at += block) {
            const std::size_t n = std::min(block, end - at);
            const std::span<float> buffers[] = {std::span<float>(audio[0]).subspan(at, n),
                                                std::span<float>(audio[1]).subspan(at, n)};
            rig.graph.process(*rig.params, buffers, context);
        }
    }
}

TEST(EveryBlockGraph, ProcessNeverAllocatesAfterPrepare) {
    std::optional<Rig> built = build();
    ASSERT_TRUE(built);
    Rig& rig = *built;
    auto audio = program(48000);
    ProcessContext context;
    context.tempo = 133.0;

    test::AllocationScope scope;
    std::uint32_t latency = 0;
    std::uint32_t tail = 0;
    // Odd host block sizes keep slices starting mid-period; the first call
    // runs the first control tick after prepare.
    for (std::size_t at = 0, step = 0; at < audio[0].size(); ++step) {
        const std::size_t n = std::min<std::size_t>(1 + step * 61 % 700, audio[0].size() - at);
        const std::span<float> buffers[] = {std::span<float>(audio[0]).subspan(at, n),
                                            std::span<float>(audio[1]).subspan(at, n)};
        automate(*rig.params, step);
        rig.graph.process(*rig.params, buffers, context);
        latency = rig.graph.latency_samples();
        tail = std::max(tail, rig.graph.tail_for(*rig.params));
        at += n;
    }
    EXPECT_EQ(scope.count(), 0u);

    // 2 ms of lookahead at 48 kHz.
    EXPECT_EQ(latency, 96u);
    EXPECT_GT(tail, 0u);
    EXPECT_GT(rig.params->at(REDUCTION).get(), 0.0f);
}

// A CLAP host's reset prepares the graph again on the audio thread, with the
// rate and channel count it already has.
TEST(EveryBlockGraph, PreparingAgainForTheSameSetupAllocatesNothing) {
    std::optional<Rig> built = build();
    ASSERT_TRUE(built);
    auto audio = program(4800);
    run(*built, audio, 4800, 256);

    test::AllocationScope scope;
    built->graph.prepare(ProcessSetup{.max_frames = 512, .sample_rate = RATE, .channels = 2});
    EXPECT_EQ(scope.count(), 0u);
}

TEST(EveryBlockGraph, HostBlocksOfSevenFramesSoundTheSameAsBlocksOf512) {
    // 3584 = 7 * 512, so both runs change the parameters at the same samples.
    constexpr std::size_t STRETCH = 3584;
    std::optional<Rig> small = build();
    std::optional<Rig> large = build();
    ASSERT_TRUE(small && large);
    auto by_seven = program(STRETCH * 14);
    auto by_512 = by_seven;
    run(*small, by_seven, STRETCH, 7);
    run(*large, by_512, STRETCH, 512);

    for (std::size_t c = 0; c < 2; ++c) {
        std::size_t differ = 0;
        std::size_t first = by_seven[c].size();
        for (std::size_t i = 0; i < by_seven[c].size(); ++i) {
            if (by_seven[c][i] != by_512[c][i]) {
                first = std::min(first, i);
                ++differ;
            }
        }
        EXPECT_EQ(differ, 0u) << "channel " << c << ", first at sample " << first;
    }
    float peak = 0.0f;
    for (float x : by_512[0])
        peak = std::max(peak, std::fabs(x));
    EXPECT_GT(peak, 0.1f);
    EXPECT_EQ(small->params->at(REDUCTION).get(), large->params->at(REDUCTION).get());
}

TEST(EveryBlockGraph, PreparingAgainSoundsLikeAFreshGraph) {
    constexpr std::size_t STRETCH = 3584;
    std::optional<Rig> used = build();
    std::optional<Rig> fresh = build();
    ASSERT_TRUE(used && fresh);
    auto warm_up = program(STRETCH * 5);
    run(*used, warm_up, STRETCH, 100);
    used->graph.prepare(ProcessSetup{.max_frames = 512, .sample_rate = RATE, .channels = 2});

    auto again = program(STRETCH * 8);
    auto first = again;
    run(*used, again, STRETCH, 512);
    run(*fresh, first, STRETCH, 512);
    for (std::size_t c = 0; c < 2; ++c) {
        std::size_t differ = 0;
        std::size_t at = again[c].size();
        for (std::size_t i = 0; i < again[c].size(); ++i) {
            if (again[c][i] != first[c][i]) {
                at = std::min(at, i);
                ++differ;
            }
        }
        EXPECT_EQ(differ, 0u) << "channel " << c << ", first at sample " << at;
    }
}

}  // namespace
}  // namespace orba
