#include "orba/blocks/graph.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "orba/blocks/spec.h"

namespace orba {
namespace {

// Records every control and process call, so tests can see the slicing.
struct Event {
    bool control = false;
    std::size_t frames = 0;
    std::size_t phase = 0;
    bool operator==(const Event&) const = default;
};

constexpr std::string_view DIGITS[] = {"zero", "one", "two",   "three", "four",
                                       "five", "six", "seven", "eight", "nine"};
constexpr ArgInfo RECORD_ARGS[] = {
    {"value", "", {}, "", -1000.0f, 1000.0f, 5.0f, false},
    {"pick", "", DIGITS, "", 0.0f, 9.0f, 0.0f, false},
    {"tail", "", {}, "", 0.0f, 100000.0f, 0.0f, false},
};
constexpr std::string_view RECORD_METERS[] = {"level"};

class Recorder final : public Block {
  public:
    void prepare(std::size_t, float) override { events.clear(); }
    void control(std::span<const float> args) override {
        events.push_back({true, 0, 0});
        last.assign(args.begin(), args.end());
    }
    void process(Frame& frame, std::size_t phase) override {
        events.push_back({false, frame.frames, phase});
    }
    std::uint32_t tail(std::span<const float> args, float) const override {
        return static_cast<std::uint32_t>(args[2]);
    }
    float meter(std::size_t) const override { return last.empty() ? 0.0f : last[0]; }

    std::vector<Event> events;
    std::vector<float> last;
};

constexpr BlockInfo RECORD{"record", "", RECORD_ARGS, RECORD_METERS,
                           [] { return std::unique_ptr<Block>(new Recorder); }};

// y[n] = scale * x[n - samples]: a block with latency.
constexpr ArgInfo LATE_ARGS[] = {
    {"samples", "", {}, "", 0.0f, 4096.0f, 0.0f, true},
    {"scale", "", {}, "", -10.0f, 10.0f, 1.0f, false},
};

class Late final : public Block {
  public:
    void configure(std::span<const float> args) override {
        samples_ = static_cast<std::size_t>(args[0]);
    }
    void prepare(std::size_t channels, float) override {
        lines_.assign(channels, std::vector<float>(samples_, 0.0f));
        write_ = 0;
    }
    void control(std::span<const float> args) override { scale_ = args[1]; }
    void process(Frame& frame, std::size_t) override {
        for (std::size_t c = 0; c < frame.channels; ++c) {
            float* x = frame.channel(c);
            std::size_t pos = write_;
            for (std::size_t j = 0; j < frame.frames; ++j) {
                float y = x[j];
                if (samples_ > 0) {
                    std::swap(y, lines_[c][pos]);
                    pos = (pos + 1) % samples_;
                }
                x[j] = scale_ * y;
            }
        }
        if (samples_ > 0) write_ = (write_ + frame.frames) % samples_;
    }
    std::uint32_t latency() const override { return static_cast<std::uint32_t>(samples_); }

