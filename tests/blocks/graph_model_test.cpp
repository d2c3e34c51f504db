#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "orba/blocks/blocks.h"
#include "orba/blocks/expr.h"
#include "orba/blocks/graph.h"
#include "orba/blocks/spec.h"
#include "orba/core/charconv.h"

namespace orba {
namespace {

// y_c[n] = scale * x_c[n - samples] + pick / 8 + cross * x_(c+1)[n]: a latency,
// a choice whose rounding shows in the output and a path from one channel into
// the next. Its tail reads every argument, so a wrongly normalised one shows.
constexpr std::string_view PICKS[] = {"low", "middle", "high"};
constexpr ArgInfo TAP_ARGS[] = {
    {"samples", "", {}, "", 0.0f, 64.0f, 0.0f, true},
    {"scale", "", {}, "", -4.0f, 4.0f, 1.0f, false},
    {"pick", "", PICKS, "", 0.0f, 2.0f, 0.0f, false},
    {"cross", "", {}, "", 0.0f, 1.0f, 0.0f, false},
};

class Tap final : public Block {
  public:
    void configure(std::span<const float> args) override {
        samples_ = static_cast<std::size_t>(args[0]);
    }
    void prepare(std::size_t channels, float) override {
        lines_.assign(channels, std::vector<float>(samples_ + 1, 0.0f));
        input_.resize(channels);
        write_ = 0;
    }
    void control(std::span<const float> args) override {
        scale_ = args[1];
        pick_ = args[2];
        cross_ = args[3];
    }
    void process(Frame& frame, std::size_t) override {
        for (std::size_t c = 0; c < frame.channels; ++c)
            input_.data[c] = frame.data[c];
        for (std::size_t c = 0; c < frame.channels; ++c) {
            float* x = frame.channel(c);
            const float* next = input_.channel((c + 1) % frame.channels);
            for (std::size_t j = 0; j < frame.frames; ++j) {
                const std::size_t at = (write_ + j) % (samples_ + 1);
                lines_[c][at] = x[j];
                const float late = lines_[c][(at + 1) % (samples_ + 1)];
                x[j] = scale_ * late + pick_ * 0.125f + cross_ * next[j];
            }
        }
        write_ = (write_ + frame.frames) % (samples_ + 1);
    }
    std::uint32_t latency() const override { return static_cast<std::uint32_t>(samples_); }
    std::uint32_t tail(std::span<const float> args, float) const override {
        return static_cast<std::uint32_t>(args[0] + 1000.0f * std::fabs(args[1]) + 7.0f * args[2] +
                                          100.0f * args[3]);
    }

  private:
    std::vector<std::vector<float>> lines_;
    Frame input_;
    std::size_t samples_ = 0;
    std::size_t write_ = 0;
    float scale_ = 1.0f;
    float pick_ = 0.0f;
    float cross_ = 0.0f;
};

constexpr BlockInfo TAP{"tap", "", TAP_ARGS, {}, [] { return std::unique_ptr<Block>(new Tap); }};

std::vector<const BlockInfo*> test_blocks() {
    std::vector<const BlockInfo*> list(blocks::all().begin(), blocks::all().end());
    list.push_back(&TAP);
    return list;
}

// The graph reads six names; the set holds only five, so "f" stays 0.
constexpr std::string_view NAMES[] = {"a", "b", "c", "d", "e", "f"};
constexpr ParamInfo PARAMS[] = {
    {.id = "a", .min = -2.0f, .max = 2.0f}, {.id = "b", .min = -2.0f, .max = 2.0f},
    {.id = "c", .min = -2.0f, .max = 2.0f}, {.id = "d", .min = -2.0f, .max = 2.0f},
    {.id = "e", .min = -2.0f, .max = 2.0f},
};

// The runtime written out plainly from its rules: every glide weight, delay
// line, branch sum and crossfade is worked out sample by sample, without fast
// paths or caches. Blocks and expressions are the real ones, pinned by their
// own tests.
namespace model {

float normalised(float value, const ArgInfo& row) {
    if (std::isnan(value)) return row.default_value;
    value = std::min(std::max(value, row.min), row.max);
    return row.choices.empty() ? value : std::round(value);
}

std::uint32_t xorshift(std::uint32_t x) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

struct Arg {
    float constant = 0.0f;
    std::unique_ptr<expr::Node> tree;

