#include "check.h"

#include <algorithm>
#include <array>
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

Finding finding(std::string_view text, std::string message) {
    std::optional<std::size_t> offset = locate(text, message);
    return Finding{std::move(message), offset};
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

// Which value-table slots the expressions of one argument read.
void mark_reads(const Arg& arg, std::vector<bool>& read, std::size_t skip = SIZE_MAX) {
    if (arg.slot != Arg::NO_SLOT) {
        if (arg.slot < read.size() && arg.slot != skip) read[arg.slot] = true;
        return;
    }
    if (!arg.expr) return;
    std::vector<const expr::Node*> stack{arg.expr.get()};
    while (!stack.empty()) {
        const expr::Node* node = stack.back();
        stack.pop_back();
        if (const auto* slot = std::get_if<expr::Slot>(&node->v)) {
            if (slot->index < read.size() && slot->index != skip) read[slot->index] = true;
        } else if (const auto* neg = std::get_if<expr::Neg>(&node->v)) {
            stack.push_back(neg->child.get());
        } else if (const auto* binary = std::get_if<expr::Binary>(&node->v)) {
            stack.push_back(&binary->left());
            stack.push_back(&binary->right());
        } else if (const auto* call = std::get_if<expr::Call>(&node->v)) {
            for (const expr::Node& a : call->args)
                stack.push_back(&a);
        }
    }
}

struct Walk {
    std::string_view text;
    ControlContext context;
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

    Walk walk{text, ControlContext{values, sample_rate, 120.0f}, {}, {}, {}};
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
                        first_use(text, b.name)});
        }
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (walk.read[i]) continue;
        report.warnings.push_back(
            Finding{"the parameter " + quoted(params[i].name) + " is never read", std::nullopt});
    }
    for (std::size_t k = 0; k < spec->modulators.size(); ++k) {
        if (walk.read[params.size() + k]) continue;
        const std::string& id = spec->modulators[k].id;
        report.warnings.push_back(Finding{"the modulator " + quoted(id) + " is never used",
                                          locate(text, "modulator " + quoted(id))});
    }
    for (Finding& w : walk.warnings)
        report.warnings.push_back(std::move(w));
    return report;
}

}  // namespace orba::graph_tool
