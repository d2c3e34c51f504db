#include "check.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

#include "locate.h"
#include "orba/blocks/blocks.h"
#include "orba/blocks/graph.h"
#include "orba/blocks/spec.h"
#include "orba/core/charconv.h"

namespace orba::graph_tool {

namespace {

struct BuiltIn {
    std::string_view name;
    std::string_view meaning;
};

// The names expressions resolve before any parameter.
constexpr std::array<BuiltIn, 3> BUILT_INS{{
    {"rate", "the sample rate in Hz"},
    {"bpm", "the host's tempo"},
    {"pi", "the number pi"},
}};

std::string quoted(std::string_view text) {
    std::string out = "'";
    out += text;
    out += '\'';
    return out;
}

// The compiler's parse errors end with the names an expression may read,
// which is no help when the fault is an unknown function or the syntax.
std::string note_for(std::string_view message) {
    if (message.find(". The names available are: ") == std::string_view::npos) return {};
    constexpr std::string_view NO_FUNCTION = "there is no function named '";
    if (const std::size_t at = message.find(NO_FUNCTION); at != std::string_view::npos) {
        std::string note = "the functions are ";
        for (std::size_t f = 0; f < expr::FUNC_COUNT; ++f) {
            if (f > 0) note += ", ";
            note += expr::func_name(static_cast<expr::Func>(f));
        }
        return note + "; the names the message lists are what an expression can read";
    }
    if (message.find("is not a parameter, a modulator or a built-in name") !=
        std::string_view::npos)
        return "the built-in names are rate, bpm and pi";
    return "the expression is not well formed at the caret; the names listed are only what it "
           "may read";
}

Finding finding(std::string_view text, std::string message) {
    std::optional<std::size_t> offset = locate(text, message);
    std::string note = note_for(message);
    return Finding{std::move(message), offset, std::move(note)};
}

std::string written(const ArgValue& value) {
    if (value.is_text()) return '"' + value.text + '"';
    char digits[32];
    const auto end = orba::to_chars(digits, digits + sizeof digits, value.number).ptr;
    return std::string(digits, end);
}

NodeSpec empty_chain() {
    NodeSpec node;
    node.kind = NodeSpec::Chain{};
    return node;
}

// A copy of `spec` without its children, so compiling it checks only its own
// keys; the children are checked one by one.
NodeSpec shallow(const NodeSpec& spec) {
    NodeSpec copy;
    copy.bypass = spec.bypass;
    copy.mix = spec.mix;
    copy.only = spec.only;
    if (const NodeSpec::Block* block = spec.as_block()) {
        copy.kind = *block;
    } else if (const NodeSpec::Parallel* parallel = spec.as_parallel()) {
        NodeSpec::Parallel branches;
        for (const BranchSpec& branch : parallel->branches)
            branches.branches.push_back(BranchSpec{empty_chain(), branch.gain_db});
        copy.kind = std::move(branches);
    } else {
        copy.kind = NodeSpec::Chain{};
    }
    return copy;
}

// Compiles `spec` in parts, one argument, meter list, branch gain or amount
// at a time, so that each fault is reported, not only the first.
void collect_errors(std::string_view text, const NodeSpec& spec, const Compiler& compiler,
                    const std::string& path, std::vector<Finding>& errors) {
    std::vector<NodeSpec> parts;
    NodeSpec own = shallow(spec);
    if (NodeSpec::Block* block = std::get_if<NodeSpec::Block>(&own.kind)) {
        NodeSpec::Block bare{block->block, {}, {}};
        for (const auto& arg : block->args) {
            NodeSpec part;
            part.kind = NodeSpec::Block{block->block, {arg}, {}};
            parts.push_back(std::move(part));
        }
        if (!block->meters.empty()) {
            NodeSpec part;
            part.kind = NodeSpec::Block{block->block, {}, block->meters};
            parts.push_back(std::move(part));
        }
        *block = std::move(bare);
    } else if (NodeSpec::Parallel* parallel = std::get_if<NodeSpec::Parallel>(&own.kind)) {
        for (std::size_t i = 0; i < parallel->branches.size(); ++i) {
            if (!parallel->branches[i].gain_db) continue;
            NodeSpec::Parallel upto;
            for (std::size_t j = 0; j <= i; ++j)
                upto.branches.push_back(BranchSpec{empty_chain(), std::nullopt});
            upto.branches[i].gain_db = parallel->branches[i].gain_db;
            NodeSpec part;
            part.kind = std::move(upto);
            parts.push_back(std::move(part));
            parallel->branches[i].gain_db.reset();
        }
    }
    parts.insert(parts.begin(), std::move(own));
    for (const NodeSpec& part : parts) {
        Result<Node> compiled = compile_node(part, compiler, path);
        if (compiled) continue;
        bool seen = false;
        for (const Finding& e : errors)
            seen = seen || e.message == compiled.error();
        if (!seen) errors.push_back(finding(text, compiled.error()));
    }

    if (const NodeSpec::Chain* chain = spec.as_chain()) {
        for (std::size_t i = 0; i < chain->nodes.size(); ++i) {
            collect_errors(text, chain->nodes[i], compiler,
                           path + ".chain[" + std::to_string(i) + "]", errors);
        }
    } else if (const NodeSpec::Parallel* parallel = spec.as_parallel()) {
        for (std::size_t i = 0; i < parallel->branches.size(); ++i) {
            collect_errors(text, parallel->branches[i].node, compiler,
                           path + ".parallel[" + std::to_string(i) + "]", errors);
        }
    }
}

// Whether `found` holds for a node of the expression at or below `root`.
template <class Found>
bool any_node(const expr::Node& root, Found found) {
    std::vector<const expr::Node*> stack{&root};
    while (!stack.empty()) {
        const expr::Node* node = stack.back();
        stack.pop_back();
        if (found(*node)) return true;
        if (const auto* neg = std::get_if<expr::Neg>(&node->v)) {
            stack.push_back(neg->child.get());
        } else if (const auto* binary = std::get_if<expr::Binary>(&node->v)) {
            stack.push_back(&binary->left());
            stack.push_back(&binary->right());
        } else if (const auto* call = std::get_if<expr::Call>(&node->v)) {
            for (const expr::Node& a : call->args)
                stack.push_back(&a);
        }
    }
    return false;
}

// Which value-table slots the expressions of one argument read.
void mark_reads(const Arg& arg, std::vector<bool>& read, std::size_t skip = SIZE_MAX) {
    if (arg.slot != Arg::NO_SLOT) {
        if (arg.slot < read.size() && arg.slot != skip) read[arg.slot] = true;
        return;
    }
    if (!arg.expr) return;
    any_node(*arg.expr, [&](const expr::Node& node) {
        if (const auto* slot = std::get_if<expr::Slot>(&node.v)) {
            if (slot->index < read.size() && slot->index != skip) read[slot->index] = true;
        }
        return false;
    });
}

bool reads_tempo(const expr::Node& root) {
    return any_node(root, [](const expr::Node& node) {
        const auto* call = std::get_if<expr::Call>(&node.v);
        return std::holds_alternative<expr::Tempo>(node.v) ||
               (call != nullptr && call->func == expr::Func::Sync);
    });
}

// The lowest and highest values an argument takes over the tried settings,
// and the settings that give them; `nan` when one gives not a number.
struct Reach {
    float low = 0.0f;
    float high = 0.0f;
    std::string low_at, high_at, nan_at;
    bool nan = false;
};

// What the argument checks try, value-table slot by slot.
struct Trials {
    std::vector<std::string_view> names;         // parameters, then modulators
    std::vector<std::vector<float>> candidates;  // the values tried for each
    float sample_rate = 48000.0f;
};

constexpr float TEMPOS[] = {20.0f, 120.0f, 300.0f};
// More settings than this are sampled, not all tried.
constexpr std::size_t MAX_TRIALS = 20000;

Reach reach(const Arg& arg, const Trials& trials) {
    std::vector<bool> read(trials.names.size(), false);
    mark_reads(arg, read);
    std::vector<std::size_t> varied;
    std::vector<float> values(trials.names.size(), 0.0f);
    std::size_t count = 1;
    for (std::size_t slot = 0; slot < read.size(); ++slot) {
        values[slot] = trials.candidates[slot].front();
        if (!read[slot] || trials.candidates[slot].size() < 2) continue;
        varied.push_back(slot);
        count = std::min(count * trials.candidates[slot].size(), MAX_TRIALS + 1);
    }
    const bool tempo = arg.expr && reads_tempo(*arg.expr);
    const std::span<const float> tempos =
        tempo ? std::span<const float>(TEMPOS) : std::span<const float>(TEMPOS).subspan(1, 1);

    Reach r;
    bool first = true;
    std::uint64_t seed = 0x9E3779B97F4A7C15u;
    for (std::size_t trial = 0; trial < std::min(count, MAX_TRIALS); ++trial) {
        // Every combination in turn, or random ones when there are too many.
        std::size_t index = trial;
        for (std::size_t slot : varied) {
            const std::vector<float>& c = trials.candidates[slot];
            if (count > MAX_TRIALS) {
                seed = seed * 6364136223846793005u + 1442695040888963407u;
                index = static_cast<std::size_t>(seed >> 33);
            }
            values[slot] = c[index % c.size()];
            index /= c.size();
        }
        for (const float bpm : tempos) {
            const float v = arg.eval(ControlContext{values, trials.sample_rate, bpm});
            const bool low = first || v < r.low;
            const bool high = first || v > r.high;
            if (!std::isnan(v) && !low && !high) continue;
            std::string at;
            if (tempo) at = "at tempo " + format_f32(bpm);
            for (std::size_t slot : varied) {
                at += (at.empty() ? "with " : ", ") + quoted(trials.names[slot]) + ' ' +
                      format_f32(values[slot]);
            }
            if (std::isnan(v)) {
                if (!r.nan) r.nan_at = at;
                r.nan = true;
                continue;
            }
            if (low) {
                r.low = v;
                r.low_at = at;
            }
            if (high) {
                r.high = v;
                r.high_at = at;
            }
            first = false;
        }
    }
    return r;
}

std::string within(const std::string& at) {
    return at.empty() ? std::string() : " (" + at + ")";
}

struct Walk {
    std::string_view text;
    ControlContext context;
    Trials trials;
    std::vector<bool> read;
    std::vector<Finding> warnings;
    std::string tree;

