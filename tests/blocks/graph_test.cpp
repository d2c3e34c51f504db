#include "orba/blocks/graph.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "orba/blocks/spec.h"

namespace orba {
namespace {

// Records every control and process call, so a test can see the slicing.
struct Event {
    bool control = false;
    std::size_t frames = 0;
    std::size_t phase = 0;
    bool operator==(const Event&) const = default;
};

constexpr ArgInfo RECORD_ARGS[] = {{"value", "", {}, "", -1000.0f, 1000.0f, 5.0f, false}};
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

constexpr std::string_view NAMES[] = {"x", "m"};
constexpr ParamInfo PARAMS[] = {
    {.id = "x", .min = -1000.0f, .max = 1000.0f, .default_value = 0.0f},
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

void run(Graph& graph, ParamSet& params, Audio& audio) {
    std::vector<std::span<float>> buffers(audio.begin(), audio.end());
    graph.process(params, buffers, {});
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
    EXPECT_EQ(params->at(1).get(), 42.0f);

    params->at(1).set(0.0f);
    Audio empty(1);
    run(graph, *params, empty);
    EXPECT_EQ(params->at(1).get(), 42.0f);
}

}  // namespace
}  // namespace orba