    float eval(const ControlContext& context) const {
        return tree ? expr::eval(*tree, context) : constant;
    }
    // What configure sees: a constant, or the default for a moving expression.
    float compiled(float default_value) const {
        if (!tree) return constant;
        if (!expr::is_const(*tree)) return default_value;
        return expr::eval(*tree, ControlContext{{}, 48000.0f, 120.0f});
    }
};

bool same_letters(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

struct Names {
    std::span<const std::string_view> params;
    std::vector<std::string> modulators;

    Arg arg(const ArgValue& value, std::span<const std::string_view> choices = {}) const {
        if (value.is_number()) return Arg{static_cast<float>(value.number), nullptr};
        std::string_view text = value.text;
        const auto space = text.find_first_not_of(" \t\n\r");
        text = space == std::string_view::npos ? "" : text.substr(space);
        text = text.substr(0, text.find_last_not_of(" \t\n\r") + 1);
        for (std::size_t i = 0; i < choices.size(); ++i) {
            if (same_letters(text, choices[i])) return Arg{static_cast<float>(i), nullptr};
        }
        Result<expr::Node> tree = expr::Expr::parse(
            value.text, [this](std::string_view name) -> std::optional<std::uint32_t> {
                for (std::size_t i = 0; i < params.size(); ++i)
                    if (params[i] == name) return static_cast<std::uint32_t>(i);
                for (std::size_t k = 0; k < modulators.size(); ++k)
                    if (modulators[k] == name) return static_cast<std::uint32_t>(params.size() + k);
                return std::nullopt;
            });
        if (!tree) {
            ADD_FAILURE() << value.text << ": " << tree.error();
            return Arg{};
        }
        return Arg{0.0f, std::make_unique<expr::Node>(std::move(*tree))};
    }
};

// A first-in first-out line per channel that starts out silent: what goes in
// comes out `length` samples later.
struct Line {
    std::vector<std::deque<float>> fifo;

    void reset(std::size_t channels, std::size_t length) {
        fifo.assign(channels, std::deque<float>(length, 0.0f));
    }
    float pass(std::size_t c, float x) {
        fifo[c].push_back(x);
        const float y = fifo[c].front();
        fifo[c].pop_front();
        return y;
    }
};

struct Ramp {
    float from = 1.0f;
    float to = 1.0f;
    bool set = false;

    void target(float value) {
        from = set ? to : value;
        to = value;
        set = true;
    }
    // Position k of the control period.
    float at(std::size_t k) const { return from + static_cast<float>(k + 1) / 32.0f * (to - from); }
};

struct Node {
    enum class Kind { Block, Chain, Parallel, Mix } kind = Kind::Chain;
    const BlockInfo* info = nullptr;
    std::unique_ptr<orba::Block> block;
    std::vector<Arg> args;
    std::vector<Node> nodes;  // chain children, branch nodes, or a mix's inner node
    std::vector<std::optional<Arg>> gains;
    std::vector<Line> lines;  // one per branch, or a mix's dry line
    std::vector<Ramp> ramps;  // one per branch, or a mix's amount
    std::optional<Arg> bypass;
    std::optional<Arg> mix;
    std::optional<std::vector<std::uint64_t>> only;
};

Node compile(const NodeSpec& spec, const Names& names, std::span<const BlockInfo* const> list) {
    Node node;
    if (const NodeSpec::Block* b = spec.as_block()) {
        node.kind = Node::Kind::Block;
        for (const BlockInfo* info : list)
            if (info->name == b->block) node.info = info;
        std::vector<float> configured;
        for (const ArgInfo& row : node.info->args) {
            auto given = std::find_if(b->args.begin(), b->args.end(),
                                      [&](const auto& pair) { return pair.first == row.name; });
            node.args.push_back(given == b->args.end() ? Arg{row.default_value, nullptr}
                                                       : names.arg(given->second, row.choices));
            configured.push_back(node.args.back().compiled(row.default_value));
        }
        node.block = node.info->make();
        node.block->configure(configured);
    } else if (const NodeSpec::Chain* chain = spec.as_chain()) {
        for (const NodeSpec& child : chain->nodes)
            node.nodes.push_back(compile(child, names, list));
    } else {
        node.kind = Node::Kind::Parallel;
        for (const BranchSpec& branch : spec.as_parallel()->branches) {
            node.nodes.push_back(compile(branch.node, names, list));
            node.gains.push_back(branch.gain_db ? std::optional(names.arg(*branch.gain_db))
                                                : std::nullopt);
        }
        node.lines.resize(node.nodes.size());
        node.ramps.resize(node.nodes.size());
    }
    if (!spec.bypass && !spec.mix && !spec.only) return node;
    Node wrap;
    wrap.kind = Node::Kind::Mix;
    wrap.nodes.push_back(std::move(node));
    if (spec.bypass) wrap.bypass = names.arg(*spec.bypass);
    if (spec.mix) wrap.mix = names.arg(*spec.mix);
    wrap.only = spec.only;
    wrap.lines.resize(1);
    wrap.ramps.resize(1);
    return wrap;
}

// Chains add up, parallel nodes take their largest branch, a mix its inner
// node; `leaf` measures a block.
template <class Leaf>
std::uint32_t measure(const Node& node, const Leaf& leaf) {
    if (node.kind == Node::Kind::Block) return leaf(node);
    std::uint64_t total = 0;
    for (const Node& child : node.nodes) {
        const std::uint64_t value = measure(child, leaf);
        total = node.kind == Node::Kind::Chain ? total + value : std::max(total, value);
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(total, UINT32_MAX));
}

std::uint32_t latency(const Node& node) {
    return measure(node, [](const Node& block) { return block.block->latency(); });
}

std::uint32_t tail(const Node& node, const ControlContext& context) {
    return measure(node, [&](const Node& block) {
        std::vector<float> values;
        for (std::size_t i = 0; i < block.args.size() && i < 32; ++i)
            values.push_back(normalised(block.args[i].eval(context), block.info->args[i]));
        return block.block->tail(values, context.sample_rate);
    });
}

void prepare(Node& node, std::size_t channels, float sample_rate) {
    if (node.kind == Node::Kind::Block) node.block->prepare(channels, sample_rate);
    for (Node& child : node.nodes)
        prepare(child, channels, sample_rate);
    // A branch waits for the slowest branch; a dry path for the inner node.
    const std::uint32_t slowest = latency(node);
    for (std::size_t i = 0; i < node.lines.size(); ++i) {
        const bool mix = node.kind == Node::Kind::Mix;
        node.lines[i].reset(channels, mix ? slowest : slowest - latency(node.nodes[i]));
        node.ramps[i] = Ramp{};
    }
}

void control(Node& node, const ControlContext& context) {
    if (node.kind == Node::Kind::Block) {
        std::vector<float> values;
        for (std::size_t i = 0; i < node.args.size(); ++i)
            values.push_back(normalised(node.args[i].eval(context), node.info->args[i]));
        node.block->control(values);
        return;
    }
    for (std::size_t i = 0; i < node.nodes.size(); ++i) {
        control(node.nodes[i], context);
        if (node.kind != Node::Kind::Parallel) continue;
        float target = 1.0f;
        if (node.gains[i]) {
            const float g = std::min(std::max(node.gains[i]->eval(context), -96.0f), 48.0f);
            target = std::exp(g * 0.115129247f);
            if (!std::isfinite(target)) target = 1.0f;
        }
        node.ramps[i].target(target);
    }
    if (node.kind != Node::Kind::Mix) return;
    float target = 1.0f;
    if (node.mix) {
        const float m = node.mix->eval(context);
        target = std::isnan(m) || std::isinf(m) || m > 1.0f ? 1.0f : m < 0.0f ? 0.0f : m;
    }
    if (node.bypass && !(node.bypass->eval(context) < 0.5f)) target = 0.0f;
    node.ramps[0].target(target);
}

void process(Node& node, Frame& frame, std::size_t phase) {
    const std::size_t frames = frame.frames;
    switch (node.kind) {
        case Node::Kind::Block:
            node.block->process(frame, phase);
            return;
        case Node::Kind::Chain:
            for (Node& child : node.nodes)
                process(child, frame, phase);
            return;
        case Node::Kind::Parallel: {
            const Frame input = frame;
            for (auto& channel : frame.data)
                channel.fill(0.0f);
            for (std::size_t i = 0; i < node.nodes.size(); ++i) {
                Frame branch = input;
                process(node.nodes[i], branch, phase);
                for (std::size_t c = 0; c < frame.channels; ++c) {
                    for (std::size_t j = 0; j < frames; ++j) {
                        const float late = node.lines[i].pass(c, branch.channel(c)[j]);
                        frame.channel(c)[j] =
                            frame.channel(c)[j] + late * node.ramps[i].at(phase + j);
                    }
                }
            }
            return;
        }
        case Node::Kind::Mix: {
            const Ramp& amount = node.ramps[0];
            if (amount.from == 1.0f && amount.to == 1.0f && !node.only) {
                process(node.nodes[0], frame, phase);
                return;
            }
            Frame dry = frame;
            for (std::size_t c = 0; c < dry.channels; ++c) {
                for (std::size_t j = 0; j < frames; ++j)
                    dry.channel(c)[j] = node.lines[0].pass(c, dry.channel(c)[j]);
            }
            if (amount.from > 0.0f || amount.to > 0.0f) process(node.nodes[0], frame, phase);
            for (std::size_t c = 0; c < frame.channels; ++c) {
                const bool wet = !node.only || std::count(node.only->begin(), node.only->end(), c);
                for (std::size_t j = 0; j < frames; ++j) {
                    const float w = wet ? amount.at(phase + j) : 0.0f;
                    const float d = dry.channel(c)[j];
                    frame.channel(c)[j] = d + w * (frame.channel(c)[j] - d);
                }
            }
            return;
        }
    }
}

struct Modulator {
    Arg rate;
    std::string shape;
    float phase = 0.0f;
    float held = 0.0f;
    std::uint32_t state = 0;

    void reset(std::uint32_t k) {
        phase = 0.0f;
        state = xorshift(((k + 1) * 0x9E3779B9u) | 1u);
        held = 2.0f * static_cast<float>(state) / 4294967296.0f - 1.0f;
    }
    float advance(const ControlContext& context) {
        float r = rate.eval(context);
        r = std::isnan(r) ? 1.0f : std::min(std::max(r, 0.001f), 200.0f);
        const float increment = r * 32.0f / context.sample_rate;
        const float t = phase;
        float out = held;
        if (shape == "sine") out = std::sin(6.2831855f * t);
        if (shape == "triangle") out = 1.0f - 4.0f * std::fabs(t - 0.5f);
        if (shape == "saw") out = 2.0f * t - 1.0f;
        if (shape == "square") out = t < 0.5f ? 1.0f : -1.0f;
        if (shape == "random" && t + increment >= 1.0f) {
            state = xorshift(state);
            held = 2.0f * static_cast<float>(state) / 4294967296.0f - 1.0f;
        }
        phase = (t + increment) - std::floor(t + increment);
        return out;
    }
};

using Audio = std::vector<std::vector<float>>;

class Graph {
  public:
    Graph(const GraphSpec& spec, std::span<const BlockInfo* const> list) {
        Names names{NAMES, {}};
        for (const ModSpec& mod : spec.modulators)
            names.modulators.push_back(mod.id);
        for (const ModSpec& mod : spec.modulators)
            modulators_.push_back(Modulator{names.arg(mod.rate), mod.shape});
        root_ = compile(spec.root, names, list);
        values.assign(std::size(NAMES) + modulators_.size(), 0.0f);
    }

    void prepare(const ProcessSetup& setup) {
        sample_rate_ = setup.sample_rate >= 8000.0f ? setup.sample_rate : 8000.0f;
        channels_ = setup.channels == 0 ? 1 : setup.channels;
        frame_.resize(channels_);
        phase_ = 0;
        for (std::uint32_t k = 0; k < modulators_.size(); ++k)
            modulators_[k].reset(k);
        model::prepare(root_, channels_, sample_rate_);
    }

    void process(const ParamSet& params, Audio& audio, const ProcessContext& context) {
        const std::size_t active = std::min(channels_, audio.size());
        if (active == 0) return;
        tempo_ = 120.0f;
        if (context.tempo) {
            const float t = static_cast<float>(*context.tempo);
            if (t >= 20.0f && std::isfinite(t)) tempo_ = t;
        }
        const std::size_t frames = audio[0].size();
        for (std::size_t index = 0; index < frames;) {
            const std::size_t length = std::min(frames - index, 32 - phase_);
            if (phase_ == 0) {
                for (std::size_t i = 0; i < params.size() && i < std::size(NAMES); ++i)
                    values[i] = params.at(i).get();
                // Each modulator's rate sees the outputs stored before it.
                const ControlContext tick{values, sample_rate_, tempo_};
                for (std::size_t k = 0; k < modulators_.size(); ++k)
                    values[std::size(NAMES) + k] = modulators_[k].advance(tick);
                control(root_, tick);
            }
            for (std::size_t c = 0; c < channels_; ++c) {
                for (std::size_t j = 0; j < length; ++j)
                    frame_.channel(c)[j] = c < active ? audio[c][index + j] : 0.0f;
            }
            frame_.frames = length;
            model::process(root_, frame_, phase_);
            for (std::size_t c = 0; c < active; ++c) {
                for (std::size_t j = 0; j < length; ++j) {
                    const float y = frame_.channel(c)[j];
                    audio[c][index + j] = std::fabs(y) < 1e-30f ? 0.0f : y;
                }
            }
            phase_ = (phase_ + length) % 32;
            index += length;
        }
    }

    std::uint32_t latency() const { return model::latency(root_); }
    std::uint32_t tail(const ParamSet& params) const {
        std::vector<float> now = values;
        for (std::size_t i = 0; i < params.size() && i < std::size(NAMES); ++i)
            now[i] = params.at(i).get();
        return model::tail(root_, ControlContext{now, sample_rate_, tempo_});
    }

    std::vector<float> values;

  private:
    std::vector<Modulator> modulators_;
    Node root_;
    Frame frame_;
    std::size_t channels_ = 1;
    std::size_t phase_ = 0;
    float sample_rate_ = 48000.0f;
    float tempo_ = 120.0f;
};

}  // namespace model

using model::Audio;

// A graph and its model, driven side by side and compared after every host
// block: each output sample, the control values, latency and tail.
class Twin {
  public:
    explicit Twin(std::string text) : text_(std::move(text)) {
        params_ = std::move(ParamSet::with_channels(PARAMS, 1)).value();
        Result<GraphSpec> spec = spec::from_str(text_);
        if (!spec) {
            ADD_FAILURE() << text_ << ": " << spec.error();
            std::abort();
        }
        Result<Graph> graph = Graph::from_spec(*spec, NAMES, blocks_);
        if (!graph) {
            ADD_FAILURE() << text_ << ": " << graph.error();
            std::abort();
        }
        graph_ = std::make_unique<Graph>(std::move(*graph));
        model_ = std::make_unique<model::Graph>(*spec, blocks_);
    }

