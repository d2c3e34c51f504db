#include "orba/blocks/spec.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>

namespace orba {
namespace {

struct Failure {
    std::string text;
    std::string message;
};

void expect_failures(std::span<const Failure> cases) {
    for (const Failure& c : cases) {
        Result<GraphSpec> r = spec::from_str(c.text);
        ASSERT_FALSE(r.ok()) << c.text;
        EXPECT_EQ(r.error(), c.message) << c.text;
    }
}

GraphSpec read(std::string_view text) {
    Result<GraphSpec> r = spec::from_str(text);
    if (!r.ok()) ADD_FAILURE() << text << ": " << r.error();
    return r.ok() ? std::move(r).value() : GraphSpec{};
}

const char* const NODE_KEY_LIST =
    "block, args, meters, chain, parallel, bypass, mix, only, modulators, id";

TEST(GraphSpec, EachShapeFaultHasItsOwnMessage) {
    const std::string unknown_node_key =
        std::string("graph.chain[0] has an unknown key 'blok'. It can have: ") + NODE_KEY_LIST;
    const Failure cases[] = {
        {"{", "the graph is not valid JSON: expected a string key at byte 1"},
        {"", "the graph is not valid JSON: unexpected end of input at byte 0"},
        {R"({"modulators": {}, "chain": []})", "modulators must be a list"},
        {"[]", "graph must be an object"},
        {"3", "graph must be an object"},
        {R"({"chain": [{"blok": "gain"}]})", unknown_node_key},
        {R"({"parallel": [{"node": {"chain": []}, "mix": 1}]})",
         "graph.parallel[0] has an unknown key 'mix'. It can have: node, gain_db"},
        {R"({"modulators": [{"shape": "saw"}], "chain": []})", "modulators[0] needs an id"},
        {R"({"modulators": [{"id": 3}], "chain": []})", "modulators[0] needs an id"},
        {R"({"modulators": [{"id": "x", "rate": [1]}], "chain": []})",
         "modulators[0] rate must be a number or a string"},
        {R"({"modulators": [{"id": "x"}, 5], "chain": []})", "modulators[1] must be an object"},
        {R"({"modulators": [{"id": "x", "depth": 1}], "chain": []})",
         "modulators[0] has an unknown key 'depth'. It can have: id, shape, rate"},
        {R"({"mix": null, "chain": []})", "graph mix must be a number or a string"},
        {R"({"bypass": {}, "chain": []})", "graph bypass must be a number or a string"},
        {R"({"only": 1, "chain": []})", "graph only must be a list of channel numbers"},
        {R"({"only": [1.5], "chain": []})", "graph only must hold whole channel numbers from 0"},
        {R"({"only": [-1], "chain": []})", "graph only must hold whole channel numbers from 0"},
        {R"({"only": ["0"], "chain": []})", "graph only must hold whole channel numbers from 0"},
        {R"({"only": [1e400], "chain": []})", "graph only must hold whole channel numbers from 0"},
        {"{}", "graph must have exactly one of block, chain or parallel"},
        {R"({"block": "gain", "chain": []})",
         "graph must have exactly one of block, chain or parallel"},
        {R"({"block": null, "chain": []})",
         "graph must have exactly one of block, chain or parallel"},
        {R"({"block": "gain", "chain": [], "parallel": []})",
         "graph must have exactly one of block, chain or parallel"},
        {R"({"block": 5})", "graph block must be a name"},
        {R"({"block": "gain", "args": []})", "graph args must be an object"},
        {R"({"block": "gain", "args": {"gain_db": null}})",
         "graph argument 'gain_db' must be a number or a string"},
        {R"({"block": "gain", "meters": "level"})", "graph meters must be an object"},
        {R"({"block": "gain", "meters": {"level": 1}})",
         "graph meter 'level' must name a parameter"},
        {R"({"chain": {}})", "graph chain must be a list"},
        {R"({"parallel": {}})", "graph parallel must be a list of branches"},
        {R"({"parallel": []})", "graph parallel needs at least one branch"},
        {R"({"parallel": [{"gain_db": 0}]})", "graph.parallel[0] needs a node"},
        {R"({"parallel": [3]})", "graph.parallel[0] must be an object"},
        {R"({"parallel": [{"node": {"chain": []}, "gain_db": [0]}]})",
         "graph.parallel[0] gain_db must be a number or a string"},
    };
    expect_failures(cases);
}

TEST(GraphSpec, NestedFaultsNameTheirPlaceThroughChainsBranchesAndNodes) {
    const Failure cases[] = {
        {R"({"parallel": [{"node": {"chain": []}},
                          {"node": {"chain": [{"block": 5}]}}]})",
         "graph.parallel[1].node.chain[0] block must be a name"},
        {R"({"chain": [{"chain": []}, {"parallel": [{"node": {"chain": [
             {"block": "a"}, {"block": "b"}, {"chain": 1}]}}]}]})",
         "graph.chain[1].parallel[0].node.chain[2] chain must be a list"},
        {R"({"chain": [{"parallel": [{"node": {"block": "a"}}, {"node": 7}]}]})",
         "graph.chain[0].parallel[1].node must be an object"},
        {R"({"chain": [{"parallel": [{"node": {"block": "a"}, "gain_db": null}]}]})",
         "graph.chain[0].parallel[0] gain_db must be a number or a string"},
        {R"({"chain": [{"block": "d", "args": {"time_ms": 1, "fb": []}}]})",
         "graph.chain[0] argument 'fb' must be a number or a string"},
        {R"({"chain": [{"block": "d", "meters": {"in": "a", "out": false}}]})",
         "graph.chain[0] meter 'out' must name a parameter"},
        {R"({"chain": [{"block": "d"}, {"parallel": [{"node": {"mix": [], "chain": []}}]}]})",
         "graph.chain[1].parallel[0].node mix must be a number or a string"},
    };
    expect_failures(cases);
}

