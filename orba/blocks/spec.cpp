#include "orba/blocks/spec.h"

#include <array>
#include <cmath>
#include <limits>

namespace orba::spec {

namespace {

constexpr std::array<std::string_view, 10> NODE_KEYS = {
    "block", "args", "meters", "chain", "parallel", "bypass", "mix", "only", "modulators", "id"};
constexpr std::array<std::string_view, 2> BRANCH_KEYS = {"node", "gain_db"};
constexpr std::array<std::string_view, 3> MODULATOR_KEYS = {"id", "shape", "rate"};

// Node objects sit inside at least one array and one object each, so text from
// the JSON parser never nests nodes this deep; the limit guards values built
// by hand.
constexpr int MAX_NODE_DEPTH = json::MAX_DEPTH;

std::string cat(std::string_view a, std::string_view b) {
    std::string s;
    s.reserve(a.size() + b.size());
    s += a;
    s += b;
    return s;
}

std::string indexed(std::string_view path, std::string_view key, std::size_t i) {
    std::string s(path);
    s += key;
    s += '[';
    s += std::to_string(i);
    s += ']';
    return s;
}

// `phrase` names the place, e.g. "graph.chain[1] mix" or "modulators[0] rate".
Result<ArgValue> arg_value(const Json& v, std::string_view phrase) {
    switch (v.kind()) {
        case Json::Kind::Number:
            return ArgValue::of_number(v.as_number());
        case Json::Kind::Bool:
            return ArgValue::of_number(v.as_bool() ? 1.0 : 0.0);
        case Json::Kind::String:
            return ArgValue::of_text(v.as_string());
        default:
            return fail(cat(phrase, " must be a number or a string"));
    }
}

// Reads `key` of `object` into `out` when present.
std::optional<Error> optional_arg(const Json& object, std::string_view key, std::string_view path,
                                  std::optional<ArgValue>& out) {
    const Json* v = object.get(key);
    if (v == nullptr) return std::nullopt;
    std::string phrase(path);
    phrase += ' ';
    phrase += key;
    Result<ArgValue> a = arg_value(*v, phrase);
    if (!a) return std::move(a).take_error();
    out = std::move(a).value();
    return std::nullopt;
}

std::uint64_t channel_index(double v) {
    // 2^64 is the first double beyond the range; the cast below it is exact.
    if (v >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(v);
}

Result<NodeSpec> read_node(const Json& value, std::string_view path, int depth);

Result<NodeSpec::Block> read_block(const Json& value, std::string_view path) {
    NodeSpec::Block block;
    const Json* name = value.get("block");
    if (!name->is_string()) return fail(cat(path, " block must be a name"));
    block.block = name->as_string();

    if (const Json* args = value.get("args")) {
        if (!args->is_object()) return fail(cat(path, " args must be an object"));
        for (const Json::Member& m : args->as_object()) {
            std::string phrase(path);
            phrase += " argument '";
            phrase += m.first;
            phrase += '\'';
            Result<ArgValue> a = arg_value(m.second, phrase);
            if (!a) return std::move(a).take_error();
            block.args.emplace_back(m.first, std::move(a).value());
        }
    }
    if (const Json* meters = value.get("meters")) {
        if (!meters->is_object()) return fail(cat(path, " meters must be an object"));
        for (const Json::Member& m : meters->as_object()) {
            if (!m.second.is_string()) {
                std::string message(path);
                message += " meter '";
                message += m.first;
                message += "' must name a parameter";
                return fail(std::move(message));
            }
            block.meters.emplace_back(m.first, m.second.as_string());
        }
    }
    return block;
}

Result<NodeSpec::Chain> read_chain(const Json& value, std::string_view path, int depth) {
    const Json* list = value.get("chain");
    if (!list->is_array()) return fail(cat(path, " chain must be a list"));
    NodeSpec::Chain chain;
    const Json::Array& items = list->as_array();
    chain.nodes.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        Result<NodeSpec> node = read_node(items[i], indexed(path, ".chain", i), depth + 1);
        if (!node) return std::move(node).take_error();
        chain.nodes.push_back(std::move(node).value());
    }
    return chain;
}

Result<NodeSpec::Parallel> read_parallel(const Json& value, std::string_view path, int depth) {
    const Json* list = value.get("parallel");
    if (!list->is_array()) return fail(cat(path, " parallel must be a list of branches"));
    const Json::Array& items = list->as_array();
    if (items.empty()) return fail(cat(path, " parallel needs at least one branch"));
    NodeSpec::Parallel parallel;
    parallel.branches.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string branch_path = indexed(path, ".parallel", i);
        if (auto e = only_keys(items[i], BRANCH_KEYS, branch_path)) return std::move(*e);
        const Json* node = items[i].get("node");
        if (node == nullptr) return fail(cat(branch_path, " needs a node"));
        BranchSpec branch;
        if (auto e = optional_arg(items[i], "gain_db", branch_path, branch.gain_db)) {
            return std::move(*e);
        }
        Result<NodeSpec> inner = read_node(*node, cat(branch_path, ".node"), depth + 1);
        if (!inner) return std::move(inner).take_error();
        branch.node = std::move(inner).value();
        parallel.branches.push_back(std::move(branch));
    }
    return parallel;
}

Result<NodeSpec> read_node(const Json& value, std::string_view path, int depth) {
    if (auto e = only_keys(value, NODE_KEYS, path)) return std::move(*e);
    if (depth > MAX_NODE_DEPTH) return fail(cat(path, " is nested too deeply"));

    NodeSpec node;
    if (auto e = optional_arg(value, "bypass", path, node.bypass)) return std::move(*e);
    if (auto e = optional_arg(value, "mix", path, node.mix)) return std::move(*e);

    if (const Json* only = value.get("only")) {
        if (!only->is_array()) return fail(cat(path, " only must be a list of channel numbers"));
        std::vector<std::uint64_t> channels;
        for (const Json& c : only->as_array()) {
            // NaN and infinities fail the whole-number test as well.
            if (!c.is_number() || !(c.as_number() >= 0.0) ||
                c.as_number() - std::trunc(c.as_number()) != 0.0) {
                return fail(cat(path, " only must hold whole channel numbers from 0"));
            }
            channels.push_back(channel_index(c.as_number()));
        }
        node.only = std::move(channels);
    }

    const int kinds = (value.get("block") != nullptr) + (value.get("chain") != nullptr) +
                      (value.get("parallel") != nullptr);
    if (kinds != 1) return fail(cat(path, " must have exactly one of block, chain or parallel"));

    if (value.get("block") != nullptr) {
        Result<NodeSpec::Block> block = read_block(value, path);
        if (!block) return std::move(block).take_error();
        node.kind = std::move(block).value();
    } else if (value.get("chain") != nullptr) {
        Result<NodeSpec::Chain> chain = read_chain(value, path, depth);
        if (!chain) return std::move(chain).take_error();
        node.kind = std::move(chain).value();
    } else {
        Result<NodeSpec::Parallel> parallel = read_parallel(value, path, depth);
        if (!parallel) return std::move(parallel).take_error();
        node.kind = std::move(parallel).value();
    }
    return node;
}

Result<ModSpec> read_modulator(const Json& value, std::string_view path) {
    if (auto e = only_keys(value, MODULATOR_KEYS, path)) return std::move(*e);
    const Json* id = value.get("id");
    if (id == nullptr || !id->is_string()) return fail(cat(path, " needs an id"));
    ModSpec mod;
    mod.id = id->as_string();
    if (const Json* shape = value.get("shape"); shape != nullptr && shape->is_string()) {
        mod.shape = shape->as_string();
    }
    std::optional<ArgValue> rate;
    if (auto e = optional_arg(value, "rate", path, rate)) return std::move(*e);
    if (rate) mod.rate = std::move(*rate);
    return mod;
}

}  // namespace