    void prepare(float sample_rate, std::uint32_t channels) {
        const ProcessSetup setup{
            .max_frames = 512, .sample_rate = sample_rate, .channels = channels};
        graph_->prepare(setup);
        model_->prepare(setup);
        check_latency_and_tail();
    }
    void set(std::size_t param, float value) { params_->at(param).set(value); }

    // One host block through both; returns the graph's output.
    Audio run(Audio audio, const ProcessContext& context = {}) {
        Audio expected = audio;
        std::vector<std::span<float>> buffers(audio.begin(), audio.end());
        graph_->process(*params_, buffers, context);
        model_->process(*params_, expected, context);
        ++block_;
        for (std::size_t c = 0; c < audio.size() && !failed; ++c) {
            for (std::size_t i = 0; i < audio[c].size() && !failed; ++i) {
                if (std::bit_cast<std::uint32_t>(audio[c][i]) !=
                    std::bit_cast<std::uint32_t>(expected[c][i])) {
                    std::ostringstream what;
                    what.precision(9);
                    what << "channel " << c << " sample " << i << " is " << audio[c][i]
                         << " where the model gives " << expected[c][i];
                    report(what.str());
                }
            }
        }
        const auto values = graph_->values();
        if (!failed && !std::equal(values.begin(), values.end(), model_->values.begin(),
                                   model_->values.end(), [](float x, float y) {
                                       return std::bit_cast<std::uint32_t>(x) ==
                                              std::bit_cast<std::uint32_t>(y);
                                   })) {
            report("the control values differ");
        }
        check_latency_and_tail();
        return audio;
    }

