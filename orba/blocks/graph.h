#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "orba/blocks/block.h"
#include "orba/blocks/control_context.h"
#include "orba/blocks/expr.h"
#include "orba/blocks/frame.h"
#include "orba/blocks/spec.h"
#include "orba/core/param.h"
#include "orba/core/plugin.h"
#include "orba/core/result.h"

namespace orba::blocks::delay {
class Delay;
}

namespace orba {

// One compiled block argument (also a modulator rate, a bypass, a mix or a
// branch gain): a constant, or an expression that reads parameters,
// modulators, the sample rate or the tempo.
struct Arg {
    static constexpr std::uint32_t NO_SLOT = UINT32_MAX;

    std::unique_ptr<expr::Node> expr;  // empty for a constant
    float value = 0.0f;                // the constant, or the expression's start value
    // Set when the expression is nothing but a parameter or modulator name,
    // so a tick reads the value without walking the tree.
    std::uint32_t slot = NO_SLOT;

    static Arg constant(float v) { return Arg{nullptr, v}; }
    bool is_const() const { return expr == nullptr; }
    // The raw value at a control tick, before any normalising.
    float eval(const ControlContext& context) const {
        if (slot != NO_SLOT) return slot < context.values.size() ? context.values[slot] : 0.0f;
        return expr ? expr::eval(*expr, context) : value;
    }
};

// Not a number gives the default; otherwise limited to [min, max], and
// rounded half away from zero for an argument with choices.
inline float normalise(float value, const ArgInfo& info) {
    if (std::isnan(value)) return info.default_value;
    value = value < info.min ? info.min : value > info.max ? info.max : value;
    return info.choices.empty() ? value : std::round(value);
}

// A 32-sample linear ramp from one control target to the next.
struct Glide {
    float from = 1.0f;
    float to = 1.0f;
    bool primed = false;  // the first target after prepare is taken without a ramp

    void reset() { *this = Glide{}; }
    void retarget(float target) {
        from = primed ? to : target;
        primed = true;
        to = target;
    }
    bool steady() const { return from == to; }
};

// A low-frequency oscillator whose output is a control value.
struct Modulator {
    enum class Shape : std::uint8_t { Sine = 0, Triangle = 1, Saw = 2, Square = 3, Random = 4 };

    Arg rate;                  // cycles per second
    float phase = 0.0f;        // [0, 1)
    float held = 0.0f;         // the random shape's current value
    std::uint32_t random = 0;  // xorshift state
    Shape shape = Shape::Sine;

    // Back to phase 0 and the k-th seed, as at construction.
    void reset(std::size_t k);
    // One control tick: returns the output for the current phase, then moves on.
    float advance(const ControlContext& context);
};

struct Node;
struct Branch;
struct MixNode;

struct BlockNode {
    const BlockInfo* info = nullptr;
    std::unique_ptr<Block> block;
    std::vector<Arg> args;            // one per ArgInfo, in order
    std::vector<float> values;        // normalised, as last handed to control
    std::vector<std::size_t> moving;  // indices of the expression arguments
    std::vector<std::pair<std::size_t, std::size_t>> meters;  // (meter index, parameter index)
};

struct ChainNode {
    std::vector<Node> nodes;
};

struct ParallelNode {
    std::vector<Branch> branches;
    Frame input;    // the node's input, kept for every branch after the first
    Frame scratch;  // the middle branches' working frame
};

// One compiled graph node.
struct Node {
    using Kind = std::variant<BlockNode, ChainNode, ParallelNode, std::unique_ptr<MixNode>>;
    Kind kind;

    const BlockNode* as_block() const { return std::get_if<BlockNode>(&kind); }
    const ChainNode* as_chain() const { return std::get_if<ChainNode>(&kind); }
    const ParallelNode* as_parallel() const { return std::get_if<ParallelNode>(&kind); }
    const MixNode* as_mix() const {
        auto* mix = std::get_if<std::unique_ptr<MixNode>>(&kind);
        return mix ? mix->get() : nullptr;
    }

    // Control and processing run from the graph's flattened step lists
    // (ControlStep, ProcessStep), not from the tree.
    void prepare(std::size_t channels, float sample_rate);
    std::uint32_t latency() const;
    std::uint32_t tail(const ControlContext& context) const;
};

// Equal-length delay rings, one per channel, that line a fast path up with the
// slowest one.
struct Compensation {
    std::vector<float> ring;  // channels * length samples
    std::size_t length = 0;
    std::size_t write = 0;