    void constant_warnings(const Node& node, const std::string& path) {
        const MixNode* mix = node.as_mix();
        if (mix == nullptr) return;
        if (mix->bypass && mix->bypass->is_const() && !(mix->bypass->value < 0.5f)) {
            warnings.push_back(finding(text, path + " bypass is the constant " +
                                                 format_f32(mix->bypass->value) +
                                                 ", so the node never runs"));
        }
        if (mix->mix && mix->mix->is_const() && mix->mix->value <= 0.0f) {
            warnings.push_back(finding(text, path + " mix is the constant " +
                                                 format_f32(mix->mix->value) +
                                                 ", so only the dry signal passes"));
        }
    }

    // Arguments that the block limits to their range, or a delay time past
    // what the delay line holds, for some setting the host can make.
    void range_warnings(const BlockNode& block, const std::string& path) {
        const std::span<const ArgInfo> infos = block.info->args;
        std::optional<float> max_ms;
        for (std::size_t i = 0; i < infos.size() && i < block.args.size(); ++i) {
            if (infos[i].name == "max_ms") max_ms = block.args[i].value;
        }
        for (std::size_t i = 0; i < infos.size() && i < block.args.size(); ++i) {
            const ArgInfo& info = infos[i];
            const Arg& arg = block.args[i];
            if (info.constant) continue;
            const Reach r = reach(arg, trials);
            const std::string label =
                path + ": " + std::string(block.info->name) + '.' + std::string(info.name);
            const std::string unit = info.unit.empty() ? "" : ' ' + std::string(info.unit);
            const std::string range = ", outside the range " + format_f32(info.min) + " to " +
                                      format_f32(info.max) + unit;
            if (r.nan) {
                warn(label + " is not a number" + within(r.nan_at) + ", so the block takes " +
                     format_f32(info.default_value) + unit + " instead");
            }
            // What is held by less than a hundredth of the range sounds the same,
            // like a nested delay that shrinks below 0.1 ms.
            const float slack = 0.01f * (info.max - info.min);
            if (!arg.is_const() && r.high > info.max + slack) {
                warn(label + " reaches " + format_f32(r.high) + within(r.high_at) + range +
                     ", so the block holds it at " + format_f32(info.max));
            }
            if (!arg.is_const() && r.low < info.min - slack) {
                warn(label + " falls to " + format_f32(r.low) + within(r.low_at) + range +
                     ", so the block holds it at " + format_f32(info.min));
            }
            const float longest = std::min(r.high, info.max);
            if (info.name == "time_ms" && max_ms && longest > *max_ms) {
                const float needed = std::ceil(longest);
                warn(label + " reaches " + format_f32(r.high) + within(r.high_at) + ", past the " +
                     format_f32(*max_ms) + " ms the line holds (max_ms), so the delay stops at " +
                     format_f32(*max_ms) + " ms. Raise " + std::string(block.info->name) +
                     ".max_ms to " + format_f32(needed) + (needed < r.high ? "" : " or more"));
            }
        }
    }