    const Graph& graph() const { return *graph_; }
    std::uint32_t tail() const { return graph_->tail_for(*params_); }
    bool failed = false;

  private:
    void check_latency_and_tail() {
        if (failed) return;
        if (graph_->latency_samples() != model_->latency()) report("the latency differs");
        if (graph_->tail_for(*params_) != model_->tail(*params_)) report("the tail differs");
    }
    void report(const std::string& what) {
        failed = true;
        ADD_FAILURE() << text_ << "\nhost block " << block_ << ": " << what;
    }

    std::string text_;
    std::vector<const BlockInfo*> blocks_ = test_blocks();
    std::shared_ptr<ParamSet> params_;
    std::unique_ptr<Graph> graph_;
    std::unique_ptr<model::Graph> model_;
    std::size_t block_ = 0;
};

// Seeded random graph text: chains, parallels of 1 to 4 branches, nodes with
// mix, bypass and only, every modulator shape, and arguments written as
// numbers, choice names or expressions that stray out of range and into NaN.
class Maker {
  public:
    explicit Maker(unsigned seed) : random_(seed) {}

    std::string graph() {
        modulators_ = below(5);
        std::string mods;
        const char* shapes[] = {"sine", "triangle", "saw", "square", "random"};
        for (std::size_t k = 0; k < modulators_; ++k) {
            mods += (k ? ", " : "") + std::string(R"({"id": "m)") + std::to_string(k) + '"';
            if (chance(0.9)) mods += R"(, "shape": ")" + std::string(shapes[below(5)]) + '"';
            if (chance(0.9)) mods += R"(, "rate": )" + value(0.001f, 200.0f);
            mods += "}";
        }
        return R"({"modulators": [)" + mods + "], " + node(0) + "}";
    }