    void reset(std::size_t channels, std::size_t samples);
    // Delays `frames` samples of each channel of `frame` by `length`.
    void run(Frame& frame, std::size_t frames);
};

struct Branch {
    Node node;
    std::optional<Arg> gain_db;
    Compensation lines;
    Glide gain;
};

// A node under dry/wet control.
struct MixNode {
    Node inner;
    std::optional<Arg> bypass;
    std::optional<Arg> mix;
    std::optional<std::vector<std::uint64_t>> only;
    Frame dry;
    Compensation lines;
    Glide amount;
    std::vector<std::uint8_t> wet;  // per prepared channel: whether `only` lets it through
};

// One step of a graph's control tick, the tree flattened depth first with a
// node's children before the node itself: a block's arguments and control, a
// branch's gain after its node, a mix's amount after its inner node. Exactly
// one pointer is set.
struct ControlStep {
    BlockNode* block = nullptr;
    Branch* branch = nullptr;
    MixNode* mix = nullptr;
};

// One step of a slice, the tree flattened in the order its audio flows.
// A frame pointer left empty stands for the graph's own working frame.
struct ProcessStep {
    enum class Op : std::uint8_t {
        Block,   // the block's process on `frame`
        Split,   // a parallel node of several branches keeps its input
        Fork,    // a middle branch starts on a copy of the kept input
        Join,    // branch `index` ends on `work` and adds into `frame`
        DryIn,   // a mix keeps its dry signal; `index` is its Blend step
        Blend,   // a mix crossfades `frame` with the dry signal
        Read,    // a delay's reads on `frame`, its recursions left to Settle
        Settle,  // the recursions the delays left, side by side, at the slice's end
    };
    Op op = Op::Block;
    std::uint32_t index = 0;
    Frame* frame = nullptr;
    Frame* work = nullptr;
    Block* block = nullptr;
    ParallelNode* parallel = nullptr;
    MixNode* mix = nullptr;
};

// One compilation: the names expressions may read.
struct Compiler {
    std::span<const std::string_view> params;
    std::vector<std::string> modulators;
    std::span<const BlockInfo* const> blocks;  // the registry, or a test's own list

    // Parses an expression; names resolve to a parameter first, then to a
    // modulator (exact, case-sensitive).
    Result<std::unique_ptr<expr::Node>> parse(std::string_view text) const;
    // "a, b, c": the parameter names, then the modulator names.
    std::string names() const;
};

Result<Node> compile_node(const NodeSpec& spec, const Compiler& compiler, std::string_view path);
Result<Arg> compile_arg(const ArgValue& value, const ArgInfo& info, const Compiler& compiler,
                        std::string_view label);

// The shortest text that reads back as the same f32, without exponent or a
// trailing ".0": "0.1", "4000", "-96", "inf", "-inf", "NaN".
std::string format_f32(float value);

// A compiled block graph, ready to prepare and run.
class Graph {
  public:
    static Result<Graph> from_str(std::string_view text, std::span<const std::string_view> params);
    static Result<Graph> from_spec(const GraphSpec& spec, std::span<const std::string_view> params);
    // As above with another block list in place of the registry.
    static Result<Graph> from_spec(const GraphSpec& spec, std::span<const std::string_view> params,
                                   std::span<const BlockInfo* const> blocks);

    void prepare(const ProcessSetup& setup);
    // Real time. Runs the shortest of the first `channels` buffers; buffers
    // beyond the prepared channels are left as they are.
    void process(ParamSet& params, Buffers buffers, const ProcessContext& context);
    std::uint32_t latency_samples() const;
    // For the parameter values in force now. Real time: the wrappers ask after
    // every block.
    std::uint32_t tail_for(const ParamSet& params) const;

    const Node& root() const { return *root_; }
    std::span<const Modulator> modulators() const { return modulators_; }
    std::span<const float> values() const { return values_; }
    std::size_t param_count() const { return param_count_; }
    std::size_t channels() const { return channels_; }
    float sample_rate() const { return sample_rate_; }
    float tempo() const { return tempo_; }

  private:
    Graph(Node root, std::vector<Modulator> modulators, std::size_t param_count);
    void tick(const ParamSet& params);
    void run_slice();
    void write_meters(ParamSet& params) const;

    std::vector<Modulator> modulators_;
    std::vector<float> values_;
    Frame frame_;
    // On the heap, so the steps below keep pointing into it when the graph moves.
    std::unique_ptr<Node> root_;
    std::vector<ControlStep> controls_;
    std::vector<ProcessStep> steps_;
    // The delays of the Read steps, which the Settle step finishes.
    std::vector<blocks::delay::Delay*> ahead_;
    // The blocks with meter bindings, in tree order: most graphs have none,
    // and then a block ends without a walk over the tree.
    std::vector<const BlockNode*> metered_;
    std::size_t param_count_ = 0;
    std::size_t channels_ = 1;
    std::size_t phase_ = 0;
    float sample_rate_ = 48000.0f;
    float tempo_ = 120.0f;
    // What the last control tick evaluated against. Expressions are pure, so
    // when nothing moved they are not evaluated again.
    std::vector<float> seen_;
    float seen_tempo_ = 0.0f;
    bool stale_ = true;
    // tail_for's copy of `values_` with the live parameters written over it,
    // sized with the table so asking for the tail never allocates.
    mutable std::vector<float> tail_values_;
};

}  // namespace orba