  private:
    std::vector<std::vector<float>> lines_;
    std::size_t samples_ = 0;
    std::size_t write_ = 0;
    float scale_ = 1.0f;
};

constexpr BlockInfo LATE{
    "late", "", LATE_ARGS, {}, [] { return std::unique_ptr<Block>(new Late); }};

constexpr const BlockInfo* TEST_BLOCKS[] = {&RECORD, &LATE};

constexpr std::string_view NAMES[] = {"x", "g", "bp", "r", "m"};
constexpr ParamInfo PARAMS[] = {
    {.id = "x", .min = -1000.0f, .max = 1000.0f, .default_value = 0.0f},
    {.id = "g", .min = -96.0f, .max = 48.0f, .default_value = 0.0f},
    {.id = "bp", .min = 0.0f, .max = 1.0f, .default_value = 0.0f},
    {.id = "r", .min = -10.0f, .max = 2000.0f, .default_value = 1.0f},
    {.id = "m", .min = -1000.0f, .max = 1000.0f, .default_value = 0.0f, .kind = ParamKind::Meter},
};

std::shared_ptr<ParamSet> make_params() {
    auto set = ParamSet::with_channels(PARAMS, 1);
    if (!set) ADD_FAILURE() << set.error();
    return std::move(set).value();
}

Graph build(const std::string& text) {
    Result<GraphSpec> spec = spec::from_str(text);
    if (!spec) {
        ADD_FAILURE() << text << ": " << spec.error();
        std::abort();
    }
    Result<Graph> graph = Graph::from_spec(*spec, NAMES, TEST_BLOCKS);
    if (!graph) {
        ADD_FAILURE() << text << ": " << graph.error();
        std::abort();
    }
    return std::move(graph).value();
}

void prepare(Graph& graph, std::uint32_t channels, float sample_rate = 48000.0f) {
    graph.prepare(
        ProcessSetup{.max_frames = 512, .sample_rate = sample_rate, .channels = channels});
}

using Audio = std::vector<std::vector<float>>;

void run(Graph& graph, ParamSet& params, Audio& audio, const ProcessContext& context = {}) {
    std::vector<std::span<float>> buffers(audio.begin(), audio.end());
    graph.process(params, buffers, context);
}

Audio ramp(std::size_t channels, std::size_t frames) {
    Audio audio(channels, std::vector<float>(frames));
    for (auto& channel : audio) {
        for (std::size_t i = 0; i < frames; ++i)
            channel[i] = static_cast<float>(i + 1);
    }
    return audio;
}

Recorder& recorder(const Node& node) {
    return static_cast<Recorder&>(*node.as_block()->block);
}

TEST(GraphRuntime, HostBlocksAreCutAtTheControlPeriodWhateverTheirLength) {
    Graph graph = build(R"js({"block": "record"})js");
    auto params = make_params();
    prepare(graph, 1);
    Audio audio(1, std::vector<float>(100, 0.0f));

    run(graph, *params, audio);
    const std::vector<Event> first = {{true, 0, 0}, {false, 32, 0}, {true, 0, 0}, {false, 32, 0},
                                      {true, 0, 0}, {false, 32, 0}, {true, 0, 0}, {false, 4, 0}};
    EXPECT_EQ(recorder(graph.root()).events, first);

    recorder(graph.root()).events.clear();
    run(graph, *params, audio);
    const std::vector<Event> second = {{false, 28, 4}, {true, 0, 0}, {false, 32, 0}, {true, 0, 0},
                                       {false, 32, 0}, {true, 0, 0}, {false, 8, 0}};
    EXPECT_EQ(recorder(graph.root()).events, second);
}

TEST(GraphRuntime, PrepareRestartsTheControlPeriod) {
    Graph graph = build(R"js({"block": "record"})js");
    auto params = make_params();
    prepare(graph, 1);
    Audio audio(1, std::vector<float>(10, 0.0f));
    run(graph, *params, audio);
    prepare(graph, 1);
    run(graph, *params, audio);
    const std::vector<Event> expected = {{true, 0, 0}, {false, 10, 0}};
    EXPECT_EQ(recorder(graph.root()).events, expected);
}

TEST(GraphRuntime, UnusableTempoIsSeenAs120) {
    Graph graph = build(R"js({"block": "record", "args": {"value": "sync(1) / 10"}})js");
    auto params = make_params();
    prepare(graph, 1);
    struct Case {
        std::optional<double> tempo;
        float ms;
    };
    const Case cases[] = {{19.0, 50.0f},
                          {240.0, 25.0f},
                          {std::nullopt, 50.0f},
                          {std::numeric_limits<double>::infinity(), 50.0f},
                          {20.0, 300.0f}};
    for (const Case& c : cases) {
        Audio audio(1, std::vector<float>(32, 0.0f));
        ProcessContext context;
        context.tempo = c.tempo;
        run(graph, *params, audio, context);
        EXPECT_EQ(recorder(graph.root()).last[0], c.ms) << c.tempo.value_or(-1.0);
    }
}

// Expressions are evaluated again only when something they may read has
// moved; every such input must count: parameters, modulators, the tempo and
// a new sample rate.
TEST(GraphRuntime, ExpressionsFollowEveryInputTheyRead) {
    Graph graph = build(R"js({"modulators": [{"id": "lfo", "shape": "saw", "rate": 150}],
        "block": "record", "args": {"value": "x + lfo", "tail": "rate / 10 + bpm"}})js");
    auto params = make_params();
    prepare(graph, 1);
    auto tick = [&](double tempo) {
        Audio audio(1, std::vector<float>(32, 0.0f));
        ProcessContext context;
        context.tempo = tempo;
        run(graph, *params, audio, context);
        return recorder(graph.root()).last;
    };
    const auto first = tick(120.0);
    EXPECT_EQ(first[0], -1.0f);  // the saw starts at -1
    EXPECT_EQ(first[2], 4920.0f);
    const auto second = tick(120.0);  // only the modulator moved
    EXPECT_EQ(second[0], 2.0f * (150.0f * 32.0f / 48000.0f) - 1.0f);
    params->at(0).set(100.0f);
    EXPECT_EQ(tick(120.0)[0], 100.0f + (2.0f * (2.0f * (150.0f * 32.0f / 48000.0f)) - 1.0f));
    EXPECT_EQ(tick(60.0)[2], 4860.0f);