    bool chance(double p) { return std::bernoulli_distribution(p)(random_); }
    std::size_t below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
    }
    float uniform(float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(random_);
    }

  private:
    static std::string number(float v) {
        char text[32];
        return std::string(text, orba::to_chars(text, text + sizeof text, v).ptr);
    }
    // What expressions read: parameters (f is never set), modulators, the
    // tempo and the sample rate.
    std::string source() {
        const std::size_t pick = below(9 + modulators_);
        if (pick < 6) return std::string(NAMES[pick]);
        if (pick == 6) return "bpm / 120";
        if (pick == 7) return "rate / 48000";
        if (pick == 8) return "sin(a * 7 + b)";
        return "m" + std::to_string(pick - 9);
    }
    // A number in [lo, hi], or an expression over about that span.
    std::string value(float lo, float hi) {
        const float c = uniform(lo, hi);
        switch (below(12)) {
            case 0:
            case 1:
            case 2:
                return number(c);
            case 3:
                return "\"if(" + source() + " > 0.5, pow(-1, 0.5), " + number(c) + ")\"";
            case 4:
                return "\"exp(100 * " + source() + ")\"";
            case 5:
                return "\"-exp(100 * " + source() + ")\"";
            default:
                return '"' + number(c) + " + " + number(uniform(-0.7f, 0.7f) * (hi - lo)) + " * " +
                       source() + '"';
        }
    }
    std::string block() {
        const auto list = blocks::all().first(9);  // the blocks that stand alone
        const BlockInfo& info = chance(0.5) ? TAP : *list[below(list.size())];
        std::string args;
        for (const ArgInfo& row : info.args) {
            if (chance(row.constant ? 0.4 : 0.15)) continue;
            std::string v;
            if (row.constant) {
                const float u = uniform(0.0f, 1.0f);
                v = number(std::min(row.min + u * u * u * (row.max - row.min), row.max));
            } else if (!row.choices.empty() && chance(0.2)) {
                std::string name(row.choices[below(row.choices.size())]);
                for (char& ch : name)
                    if (chance(0.5))
                        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                v = R"(" )" + name + R"(  ")";
            } else {
                v = value(row.min, row.max);
            }
            args += (args.empty() ? "" : ", ") + ('"' + std::string(row.name) + R"(": )") + v;
        }
        return R"("block": ")" + std::string(info.name) + R"(", "args": {)" + args + "}";
    }
    std::string node(int depth) {
        const std::size_t kind = depth >= 3 ? 0 : below(10);
        std::string body;
        if (kind < 4) {
            body = block();
        } else if (kind < 6) {
            for (std::size_t i = below(4); i > 0; --i)
                body += (body.empty() ? "{" : ", {") + node(depth + 1) + "}";
            body = R"("chain": [)" + body + "]";
        } else {
            for (std::size_t i = below(4) + 1; i > 0; --i) {
                body +=
                    (body.empty() ? R"({"node": {)" : R"(, {"node": {)") + node(depth + 1) + "}";
                if (chance(0.7)) body += R"(, "gain_db": )" + value(-30.0f, 12.0f);
                body += "}";
            }
            body = R"("parallel": [)" + body + "]";
        }
        if (chance(0.3)) {
            if (chance(0.4)) body += R"(, "bypass": )" + value(0.0f, 1.0f);
            if (chance(0.7)) body += R"(, "mix": )" + value(0.0f, 1.0f);
            if (chance(0.3)) {
                std::string only;
                for (std::size_t c = 0; c < 4; ++c)
                    if (chance(0.5)) only += (only.empty() ? "" : ", ") + std::to_string(c);
                body += R"(, "only": [)" + only + "]";
            }
        }
        return body;
    }

