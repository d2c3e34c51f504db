#include "orba/blocks/blocks/loop.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>
#include <variant>

#include "orba/blocks/blocks/delay.h"
#include "orba/blocks/graph.h"

namespace orba::blocks::loop {
namespace {

enum : std::size_t { TIME_MS, FEEDBACK, MODE, MAX_MS };

constexpr std::string_view MODES[] = {"normal", "pingpong"};

constexpr ArgInfo ARGS[] = {
    {.name = "time_ms",
     .unit = "ms",
     .help = "The time once round the loop. Bind it to sync(beats) to lock it to the tempo. "
             "It is never shorter than 33 samples.",
     .min = 1.0f,
     .max = 4000.0f,
     .default_value = 250.0f},
    {.name = "feedback",
     .help = "How much of what comes back at loop_end returns to the line. It stays below 1, "
             "and so do the blocks in the loop, so the repeats die away.",
     .min = 0.0f,
     .max = 0.97f,
     .default_value = 0.35f},
    {.name = "mode",
     .choices = MODES,
     .help = "pingpong bounces the repeats between left and right when there are two channels.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "max_ms",
     .unit = "ms",
     .help = "The longest time the line can hold. Sets the memory used.",
     .min = 10.0f,
     .max = 4000.0f,
     .default_value = 2000.0f,
     .constant = true},
};

bool is(const Node& node, const BlockInfo& info) {
    const BlockNode* block = node.as_block();
    return block != nullptr && block->info == &info;
}

std::string misplaced(const std::string& path) {
    return path +
           ": a loop or loop_end must stand directly in a chain, without bypass, mix or "
           "only";
}

std::optional<std::string> pair_chain(ChainNode& chain, const std::string& path) {
    // The open loops, innermost last.
    std::vector<std::pair<Loop*, std::size_t>> open;
    for (std::size_t i = 0; i < chain.nodes.size(); ++i) {
        Node& node = chain.nodes[i];
        const std::string at = path + ".chain[" + std::to_string(i) + "]";
        if (is(node, INFO)) {
            open.emplace_back(static_cast<Loop*>(std::get<BlockNode>(node.kind).block.get()), i);
        } else if (is(node, END_INFO)) {
            if (open.empty()) return at + ": this loop_end has no loop before it in the same chain";
            static_cast<LoopEnd*>(std::get<BlockNode>(node.kind).block.get())
                ->attach(open.back().first);
            open.pop_back();
        } else if (auto error = pair(node, at)) {
            return error;
        }
    }
    if (!open.empty()) {
        return path + ".chain[" + std::to_string(open.front().second) +
               "]: this loop has no loop_end after it in the same chain";
    }
    return std::nullopt;
}

}  // namespace

const BlockInfo INFO = {
    "loop",
    "Opens a feedback loop around the blocks after it, up to the next loop_end in the same "
    "chain: a filter there darkens every repeat, a shaper wears it down. The chain outputs only "
    "what comes back at loop_end, so set a node's `mix` to blend it with the dry sound.",
    ARGS,
    {},
    &make,
};

const BlockInfo END_INFO = {
    "loop_end",
    "Closes the loop opened by the nearest loop before it in the same chain: what arrives here "
    "goes back into the loop's line and on down the chain.",
    {},
    {},
    &make_end,
};

std::unique_ptr<Block> make() {
    return std::make_unique<Loop>();
}

std::unique_ptr<Block> make_end() {
    return std::make_unique<LoopEnd>();
}

void Loop::configure(std::span<const float> args) {
    if (args.size() > MAX_MS) max_ms_ = args[MAX_MS];
}

void Loop::prepare(std::size_t channels, float sample_rate) {
    const std::size_t length = delay::line_length(sample_rate, max_ms_);
    // Writes start at slot 0, so a reset clears only as far as they reached.
    if (lines_.size() == channels && (channels == 0 || lines_[0].size() == length)) {
        for (auto& line : lines_)
            std::fill_n(line.begin(), std::min(written_, length), 0.0f);
    } else {
        lines_.assign(channels, std::vector<float>(length, 0.0f));
    }
    input_.resize(channels);
    write_ = 0;
    written_ = 0;
    sample_rate_ = sample_rate;
    glide_start_ = 0.0f;
    glide_target_ = 0.0f;
    feedback_ = 0.0f;
    pingpong_ = false;
    primed_ = false;
}

void Loop::control(std::span<const float> args) {
    if (args.size() < std::size(ARGS)) return;
    const float target = sample_rate_ * (std::fmin(args[TIME_MS], max_ms_) * 0.001f);
    glide_start_ = primed_ ? glide_target_ : target;
    primed_ = true;
    glide_target_ = target;
    feedback_ = args[FEEDBACK];
    pingpong_ = args[MODE] >= 0.5f && lines_.size() == 2;
}

void Loop::process(Frame& frame, std::size_t phase) {
    const std::size_t n = std::min(frame.frames, SLICE);
    const std::size_t channels = std::min({frame.channels, frame.data.size(), lines_.size()});
    input_.frames = n;
    input_.channels = channels;
    if (channels == 0) return;
    const std::size_t length = lines_[0].size();
    const float longest = static_cast<float>(length - 4);
    for (std::size_t c = 0; c < channels; ++c) {
        const float* line = lines_[c].data();
        float* io = frame.channel(c);
        std::copy_n(io, n, input_.channel(c));
        for (std::size_t j = 0; j < n; ++j) {
            const float position = static_cast<float>(phase + j + 1) / 32.0f;
            float d = glide_start_ + (glide_target_ - glide_start_) * position;
            // Not less than a slice ahead of the writes still to come in this
            // slice, so every point read is already in the line; not a
            // number reads as the shortest loop.
            d = d > SHORTEST ? d : SHORTEST;
            d = d < longest ? d : longest;
            const auto whole = static_cast<std::size_t>(d);
            const float t = d - static_cast<float>(whole);
            // Slot of the sample `whole` steps before the one written at j;
            // whole > j, so one wrap brings it into the line.
            std::size_t at = write_ + j + length - whole;
            if (at >= length) at -= length;
            const float y0 = line[at + 1 == length ? 0 : at + 1];
            const float y2 = line[at == 0 ? length - 1 : at - 1];
            const float y3 = line[at >= 2 ? at - 2 : at + length - 2];
            io[j] = delay::interpolate(y0, line[at], y2, y3, t);
        }
    }
}

void Loop::close(const Frame& frame) {
    const std::size_t n = std::min(input_.frames, frame.frames);
    const std::size_t channels = std::min(input_.channels, frame.channels);
    if (channels == 0 || n == 0) return;
    const std::size_t length = lines_[0].size();
    const bool crossed = pingpong_ && channels == 2;
    bool poisoned = false;
    for (std::size_t c = 0; c < channels; ++c) {
        const float* x = input_.channel(c);
        // Ping-pong crosses the returns and puts the mono sum on the left only.
        const float* back = frame.channel(crossed ? 1 - c : c);
        const float* other = input_.channel(crossed ? 1 : c);
        float* line = lines_[c].data();
        bool bad = false;
        for (std::size_t j = 0; j < n; ++j) {
            float v = feedback_ * back[j];
            if (!crossed) {
                v = v + x[j];
            } else if (c == 0) {
                v = v + 0.5f * (x[j] + other[j]);
            }
            // Repeats that have died away leave no denormals behind in the line.
            if (std::fabs(v) < 1e-20f) v = 0.0f;
            bad = bad || !std::isfinite(v);
            const std::size_t at = write_ + j;
            line[at < length ? at : at - length] = v;
        }
        // What is not finite would come round again for good, so the line
        // starts again from silence, as the delay block's does.
        if (bad) std::fill(lines_[c].begin(), lines_[c].end(), 0.0f);
        poisoned = poisoned || bad;
    }
    // Crossed lines feed each other, so they are cleared together.
    if (poisoned && crossed) {
        for (auto& line : lines_)
            std::fill(line.begin(), line.end(), 0.0f);
    }
    write_ += n;
    if (write_ >= length) write_ -= length;
    written_ = std::min(written_ + n, length);
}

std::uint32_t Loop::tail(std::span<const float> args, float sample_rate) const {
    if (args.size() < std::size(ARGS)) return 0;
    // The repeats until one has fallen by 60 dB below the first, when the
    // blocks in the loop do not raise the level: ln(0.001) / ln(feedback),
    // without a cap, since a long-ringing loop must not be cut short.
    const float feedback = args[FEEDBACK];
    const float needed = std::ceil(-6.9077554f / std::log(feedback));
    const float repeats = needed > 1.0f ? needed : 1.0f;
    const float span =
        std::max(sample_rate * (std::fmin(args[TIME_MS], args[MAX_MS]) * 0.001f), SHORTEST);
    // Plus the four points the line reads around the last repeat.
    const float samples = repeats * span + 4.0f;
    if (!(samples > 0.0f)) return 0;
    if (samples >= 4294967296.0f) return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(samples);
}

std::optional<std::string> pair(Node& root, const std::string& path) {
    if (is(root, INFO) || is(root, END_INFO)) return misplaced(path);
    if (auto* chain = std::get_if<ChainNode>(&root.kind)) return pair_chain(*chain, path);
    if (auto* parallel = std::get_if<ParallelNode>(&root.kind)) {
        for (std::size_t i = 0; i < parallel->branches.size(); ++i) {
            const std::string at = path + ".parallel[" + std::to_string(i) + "]";
            if (auto error = pair(parallel->branches[i].node, at)) return error;
        }
    }
    if (auto* mix = std::get_if<std::unique_ptr<MixNode>>(&root.kind)) {
        if (is((*mix)->inner, INFO) || is((*mix)->inner, END_INFO)) return misplaced(path);
        return pair((*mix)->inner, path);
    }
    return std::nullopt;
}

}  // namespace orba::blocks::loop
