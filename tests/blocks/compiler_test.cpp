#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "orba/blocks/blocks.h"
#include "orba/blocks/graph.h"
#include "orba/blocks/spec.h"

namespace orba {
namespace {

constexpr std::string_view DELAY_NAMES[] = {"time", "ratio", "decay_db", "feedback",
                                            "damp", "mode",  "mix"};
const std::string NAMES_LIST = "time, ratio, decay_db, feedback, damp, mode, mix";

// A block that keeps what configure handed it and has one meter.
constexpr std::string_view SIZES[] = {"small", "medium", "large"};
constexpr ArgInfo PROBE_ARGS[] = {
    {"level", "", {}, "", -10.0f, 10.0f, 0.5f, false},
    {"size", "", SIZES, "", 0.0f, 2.0f, 1.0f, false},
    {"memory_ms", "ms", {}, "", 1.0f, 100.0f, 10.0f, true},
};
constexpr std::string_view PROBE_METERS[] = {"level", "peak"};

class Probe final : public Block {
  public:
    void configure(std::span<const float> args) override {
        configured.assign(args.begin(), args.end());
    }
    void prepare(std::size_t, float) override {}
    void control(std::span<const float>) override {}
    void process(Frame&, std::size_t) override {}

    std::vector<float> configured;
};

constexpr BlockInfo PROBE{"probe", "", PROBE_ARGS, PROBE_METERS,
                          [] { return std::unique_ptr<Block>(new Probe); }};
constexpr BlockInfo SILENT{"silent", "", {}, {}, [] { return std::unique_ptr<Block>(new Probe); }};
constexpr const BlockInfo* TEST_BLOCKS[] = {&PROBE, &SILENT};

Result<Graph> compile(std::string_view text, std::span<const std::string_view> names = DELAY_NAMES,
                      std::span<const BlockInfo* const> blocks = blocks::all()) {
    Result<GraphSpec> spec = spec::from_str(text);
    if (!spec) return fail("reading failed: " + spec.error());
    return Graph::from_spec(*spec, names, blocks);
}

Graph compiled(std::string_view text, std::span<const std::string_view> names = DELAY_NAMES,
               std::span<const BlockInfo* const> blocks = blocks::all()) {
    Result<Graph> graph = compile(text, names, blocks);
    if (!graph) {
        ADD_FAILURE() << text << ": " << graph.error();
        std::abort();
    }
    return std::move(graph).value();
}

std::string registry_names() {
    std::string out;
    for (const BlockInfo* info : blocks::all()) {
        if (!out.empty()) out += ", ";
        out += info->name;
    }
    return out;
}

struct Failure {
    std::string text;
    std::string message;
};

void expect_failures(std::span<const Failure> cases, std::span<const std::string_view> names,
                     std::span<const BlockInfo* const> blocks) {
    for (const Failure& c : cases) {
        Result<Graph> graph = compile(c.text, names, blocks);
        ASSERT_FALSE(graph.ok()) << c.text;
        EXPECT_EQ(graph.error(), c.message) << c.text;
    }
}

TEST(GraphCompiler, EachFaultHasItsOwnMessage) {
    const std::string unknown_name =
        "'tme' is not a parameter, a modulator or a "
        "built-in name. The names available are: ";
    const Failure cases[] = {
        {R"js({"block": "delay", "args": {"time_ms": 5000}})js",
         "graph: delay.time_ms is 5000, outside the range 0.1 to 4000 ms"},
        {R"js({"block": "delay", "args": {"time_ms": "100*50"}})js",
         "graph: delay.time_ms is 5000, outside the range 0.1 to 4000 ms"},
        {R"js({"block": "delay", "args": {"tme": 1}})js",
         "graph: the block 'delay' has no argument 'tme'. Its arguments are: "
         "time_ms, feedback, "
         "damp_hz, mode, mod_depth_ms, mod_rate_hz, max_ms"},
        {R"js({"block": "dealy"})js",
         "graph: there is no block called 'dealy'. The blocks are: " + registry_names()},
        {R"js({"block": "delay", "args": {"time_ms": "tme"}})js",
         "graph: delay.time_ms: " + unknown_name + NAMES_LIST},
        {R"js({"block": "delay", "args": {"mode": "bounce"}})js",
         "graph: delay.mode: 'bounce' is not one of normal, pingpong and not a "
         "valid expression "
         "('bounce' is not a parameter, a modulator or a built-in name. The "
         "names available are: " +
             NAMES_LIST + ")"},
        {R"js({"block": "delay", "args": {"max_ms": "time"}})js",
         "graph: delay.max_ms is fixed when the plugin is built, so it must be a "
         "number and cannot "
         "follow a parameter"},
        {R"js({"block": "delay", "args": {"feedback": true}})js",
         "graph: delay.feedback is 1, outside the range 0 to 0.97"},
        {R"js({"block": "gain", "meters": {"level": "mix"}})js",
         "graph: the block 'gain' has no meter 'level'. It has no meters."},
        {R"js({"mix": 2, "chain": []})js", "graph mix is 2, outside the range 0 to 1"},
        {R"js({"bypass": "tme", "chain": []})js", "graph bypass: " + unknown_name + NAMES_LIST},
        {R"js({"mix": 2, "block": "delay", "args": {"time_ms": 0}})js",
         "graph: delay.time_ms is 0, outside the range 0.1 to 4000 ms"},
        {R"js({"bypass": 2, "mix": 3, "chain": []})js",
         "graph bypass is 2, outside the range 0 to 1"},
        {R"js({"parallel": [{"node": {"chain": []}, "gain_db": 60}]})js",
         "graph.parallel[0] gain_db is 60, outside the range -96 to 48 dB"},
        {R"js({"parallel": [{"node": {"block": "x"}, "gain_db": 60}]})js",
         "graph.parallel[0]: there is no block called 'x'. The blocks are: " + registry_names()},
        {R"js({"chain": [{"chain": []}, {"parallel": [{"node": {"chain": []}},
             {"node": {"chain": [{"block": "gain", "args": {"pan": -2}}]}}]}]})js",
         "graph.chain[1].parallel[1].chain[0]: gain.pan is -2, outside the range "
         "-1 to 1"},
        {R"js({"block": "gain", "args": {"gain_db": 1e39}})js",
         "graph: gain.gain_db is inf, outside the range -96 to 48 dB"},
        {R"js({"block": "gain", "args": {"gain_db": "0 - exp(100)"}})js",
         "graph: gain.gain_db is -inf, outside the range -96 to 48 dB"},
        {R"js({"block": "gain", "args": {"gain_db": "pow(-1, 0.5)"}})js",
         "graph: gain.gain_db is NaN, outside the range -96 to 48 dB"},
        {R"js({"block": "gain", "args": {"gain_db": "1 +"}})js",
         "graph: gain.gain_db: the expression ends where a number or a name "
         "should be. The names "
         "available are: " +
             NAMES_LIST},
        {R"js({"modulators": [{"id": "mix"}], "chain": []})js",
         "the modulator 'mix' has the same name as a parameter"},
        {R"js({"modulators": [{"id": "lfo"}, {"id": "lfo"}], "chain": []})js",
         "two modulators are called 'lfo'"},
        {R"js({"modulators": [{"id": "1lfo"}], "chain": []})js",
         "'1lfo' is not a usable modulator name. Use letters, digits and "
         "underscores, starting "
         "with a letter"},
        {R"js({"modulators": [{"id": "lfo-1"}], "chain": []})js",
         "'lfo-1' is not a usable modulator name. Use letters, digits and "
         "underscores, starting "
         "with a letter"},
        {R"js({"modulators": [{"id": ""}], "chain": []})js",
         "'' is not a usable modulator name. Use letters, digits and "
         "underscores, starting with a "
         "letter"},
        {R"js({"modulators": [{"id": "lfo", "shape": "Sine"}], "chain": []})js",
         "modulator 'lfo' has the shape 'Sine'. The shapes are sine, triangle, "
         "saw, square and "
         "random"},
        {R"js({"modulators": [{"id": "lfo", "rate": 500}], "chain": []})js",
         "modulator 'lfo' rate is 500, outside the range 0.001 to 200 Hz"},
        {R"js({"modulators": [{"id": "lfo", "rate": "tme"}], "chain": []})js",
         "modulator 'lfo' rate: " + unknown_name + NAMES_LIST + ", lfo"},
        {R"js({"modulators": [{"id": "lfo"}, {"id": "b2"}],
              "block": "delay", "args": {"time_ms": "tme"}})js",
         "graph: delay.time_ms: " + unknown_name + NAMES_LIST + ", lfo, b2"},
        // Modulator names are checked before any shape or rate.
        {R"js({"modulators": [{"id": "a", "shape": "x"}, {"id": "a"}], "chain": []})js",
         "two modulators are called 'a'"},
    };
    expect_failures(cases, DELAY_NAMES, blocks::all());
}