    std::mt19937 random_;
    std::size_t modulators_ = 0;
};

Audio noise(Maker& maker, std::size_t channels, std::size_t frames) {
    Audio audio(channels, std::vector<float>(frames));
    const float odd[] = {0.0f, 1e-31f, -2e-30f, 1e-29f, 8.0f};
    for (auto& channel : audio) {
        for (float& x : channel)
            x = maker.chance(0.05) ? odd[maker.below(std::size(odd))] : maker.uniform(-1.0f, 1.0f);
    }
    return audio;
}

// Host blocks of any length, split at every control phase; parameters, tempo,
// channel count and sample rate change between them.
TEST(GraphModel, RandomGraphsRunAsTheirModelBitForBit) {
    const float rates[] = {4000.0f, 8000.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
    const double tempos[] = {
        120.0, 19.0, 20.0, 240.0, 97.3, std::numeric_limits<double>::infinity(), std::nan("")};
    for (unsigned seed = 1; seed <= 300; ++seed) {
        Maker maker(seed);
        Twin twin(maker.graph());
        for (std::size_t p = 0; p < std::size(PARAMS); ++p)
            twin.set(p, maker.uniform(-2.5f, 2.5f));
        std::uint32_t channels = static_cast<std::uint32_t>(maker.below(3) + 1);
        twin.prepare(rates[maker.below(std::size(rates))], channels);
        for (std::size_t done = 0; done < 1500 && !twin.failed;) {
            const std::size_t size[] = {0, 1, 31, 32, 33, 100, maker.below(80)};
            const std::size_t frames = size[maker.below(std::size(size))];
            std::size_t buffers = channels;
            if (maker.chance(0.15)) buffers = maker.below(channels + 2);
            ProcessContext context;
            if (maker.chance(0.9)) context.tempo = tempos[maker.below(std::size(tempos))];
            twin.run(noise(maker, buffers, frames), context);
            done += frames;
            if (maker.chance(0.4))
                twin.set(maker.below(std::size(PARAMS)), maker.uniform(-2.5f, 2.5f));
            if (maker.chance(0.02)) {
                channels = static_cast<std::uint32_t>(maker.below(3) + 1);
                twin.prepare(rates[maker.below(std::size(rates))], channels);
            }
        }
    }
}

// Samples that are not sums of a few powers of two, so a regrouped sum shows.
Audio signal(std::size_t channels, std::size_t frames) {
    Audio audio(channels, std::vector<float>(frames));
    for (std::size_t c = 0; c < channels; ++c) {
        for (std::size_t n = 0; n < frames; ++n)
            audio[c][n] = std::sin(0.37f * static_cast<float>(n + 1) + static_cast<float>(c));
    }
    return audio;
}

float db(float decibels) {
    return std::exp(decibels * 0.115129247f);
}

TEST(GraphModel, FourBranchesAreAlignedWeighedAndAddedInOrder) {
    Twin twin(R"js({"parallel": [
        {"node": {"chain": []}},
        {"node": {"block": "tap", "args": {"samples": 3, "scale": 2}}, "gain_db": -6},
        {"node": {"block": "tap", "args": {"samples": 7, "scale": -1}}, "gain_db": "a * 10"},
        {"node": {"block": "tap", "args": {"samples": 5, "scale": 0.75}}, "gain_db": 3}]})js");
    twin.set(0, 0.25f);
    twin.prepare(48000.0f, 2);
    EXPECT_EQ(twin.graph().latency_samples(), 7u);
    const Audio in = signal(2, 100);
    const Audio out = twin.run(in);
    for (std::size_t c = 0; c < 2; ++c) {
        for (std::size_t n = 0; n < 100; ++n) {
            const float x = n < 7 ? 0.0f : in[c][n - 7];
            float sum = 0.0f + x * 1.0f;
            sum = sum + 2.0f * x * db(-6.0f);
            sum = sum + -1.0f * x * db(2.5f);
            sum = sum + 0.75f * x * db(3.0f);
            EXPECT_EQ(out[c][n], sum) << c << " " << n;
        }
    }
}