TEST(GraphSpec, ChecksRunInTheirDocumentedOrder) {
    const Failure cases[] = {
        // Modulators before anything in the node tree.
        {R"({"modulators": [{"shape": "saw"}], "blok": 1})", "modulators[0] needs an id"},
        {R"({"modulators": 1, "blok": 1})", "modulators must be a list"},
        // In a node: keys, bypass, mix, only, then the count.
        {R"({"blok": 1, "bypass": null})",
         std::string("graph has an unknown key 'blok'. It can have: ") + NODE_KEY_LIST},
        {R"({"only": 1, "mix": null, "bypass": null})",
         "graph bypass must be a number or a string"},
        {R"({"only": 1, "mix": null})", "graph mix must be a number or a string"},
        {R"({"only": 1})", "graph only must be a list of channel numbers"},
        {R"({"only": [-1], "block": 1, "chain": 1})",
         "graph only must hold whole channel numbers from 0"},
        // The count before the kind's own checks.
        {R"({"block": 1, "chain": 1})", "graph must have exactly one of block, chain or parallel"},
        // In a block: the name, the arguments, then the meters.
        {R"({"meters": [], "args": [], "block": 1})", "graph block must be a name"},
        {R"({"meters": [], "args": [], "block": "x"})", "graph args must be an object"},
        // In a branch: keys, the node's presence, the gain, then the node itself.
        {R"({"parallel": [{"gain_db": null, "x": 1}]})",
         "graph.parallel[0] has an unknown key 'x'. It can have: node, gain_db"},
        {R"({"parallel": [{"gain_db": null}]})", "graph.parallel[0] needs a node"},
        {R"({"parallel": [{"gain_db": null, "node": 1}]})",
         "graph.parallel[0] gain_db must be a number or a string"},
        // Elements in order: the first faulty one is reported.
        {R"({"chain": [{"block": "a"}, {"block": 1}, {"block": 2}]})",
         "graph.chain[1] block must be a name"},
        {R"({"modulators": [{"id": "a", "rate": null}, {}], "chain": []})",
         "modulators[0] rate must be a number or a string"},
        {R"({"chain": [{"block": "a", "zz": 1, "yy": 2}]})",
         std::string("graph.chain[0] has an unknown key 'zz'. It can have: ") + NODE_KEY_LIST},
    };
    expect_failures(cases);
}

