#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "orba/core/result.h"
#include "orba/core/value.h"

namespace orba {

// What graph text writes for a block argument, bypass, mix, branch gain or
// modulator rate: a number (booleans read as 1 and 0) or a text the compiler
// reads as a choice name or an expression. Absence is an empty optional
// around it, never a special value.
struct ArgValue {
    enum class Kind { Number, Text };

    Kind kind = Kind::Number;
    double number = 0.0;  // meaningful for Number
    std::string text;     // meaningful for Text, verbatim (not trimmed)

    static ArgValue of_number(double n) { return ArgValue{Kind::Number, n, {}}; }
    static ArgValue of_text(std::string t) { return ArgValue{Kind::Text, 0.0, std::move(t)}; }

    bool is_number() const { return kind == Kind::Number; }
    bool is_text() const { return kind == Kind::Text; }

    bool operator==(const ArgValue&) const = default;
};

// One low-frequency modulator of the top-level "modulators" list.
struct ModSpec {
    std::string id;  // as written; the compiler checks it
    std::string shape = "sine";
    ArgValue rate = ArgValue::of_number(1.0);  // cycles per second
};

struct BranchSpec;

// One node of the graph tree.
struct NodeSpec {
    struct Block {
        std::string block;                                        // registry name, as written
        std::vector<std::pair<std::string, ArgValue>> args;       // document order, repeats kept
        std::vector<std::pair<std::string, std::string>> meters;  // meter name, parameter name
    };
    struct Chain {
        std::vector<NodeSpec> nodes;  // run in series; may be empty
    };
    struct Parallel {
        std::vector<BranchSpec> branches;  // never empty
    };
    using Kind = std::variant<Block, Chain, Parallel>;

    Kind kind;
    std::optional<std::vector<std::uint64_t>> only;  // channel indices; may be empty
    std::optional<ArgValue> bypass;
    std::optional<ArgValue> mix;

    const Block* as_block() const { return std::get_if<Block>(&kind); }
    const Chain* as_chain() const { return std::get_if<Chain>(&kind); }
    const Parallel* as_parallel() const { return std::get_if<Parallel>(&kind); }
};

using NodeSpecKind = NodeSpec::Kind;

// One branch of a parallel node.
struct BranchSpec {
    NodeSpec node;
    std::optional<ArgValue> gain_db;
};

// A whole graph document.
struct GraphSpec {
    std::vector<ModSpec> modulators;  // document order; empty when absent
    NodeSpec root;
};

namespace spec {

// Parses graph text and reads it; a JSON fault reads
// "the graph is not valid JSON: <parser message>".
Result<GraphSpec> from_str(std::string_view text);

// Reads a parsed document: the modulators first, then the root node at "graph".
Result<GraphSpec> from_json(const Json& value);

// Reads one node standing at `path` (such as "graph.chain[0].parallel[1].node").
Result<NodeSpec> node_from_json(const Json& value, std::string_view path);

// Fails with "<path> must be an object" or with the first key (in document
// order) that is not in `allowed`; an empty optional means the keys are fine.
std::optional<Error> only_keys(const Json& value, std::span<const std::string_view> allowed,
                               std::string_view path);

}  // namespace spec

}  // namespace orba
