// Graph descriptions written the way a plug-in author writes them, compiled
// and run, each checked by what comes out of the speakers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orba/blocks/blocks.h"
#include "orba/blocks/graph.h"
#include "orba/core/param.h"
#include "orba/core/plugin.h"

namespace orba {
namespace {

constexpr float RATE = 48000.0f;
constexpr double TWO_PI = 6.283185307179586;

constexpr ParamInfo PARAMS[] = {
    {.id = "drive", .unit = "dB", .min = -24.0f, .max = 48.0f, .default_value = 0.0f},
    {.id = "tone", .min = 0.0f, .max = 1.0f, .default_value = 1.0f},
    {.id = "pitch", .min = 0.0f, .max = 127.0f, .default_value = 57.0f},
    {.id = "mix", .min = 0.0f, .max = 1.0f, .default_value = 0.5f},
    {.id = "reduction",
     .unit = "dB",
     .min = 0.0f,
     .max = 80.0f,
     .default_value = 0.0f,
     .kind = ParamKind::Meter},
};
constexpr std::string_view NAMES[] = {"drive", "tone", "pitch", "mix", "reduction"};
enum : std::size_t { DRIVE, TONE, PITCH, MIX, REDUCTION };

using Audio = std::vector<std::vector<float>>;

// A compiled graph with its parameters, driven the way a host drives a plug-in.
struct Rig {
    std::shared_ptr<ParamSet> params;
    Graph graph;