    // Nothing but the sample rate changes across a new prepare.
    Graph plain = build(R"js({"block": "record", "args": {"tail": "rate / 10"}})js");
    for (float rate : {48000.0f, 96000.0f, 44100.0f}) {
        prepare(plain, 1, rate);
        Audio audio(1, std::vector<float>(32, 0.0f));
        run(plain, *params, audio);
        EXPECT_EQ(recorder(plain.root()).last[2], rate / 10.0f);
    }
}

TEST(GraphRuntime, ArgumentsReachBlocksNormalised) {
    Graph graph = build(
        R"js({"block": "record", "args": {"value": "if(x > 100, pow(-1, 0.5), x * 2)", "pick": "x"}})js");
    auto params = make_params();
    prepare(graph, 1);
    struct Case {
        float x;
        float value;
        float pick;
    };
    // NaN gives the default (5), values are limited to the range and choices
    // rounded.
    const Case cases[] = {
        {7.6f, 15.2f, 8.0f}, {200.0f, 5.0f, 9.0f}, {-600.0f, -1000.0f, 0.0f}, {2.5f, 5.0f, 3.0f}};
    for (const Case& c : cases) {
        params->at(0).set(c.x);
        Audio audio(1, std::vector<float>(32, 0.0f));
        run(graph, *params, audio);
        ASSERT_EQ(recorder(graph.root()).last.size(), 3u);
        EXPECT_EQ(recorder(graph.root()).last[0], c.value) << c.x;
        EXPECT_EQ(recorder(graph.root()).last[1], c.pick) << c.x;
    }
}

TEST(GraphParallel, FasterBranchIsDelayedToMatchTheSlowestOne) {
    // Rings shorter than a slice wrap within it; host blocks of 50 frames
    // make slices start mid-ring.
    for (int samples : {256, 5, 40}) {
        Graph graph = build(R"js({"parallel": [{"node": {"chain": []}},
            {"node": {"block": "late", "args": {"samples": )js" +
                            std::to_string(samples) + R"js(, "scale": 3}}}]})js");
        auto params = make_params();
        prepare(graph, 1);
        EXPECT_EQ(graph.latency_samples(), static_cast<std::uint32_t>(samples));

        std::vector<float> out;
        for (std::size_t block = 0; block < 12; ++block) {
            Audio audio(1, std::vector<float>(50, 0.0f));
            if (block == 0) audio[0][0] = 1.0f;
            run(graph, *params, audio);
            out.insert(out.end(), audio[0].begin(), audio[0].end());
        }
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i], static_cast<int>(i) == samples ? 4.0f : 0.0f) << samples << " " << i;
        }
    }
}

TEST(GraphParallel, BranchGainGlidesAcrossOneControlPeriod) {
    Graph graph = build(R"js({"parallel": [{"node": {"chain": []}, "gain_db": "g"}]})js");
    auto params = make_params();
    prepare(graph, 1);
    Audio ones(1, std::vector<float>(32, 1.0f));
    run(graph, *params, ones);
    for (float v : ones[0])
        EXPECT_EQ(v, 1.0f);

    params->at(1).set(-96.0f);
    Audio step(1, std::vector<float>(64, 1.0f));
    run(graph, *params, step);
    const float g = std::exp(-96.0f * 0.115129247f);
    for (std::size_t k = 0; k < 32; ++k) {
        const float w = 1.0f + static_cast<float>(k + 1) / 32.0f * (g - 1.0f);
        EXPECT_EQ(step[0][k], w) << k;
        EXPECT_EQ(step[0][32 + k], g) << k;
    }
}

TEST(GraphMix, HalfMixCrossfadesWithTheCompensatedDrySignal) {
    Graph graph =
        build(R"js({"mix": 0.5, "block": "late", "args": {"samples": 64, "scale": 3}})js");
    auto params = make_params();
    prepare(graph, 1);
    EXPECT_EQ(graph.latency_samples(), 64u);
    Audio audio = ramp(1, 200);
    run(graph, *params, audio);
    // dry + 0.5 * (3 dry - dry) = 2 dry, with dry the input 64 samples late.
    for (std::size_t i = 0; i < 200; ++i) {
        EXPECT_EQ(audio[0][i], i < 64 ? 0.0f : 2.0f * static_cast<float>(i - 63)) << i;
    }
}