TEST(GraphSpec, RepeatedArgumentsAndMetersAreAllRead) {
    expect_failures(std::array{
        Failure{R"({"block": "d", "args": {"time_ms": 100, "time_ms": [1]}})",
                "graph argument 'time_ms' must be a number or a string"},
        Failure{R"({"block": "d", "meters": {"m": "a", "m": 1}})",
                "graph meter 'm' must name a parameter"},
    });
    GraphSpec g =
        read(R"({"block": "d", "args": {"t": 1, "t": "x"}, "meters": {"m": "a", "m": "b"}})");
    const NodeSpec::Block* b = g.root.as_block();
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->args.size(), 2u);
    EXPECT_EQ(b->args[0].second, ArgValue::of_number(1.0));
    EXPECT_EQ(b->args[1].second, ArgValue::of_text("x"));
    ASSERT_EQ(b->meters.size(), 2u);
    EXPECT_EQ(b->meters[1].second, "b");
}

TEST(GraphSpec, SingleValuedKeysTakeTheirFirstEntry) {
    GraphSpec g = read(R"({"block": "a", "block": 1, "mix": 0.25, "mix": null})");
    ASSERT_NE(g.root.as_block(), nullptr);
    EXPECT_EQ(g.root.as_block()->block, "a");
    EXPECT_EQ(g.root.mix, ArgValue::of_number(0.25));
}

TEST(GraphSpec, AWholeDocumentReadsIntoOwnedRecords) {
    GraphSpec g = read(R"({
        "id": "root", "mix": "mix", "bypass": false, "only": [0, 1],
        "modulators": [{"id": "lfo"}, {"id": "wob", "shape": 3, "rate": "tempo / 60"},
                       {"id": "sq", "shape": "square", "rate": true}],
        "chain": [
            {"parallel": [
                {"node": {"block": "delay", "args": {"time_ms": " time*ratio ", "feedback": 0.5,
                                                     "sync": true},
                          "meters": {"level": "Out Level"}}},
                {"node": {"chain": [], "args": {"ignored": null}, "modulators": 5},
                 "gain_db": -6}
            ]},
            {"block": "gain", "only": []}
        ]
    })");
    ASSERT_EQ(g.modulators.size(), 3u);
    EXPECT_EQ(g.modulators[0].id, "lfo");
    EXPECT_EQ(g.modulators[0].shape, "sine");
    EXPECT_EQ(g.modulators[0].rate, ArgValue::of_number(1.0));
    EXPECT_EQ(g.modulators[1].shape, "sine");
    EXPECT_EQ(g.modulators[1].rate, ArgValue::of_text("tempo / 60"));
    EXPECT_EQ(g.modulators[2].shape, "square");
    EXPECT_EQ(g.modulators[2].rate, ArgValue::of_number(1.0));

    EXPECT_EQ(g.root.mix, ArgValue::of_text("mix"));
    EXPECT_EQ(g.root.bypass, ArgValue::of_number(0.0));
    EXPECT_EQ(g.root.only, (std::vector<std::uint64_t>{0, 1}));
    const NodeSpec::Chain* chain = g.root.as_chain();
    ASSERT_NE(chain, nullptr);
    ASSERT_EQ(chain->nodes.size(), 2u);

    const NodeSpec::Parallel* par = chain->nodes[0].as_parallel();
    ASSERT_NE(par, nullptr);
    ASSERT_EQ(par->branches.size(), 2u);
    EXPECT_FALSE(par->branches[0].gain_db.has_value());
    EXPECT_EQ(par->branches[1].gain_db, ArgValue::of_number(-6.0));
    EXPECT_FALSE(chain->nodes[0].only.has_value());
    EXPECT_FALSE(chain->nodes[0].mix.has_value());

    const NodeSpec::Block* delay = par->branches[0].node.as_block();
    ASSERT_NE(delay, nullptr);
    EXPECT_EQ(delay->block, "delay");
    ASSERT_EQ(delay->args.size(), 3u);
    EXPECT_EQ(delay->args[0].first, "time_ms");
    EXPECT_EQ(delay->args[0].second, ArgValue::of_text(" time*ratio "));
    EXPECT_EQ(delay->args[1].second, ArgValue::of_number(0.5));
    EXPECT_EQ(delay->args[2].second, ArgValue::of_number(1.0));
    ASSERT_EQ(delay->meters.size(), 1u);
    EXPECT_EQ(delay->meters[0], (std::pair<std::string, std::string>{"level", "Out Level"}));

    const NodeSpec::Chain* empty = par->branches[1].node.as_chain();
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->nodes.empty());

    const NodeSpec& gain = chain->nodes[1];
    ASSERT_NE(gain.as_block(), nullptr);
    EXPECT_TRUE(gain.as_block()->args.empty());
    ASSERT_TRUE(gain.only.has_value());
    EXPECT_TRUE(gain.only->empty());
}