    // Runs `audio` in place in host blocks of `block` frames.
    void run(Audio& audio, std::size_t block = 512) {
        const std::size_t frames = audio.empty() ? 0 : audio[0].size();
        std::vector<std::span<float>> buffers(audio.size());
        ProcessContext context;
        context.tempo = 120.0;
        for (std::size_t at = 0; at < frames; at += block) {
            const std::size_t n = std::min(block, frames - at);
            for (std::size_t c = 0; c < audio.size(); ++c) {
                buffers[c] = std::span<float>(audio[c]).subspan(at, n);
            }
            graph.process(*params, buffers, context);
        }
    }
};

std::optional<Rig> build(std::string_view text, std::uint32_t channels) {
    Result<Graph> graph = Graph::from_str(text, NAMES);
    if (!graph.ok()) {
        ADD_FAILURE() << graph.error();
        return std::nullopt;
    }
    graph->prepare(ProcessSetup{.max_frames = 512, .sample_rate = RATE, .channels = channels});
    Result<std::shared_ptr<ParamSet>> params = ParamSet::with_channels(PARAMS, 2);
    if (!params.ok()) {
        ADD_FAILURE() << params.error();
        return std::nullopt;
    }
    return Rig{std::move(params).value(), std::move(graph).value()};
}

// amplitude * sin(2 pi hz t), from sample `start` of an endless tone.
std::vector<float> sine(double hz, double amplitude, std::size_t frames, std::size_t start = 0) {
    std::vector<float> out(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        out[i] = static_cast<float>(amplitude *
                                    std::sin(TWO_PI * hz * static_cast<double>(start + i) / RATE));
    }
    return out;
}

// The amplitude of the component at `hz` over the last `window` samples; the
// window should hold a whole number of its periods.
double amplitude_at(std::span<const float> x, double hz, std::size_t window = 4800) {
    const std::span<const float> tail = x.last(window);
    double re = 0.0;
    double im = 0.0;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        const double w = TWO_PI * hz * static_cast<double>(i) / RATE;
        re += tail[i] * std::cos(w);
        im -= tail[i] * std::sin(w);
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(tail.size());
}

double db(double ratio) {
    return 20.0 * std::log10(ratio);
}

// exp(dB * 0.115129247), the graph's own decibel conversion.
float gain_of(float decibels) {
    return std::exp(decibels * 0.115129247f);
}

// Mid/side: encode, compress channel 1 (the side) alone, decode.
std::string mid_side(std::string_view lookahead_ms) {
    return R"js({"chain": [
    {"block": "stereo", "args": {"mode": "encode"}},
    {"only": [1], "block": "dynamics",
     "args": {"threshold_db": -30, "ratio": 10, "knee_db": 0, "attack_ms": 1,
              "release_ms": 100, "link": 0, "lookahead_ms": )js" +
           std::string(lookahead_ms) + "}},\n" +
           R"js({"block": "stereo", "args": {"mode": "decode"}}]})js";
}

TEST(AuthoredMidSide, PassesAMonoSignalThroughUntouchedOnlyLater) {
    struct Case {
        std::string_view lookahead_ms;
        std::size_t latency;
        std::size_t host_block;
    };
    // With lookahead the mid channel's dry path is delayed to match the side.
    const Case cases[] = {{"0", 0, 512}, {"2", 96, 1}, {"2", 96, 333}};
    for (const Case& c : cases) {
        auto rig = build(mid_side(c.lookahead_ms), 2);
        ASSERT_TRUE(rig);
        EXPECT_EQ(rig->graph.latency_samples(), c.latency);
        const std::vector<float> loud = sine(300.0, 0.9, 24000);
        Audio audio{loud, loud};
        rig->run(audio, c.host_block);

        std::size_t changed = 0;
        for (std::size_t i = 0; i < loud.size(); ++i) {
            const float expected = i < c.latency ? 0.0f : loud[i - c.latency];
            changed += audio[0][i] != expected;
            changed += audio[1][i] != expected;
        }
        EXPECT_EQ(changed, 0u) << "lookahead " << c.lookahead_ms << " ms, blocks of "
                               << c.host_block;
    }
}

TEST(AuthoredMidSide, TurnsALoudSideDownAndLeavesTheMidAlone) {
    auto rig = build(mid_side("0"), 2);
    ASSERT_TRUE(rig);
    // Left = mid + side and right = mid - side, mid at 300 Hz, side at 1 kHz.
    const std::vector<float> mid = sine(300.0, 0.4, 24000);
    const std::vector<float> side = sine(1000.0, 0.5, 24000);
    Audio audio(2, std::vector<float>(mid.size()));
    for (std::size_t i = 0; i < mid.size(); ++i) {
        audio[0][i] = mid[i] + side[i];
        audio[1][i] = mid[i] - side[i];
    }
    rig->run(audio);

    std::vector<float> mid_out(mid.size());
    std::vector<float> side_out(mid.size());
    for (std::size_t i = 0; i < mid.size(); ++i) {
        mid_out[i] = (audio[0][i] + audio[1][i]) * 0.5f;
        side_out[i] = (audio[0][i] - audio[1][i]) * 0.5f;
    }
    EXPECT_NEAR(db(amplitude_at(mid_out, 300.0) / 0.4), 0.0, 0.01);
    EXPECT_LT(amplitude_at(mid_out, 1000.0), 1e-4);
    // 24 dB over the threshold at ratio 10 asks for about 21.6 dB of reduction.
    EXPECT_LT(db(amplitude_at(side_out, 1000.0) / 0.5), -15.0);
    EXPECT_LT(amplitude_at(side_out, 300.0), 1e-4);
}

// Counts the dips of a tremolo's gain: falls through 0.25 from above.
std::size_t dips(std::span<const float> gain) {
    std::size_t count = 0;
    for (std::size_t i = 1; i < gain.size(); ++i)
        count += gain[i - 1] >= 0.25f && gain[i] < 0.25f;
    return count;
}

TEST(AuthoredTremolo, RateFollowsItsModulator) {
    // A square modulator at 0.5 Hz holds 1 for the first second and -1 for the
    // next, so the tremolo runs at 18 Hz and then at 2 Hz.
    auto rig = build(R"js({"modulators": [{"id": "sway", "shape": "square", "rate": 0.5}],
        "block": "tremolo", "args": {"rate_hz": "10 + 8 * sway", "depth": 1}})js",
                     1);
    ASSERT_TRUE(rig);
    const std::size_t second = static_cast<std::size_t>(RATE);
    Audio audio{std::vector<float>(2 * second, 1.0f)};
    rig->run(audio);