    void warn(std::string message) { warnings.push_back(finding(text, std::move(message))); }

    void line(std::size_t depth, const std::string& label, const NodeSpec& spec, const Node& node) {
        tree.append(depth * 2, ' ');
        tree += label;
        if (const NodeSpec::Block* block = spec.as_block()) {
            tree += block->block;
            for (const auto& [name, value] : block->args)
                tree += ' ' + name + '=' + written(value);
            for (const auto& [meter, param] : block->meters)
                tree += " meter " + meter + "->" + param;
        } else if (spec.as_chain() != nullptr) {
            tree += "chain";
        } else {
            tree += "parallel";
        }
        if (spec.bypass) tree += " bypass=" + written(*spec.bypass);
        if (spec.mix) tree += " mix=" + written(*spec.mix);
        if (spec.only) {
            tree += " only=[";
            for (std::size_t i = 0; i < spec.only->size(); ++i) {
                if (i > 0) tree += ',';
                tree += std::to_string((*spec.only)[i]);
            }
            tree += ']';
        }
        tree += "  (latency " + std::to_string(node.latency()) + ", tail " +
                std::to_string(node.tail(context)) + ")\n";
    }

    void visit(const NodeSpec& spec, const Node& compiled, const std::string& path,
               std::size_t depth, const std::string& label) {
        constant_warnings(compiled, path);
        line(depth, label, spec, compiled);
        const Node* node = &compiled;
        if (const MixNode* mix = compiled.as_mix()) {
            if (mix->bypass) mark_reads(*mix->bypass, read);
            if (mix->mix) mark_reads(*mix->mix, read);
            node = &mix->inner;
        }
        if (const BlockNode* block = node->as_block()) {
            for (const Arg& arg : block->args)
                mark_reads(arg, read);
            range_warnings(*block, path);
            for (const auto& [meter, param] : block->meters)
                read[param] = true;
        } else if (const ChainNode* chain = node->as_chain()) {
            const auto& children = std::get<NodeSpec::Chain>(spec.kind).nodes;
            for (std::size_t i = 0; i < chain->nodes.size(); ++i) {
                const std::string at = "[" + std::to_string(i) + "] ";
                visit(children[i], chain->nodes[i], path + ".chain" + at.substr(0, at.size() - 1),
                      depth + 1, at);
            }
        } else if (const ParallelNode* parallel = node->as_parallel()) {
            const auto& branches = std::get<NodeSpec::Parallel>(spec.kind).branches;
            for (std::size_t i = 0; i < parallel->branches.size(); ++i) {
                const Branch& branch = parallel->branches[i];
                const std::string index = "[" + std::to_string(i) + "]";
                std::string label_text = index + ' ';
                if (branches[i].gain_db) {
                    label_text += "gain_db=" + written(*branches[i].gain_db) + ' ';
                }
                if (branch.gain_db) {
                    mark_reads(*branch.gain_db, read);
                    if (branch.gain_db->is_const() && branch.gain_db->value <= -96.0f) {
                        warnings.push_back(finding(text, path + ".parallel" + index +
                                                             " gain_db is the constant " +
                                                             format_f32(branch.gain_db->value) +
                                                             ", so the branch is silent"));
                    }
                }
                visit(branches[i].node, branch.node, path + ".parallel" + index, depth + 1,
                      label_text);
            }
        }
    }
};

// Where an expression first names `name` as a whole word, outside object keys.
std::optional<std::size_t> first_use(std::string_view text, std::string_view name) {
    auto is_name = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    };
    for (std::size_t at = text.find(name); at != std::string_view::npos;
         at = text.find(name, at + 1)) {
        const std::size_t end = at + name.size();
        if (at > 0 && is_name(text[at - 1])) continue;
        if (end < text.size() && is_name(text[end])) continue;
        std::size_t after = end;
        if (after < text.size() && text[after] == '"') {
            ++after;
            while (after < text.size() && (text[after] == ' ' || text[after] == '\n'))
                ++after;
            if (after < text.size() && text[after] == ':') continue;  // a key
        }
        return at;
    }
    return std::nullopt;
}

}  // namespace

