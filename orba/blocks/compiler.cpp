// The compile side of Graph: graph description and parameter names in, a
// runnable Graph or the first fault as one line out.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "orba/blocks/blocks.h"
#include "orba/blocks/blocks/loop.h"
#include "orba/blocks/graph.h"
#include "orba/core/charconv.h"
#include "orba/core/unicode.h"

namespace orba {

namespace {

// The rows of the keys that belong to no block.
constexpr ArgInfo AMOUNT_ROW{"amount", "", {}, "", 0.0f, 1.0f, 0.0f, false};
constexpr ArgInfo GAIN_ROW{"gain_db", "dB", {}, "", -96.0f, 48.0f, 0.0f, false};
constexpr ArgInfo RATE_ROW{"rate", "Hz",   {},   "How many cycles each second.",
                           0.001f, 200.0f, 1.0f, false};

constexpr std::string_view SHAPES[] = {"sine", "triangle", "saw", "square", "random"};

template <class List, class Name>
std::string join(const List& list, Name name) {
    std::string out;
    for (const auto& item : list) {
        if (!out.empty()) out += ", ";
        out += name(item);
    }
    return out;
}

std::string quoted(std::string_view text) {
    std::string out = "'";
    out += text;
    out += '\'';
    return out;
}

// The nearest f32 to a f64; values past the f32 range round to infinity
// exactly where IEEE rounding would.
float nearest_f32(double v) {
    constexpr double LIMIT = 340282356779733661637539395458142568448.0;  // 2^128 - 2^103
    if (std::isfinite(v) && std::fabs(v) >= LIMIT) {
        return v > 0 ? std::numeric_limits<float>::infinity()
                     : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(v);
}

Result<Arg> checked(float value, const ArgInfo& info, std::string_view label) {
    if (std::isfinite(value) && value >= info.min && value <= info.max) {
        return Arg::constant(value);
    }
    std::string message(label);
    message += " is " + format_f32(value) + ", outside the range " + format_f32(info.min) + " to " +
               format_f32(info.max);
    if (!info.unit.empty()) {
        message += ' ';
        message += info.unit;
    }
    return fail(std::move(message));
}

bool same_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool usable_name(std::string_view name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
    for (char c : name) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    return true;
}

std::optional<Arg> compile_amount(const std::optional<ArgValue>& value, const ArgInfo& row,
                                  const Compiler& compiler, const std::string& label,
                                  std::optional<Error>& error) {
    if (!value) return std::nullopt;
    Result<Arg> arg = compile_arg(*value, row, compiler, label);
    if (!arg) {
        error = std::move(arg).take_error();
        return std::nullopt;
    }
    return std::move(arg).value();
}

Result<Node> compile_block(const NodeSpec::Block& spec, const Compiler& compiler,
                           std::string_view path) {
    const std::string place = std::string(path) + ": ";
    const BlockInfo* info = nullptr;
    for (const BlockInfo* candidate : compiler.blocks) {
        if (candidate->name == spec.block) {
            info = candidate;
            break;
        }
    }
    if (info == nullptr) {
        return fail(place + "there is no block called " + quoted(spec.block) +
                    ". The blocks are: " +
                    join(compiler.blocks, [](const BlockInfo* b) { return b->name; }));
    }
    for (const auto& [name, value] : spec.args) {
        bool known = false;
        for (const ArgInfo& row : info->args)
            known = known || row.name == name;
        if (!known) {
            return fail(place + "the block " + quoted(info->name) + " has no argument " +
                        quoted(name) + ". Its arguments are: " +
                        join(info->args, [](const ArgInfo& row) { return row.name; }));
        }
    }

    BlockNode node;
    node.info = info;
    node.args.reserve(info->args.size());
    for (std::size_t i = 0; i < info->args.size(); ++i) {
        const ArgInfo& row = info->args[i];
        const ArgValue* given = nullptr;
        for (const auto& [name, value] : spec.args) {
            if (name == row.name) {
                given = &value;
                break;
            }
        }
        if (given == nullptr) {
            node.args.push_back(Arg::constant(row.default_value));
            continue;
        }
        std::string label = place;
        label += info->name;
        label += '.';
        label += row.name;
        Result<Arg> arg = compile_arg(*given, row, compiler, label);
        if (!arg) return std::move(arg).take_error();
        node.args.push_back(std::move(arg).value());
    }

    std::vector<float> configured;
    configured.reserve(node.args.size());
    node.values.reserve(node.args.size());
    for (std::size_t i = 0; i < node.args.size(); ++i) {
        const Arg& arg = node.args[i];
        configured.push_back(arg.is_const() ? arg.value : info->args[i].default_value);
        // Constants never change, so they are normalised here and not per tick.
        node.values.push_back(arg.is_const() ? normalise(arg.value, info->args[i]) : 0.0f);
        if (!arg.is_const()) node.moving.push_back(i);
    }
    node.block = info->make();
    node.block->configure(configured);

    for (const auto& [meter, param] : spec.meters) {
        std::size_t m = 0;
        while (m < info->meters.size() && info->meters[m] != meter)
            ++m;
        if (m == info->meters.size()) {
            std::string message =
                place + "the block " + quoted(info->name) + " has no meter " + quoted(meter) + ". ";
            if (info->meters.empty()) {
                message += "It has no meters.";
            } else {
                message += "Its meters are: " +
                           join(info->meters, [](std::string_view name) { return name; });
            }
            return fail(std::move(message));
        }
        std::size_t p = 0;
        while (p < compiler.params.size() && compiler.params[p] != param)
            ++p;
        if (p == compiler.params.size()) {
            return fail(place + "the meter " + quoted(meter) + " is bound to " + quoted(param) +
                        ", which is not a parameter");
        }
        node.meters.emplace_back(m, p);
    }
    return Node{std::move(node)};
}

}  // namespace

std::string format_f32(float value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    // The shortest round-trip digits come from the scientific form; they are
    // then laid out without an exponent, padded with zeros (1e30 is written
    // as a 1 and thirty zeros, 1e-10 as 0.0000000001).
    char text[32];
    const auto result =
        orba::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
    const std::string_view sci(text, static_cast<std::size_t>(result.ptr - text));
    const std::size_t e = sci.find('e');
    std::string out;
    std::string digits;
    for (char c : sci.substr(0, e)) {
        if (c == '-') {
            out += '-';
        } else if (c != '.') {
            digits += c;
        }
    }
    int exponent = 0;
    std::string_view power = sci.substr(e + 1);
    if (!power.empty() && power[0] == '+') power.remove_prefix(1);
    std::from_chars(power.data(), power.data() + power.size(), exponent);

    const int point = exponent + 1;  // digits before the decimal point
    const int count = static_cast<int>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (point >= count) {
        out += digits;
        out.append(static_cast<std::size_t>(point - count), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(point));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(point));
    }
    return out;
}

std::string Compiler::names() const {
    std::string out;
    for (std::string_view name : params) {
        if (!out.empty()) out += ", ";
        out += name;
    }
    for (const std::string& name : modulators) {
        if (!out.empty()) out += ", ";
        out += name;
    }
    return out;
}

Result<std::unique_ptr<expr::Node>> Compiler::parse(std::string_view text) const {
    const expr::Lookup lookup = [this](std::string_view name) -> std::optional<std::uint32_t> {
        for (std::size_t i = 0; i < params.size(); ++i) {
            if (params[i] == name) return static_cast<std::uint32_t>(i);
        }
        for (std::size_t j = 0; j < modulators.size(); ++j) {
            if (modulators[j] == name) return static_cast<std::uint32_t>(params.size() + j);
        }
        return std::nullopt;
    };
    Result<expr::Node> tree = expr::Expr::parse(text, lookup);
    if (!tree) return std::move(tree).take_error();
    return std::make_unique<expr::Node>(std::move(tree).value());
}

Result<Arg> compile_arg(const ArgValue& value, const ArgInfo& info, const Compiler& compiler,
                        std::string_view label) {
    if (value.is_number()) return checked(nearest_f32(value.number), info, label);

    const std::string& text = value.text;
    if (!info.choices.empty()) {
        const std::string_view name = unicode::trim_white_space(text);
        for (std::size_t i = 0; i < info.choices.size(); ++i) {
            if (same_ignoring_ascii_case(name, info.choices[i])) {
                return Arg::constant(static_cast<float>(i));
            }
        }
    }
    Result<std::unique_ptr<expr::Node>> tree = compiler.parse(text);
    if (!tree) {
        const std::string detail = tree.error() + ". The names available are: " + compiler.names();
        std::string message(label);
        if (info.choices.empty()) {
            message += ": " + detail;
        } else {
            message += ": " + quoted(text) + " is not one of " +
                       join(info.choices, [](std::string_view c) { return c; }) +
                       " and not a valid expression (" + detail + ")";
        }
        return fail(std::move(message));
    }
    if (expr::is_const(**tree)) {
        const ControlContext still{{}, 48000.0f, 120.0f};
        return checked(expr::eval(**tree, still), info, label);
    }
    if (info.constant) {
        return fail(std::string(label) +
                    " is fixed when the plugin is built, so it must be a number and cannot "
                    "follow a parameter");
    }
    Arg arg{std::move(tree).value(), info.default_value};
    if (const auto* slot = std::get_if<expr::Slot>(&arg.expr->v)) arg.slot = slot->index;
    return arg;
}

Result<Node> compile_node(const NodeSpec& spec, const Compiler& compiler, std::string_view path) {
    Result<Node> built = fail("");
    if (const NodeSpec::Block* block = spec.as_block()) {
        built = compile_block(*block, compiler, path);
    } else if (const NodeSpec::Chain* chain = spec.as_chain()) {
        ChainNode node;
        node.nodes.reserve(chain->nodes.size());
        for (std::size_t i = 0; i < chain->nodes.size(); ++i) {
            Result<Node> child = compile_node(
                chain->nodes[i], compiler, std::string(path) + ".chain[" + std::to_string(i) + "]");
            if (!child) return child;
            node.nodes.push_back(std::move(child).value());
        }
        built = Node{std::move(node)};
    } else if (const NodeSpec::Parallel* parallel = spec.as_parallel()) {
        ParallelNode node;
        node.branches.reserve(parallel->branches.size());
        for (std::size_t i = 0; i < parallel->branches.size(); ++i) {
            const BranchSpec& branch = parallel->branches[i];
            const std::string at = std::string(path) + ".parallel[" + std::to_string(i) + "]";
            Result<Node> child = compile_node(branch.node, compiler, at);
            if (!child) return child;
            std::optional<Error> error;
            std::optional<Arg> gain =
                compile_amount(branch.gain_db, GAIN_ROW, compiler, at + " gain_db", error);
            if (error) return std::move(*error);
            node.branches.push_back(Branch{std::move(child).value(), std::move(gain), {}, {}});
        }
        built = Node{std::move(node)};
    }
    if (!built) return built;
    if (!spec.bypass && !spec.mix && !spec.only) return built;

    auto mix = std::make_unique<MixNode>();
    std::optional<Error> error;
    mix->bypass =
        compile_amount(spec.bypass, AMOUNT_ROW, compiler, std::string(path) + " bypass", error);
    if (error) return std::move(*error);
    mix->mix = compile_amount(spec.mix, AMOUNT_ROW, compiler, std::string(path) + " mix", error);
    if (error) return std::move(*error);
    mix->only = spec.only;
    mix->inner = std::move(built).value();
    return Node{std::move(mix)};
}

Result<Graph> Graph::from_str(std::string_view text, std::span<const std::string_view> params) {
    Result<GraphSpec> spec = spec::from_str(text);
    if (!spec) return std::move(spec).take_error();
    return from_spec(*spec, params);
}

Result<Graph> Graph::from_spec(const GraphSpec& spec, std::span<const std::string_view> params) {
    return from_spec(spec, params, blocks::all());
}

Result<Graph> Graph::from_spec(const GraphSpec& spec, std::span<const std::string_view> params,
                               std::span<const BlockInfo* const> blocks) {
    Compiler compiler{params, {}, blocks};
    for (std::size_t k = 0; k < spec.modulators.size(); ++k) {
        const std::string& id = spec.modulators[k].id;
        for (std::string_view param : params) {
            if (param == id) {
                return fail("the modulator " + quoted(id) + " has the same name as a parameter");
            }
        }
        for (std::size_t j = 0; j < k; ++j) {
            if (spec.modulators[j].id == id) {
                return fail("two modulators are called " + quoted(id));
            }
        }
        if (!usable_name(id)) {
            return fail(quoted(id) +
                        " is not a usable modulator name. Use letters, "
                        "digits and underscores, "
                        "starting with a letter");
        }
    }
    // Every id is known before any rate compiles, so a rate may read any
    // modulator, itself included.
    for (const ModSpec& mod : spec.modulators)
        compiler.modulators.push_back(mod.id);

    std::vector<Modulator> modulators;
    modulators.reserve(spec.modulators.size());
    for (std::size_t k = 0; k < spec.modulators.size(); ++k) {
        const ModSpec& mod = spec.modulators[k];
        std::size_t shape = 0;
        while (shape < std::size(SHAPES) && SHAPES[shape] != mod.shape)
            ++shape;
        if (shape == std::size(SHAPES)) {
            return fail("modulator " + quoted(mod.id) + " has the shape " + quoted(mod.shape) +
                        ". The shapes are sine, triangle, saw, square and random");
        }
        Result<Arg> rate =
            compile_arg(mod.rate, RATE_ROW, compiler, "modulator " + quoted(mod.id) + " rate");
        if (!rate) return std::move(rate).take_error();
        Modulator modulator;
        modulator.rate = std::move(rate).value();
        modulator.shape = static_cast<Modulator::Shape>(shape);
        modulator.reset(k);
        modulators.push_back(std::move(modulator));
    }

    Result<Node> root = compile_node(spec.root, compiler, "graph");
    if (!root) return std::move(root).take_error();
    if (auto error = blocks::loop::pair(root.value(), "graph")) return fail(std::move(*error));
    return Graph(std::move(root).value(), std::move(modulators), params.size());
}

}  // namespace orba