    const std::span<const float> gain = audio[0];
    EXPECT_NEAR(static_cast<double>(dips(gain.first(second))), 18.0, 1.0);
    EXPECT_NEAR(static_cast<double>(dips(gain.subspan(second))), 2.0, 1.0);
    EXPECT_GE(*std::min_element(gain.begin(), gain.end()), 0.0f);
    EXPECT_LE(*std::max_element(gain.begin(), gain.end()), 1.0f);
}

TEST(AuthoredFilter, CutoffFollowsAnExpressionOverAParameter) {
    // The cutoff sweeps 100 Hz to 12.8 kHz as "tone" goes from 0 to 1.
    auto rig = build(R"js({"block": "filter",
        "args": {"type": "lowpass", "slope": "24", "freq": "100 * 2^(tone * 7)"}})js",
                     1);
    ASSERT_TRUE(rig);
    struct Step {
        float tone;
        double level_db;  // of a 2 kHz tone
        double tolerance_db;
    };
    const Step steps[] = {
        {1.0f, 0.0, 0.1},      // cutoff 12.8 kHz: passes
        {0.0f, -100.0, 20.0},  // cutoff 100 Hz: 24 dB/octave, over four octaves down
        {static_cast<float>(std::log2(20.0) / 7.0), -3.01, 0.2},  // cutoff at the tone
        {1.0f, 0.0, 0.1},
    };
    const std::size_t frames = 12000;
    std::size_t at = 0;
    for (const Step& step : steps) {
        rig->params->at(TONE).set(step.tone);
        Audio audio{sine(2000.0, 0.5, frames, at)};
        at += frames;
        rig->run(audio);
        EXPECT_NEAR(db(amplitude_at(audio[0], 2000.0) / 0.5), step.level_db, step.tolerance_db)
            << "tone " << step.tone;
    }
}

TEST(AuthoredDrive, ShaperGainAndOnePoleShapeALoudToneAndPassAQuietOne) {
    auto rig = build(R"js({"chain": [
        {"block": "shaper", "args": {"curve": "hard", "drive_db": "drive"}},
        {"block": "gain", "args": {"gain_db": -6}},
        {"block": "onepole", "args": {"type": "lowpass", "freq": 200}}]})js",
                     1);
    ASSERT_TRUE(rig);
    const std::size_t frames = 24000;

    // Below the clip point the chain is linear: -6 dB, then 3 dB down at the
    // one-pole's corner, and no harmonics.
    rig->params->at(DRIVE).set(0.0f);
    Audio clean{sine(200.0, 0.1, frames)};
    rig->run(clean);
    const double clean_fundamental = amplitude_at(clean[0], 200.0);
    EXPECT_NEAR(db(clean_fundamental / 0.1), -9.03, 0.1);
    EXPECT_LT(db(amplitude_at(clean[0], 600.0) / clean_fundamental), -80.0);

    // 24 dB of drive squares the tone off at full scale: much louder, rich in
    // odd harmonics, and never above the clip level after the gain.
    rig->params->at(DRIVE).set(24.0f);
    Audio driven{sine(200.0, 0.1, frames, frames)};
    rig->run(driven);
    const double driven_fundamental = amplitude_at(driven[0], 200.0);
    EXPECT_GT(db(driven_fundamental / clean_fundamental), 15.0);
    EXPECT_GT(db(amplitude_at(driven[0], 600.0) / driven_fundamental), -25.0);
    float peak = 0.0f;
    for (float x : driven[0])
        peak = std::max(peak, std::fabs(x));
    EXPECT_LE(peak, gain_of(-6.0f));
}