Report check(std::string_view text, std::span<const ParamValue> params, float sample_rate) {
    Report report;
    Result<GraphSpec> spec = spec::from_str(text);
    if (!spec) {
        report.errors.push_back(finding(text, spec.error()));
        return report;
    }
    // Said even when the graph does not compile: a modulator moved into a
    // node is one the expressions then cannot find.
    for (const KeyAt& nested : nested_keys(text, "modulators")) {
        report.warnings.push_back(Finding{
            nested.path + " has modulators, which only the root object can have, so they are "
                          "ignored. Move them to the root",
            nested.offset,
            {}});
    }
    std::vector<std::string_view> names;
    for (const ParamValue& p : params)
        names.push_back(p.name);

    Result<Graph> graph = Graph::from_spec(*spec, names);
    if (!graph) {
        GraphSpec modulators_only{spec->modulators, empty_chain()};
        Result<Graph> mods = Graph::from_spec(modulators_only, names);
        if (!mods) report.errors.push_back(finding(text, mods.error()));
        Compiler compiler{names, {}, blocks::all()};
        for (const ModSpec& mod : spec->modulators)
            compiler.modulators.push_back(mod.id);
        collect_errors(text, spec->root, compiler, "graph", report.errors);
        if (report.errors.empty()) report.errors.push_back(finding(text, graph.error()));
        // In the order of the text; those without a place last.
        std::stable_sort(report.errors.begin(), report.errors.end(),
                         [](const Finding& a, const Finding& b) {
                             return a.offset.value_or(SIZE_MAX) < b.offset.value_or(SIZE_MAX);
                         });
        return report;
    }

    graph->prepare(ProcessSetup{.max_frames = 512, .sample_rate = sample_rate, .channels = 2});
    std::vector<float> values;
    for (const ParamValue& p : params)
        values.push_back(p.value);
    values.resize(params.size() + spec->modulators.size(), 0.0f);

    Trials trials;
    trials.sample_rate = sample_rate;
    for (const ParamValue& p : params) {
        trials.names.push_back(p.name);
        std::vector<float> c{p.value};
        if (p.range) {
            for (const float end : {p.range->first, p.range->second}) {
                if (end != p.value) c.push_back(end);
            }
        }
        trials.candidates.push_back(std::move(c));
    }
    for (const ModSpec& mod : spec->modulators) {
        trials.names.push_back(mod.id);
        trials.candidates.push_back({0.0f, -1.0f, 1.0f});
    }
    Walk walk{text, ControlContext{values, sample_rate, 120.0f}, std::move(trials), {}, {}, {}};
    walk.read.assign(values.size(), false);
    for (std::size_t k = 0; k < graph->modulators().size(); ++k) {
        const ModSpec& mod = spec->modulators[k];
        mark_reads(graph->modulators()[k].rate, walk.read, params.size() + k);
        walk.tree +=
            "modulator " + mod.id + ": " + mod.shape + " at " + written(mod.rate) + " Hz\n";
    }
    walk.visit(spec->root, graph->root(), "graph", 0, "");
    report.tree = std::move(walk.tree);

    for (std::size_t i = 0; i < params.size(); ++i) {
        for (const BuiltIn& b : BUILT_INS) {
            if (params[i].name != b.name) continue;
            report.warnings.push_back(
                Finding{"the parameter " + quoted(b.name) + " is hidden by the built-in name " +
                            quoted(b.name) + " (" + std::string(b.meaning) +
                            "): an expression naming it reads the built-in. Give the "
                            "parameter another id",
                        first_use(text, b.name),
                        {}});
        }
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (walk.read[i]) continue;
        report.warnings.push_back(Finding{
            "the parameter " + quoted(params[i].name) + " is never read", std::nullopt, {}});
    }
    for (std::size_t k = 0; k < spec->modulators.size(); ++k) {
        if (walk.read[params.size() + k]) continue;
        const std::string& id = spec->modulators[k].id;
        report.warnings.push_back(Finding{"the modulator " + quoted(id) + " is never used",
                                          locate(text, "modulator " + quoted(id)),
                                          {}});
    }
    for (Finding& w : walk.warnings)
        report.warnings.push_back(std::move(w));
    return report;
}

}  // namespace orba::graph_tool