// Any infinite amount, minus infinity included, counts as fully wet, like
// one above 1 or not a number; only a finite negative amount is fully dry.
TEST(GraphMix, UnusableAmountsAreFullyWet) {
    struct Case {
        const char* mix;
        float out;
    };
    const Case cases[] = {{"-exp(100 + x)", 1.5f},   {"exp(100 + x)", 1.5f},
                          {"pow(x - 1, 0.5)", 1.5f}, {"2 + x", 1.5f},
                          {"x - 0.5", 0.5f},         {"x", 0.5f}};
    for (const Case& c : cases) {
        Graph graph = build(std::string(R"js({"mix": ")js") + c.mix +
                            R"js(", "block": "late", "args": {"scale": 3}})js");
        auto params = make_params();
        prepare(graph, 1);
        Audio audio(1, std::vector<float>(32, 0.5f));
        run(graph, *params, audio);
        EXPECT_EQ(audio[0][31], c.out) << c.mix;
    }
}

TEST(GraphMix, OnlyLeavesTheOtherChannelsDry) {
    Graph graph =
        build(R"js({"only": [1], "block": "late", "args": {"samples": 64, "scale": 3}})js");
    auto params = make_params();
    prepare(graph, 2);
    Audio audio = ramp(2, 200);
    run(graph, *params, audio);
    for (std::size_t i = 64; i < 200; ++i) {
        const float dry = static_cast<float>(i - 63);
        EXPECT_EQ(audio[0][i], dry) << i;
        EXPECT_EQ(audio[1][i], 3.0f * dry) << i;
    }
}

TEST(GraphMix, FullBypassStopsRunningTheInnerNode) {
    Graph graph = build(R"js({"bypass": "bp", "block": "record"})js");
    auto params = make_params();
    prepare(graph, 1);
    Audio audio = ramp(1, 32);
    run(graph, *params, audio);

    params->at(2).set(1.0f);
    Recorder& inner = recorder(graph.root().as_mix()->inner);
    inner.events.clear();
    Audio fading = ramp(1, 32);
    run(graph, *params, fading);  // glides from 1 to 0: the inner node still runs
    EXPECT_EQ(inner.events.size(), 2u);

    inner.events.clear();
    Audio bypassed = ramp(1, 64);
    run(graph, *params, bypassed);
    const std::vector<Event> controls_only = {{true, 0, 0}, {true, 0, 0}};
    EXPECT_EQ(inner.events, controls_only);
    EXPECT_EQ(bypassed, ramp(1, 64));
}

TEST(GraphModulators, RatesAreLimitedAtRunTime) {
    struct Case {
        float r;
        float rate;
    };
    // r below 0 makes the rate expression not a number.
    const Case cases[] = {{0.0f, 0.001f}, {-1.0f, 1.0f}, {1000.0f, 200.0f}, {50.0f, 50.0f}};
    for (const Case& c : cases) {
        Graph graph = build(R"js({"modulators": [
            {"id": "lfo", "shape": "saw", "rate": "if(r < 0, pow(-1, 0.5), r)"}],
            "chain": []})js");
        auto params = make_params();
        params->at(3).set(c.r);
        prepare(graph, 1);
        Audio audio(1, std::vector<float>(32, 0.0f));
        run(graph, *params, audio);
        EXPECT_EQ(graph.modulators()[0].phase, c.rate * 32.0f / 48000.0f) << c.r;
    }
}

TEST(GraphModulators, SineStartsAtZeroAndAdvancesOnePeriodPerTick) {
    Graph graph = build(R"js({"modulators": [{"id": "lfo"}], "block": "record",
                           "args": {"value": "lfo * 100"}})js");
    auto params = make_params();
    prepare(graph, 1);
    const float step = 32.0f / 48000.0f;
    Audio audio(1, std::vector<float>(32, 0.0f));
    run(graph, *params, audio);
    EXPECT_EQ(graph.values()[5], 0.0f);
    EXPECT_EQ(recorder(graph.root()).last[0], 0.0f);
    EXPECT_EQ(graph.modulators()[0].phase, step);
    run(graph, *params, audio);
    EXPECT_EQ(graph.values()[5], std::sin(6.2831855f * step));
    EXPECT_EQ(graph.modulators()[0].phase, step + step);
}