TEST(AuthoredHarmonicEq, CutsTheEvenHarmonicsOfTheNotePlayed) {
    auto rig = build(R"js({"block": "harmonic_eq",
        "args": {"fundamental_hz": "note(pitch)", "even_db": -12, "bandwidth": 0.1}})js",
                     1);
    ASSERT_TRUE(rig);
    struct Step {
        float pitch;
        double fundamental_hz;
    };
    const Step steps[] = {{57.0f, 220.0}, {69.0f, 440.0}, {57.0f, 220.0}};
    const double expected_db[] = {0.0, -12.0, 0.0, -12.0};
    const std::size_t frames = 24000;
    std::size_t at = 0;
    for (const Step& step : steps) {
        rig->params->at(PITCH).set(step.pitch);
        Audio audio{std::vector<float>(frames, 0.0f)};
        for (int k = 1; k <= 4; ++k) {
            const std::vector<float> partial = sine(step.fundamental_hz * k, 0.1, frames, at);
            for (std::size_t i = 0; i < frames; ++i)
                audio[0][i] += partial[i];
        }
        at += frames;
        rig->run(audio);
        for (int k = 1; k <= 4; ++k) {
            EXPECT_NEAR(db(amplitude_at(audio[0], step.fundamental_hz * k) / 0.1),
                        expected_db[k - 1], 0.5)
                << "note " << step.pitch << ", harmonic " << k;
        }
    }
}

TEST(AuthoredParallel, MixesADryBranchWithAnEchoAtTheBranchGain) {
    const float gains_db[] = {0.0f, -6.0f, -20.0f};
    for (float gain_db : gains_db) {
        const std::string text = R"js({"parallel": [
            {"node": {"chain": []}},
            {"node": {"block": "delay", "args": {"time_ms": 10, "feedback": 0}},
             "gain_db": )js" + format_f32(gain_db) +
                                 "}]}";
        auto rig = build(text, 1);
        ASSERT_TRUE(rig);
        EXPECT_EQ(rig->graph.latency_samples(), 0u);
        Audio audio{std::vector<float>(2048, 0.0f)};
        audio[0][0] = 1.0f;
        rig->run(audio);

        // 10 ms at 48 kHz is 480 samples.
        EXPECT_NEAR(audio[0][0], 1.0f, 1e-6f) << gain_db << " dB";
        EXPECT_NEAR(audio[0][480], gain_of(gain_db), 1e-4f) << gain_db << " dB";
        double elsewhere = 0.0;
        for (std::size_t i = 1; i < audio[0].size(); ++i) {
            if (i != 480) elsewhere += std::fabs(audio[0][i]);
        }
        EXPECT_LT(elsewhere, 1e-3) << gain_db << " dB";
    }
}

TEST(AuthoredDynamics, LookaheadDelaysTheOtherBranchesOfAParallelNodeToMatch) {
    // 5 ms at 48 kHz is 240 samples. The branches differ in level, so a branch
    // that came out early would show at its own sample.
    auto rig = build(R"js({"parallel": [
        {"node": {"block": "dynamics", "args": {"lookahead_ms": 5, "threshold_db": 0}}},
        {"node": {"block": "gain"}, "gain_db": -6}]})js",
                     2);
    ASSERT_TRUE(rig);
    EXPECT_EQ(rig->graph.latency_samples(), 240u);

    Audio audio(2, std::vector<float>(1024, 0.0f));
    audio[0][0] = 0.5f;
    audio[1][0] = 0.25f;
    rig->run(audio, 100);

    const float both = 1.0f + gain_of(-6.0f);
    for (std::size_t c = 0; c < 2; ++c) {
        const float input = c == 0 ? 0.5f : 0.25f;
        EXPECT_NEAR(audio[c][240], input * both, 1e-6f) << "channel " << c;
        std::size_t stray = 0;
        for (std::size_t i = 0; i < audio[c].size(); ++i)
            stray += i != 240 && audio[c][i] != 0.0f;
        EXPECT_EQ(stray, 0u) << "channel " << c;
    }
}