TEST(GraphModel, TriangleSawAndSquareModulatorsFollowTheirPhase) {
    // 31.25 Hz at 8000 Hz moves the phase by 1/8 per control tick.
    Twin twin(R"js({"modulators": [{"id": "t", "shape": "triangle", "rate": 31.25},
        {"id": "s", "shape": "saw", "rate": 31.25}, {"id": "q", "shape": "square", "rate": 31.25}],
        "block": "tap", "args": {"scale": "t", "pick": "s + 1", "cross": "q"}})js");
    twin.prepare(8000.0f, 2);
    const float triangle[] = {-1.0f, -0.5f, 0.0f, 0.5f, 1.0f, 0.5f, 0.0f, -0.5f};
    const float saw[] = {-1.0f, -0.75f, -0.5f, -0.25f, 0.0f, 0.25f, 0.5f, 0.75f};
    const float square[] = {1.0f, 1.0f, 1.0f, 1.0f, -1.0f, -1.0f, -1.0f, -1.0f};
    for (std::size_t tick = 0; tick < 12 && !twin.failed; ++tick) {
        twin.run(signal(2, 32));
        const auto values = twin.graph().values();
        EXPECT_EQ(values[6], triangle[tick % 8]) << tick;
        EXPECT_EQ(values[7], saw[tick % 8]) << tick;
        EXPECT_EQ(values[8], square[tick % 8]) << tick;
    }
}

// The prepared channels without a buffer run on silence: whatever a block
// left in them must not leak into the next slice.
TEST(GraphModel, PreparedChannelsBeyondTheActiveOnesAreClearedForEverySlice) {
    Twin twin(R"js({"block": "tap", "args": {"cross": 1}})js");
    for (std::uint32_t prepared : {2u, 3u}) {
        twin.prepare(48000.0f, prepared);
        for (std::size_t block = 0; block < 3; ++block) {
            const Audio in = signal(prepared - 1, 45);
            const Audio out = twin.run(in);
            EXPECT_EQ(out.back(), in.back()) << prepared << " " << block;
        }
    }
}

TEST(GraphModel, AConstantChoiceIsRoundedBeforeTheBlockSeesIt) {
    Twin twin(R"js({"chain": [{"block": "tap", "args": {"pick": 0.5}},
        {"block": "tap", "args": {"pick": 1.4}}, {"block": "tap", "args": {"pick": 1.5}},
        {"block": "tap", "args": {"pick": 0.49}}]})js");
    twin.prepare(48000.0f, 1);
    const Audio out = twin.run(Audio(1, std::vector<float>(40, 0.0f)));
    EXPECT_EQ(out[0], std::vector<float>(40, 0.5f));
    EXPECT_EQ(twin.tail(), 4000u + 7u * (1 + 1 + 2 + 0));
}