TEST(GraphModulators, RandomHoldsItsValueUntilThePhaseWraps) {
    // 200 Hz at 8000 Hz moves the phase by 0.8 per tick: the second tick wraps.
    Graph graph = build(
        R"js({"modulators": [{"id": "lfo", "shape": "random", "rate": 200}], "chain": []})js");
    auto params = make_params();
    prepare(graph, 1, 8000.0f);
    const float seeded = graph.modulators()[0].held;
    Audio audio(1, std::vector<float>(32, 0.0f));
    run(graph, *params, audio);
    EXPECT_EQ(graph.values()[5], seeded);
    run(graph, *params, audio);
    EXPECT_EQ(graph.values()[5], seeded);
    const float next = graph.modulators()[0].held;
    EXPECT_NE(next, seeded);
    run(graph, *params, audio);
    EXPECT_EQ(graph.values()[5], next);
}

// The held values are 2 * (state / 2^32) - 1 worked out in f32, so a graph
// sounds the same wherever it runs; the fourth modulator's seed is one whose
// f32 and f64 results differ.
TEST(GraphModulators, RandomValuesAreWorkedOutInSinglePrecision) {
    Graph graph = build(R"js({"modulators": [
        {"id": "a", "shape": "random"}, {"id": "b", "shape": "random"},
        {"id": "c", "shape": "random"}, {"id": "d", "shape": "random"}], "chain": []})js");
    prepare(graph, 1);
    auto expected = [](std::uint32_t k) {
        std::uint32_t x = ((k + 1) * 0x9E3779B9u) | 1u;
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return 2.0f * (static_cast<float>(x) / 4294967296.0f) - 1.0f;
    };
    for (std::uint32_t k = 0; k < 4; ++k)
        EXPECT_EQ(graph.modulators()[k].held, expected(k)) << k;
    EXPECT_EQ(graph.modulators()[3].held, -0.467598855f);
}

// One bad sample from a host must not leave a recursive block ringing NaN
// forever: non-finite input is heard as silence and nothing else changes.
TEST(GraphRuntime, NonFiniteInputIsHeardAsSilence) {
    Graph poisoned = build(R"js({"block": "late", "args": {"samples": 40, "scale": 2}})js");
    Graph clean = build(R"js({"block": "late", "args": {"samples": 40, "scale": 2}})js");
    auto params = make_params();
    prepare(poisoned, 2);
    prepare(clean, 2);
    Audio bad = ramp(2, 300);
    Audio good = bad;
    const float inf = std::numeric_limits<float>::infinity();
    bad[0][5] = std::numeric_limits<float>::quiet_NaN();
    bad[0][70] = inf;
    bad[1][33] = -inf;
    good[0][5] = good[0][70] = good[1][33] = 0.0f;
    run(poisoned, *params, bad);
    run(clean, *params, good);
    EXPECT_EQ(bad, good);
}

TEST(GraphRuntime, OutputBelowTheDenormalFloorComesOutAsZero) {
    Graph graph = build(R"js({"chain": []})js");
    auto params = make_params();
    prepare(graph, 1);
    Audio audio = {{1e-31f, -1e-31f, 1e-29f, -2e-30f, 0.5f}};
    run(graph, *params, audio);
    const Audio expected = {{0.0f, 0.0f, 1e-29f, -2e-30f, 0.5f}};
    EXPECT_EQ(audio, expected);
}

TEST(GraphRuntime, BuffersBeyondThePreparedChannelsAreLeftAlone) {
    Graph graph = build(R"js({"block": "late", "args": {"scale": 2}})js");
    auto params = make_params();
    prepare(graph, 1);
    Audio audio = ramp(2, 40);
    run(graph, *params, audio);
    for (std::size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(audio[0][i], 2.0f * static_cast<float>(i + 1));
        EXPECT_EQ(audio[1][i], static_cast<float>(i + 1));
    }
}

TEST(GraphRuntime, TheShortestBufferBoundsTheBlock) {
    Graph graph = build(R"js({"block": "late", "args": {"scale": 2}})js");
    auto params = make_params();
    prepare(graph, 2);
    Audio audio = {std::vector<float>(100, 1.0f), std::vector<float>(60, 1.0f)};
    run(graph, *params, audio);
    for (std::size_t i = 0; i < 100; ++i)
        EXPECT_EQ(audio[0][i], i < 60 ? 2.0f : 1.0f) << i;
    for (float v : audio[1])
        EXPECT_EQ(v, 2.0f);

    // The control phase moved on by 60 frames, not 100.
    Graph recorded = build(R"js({"block": "record"})js");
    prepare(recorded, 2);
    Audio uneven = {std::vector<float>(40, 0.0f), std::vector<float>(10, 0.0f)};
    run(recorded, *params, uneven);
    run(recorded, *params, uneven);
    EXPECT_EQ(recorder(recorded.root()).events.back(), (Event{false, 10, 10}));
}