TEST(AuthoredDynamics, LatencyFollowsTheSampleRateOfEachPrepare) {
    auto rig = build(R"js({"parallel": [
        {"node": {"block": "dynamics", "args": {"lookahead_ms": 5, "threshold_db": 0}}},
        {"node": {"block": "gain"}, "gain_db": -96}]})js",
                     1);
    ASSERT_TRUE(rig);
    struct Case {
        float sample_rate;
        std::uint32_t latency;  // round(5 ms * rate), halves away from zero
    };
    const Case cases[] = {{44100.0f, 221}, {96000.0f, 480}, {48000.0f, 240}, {8000.0f, 40}};
    for (const Case& c : cases) {
        rig->graph.prepare(
            ProcessSetup{.max_frames = 64, .sample_rate = c.sample_rate, .channels = 1});
        EXPECT_EQ(rig->graph.latency_samples(), c.latency) << c.sample_rate << " Hz";
        Audio audio{std::vector<float>(1024, 0.0f)};
        audio[0][0] = 0.5f;
        rig->run(audio, 64);
        const auto loudest = std::max_element(audio[0].begin(), audio[0].end());
        EXPECT_EQ(loudest - audio[0].begin(), static_cast<std::ptrdiff_t>(c.latency))
            << c.sample_rate << " Hz";
    }
}

TEST(AuthoredDynamics, GainReductionReachesTheBoundMeterParameter) {
    auto rig = build(R"js({"block": "dynamics",
        "args": {"threshold_db": -20, "ratio": 4, "knee_db": 0, "attack_ms": 0.1,
                 "release_ms": 20, "lookahead_ms": 5},
        "meters": {"gain_reduction_db": "reduction"}})js",
                     1);
    ASSERT_TRUE(rig);
    EXPECT_EQ(rig->params->at(REDUCTION).get(), 0.0f);

    // Full scale is 20 dB over the threshold: 15 dB of reduction at ratio 4.
    Audio loud{std::vector<float>(4800, 1.0f)};
    rig->run(loud);
    EXPECT_NEAR(rig->params->at(REDUCTION).get(), 15.0f, 0.01f);
    EXPECT_NEAR(db(loud[0].back()), -15.0, 0.01);

    Audio quiet{std::vector<float>(24000, 0.0f)};
    rig->run(quiet);
    EXPECT_LT(rig->params->at(REDUCTION).get(), 0.01f);
}

TEST(AuthoringMessages, AnUnknownBlockNamesItsPlaceAndListsEveryBlock) {
    const std::string blocks =
        ". The blocks are: gain, filter, onepole, shaper, dynamics, delay, tremolo, stereo, "
        "harmonic_eq, loop, loop_end";
    struct Case {
        std::string_view text;
        std::string expected;
    };
    const Case cases[] = {
        {R"js({"block": "reverb"})js", "graph: there is no block called 'reverb'" + blocks},
        {R"js({"block": "Gain"})js", "graph: there is no block called 'Gain'" + blocks},
        {R"js({"block": "biquad"})js", "graph: there is no block called 'biquad'" + blocks},
        {R"js({"block": ""})js", "graph: there is no block called ''" + blocks},
        {R"js({"chain": [{"block": "gain"}, {"block": "harmonic eq"}]})js",
         "graph.chain[1]: there is no block called 'harmonic eq'" + blocks},
        {R"js({"parallel": [{"node": {"block": "gain"}},
                            {"node": {"chain": [{"block": "chorus"}]}}]})js",
         "graph.parallel[1].chain[0]: there is no block called 'chorus'" + blocks},
        {R"js({"mix": 2, "block": "eq"})js", "graph: there is no block called 'eq'" + blocks},
    };
    for (const Case& c : cases) {
        Result<Graph> graph = Graph::from_str(c.text, NAMES);
        ASSERT_FALSE(graph.ok()) << c.text;
        EXPECT_EQ(graph.error(), c.expected) << c.text;
    }
}

TEST(AuthoringMessages, TheListedBlocksAreTheRegistryInItsOrder) {
    std::string listed;
    for (const BlockInfo* info : blocks::all()) {
        if (!listed.empty()) listed += ", ";
        listed += info->name;
        EXPECT_EQ(blocks::find(info->name), info) << info->name;
    }
    EXPECT_EQ(listed,
              "gain, filter, onepole, shaper, dynamics, delay, tremolo, stereo, harmonic_eq, "
              "loop, loop_end");
}

}  // namespace
}  // namespace orba
