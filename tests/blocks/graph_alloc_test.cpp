#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "orba/blocks/blocks.h"
#include "orba/blocks/graph.h"
#include "orba/blocks/spec.h"
#include "tests/support/alloc_counter.h"

namespace orba {
namespace {

// y[n] = x[n - 48]: gives the parallel and mix nodes compensation rings to run.
constexpr ArgInfo LATE_ARGS[] = {{"scale", "", {}, "", -10.0f, 10.0f, 1.0f, false}};
constexpr std::size_t LATE_SAMPLES = 48;

class Late final : public Block {
  public:
    void prepare(std::size_t channels, float) override {
        lines_.assign(channels * LATE_SAMPLES, 0.0f);
        write_ = 0;
    }
    void control(std::span<const float> args) override { scale_ = args[0]; }
    void process(Frame& frame, std::size_t) override {
        for (std::size_t c = 0; c < frame.channels; ++c) {
            float* line = lines_.data() + c * LATE_SAMPLES;
            std::size_t pos = write_;
            for (std::size_t j = 0; j < frame.frames; ++j) {
                std::swap(frame.channel(c)[j], line[pos]);
                frame.channel(c)[j] *= scale_;
                pos = (pos + 1) % LATE_SAMPLES;
            }
        }
        write_ = (write_ + frame.frames) % LATE_SAMPLES;
    }
    std::uint32_t latency() const override { return LATE_SAMPLES; }

  private:
    std::vector<float> lines_;
    std::size_t write_ = 0;
    float scale_ = 1.0f;
};

constexpr BlockInfo LATE{
    "late", "", LATE_ARGS, {}, [] { return std::unique_ptr<Block>(new Late); }};

std::vector<const BlockInfo*> catalogue() {
    std::vector<const BlockInfo*> list(blocks::all().begin(), blocks::all().end());
    list.push_back(&LATE);
    return list;
}

constexpr std::string_view NAMES[] = {"time", "mix", "g", "bp"};
constexpr ParamInfo PARAMS[] = {
    {.id = "time", .min = 1.0f, .max = 500.0f, .default_value = 20.0f},
    {.id = "mix", .min = 0.0f, .max = 1.0f, .default_value = 0.5f},
    {.id = "g", .min = -96.0f, .max = 48.0f, .default_value = -3.0f},
    {.id = "bp", .min = 0.0f, .max = 1.0f, .default_value = 0.0f},
};

// Every node kind: blocks, chains, a parallel node with a compensated branch
// and gliding gains, mixes with bypass and only, and every modulator shape.
constexpr std::string_view EVERYTHING = R"js({
    "modulators": [{"id": "sine", "rate": 2}, {"id": "tri", "shape": "triangle", "rate": "sine + 3"},
                   {"id": "saw", "shape": "saw"}, {"id": "sq", "shape": "square", "rate": 7},
                   {"id": "rnd", "shape": "random", "rate": 150}],
    "mix": "mix", "chain": [
      {"block": "gain", "args": {"gain_db": "rnd * 3", "pan": "saw"}},
      {"parallel": [
        {"node": {"block": "delay", "args": {"time_ms": "time + sine", "feedback": 0.4}},
         "gain_db": "g + tri"},
        {"node": {"chain": [{"block": "late", "args": {"scale": "sq"}},
                            {"block": "gain", "args": {"gain_db": "g"}}]}},
        {"node": {"bypass": "bp", "only": [1], "mix": 0.7,
                  "block": "late", "args": {"scale": 0.5}}, "gain_db": -6}]}]})js";

TEST(GraphAllocation, ProcessAndTailNeverAllocateAfterPrepare) {
    auto params = std::move(ParamSet::with_channels(PARAMS, 1)).value();
    const auto blocks = catalogue();
    Result<GraphSpec> spec = spec::from_str(EVERYTHING);
    ASSERT_TRUE(spec.ok()) << spec.error();
    Result<Graph> compiled = Graph::from_spec(*spec, NAMES, blocks);
    ASSERT_TRUE(compiled.ok()) << compiled.error();
    Graph& graph = *compiled;
    graph.prepare(ProcessSetup{.max_frames = 1024, .sample_rate = 44100.0f, .channels = 2});

    std::vector<std::vector<float>> audio(2, std::vector<float>(1024, 0.25f));
    std::vector<std::span<float>> buffers(audio.begin(), audio.end());
    ProcessContext context;
    context.tempo = 97.0;

    test::AllocationScope scope;
    std::uint32_t tail = 0;
    for (std::size_t block = 0; block < 40; ++block) {
        // Odd sizes keep slices starting mid-period; the parameters move so
        // every glide and the bypass run.
        std::span<float> left = buffers[0].first(block * 37 % 700);
        std::span<float> right = buffers[1].first(block * 37 % 700);
        const std::span<float> sized[] = {left, right};
        params->at(1).set(static_cast<float>(block % 3) * 0.5f);
        params->at(2).set(block % 2 ? -20.0f : 6.0f);
        params->at(3).set(block % 5 == 0 ? 1.0f : 0.0f);
        graph.process(*params, sized, context);
        tail += graph.tail_for(*params);
        tail += graph.latency_samples();
    }
    EXPECT_EQ(scope.count(), 0u);
    EXPECT_GT(tail, 0u);
    EXPECT_EQ(graph.latency_samples(), LATE_SAMPLES);
}

TEST(GraphAllocation, TailNeverAllocatesWithThreeHundredParameters) {
    // The CLAP wrapper asks for the tail after every block, so a large value
    // table must not send tail_for to the heap: 300 parameters and a
    // modulator, read by one delay's time.
    std::vector<std::string> ids;
    for (int p = 0; p < 300; ++p) {
        ids.emplace_back("p");
        ids.back() += std::to_string(p);
    }
    std::vector<std::string_view> names(ids.begin(), ids.end());
    std::vector<ParamInfo> table;
    for (const std::string& id : ids) {
        table.push_back({.id = id, .min = 1.0f, .max = 500.0f, .default_value = 20.0f});
    }
    auto params = std::move(ParamSet::with_channels(table, 1)).value();
    const std::string text =
        R"js({"modulators": [{"id": "m"}], "block": "delay",
              "args": {"time_ms": "p299 + m", "feedback": 0.5}})js";
    Result<Graph> graph = Graph::from_str(text, names);
    ASSERT_TRUE(graph.ok()) << graph.error();
    ASSERT_EQ(graph->values().size(), 301u);
    graph->prepare(ProcessSetup{.max_frames = 64, .sample_rate = 48000.0f, .channels = 1});

    test::AllocationScope scope;
    params->at(299).set(100.0f);
    const std::uint32_t longer = graph->tail_for(*params);
    params->at(299).set(50.0f);
    const std::uint32_t shorter = graph->tail_for(*params);
    EXPECT_EQ(scope.count(), 0u);
    // The tail follows the parameter's current value, not the table's last tick.
    EXPECT_GT(longer, shorter);
    EXPECT_GT(shorter, 0u);
}

}  // namespace
}  // namespace orba