TEST(GraphCompiler, MetersAndOtherBlockListsNameWhatExists) {
    const Failure cases[] = {
        {R"js({"block": "probe", "meters": {"gain_reduction_db": "gr"}})js",
         "graph: the block 'probe' has no meter 'gain_reduction_db'. Its meters "
         "are: level, peak"},
        {R"js({"block": "probe", "meters": {"peak": "gr"}})js",
         "graph: the meter 'peak' is bound to 'gr', which is not a parameter"},
        {R"js({"modulators": [{"id": "lfo"}], "block": "probe", "meters": {"peak": "lfo"}})js",
         "graph: the meter 'peak' is bound to 'lfo', which is not a parameter"},
        {R"js({"block": "silent", "meters": {"peak": "mix"}})js",
         "graph: the block 'silent' has no meter 'peak'. It has no meters."},
        {R"js({"block": "delay"})js",
         "graph: there is no block called 'delay'. "
         "The blocks are: probe, silent"},
        {R"js({"block": "probe", "args": {"size": "huge"}})js",
         "graph: probe.size: 'huge' is not one of small, medium, large and not a "
         "valid expression "
         "('huge' is not a parameter, a modulator or a built-in name. The names "
         "available are: " +
             NAMES_LIST + ")"},
        {R"js({"block": "probe", "args": {"memory_ms": 0.5}})js",
         "graph: probe.memory_ms is 0.5, outside the range 1 to 100 ms"},
    };
    expect_failures(cases, DELAY_NAMES, TEST_BLOCKS);
}