std::optional<Error> only_keys(const Json& value, std::span<const std::string_view> allowed,
                               std::string_view path) {
    if (!value.is_object()) return fail(cat(path, " must be an object"));
    for (const Json::Member& m : value.as_object()) {
        bool known = false;
        for (std::string_view k : allowed)
            known = known || k == m.first;
        if (known) continue;
        std::string message(path);
        message += " has an unknown key '";
        message += m.first;
        message += "'. It can have: ";
        for (std::size_t i = 0; i < allowed.size(); ++i) {
            if (i > 0) message += ", ";
            message += allowed[i];
        }
        return fail(std::move(message));
    }
    return std::nullopt;
}

Result<NodeSpec> node_from_json(const Json& value, std::string_view path) {
    return read_node(value, path, 0);
}

Result<GraphSpec> from_json(const Json& value) {
    GraphSpec graph;
    if (const Json* mods = value.get("modulators")) {
        if (!mods->is_array()) return fail("modulators must be a list");
        const Json::Array& items = mods->as_array();
        for (std::size_t i = 0; i < items.size(); ++i) {
            Result<ModSpec> mod = read_modulator(items[i], indexed("", "modulators", i));
            if (!mod) return std::move(mod).take_error();
            graph.modulators.push_back(std::move(mod).value());
        }
    }
    Result<NodeSpec> root = node_from_json(value, "graph");
    if (!root) return std::move(root).take_error();
    graph.root = std::move(root).value();
    return graph;
}

Result<GraphSpec> from_str(std::string_view text) {
    Result<Json> doc = json::parse(text);
    if (!doc) return fail(cat("the graph is not valid JSON: ", doc.error()));
    return from_json(*doc);
}

}  // namespace orba::spec