TEST(GraphSpec, ChannelNumbersSaturateAndMinusZeroIsChannelZero) {
    GraphSpec g = read(R"({"chain": [], "only": [-0, 3.0, 1e30]})");
    ASSERT_TRUE(g.root.only.has_value());
    EXPECT_EQ(*g.root.only,
              (std::vector<std::uint64_t>{0, 3, std::numeric_limits<std::uint64_t>::max()}));
}

TEST(GraphSpec, NodesReadOnTheirOwnStartFromTheGivenPath) {
    Result<Json> v = json::parse(R"({"chain": [{"block": null}]})");
    ASSERT_TRUE(v.ok());
    Result<NodeSpec> n = spec::node_from_json(*v, "graph.chain[4]");
    ASSERT_FALSE(n.ok());
    EXPECT_EQ(n.error(), "graph.chain[4].chain[0] block must be a name");
}

TEST(GraphSpec, OnlyKeysReportsTheFirstUnknownKeyWithTheAllowedList) {
    const std::array<std::string_view, 2> allowed = {"b", "a"};
    Result<Json> good = json::parse(R"({"a": 1, "b": 2, "a": 3})");
    EXPECT_FALSE(spec::only_keys(*good, allowed, "p").has_value());
    Result<Json> bad = json::parse(R"({"a": 1, "B": 2, "c": 3})");
    std::optional<Error> e = spec::only_keys(*bad, allowed, "x.y");
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->message, "x.y has an unknown key 'B'. It can have: b, a");
    std::optional<Error> not_object = spec::only_keys(Json::number(1), allowed, "x.y");
    ASSERT_TRUE(not_object.has_value());
    EXPECT_EQ(not_object->message, "x.y must be an object");
}

TEST(GraphSpec, DeepestNestingTheParserAllowsStillReads) {
    // Each chain level takes two JSON levels (the object and its array), and
    // the innermost block's name one more: 31 levels reach depth 64.
    std::string text;
    for (int i = 0; i < 31; ++i) {
        text += R"({"chain": [)";
    }
    text += R"({"block": "g"})";
    for (int i = 0; i < 31; ++i) {
        text += "]}";
    }
    GraphSpec g = read(text);
    const NodeSpec* n = &g.root;
    for (int i = 0; i < 31; ++i) {
        ASSERT_NE(n->as_chain(), nullptr);
        n = &n->as_chain()->nodes[0];
    }
    ASSERT_NE(n->as_block(), nullptr);
}

TEST(GraphSpec, HandBuiltValuesNestedBeyondTheParserLimitFailInsteadOfRecursing) {
    Json v = Json::object({{"block", Json::string("g")}});
    for (int i = 0; i < 100; ++i) {
        Json::Array items;
        items.push_back(std::move(v));
        v = Json::object({{"chain", Json::array(std::move(items))}});
    }
    Result<GraphSpec> r = spec::from_json(v);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().find("graph.chain[0].chain[0]"), 0u);
    EXPECT_NE(r.error().find(" is nested too deeply"), std::string::npos);
}

}  // namespace
}  // namespace orba