TEST(GraphCompiler, WithoutNamesTheAvailableListIsEmpty) {
    const Failure cases[] = {
        {R"js({"block": "gain", "args": {"gain_db": "x"}})js",
         "graph: gain.gain_db: 'x' is not a parameter, a modulator or a built-in "
         "name. The names "
         "available are: "},
    };
    expect_failures(cases, {}, blocks::all());
}

TEST(GraphCompiler, FloatsInMessagesAreTheShortestTextThatReadsBack) {
    struct Case {
        float value;
        const char* text;
    };
    const Case cases[] = {
        {0.1f, "0.1"},
        {200.0f, "200"},
        {4000.0f, "4000"},
        {-96.0f, "-96"},
        {0.001f, "0.001"},
        {0.97f, "0.97"},
        {1e30f, "1000000000000000000000000000000"},
        {1e-10f, "0.0000000001"},
        {16777216.0f, "16777216"},
        {0.0f, "0"},
        {std::numeric_limits<float>::infinity(), "inf"},
        {-std::numeric_limits<float>::infinity(), "-inf"},
        {std::numeric_limits<float>::quiet_NaN(), "NaN"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(format_f32(c.value), c.text);
}

const BlockNode& block_at(const Graph& graph) {
    const BlockNode* block = graph.root().as_block();
    if (block == nullptr) {
        ADD_FAILURE() << "the root is not a block";
        std::abort();
    }
    return *block;
}

TEST(GraphCompiler, NumbersChoicesAndConstantExpressionsBecomeConstants) {
    const Graph graph = compiled(
        R"js({"block": "delay", "args": {"time_ms": 100, "time_ms": 200, "mode": " PingPong ",
                                         "max_ms": "1000*2", "feedback": "sync(0.5) * 0 + 0.5"}})js");
    const BlockNode& node = block_at(graph);
    ASSERT_EQ(node.args.size(), 7u);
    EXPECT_TRUE(node.args[0].is_const());
    EXPECT_EQ(node.args[0].value, 100.0f);  // the first entry with a name counts
    EXPECT_TRUE(node.args[3].is_const());
    EXPECT_EQ(node.args[3].value, 1.0f);
    EXPECT_TRUE(node.args[6].is_const());
    EXPECT_EQ(node.args[6].value, 2000.0f);
    EXPECT_FALSE(node.args[1].is_const());  // sync reads the tempo
    EXPECT_TRUE(node.args[2].is_const());
    EXPECT_EQ(node.args[2].value, 8000.0f);
}