TEST(GraphRuntime, MetersAreCopiedIntoTheirParametersEvenWithoutFrames) {
    Graph graph = build(
        R"js({"chain": [{"block": "record", "args": {"value": "x + 1"}, "meters": {"level": "m"}}]})js");
    auto params = make_params();
    prepare(graph, 1);
    params->at(0).set(41.0f);
    Audio audio(1, std::vector<float>(32, 0.0f));
    run(graph, *params, audio);
    EXPECT_EQ(params->at(4).get(), 42.0f);

    params->at(4).set(0.0f);
    Audio empty(1);
    run(graph, *params, empty);
    EXPECT_EQ(params->at(4).get(), 42.0f);
}

TEST(GraphRuntime, TailFollowsTheParametersInForceNow) {
    Graph graph = build(R"js({"chain": [
        {"block": "record", "args": {"tail": 100}},
        {"parallel": [
            {"node": {"block": "record", "args": {"tail": "x"}}},
            {"node": {"block": "record", "args": {"tail": 50}}}]}]})js");
    auto params = make_params();
    prepare(graph, 1);
    EXPECT_EQ(graph.tail_for(*params), 150u);
    params->at(0).set(70.0f);  // read without a process call in between
    EXPECT_EQ(graph.tail_for(*params), 170u);
}

TEST(GraphRuntime, LatencyAddsUpAlongChainsAndTakesTheSlowestBranch) {
    Graph graph = build(R"js({"chain": [
        {"block": "late", "args": {"samples": 10}},
        {"mix": 0.5, "parallel": [
            {"node": {"block": "late", "args": {"samples": 5}}},
            {"node": {"block": "late", "args": {"samples": 7}}}]}]})js");
    prepare(graph, 1);
    EXPECT_EQ(graph.latency_samples(), 17u);
}

TEST(GraphRuntime, HostBlockSizeDoesNotChangeTheOutput) {
    // Product blocks in the nested shape of the delay plug-in, with a modulator.
    const std::string_view text = R"js({"modulators": [{"id": "lfo", "rate": 3}],
        "mix": "mix", "chain": [{"parallel": [
          {"node": {"block": "delay", "args": {"time_ms": "time", "feedback": 0.5}}},
          {"node": {"chain": [
            {"block": "delay", "args": {"time_ms": "time * 0.5 + lfo"}},
            {"block": "gain", "args": {"gain_db": -6}}]}, "gain_db": "lfo * 3"}]}]})js";
    constexpr std::string_view names[] = {"time", "mix"};
    constexpr ParamInfo table[] = {
        {.id = "time", .min = 1.0f, .max = 100.0f, .default_value = 3.0f},
        {.id = "mix", .min = 0.0f, .max = 1.0f, .default_value = 0.5f},
    };
    auto params = std::move(ParamSet::with_channels(table, 1)).value();

    const auto render = [&](std::span<const std::size_t> sizes) {
        Result<Graph> graph = Graph::from_str(text, names);
        EXPECT_TRUE(graph.ok()) << (graph.ok() ? "" : graph.error());
        graph->prepare(ProcessSetup{.max_frames = 512, .sample_rate = 48000.0f, .channels = 2});
        Audio out(2);
        std::size_t done = 0;
        for (std::size_t i = 0; done < 2000; ++i) {
            const std::size_t n = std::min(sizes[i % sizes.size()], 2000 - done);
            Audio audio(2, std::vector<float>(n));
            for (std::size_t j = 0; j < n; ++j) {
                audio[0][j] = std::sin(0.01f * static_cast<float>(done + j));
                audio[1][j] = (done + j) % 97 == 0 ? 1.0f : 0.0f;
            }
            std::vector<std::span<float>> buffers(audio.begin(), audio.end());
            graph->process(*params, buffers, {});
            for (std::size_t c = 0; c < 2; ++c) {
                out[c].insert(out[c].end(), audio[c].begin(), audio[c].end());
            }
            done += n;
        }
        return out;
    };
    const std::size_t whole[] = {2000};
    const std::size_t ragged[] = {1, 7, 32, 100, 13, 64, 5};
    EXPECT_EQ(render(whole), render(ragged));
}

}  // namespace
}  // namespace orba
