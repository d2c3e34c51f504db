#include "orba/blocks/graph.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "orba/blocks/blocks/delay.h"

namespace orba {

namespace {

// The glide position of frame j in a slice that starts at control phase p is
// RAMP[p + j] = (p + j + 1) / 32, exact in f32.
constexpr std::array<float, SLICE> RAMP = [] {
    std::array<float, SLICE> ramp{};
    for (std::size_t i = 0; i < SLICE; ++i)
        ramp[i] = static_cast<float>(i + 1) / 32.0f;
    return ramp;
}();

// 10^(dB / 20) as exp(dB * 0.115129247); the factor is the f32 with bit
// pattern 0x3DEBC8E2.
constexpr float DB_TO_LN = 0.115129247f;
constexpr float TWO_PI = 6.2831855f;
constexpr std::uint32_t GOLDEN = 0x9E3779B9u;
// Output below this magnitude is written as 0, so denormals never reach a host.
constexpr float FLUSH = 1e-30f;
constexpr float LARGEST = std::numeric_limits<float>::max();
constexpr std::size_t TAIL_ARGS = 32;

std::uint32_t xorshift(std::uint32_t x) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

// 2 * (x / 2^32) - 1 worked out in f32.
float to_unit(std::uint32_t x) {
    return 2.0f * (static_cast<float>(x) / 4294967296.0f) - 1.0f;
}

std::uint32_t add_saturating(std::uint32_t a, std::uint32_t b) {
    const std::uint32_t sum = a + b;
    return sum < a ? UINT32_MAX : sum;
}

float branch_gain(const std::optional<Arg>& gain_db, const ControlContext& context) {
    if (!gain_db) return 1.0f;
    float g = gain_db->eval(context);
    if (g < -96.0f) g = -96.0f;
    if (g > 48.0f) g = 48.0f;
    const float target = std::exp(g * DB_TO_LN);
    return std::isfinite(target) ? target : 1.0f;
}

float mix_amount(const MixNode& node, const ControlContext& context) {
    float target = 1.0f;
    if (node.mix) {
        const float m = node.mix->eval(context);
        if (std::isnan(m) || std::isinf(m) || m > 1.0f) {
            target = 1.0f;
        } else if (m > 0.0f) {
            target = m;
        } else {
            target = 0.0f;
        }
    }
    if (node.bypass) {
        const float b = node.bypass->eval(context);
        if (!(b < 0.5f)) target = 0.0f;
    }
    return target;
}

// Whole 32-sample arrays: a fixed-size copy beats a call for `frames` floats,
// and samples past `frames` are never read.
void copy_frame(const Frame& from, Frame& to, std::size_t frames) {
    const std::size_t channels = std::min(from.channels, to.channels);
    for (std::size_t c = 0; c < channels; ++c)
        to.data[c] = from.data[c];
    to.frames = frames;
}

// The glide's weight for each frame of the slice. A steady glide weighs every
// frame with exactly `to` (from + r * 0).
void weights(const Glide& glide, std::size_t phase, std::size_t frames, float* w) {
    if (glide.steady()) {
        std::fill_n(w, frames, glide.to);
        return;
    }
    const float span = glide.to - glide.from;
    for (std::size_t j = 0; j < frames; ++j)
        w[j] = glide.from + RAMP[phase + j] * span;
}

bool unity(const Glide& glide) {
    return glide.steady() && glide.to == 1.0f;
}

// The branch sum starts from +0: 0 + x * w is written x * w + 0, which also
// turns -0 into +0 as a zeroed sum would.
void sum_one(Frame& sum, const float* w0, std::size_t frames) {
    for (std::size_t c = 0; c < sum.channels; ++c) {
        float* d = sum.channel(c);
        for (std::size_t j = 0; j < frames; ++j)
            d[j] = d[j] * w0[j] + 0.0f;
    }
}

// The first two terms in one pass: (0 + b0 * w0) + b1 * w1, b0 already in `sum`.
void sum_two(Frame& sum, const float* w0, const Frame& b1, const float* w1, std::size_t frames) {
    const std::size_t channels = std::min(sum.channels, b1.channels);
    for (std::size_t c = 0; c < channels; ++c) {
        float* d = sum.channel(c);
        const float* s = b1.channel(c);
        for (std::size_t j = 0; j < frames; ++j)
            d[j] = (d[j] * w0[j] + 0.0f) + s[j] * w1[j];
    }
}

// Both branches at a steady unity gain: x * 1 is x, so the weights drop out.
void sum_two_unity(Frame& sum, const Frame& b1, std::size_t frames) {
    const std::size_t channels = std::min(sum.channels, b1.channels);
    for (std::size_t c = 0; c < channels; ++c) {
        float* d = sum.channel(c);
        const float* s = b1.channel(c);
        for (std::size_t j = 0; j < frames; ++j)
            d[j] = (d[j] + 0.0f) + s[j];
    }
}

void sum_more(Frame& sum, const Frame& b, const float* w, std::size_t frames) {
    const std::size_t channels = std::min(sum.channels, b.channels);
    for (std::size_t c = 0; c < channels; ++c) {
        float* d = sum.channel(c);
        const float* s = b.channel(c);
        for (std::size_t j = 0; j < frames; ++j)
            d[j] += s[j] * w[j];
    }
}

void prepare_parallel(ParallelNode& node, std::size_t channels, float sample_rate) {
    std::uint32_t slowest = 0;
    for (Branch& branch : node.branches) {
        branch.node.prepare(channels, sample_rate);
        slowest = std::max(slowest, branch.node.latency());
    }
    for (Branch& branch : node.branches) {
        branch.lines.reset(channels, slowest - branch.node.latency());
        branch.gain.reset();
    }
    node.input.resize(channels);
    node.scratch.resize(channels);
}

void prepare_mix(MixNode& node, std::size_t channels, float sample_rate) {
    node.inner.prepare(channels, sample_rate);
    node.lines.reset(channels, node.inner.latency());
    node.dry.resize(channels);
    node.amount.reset();
    node.wet.assign(channels, node.only ? 0 : 1);
    if (node.only) {
        for (std::uint64_t c : *node.only) {
            if (c < channels) node.wet[static_cast<std::size_t>(c)] = 1;
        }
    }
}

void control_block(BlockNode& node, const ControlContext& context, bool inputs_changed) {
    // Constant arguments were normalised once by the compiler; the block
    // still gets its control every tick, as its glides need.
    if (inputs_changed) {
        for (std::size_t i : node.moving) {
            node.values[i] = normalise(node.args[i].eval(context), node.info->args[i]);
        }
    }
    node.block->control(node.values);
}

void control_branch(Branch& branch, const ControlContext& context, bool inputs_changed) {
    branch.gain.retarget(inputs_changed ? branch_gain(branch.gain_db, context) : branch.gain.to);
}

void control_mix(MixNode& node, const ControlContext& context, bool inputs_changed) {
    node.amount.retarget(inputs_changed ? mix_amount(node, context) : node.amount.to);
}

// Flattens `node`, running on `frame`, into both step lists.
void flatten(Node& node, Frame* frame, std::vector<ControlStep>& controls,
             std::vector<ProcessStep>& steps) {
    using Op = ProcessStep::Op;
    switch (node.kind.index()) {
        case 0: {
            BlockNode& block = std::get<0>(node.kind);
            controls.push_back({.block = &block});
            const bool delay = block.info == &blocks::delay::INFO;
            steps.push_back(
                {.op = delay ? Op::Read : Op::Block, .frame = frame, .block = block.block.get()});
            break;
        }
        case 1:
            for (Node& child : std::get<1>(node.kind).nodes)
                flatten(child, frame, controls, steps);
            break;
        case 2: {
            ParallelNode& parallel = std::get<2>(node.kind);
            const std::size_t count = parallel.branches.size();
            if (count > 1) steps.push_back({.op = Op::Split, .frame = frame, .parallel = &parallel});
            for (std::size_t i = 0; i < count; ++i) {
                Branch& branch = parallel.branches[i];
                // The first branch runs on the frame itself and the last on the
                // kept input, so only the middle ones pay for a copy.
                Frame* work = i == 0 ? frame : i + 1 < count ? &parallel.scratch : &parallel.input;
                if (i > 0 && i + 1 < count) {
                    steps.push_back({.op = Op::Fork, .work = work, .parallel = &parallel});
                }
                flatten(branch.node, work, controls, steps);
                controls.push_back({.branch = &branch});
                steps.push_back({.op = Op::Join,
                                 .index = static_cast<std::uint32_t>(i),
                                 .frame = frame,
                                 .work = work,
                                 .parallel = &parallel});
            }
            break;
        }
        case 3: {
            MixNode& mix = *std::get<3>(node.kind);
            const std::size_t dry_in = steps.size();
            steps.push_back({.op = Op::DryIn, .frame = frame, .mix = &mix});
            flatten(mix.inner, frame, controls, steps);
            controls.push_back({.mix = &mix});
            steps[dry_in].index = static_cast<std::uint32_t>(steps.size());
            steps.push_back({.op = Op::Blend, .frame = frame, .mix = &mix});
            break;
        }
    }
}

// A mix at a steady full wet without `only` is its inner node alone.
bool passes_through(const MixNode& node) {
    return node.amount.from == 1.0f && node.amount.to == 1.0f && !node.only;
}

// The end of branch `index`: its compensation, then its share of the sum.
void join(ParallelNode& node, std::size_t index, Frame& frame, Frame& work, std::size_t phase) {
    const std::size_t frames = frame.frames;
    Branch& branch = node.branches[index];
    if (branch.lines.length > 0) branch.lines.run(work, frames);
    if (index == 0) {
        // With more branches the first one's weights are applied with the second's.
        if (node.branches.size() > 1) return;
        float w[SLICE];
        weights(branch.gain, phase, frames, w);
        sum_one(frame, w, frames);
        return;
    }
    const Branch& lead = node.branches[0];
    if (index == 1 && unity(lead.gain) && unity(branch.gain)) {
        sum_two_unity(frame, work, frames);
        return;
    }
    float w[SLICE];
    weights(branch.gain, phase, frames, w);
    if (index == 1) {
        float first[SLICE];
        weights(lead.gain, phase, frames, first);
        sum_two(frame, first, work, w, frames);
    } else {
        sum_more(frame, work, w, frames);
    }
}

void blend(MixNode& node, Frame& frame, std::size_t phase) {
    const std::size_t frames = frame.frames;
    float w[SLICE];
    weights(node.amount, phase, frames, w);
    const std::size_t channels = std::min(frame.channels, node.dry.channels);
    for (std::size_t c = 0; c < channels; ++c) {
        float* out = frame.channel(c);
        const float* dry = node.dry.channel(c);
        if (c < node.wet.size() && node.wet[c]) {
            for (std::size_t j = 0; j < frames; ++j)
                out[j] = dry[j] + w[j] * (out[j] - dry[j]);
        } else {
            for (std::size_t j = 0; j < frames; ++j)
                out[j] = dry[j] + 0.0f * (out[j] - dry[j]);
        }
    }
}

}  // namespace

void Modulator::reset(std::size_t k) {
    phase = 0.0f;
    const std::uint32_t seed = static_cast<std::uint32_t>(k + 1) * GOLDEN;
    random = xorshift(seed | 1u);
    held = to_unit(random);
}

float Modulator::advance(const ControlContext& context) {
    float r = rate.eval(context);
    if (std::isnan(r)) {
        r = 1.0f;
    } else if (r < 0.001f) {
        r = 0.001f;
    } else if (r > 200.0f) {
        r = 200.0f;
    }
    const float increment = r * 32.0f / context.sample_rate;
    const float t = phase;
    float out = 0.0f;
    switch (shape) {
        case Shape::Sine:
            out = std::sin(TWO_PI * t);
            break;
        case Shape::Triangle:
            out = 1.0f - 4.0f * std::fabs(t - 0.5f);
            break;
        case Shape::Saw:
            out = 2.0f * t - 1.0f;
            break;
        case Shape::Square:
            out = t < 0.5f ? 1.0f : -1.0f;
            break;
        case Shape::Random:
            out = held;
            break;
    }
    const float next = t + increment;
    if (shape == Shape::Random && next >= 1.0f) {
        random = xorshift(random);
        held = to_unit(random);
    }
    phase = next - std::floor(next);
    return out;
}

void Compensation::reset(std::size_t channels, std::size_t samples) {
    ring.assign(channels * samples, 0.0f);
    length = samples;
    write = 0;
}

// Each sample swaps places with the ring entry `length` samples old.
void Compensation::run(Frame& frame, std::size_t frames) {
    const std::size_t channels = std::min(frame.channels, length ? ring.size() / length : 0);
    for (std::size_t c = 0; c < channels; ++c) {
        float* x = frame.channel(c);
        float* r = ring.data() + c * length;
        std::size_t pos = write;
        for (std::size_t j = 0; j < frames; ++j) {
            std::swap(x[j], r[pos]);
            if (++pos == length) pos = 0;
        }
    }
    write = (write + frames) % length;
}

void Node::prepare(std::size_t channels, float sample_rate) {
    switch (kind.index()) {
        case 0:
            std::get<0>(kind).block->prepare(channels, sample_rate);
            break;
        case 1:
            for (Node& child : std::get<1>(kind).nodes)
                child.prepare(channels, sample_rate);
            break;
        case 2:
            prepare_parallel(std::get<2>(kind), channels, sample_rate);
            break;
        case 3:
            prepare_mix(*std::get<3>(kind), channels, sample_rate);
            break;
    }
}

std::uint32_t Node::latency() const {
    switch (kind.index()) {
        case 0:
            return std::get<0>(kind).block->latency();
        case 1: {
            std::uint32_t sum = 0;
            for (const Node& child : std::get<1>(kind).nodes)
                sum = add_saturating(sum, child.latency());
            return sum;
        }
        case 2: {
            std::uint32_t most = 0;
            for (const Branch& branch : std::get<2>(kind).branches) {
                most = std::max(most, branch.node.latency());
            }
            return most;
        }
        case 3:
            return std::get<3>(kind)->inner.latency();
    }
    return 0;
}

std::uint32_t Node::tail(const ControlContext& context) const {
    switch (kind.index()) {
        case 0: {
            const BlockNode& node = std::get<0>(kind);
            std::array<float, TAIL_ARGS> values{};
            const std::size_t count = std::min(node.args.size(), TAIL_ARGS);
            for (std::size_t i = 0; i < count; ++i) {
                values[i] = node.args[i].is_const()
                                ? node.values[i]
                                : normalise(node.args[i].eval(context), node.info->args[i]);
            }
            return node.block->tail(std::span<const float>(values.data(), count),
                                    context.sample_rate);
        }
        case 1: {
            std::uint32_t sum = 0;
            for (const Node& child : std::get<1>(kind).nodes) {
                sum = add_saturating(sum, child.tail(context));
            }
            return sum;
        }
        case 2: {
            std::uint32_t most = 0;
            for (const Branch& branch : std::get<2>(kind).branches) {
                most = std::max(most, branch.node.tail(context));
            }
            return most;
        }
        case 3:
            return std::get<3>(kind)->inner.tail(context);
    }
    return 0;
}

Graph::Graph(Node root, std::vector<Modulator> modulators, std::size_t param_count)
    : modulators_(std::move(modulators)),
      values_(param_count + modulators_.size(), 0.0f),
      root_(std::make_unique<Node>(std::move(root))),
      param_count_(param_count),
      seen_(values_.size(), 0.0f),
      tail_values_(values_.size(), 0.0f) {
    flatten(*root_, nullptr, controls_, steps_);
    // A delay's recursions wait on themselves sample by sample; those of
    // several delays run side by side at the end of the slice. A lone delay
    // already runs its channels side by side and runs as any block.
    for (ProcessStep& step : steps_) {
        if (step.op == ProcessStep::Op::Read)
            ahead_.push_back(static_cast<blocks::delay::Delay*>(step.block));
    }
    if (ahead_.size() > 1) {
        steps_.push_back({.op = ProcessStep::Op::Settle});
    } else {
        ahead_.clear();
        for (ProcessStep& step : steps_) {
            if (step.op == ProcessStep::Op::Read) step.op = ProcessStep::Op::Block;
        }
    }
    for (const ControlStep& step : controls_) {
        if (step.block && !step.block->meters.empty()) metered_.push_back(step.block);
    }
}

void Graph::prepare(const ProcessSetup& setup) {
    // NaN fails the comparison and also becomes 8000.
    sample_rate_ = setup.sample_rate >= 8000.0f ? setup.sample_rate : 8000.0f;
    channels_ = setup.channels == 0 ? 1 : setup.channels;
    frame_.resize(channels_);
    phase_ = 0;
    for (std::size_t k = 0; k < modulators_.size(); ++k)
        modulators_[k].reset(k);
    root_->prepare(channels_, sample_rate_);
    stale_ = true;
    tail_values_.assign(values_.size(), 0.0f);
}

void Graph::tick(const ParamSet& params) {
    const std::size_t count = std::min(params.size(), param_count_);
    for (std::size_t i = 0; i < count; ++i)
        values_[i] = params.at(i).get();
    const ControlContext context{values_, sample_rate_, tempo_};
    // A modulator's rate sees the outputs of the modulators before it in this
    // tick.
    for (std::size_t k = 0; k < modulators_.size(); ++k) {
        values_[param_count_ + k] = modulators_[k].advance(context);
    }
    // Compared bit for bit: a NaN that stays NaN is unchanged too.
    const bool changed =
        stale_ || std::memcmp(&seen_tempo_, &tempo_, sizeof tempo_) != 0 ||
        (!values_.empty() &&
         std::memcmp(seen_.data(), values_.data(), values_.size() * sizeof(float)) != 0);
    if (changed) {
        std::copy(values_.begin(), values_.end(), seen_.begin());
        seen_tempo_ = tempo_;
        stale_ = false;
    }
    for (const ControlStep& step : controls_) {
        if (step.block) {
            control_block(*step.block, context, changed);
        } else if (step.branch) {
            control_branch(*step.branch, context, changed);
        } else {
            control_mix(*step.mix, context, changed);
        }
    }
}

// The node tree's work for one slice, step by step without recursion.
void Graph::run_slice() {
    using Op = ProcessStep::Op;
    const std::size_t phase = phase_;
    const std::size_t count = steps_.size();
    for (std::size_t i = 0; i < count; ++i) {
        const ProcessStep& step = steps_[i];
        Frame& frame = step.frame ? *step.frame : frame_;
        switch (step.op) {
            case Op::Block:
                step.block->process(frame, phase);
                break;
            case Op::Split:
                copy_frame(frame, step.parallel->input, frame.frames);
                break;
            case Op::Fork:
                copy_frame(step.parallel->input, *step.work, step.parallel->input.frames);
                break;
            case Op::Join:
                join(*step.parallel, step.index, frame, step.work ? *step.work : frame_, phase);
                break;
            case Op::DryIn: {
                MixNode& mix = *step.mix;
                if (passes_through(mix)) break;
                copy_frame(frame, mix.dry, frame.frames);
                if (mix.lines.length > 0) mix.lines.run(mix.dry, frame.frames);
                // The inner node is not run while the mix is fully dry.
                if (!(mix.amount.from > 0.0f || mix.amount.to > 0.0f)) i = step.index - 1;
                break;
            }
            case Op::Blend:
                if (!passes_through(*step.mix)) blend(*step.mix, frame, phase);
                break;
            case Op::Read:
                static_cast<blocks::delay::Delay*>(step.block)->read_ahead(frame, phase);
                break;
            case Op::Settle:
                blocks::delay::settle(ahead_);
                break;
        }
    }
}

void Graph::process(ParamSet& params, Buffers buffers, const ProcessContext& context) {
    const std::size_t active = std::min(frame_.channels, buffers.size());
    if (active == 0) return;
    tempo_ = effective_tempo(context);

    // Every buffer is read and written, so the shortest one bounds the block.
    std::size_t frames = buffers[0].size();
    for (std::size_t c = 1; c < active; ++c)
        frames = std::min(frames, buffers[c].size());

    std::size_t index = 0;
    while (index < frames) {
        const std::size_t length = std::min(frames - index, SLICE - phase_);
        if (phase_ == 0) tick(params);
        for (std::size_t c = 0; c < active; ++c) {
            const float* in = buffers[c].data() + index;
            float* to = frame_.channel(c);
            // A NaN or infinity from the host would stay in every delay line
            // and filter state for good; it is heard as silence instead.
            for (std::size_t j = 0; j < length; ++j)
                to[j] = std::fabs(in[j]) <= LARGEST ? in[j] : 0.0f;
        }
        for (std::size_t c = active; c < frame_.channels; ++c) {
            std::memset(frame_.channel(c), 0, length * sizeof(float));
        }
        frame_.frames = length;
        run_slice();
        for (std::size_t c = 0; c < active; ++c) {
            const float* in = frame_.channel(c);
            float* out = buffers[c].data() + index;
            for (std::size_t j = 0; j < length; ++j) {
                out[j] = std::fabs(in[j]) < FLUSH ? 0.0f : in[j];
            }
        }
        phase_ = (phase_ + length) % SLICE;
        index += length;
    }
    write_meters(params);
}

void Graph::write_meters(ParamSet& params) const {
    for (const BlockNode* node : metered_) {
        for (const auto& [meter, param] : node->meters) {
            if (param < params.size()) params.at(param).set(node->block->meter(meter));
        }
    }
}

std::uint32_t Graph::latency_samples() const {
    return root_->latency();
}

std::uint32_t Graph::tail_for(const ParamSet& params) const {
    std::copy(values_.begin(), values_.end(), tail_values_.begin());
    const std::size_t count = std::min(params.size(), param_count_);
    for (std::size_t i = 0; i < count; ++i)
        tail_values_[i] = params.at(i).get();
    return root_->tail(ControlContext{tail_values_, sample_rate_, tempo_});
}

}  // namespace orba