TEST(GraphCompiler, ExpressionsStartAtTheDefaultAndReadTheirSlots) {
    const Graph graph = compiled(R"js({"modulators": [{"id": "lfo"}],
        "block": "delay", "args": {"time_ms": "sync(0.5)", "mode": "mode", "feedback": "lfo * 10"}})js");
    const BlockNode& node = block_at(graph);
    EXPECT_FALSE(node.args[0].is_const());
    EXPECT_EQ(node.args[0].value, 250.0f);
    ASSERT_FALSE(node.args[3].is_const());
    const float values[] = {0, 0, 0, 0, 0, 0.75f, 0, 0.25f};
    const ControlContext context{values, 48000.0f, 120.0f};
    EXPECT_EQ(node.args[3].eval(context), 0.75f);  // slot 5, the parameter mode
    EXPECT_EQ(node.args[1].eval(context), 2.5f);   // slot 7, the modulator
}

TEST(GraphCompiler, BlocksAreConfiguredWithTheValuesAsCompiled) {
    const Graph graph = compiled(
        R"js({"block": "probe", "args": {"level": "mix", "size": 1.6, "memory_ms": 25.5}})js",
        DELAY_NAMES, TEST_BLOCKS);
    const auto& probe = static_cast<const Probe&>(*block_at(graph).block);
    // An expression is configured with its default; a choice given as a number is
    // not rounded.
    const std::vector<float> expected = {0.5f, 1.6f, 25.5f};
    EXPECT_EQ(probe.configured, expected);
}

TEST(GraphCompiler, MixBypassAndOnlyWrapTheNode) {
    const Graph plain = compiled(R"js({"chain": []})js");
    EXPECT_NE(plain.root().as_chain(), nullptr);

    const Graph wrapped = compiled(R"js({"mix": "mix", "only": [0, 3], "chain": []})js");
    const MixNode* mix = wrapped.root().as_mix();
    ASSERT_NE(mix, nullptr);
    EXPECT_NE(mix->inner.as_chain(), nullptr);
    EXPECT_FALSE(mix->bypass.has_value());
    ASSERT_TRUE(mix->mix.has_value());
    const float values[] = {0, 0, 0, 0, 0, 0, 0.3f};
    EXPECT_EQ(mix->mix->eval(ControlContext{values, 48000.0f, 120.0f}), 0.3f);
    EXPECT_EQ(mix->only, (std::vector<std::uint64_t>{0, 3}));

    const Graph gained = compiled(R"js({"parallel": [{"node": {"chain": []}, "gain_db": "-3 * 2"},
                                                    {"node": {"chain": []}}]})js");
    const ParallelNode* parallel = gained.root().as_parallel();
    ASSERT_NE(parallel, nullptr);
    ASSERT_TRUE(parallel->branches[0].gain_db.has_value());
    EXPECT_TRUE(parallel->branches[0].gain_db->is_const());
    EXPECT_EQ(parallel->branches[0].gain_db->value, -6.0f);
    EXPECT_FALSE(parallel->branches[1].gain_db.has_value());
}

TEST(GraphCompiler, ModulatorsAreSeededAndMayReadThemselves) {
    const Graph graph = compiled(R"js({"modulators": [
        {"id": "_lfo", "rate": "_lfo"}, {"id": "b", "shape": "random", "rate": 2}], "chain": []})js");
    ASSERT_EQ(graph.modulators().size(), 2u);
    const Modulator& first = graph.modulators()[0];
    EXPECT_FALSE(first.rate.is_const());
    EXPECT_EQ(first.rate.value, 1.0f);
    // 0x9E3779B9 with its lowest bit set, after one xorshift step.
    EXPECT_EQ(first.random, 0x510C4619u);
    EXPECT_EQ(first.held, -0.36681294f);
    EXPECT_EQ(first.phase, 0.0f);
    EXPECT_EQ(graph.modulators()[1].shape, Modulator::Shape::Random);
    EXPECT_EQ(graph.values().size(), 9u);
    for (float v : graph.values())
        EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(graph.sample_rate(), 48000.0f);
    EXPECT_EQ(graph.tempo(), 120.0f);
}

TEST(GraphCompiler, ReadingErrorsAreReturnedUnchanged) {
    Result<Graph> graph = Graph::from_str("{}", DELAY_NAMES);
    ASSERT_FALSE(graph.ok());
    EXPECT_EQ(graph.error(), "graph must have exactly one of block, chain or parallel");
}

}  // namespace
}  // namespace orba