// A bypass of 0.5 or more, or one that is not a number, leaves the node dry
// from the first sample; below 0.5 the node runs fully wet.
TEST(GraphModel, ABypassThatIsNotANumberCountsAsBypassed) {
    const std::pair<const char*, float> cases[] = {
        {"pow(a - 3, 0.5)", 1.0f}, {"a - 3", 3.0f}, {"0.5", 1.0f}, {"0.49", 3.0f}};
    for (const auto& [bypass, factor] : cases) {
        Twin twin(std::string(R"js({"block": "tap", "args": {"scale": 3}, "bypass": ")js") +
                  bypass + "\"}");
        twin.prepare(48000.0f, 1);
        const Audio in = signal(1, 40);
        const Audio out = twin.run(in);
        for (std::size_t n = 0; n < 40; ++n)
            EXPECT_EQ(out[0][n], factor * in[0][n]) << bypass << " " << n;
    }
}

// After every prepare the first targets hold from the first sample; nothing
// glides from the prepared 1 or from before the prepare.
TEST(GraphModel, TheFirstControlAfterPrepareDoesNotGlide) {
    Twin twin(R"js({"mix": "b", "parallel": [
        {"node": {"block": "tap", "args": {"scale": 3}}, "gain_db": "a * 10"}]})js");
    const std::pair<float, float> settings[] = {{0.25f, 0.25f}, {-0.5f, 0.75f}};
    for (const auto& [a, b] : settings) {
        twin.set(0, a);
        twin.set(1, b);
        twin.prepare(48000.0f, 1);
        const Audio in = signal(1, 40);
        const Audio out = twin.run(in);
        for (std::size_t n = 0; n < 40; ++n) {
            const float x = in[0][n];
            EXPECT_EQ(out[0][n], x + b * (3.0f * x * db(a * 10.0f) - x)) << a << " " << n;
        }
    }
}

// Host blocks that start in the middle of a control period glide on from
// where the period stands, not from its start.
TEST(GraphModel, TheMixGlideFollowsThePhaseOfEachSlice) {
    Twin twin(R"js({"mix": "b", "block": "tap", "args": {"scale": 3}})js");
    twin.set(1, 1.0f);
    twin.prepare(48000.0f, 1);
    twin.run(signal(1, 32));
    twin.set(1, 0.0f);
    const Audio in = signal(1, 64);
    Audio out(1);
    std::size_t done = 0;
    for (std::size_t frames : {5, 11, 16, 9, 23}) {
        Audio part(1, std::vector<float>(in[0].begin() + done, in[0].begin() + done + frames));
        part = twin.run(part);
        out[0].insert(out[0].end(), part[0].begin(), part[0].end());
        done += frames;
        if (done == 32) twin.set(1, 0.5f);
    }
    for (std::size_t n = 0; n < 64; ++n) {
        const float from = n < 32 ? 1.0f : 0.0f;
        const float to = n < 32 ? 0.0f : 0.5f;
        const float w = from + static_cast<float>(n % 32 + 1) / 32.0f * (to - from);
        const float x = in[0][n];
        EXPECT_EQ(out[0][n], x + w * (3.0f * x - x)) << n;
    }
}

// Delays near one slice long, side by side and in series, gliding, modulated
// and in ping-pong: the runtime reads some slices ahead and settles them
// together, runs others whole, and must give the model's bits either way. At
// 32000 Hz a millisecond is 32 samples, so "a" sets 31, 32, 33 or 34.
TEST(GraphModel, DelaysAroundOneSliceLongMatchTheModelGroupedOrNot) {
    Twin twin(R"js({"parallel": [
        {"node": {"block": "delay", "args": {"time_ms": "1 + a / 32", "feedback": 0.9,
            "mode": "b", "max_ms": 10}}},
        {"node": {"chain": [
            {"block": "delay", "args": {"time_ms": "1 + c / 32", "mod_depth_ms": "d / 16",
                "mod_rate_hz": 9, "feedback": 0.6, "max_ms": 10}},
            {"block": "delay", "args": {"time_ms": "1 + a / 32", "feedback": 0.7,
                "damp_hz": 3000, "mode": "b", "max_ms": 10}}]}}]})js");
    std::mt19937 random(25);
    const auto pick = [&](std::initializer_list<float> values) {
        return *(values.begin() + random() % values.size());
    };
    for (std::size_t round = 0; round < 40 && !twin.failed; ++round) {
        twin.prepare(32000.0f, 1 + static_cast<std::uint32_t>(random() % 3));
        for (std::size_t block = 0; block < 30 && !twin.failed; ++block) {
            if (random() % 3 == 0) twin.set(0, pick({-1.0f, 0.0f, 1.0f, 2.0f}));
            if (random() % 4 == 0) twin.set(1, pick({0.0f, 1.0f}));
            if (random() % 4 == 0) twin.set(2, pick({-1.0f, 0.0f, 1.0f, 1.5f}));
            if (random() % 4 == 0) twin.set(3, pick({0.0f, 0.5f, 1.0f}));
            const std::size_t frames = pick({1.0f, 7.0f, 31.0f, 32.0f, 33.0f, 64.0f, 100.0f});
            twin.run(signal(twin.graph().channels(), frames));
        }
    }
}

}  // namespace
}  // namespace orba
