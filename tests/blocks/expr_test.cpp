#include "orba/blocks/expr.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orba::expr {
namespace {

const float NOT_A_NUMBER = std::numeric_limits<float>::quiet_NaN();

// Parameters of a small plug-in; "rate" and "pi" exist only to show that the
// built-in names hide them.
std::optional<std::uint32_t> lookup(std::string_view name) {
    static const std::vector<std::string_view> names{"time", "ratio", "mode", "mix",
                                                     "rate", "pi",    "nan",  "far"};
    for (std::uint32_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return name == "far" ? 1000 : i;
    }
    return std::nullopt;
}

const std::vector<float> VALUES{100.0f, 0.5f, 1.0f, 0.25f, 7.0f, 9.0f, NOT_A_NUMBER};

ControlContext context(float tempo = 120.0f) {
    return ControlContext{VALUES, 48000.0f, tempo};
}

Node parse_ok(std::string_view text) {
    Result<Node> r = Expr::parse(text, lookup);
    if (!r) ADD_FAILURE() << "'" << text << "' failed: " << r.error();
    return r ? std::move(r).value() : Node{Const{NOT_A_NUMBER}};
}

float value_of(std::string_view text, float tempo = 120.0f) {
    return eval(parse_ok(text), context(tempo));
}

std::string error_of(std::string_view text) {
    Result<Node> r = Expr::parse(text, lookup);
    return r ? std::string("(parsed)") : r.error();
}

std::string repeat(std::string_view piece, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += piece;
    return s;
}

// Runs f on a thread whose stack is as small as an audio thread's on macOS
// (512 KiB), so that recursion as deep as a long text overflows it.
template <class F>
void on_small_stack(F f) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 512 * 1024), 0);
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        (*static_cast<F*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, &f), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

struct ValueCase {
    const char* text;
    float expected;
};

TEST(Expr, OperatorsBindAndGroupAsWritten) {
    const ValueCase cases[] = {
        {"-2^2", -4.0f},     {"2^3^2", 512.0f},    {"2^-1", 0.5f},         {"(-2)^2", 4.0f},
        {"+-+3", -3.0f},     {"++++3", 3.0f},      {"--3", 3.0f},          {"10 - 2 - 3", 5.0f},
        {"8 / 2 / 2", 2.0f}, {"2 + 3 * 4", 14.0f}, {"(2 + 3) * 4", 20.0f}, {"2 * 3 ^ 2", 18.0f},
        {"-2 * -3", 6.0f},   {"1 - -1", 2.0f},     {"2^3*2", 16.0f},       {"(1 < 2) < 3", 1.0f},
        {"1 <= 2", 1.0f},    {"2 <= 2", 1.0f},     {"3 <= 2", 0.0f},       {"1 < 1", 0.0f},
        {"2 > 1", 1.0f},     {"2 >= 3", 0.0f},     {"1 + 1 > 1", 1.0f},    {"1 / 0", 0.0f},
        {"0 / 0", 0.0f},     {"1 / -0", 0.0f},     {"3 / 2", 1.5f},
    };
    for (const ValueCase& c : cases)
        EXPECT_EQ(value_of(c.text), c.expected) << c.text;
}

TEST(Expr, SumsFoldFromTheLeftInF32) {
    // 2^24 + 1 rounds back to 2^24, so only a left fold keeps the total at 2^24.
    EXPECT_EQ(value_of("16777216 + 1 + 1"), 16777216.0f);
    EXPECT_EQ(value_of("16777216 + (1 + 1)"), 16777218.0f);
    EXPECT_EQ(value_of("100 - 1 - 2 * 3 - 4 / 2"), 91.0f);
}

TEST(Expr, NumbersConvertStraightToTheNearestF32) {
    const ValueCase cases[] = {
        {"5", 5.0f},
        {"5.", 5.0f},
        {".5", 0.5f},
        {"1e3", 1000.0f},
        {"1.5e-3", 1.5e-3f},
        {"2E4", 20000.0f},
        {"1e+2", 100.0f},
        {"007.250", 7.25f},
        {"0.1", 0.1f},
        {"1e-50", 0.0f},
        {"3.4028235e38", 3.4028235e38f},
        {"1e50", std::numeric_limits<float>::infinity()},
        {"1e99999999999999999999", std::numeric_limits<float>::infinity()},
        {"0.000001e-99999999999999999999", 0.0f},
        {"1e-45", std::numeric_limits<float>::denorm_min()},
    };
    for (const ValueCase& c : cases)
        EXPECT_EQ(value_of(c.text), c.expected) << c.text;

    // Just above the midpoint between 1 and the next f32, but so little that
    // the nearest f64 is the midpoint itself: a detour through f64 would then
    // round to even, down to 1.
    EXPECT_EQ(std::bit_cast<std::uint32_t>(value_of("1.000000059604644775390625000000000001")),
              0x3F800001u);
}

TEST(Expr, FunctionsComputeInF32) {
    const ValueCase cases[] = {
        {"min(1, 2)", 1.0f},
        {"max(1, 2)", 2.0f},
        {"clamp(5, 0, 1)", 1.0f},
        {"clamp(-1, 0, 1)", 0.0f},
        {"clamp(0.5, 0, 1)", 0.5f},
        {"clamp(5, 10, 0)", 10.0f},
        {"abs(-3)", 3.0f},
        {"pow(2, 10)", 1024.0f},
        {"exp(0)", 1.0f},
        {"ln(1)", 0.0f},
        {"log2(8)", 3.0f},
        {"log2(0)", log2f(1e-30f)},
        {"sqrt(16)", 4.0f},
        {"sqrt(-4)", 0.0f},
        {"sin(0)", 0.0f},
        {"sin (0)", 0.0f},
        {"cos(0)", 1.0f},
        {"tanh(0)", 0.0f},
        {"floor(-0.5)", -1.0f},
        {"floor(2.9)", 2.0f},
        {"round(2.5)", 3.0f},
        {"round(-2.5)", -3.0f},
        {"round(0.49)", 0.0f},
        {"round(-0.5)", -1.0f},
        {"note(69)", 440.0f},
        {"note(81)", 880.0f},
        {"semitones(12)", 2.0f},
        {"semitones(-12)", 0.5f},
        {"db2lin(0)", 1.0f},
        {"mix(2, 4, 0.25)", 2.5f},
        {"if(1, 2, 1/0)", 2.0f},
        {"if(0.5, 2, 3)", 2.0f},
        {"if(0.49, 2, 3)", 3.0f},
        {"sync(1)", 500.0f},
        {"sync(0.75)", 375.0f},
        {"2 * pi", 6.2831855f},
        {"min(1, max(2, 3))", 1.0f},
        {"max( 1 , 2 )", 2.0f},
    };
    for (const ValueCase& c : cases)
        EXPECT_EQ(value_of(c.text), c.expected) << c.text;

    EXPECT_FLOAT_EQ(value_of("lin2db(0)"), -180.0f);
    EXPECT_FLOAT_EQ(value_of("lin2db(10)"), 20.0f);
    EXPECT_NEAR(value_of("ln(0)"), -69.0776f, 1e-3f);
    EXPECT_FLOAT_EQ(value_of("db2lin(20)"), 10.0f);
    EXPECT_FLOAT_EQ(value_of("db2lin(-6)"), 0.5011872f);
}

TEST(Expr, SyncReadsTheTempoButNeverLessThanOneBeat) {
    EXPECT_EQ(value_of("sync(1)", 120.0f), 500.0f);
    EXPECT_EQ(value_of("sync(1)", 0.0f), 60000.0f);
    EXPECT_EQ(value_of("sync(1)", -30.0f), 60000.0f);
    EXPECT_EQ(value_of("sync(2)", 60.0f), 2000.0f);
}

TEST(Expr, NotANumberFollowsMinNumMaxNumAndFailsEveryComparison) {
    // The parameter "nan" holds NaN.
    const ValueCase cases[] = {
        {"min(nan, 1)", 1.0f},     {"max(1, nan)", 1.0f},   {"clamp(nan, 0, 1)", 0.0f},
        {"nan < 1", 0.0f},         {"nan > 1", 0.0f},       {"nan <= 1", 0.0f},
        {"1 >= nan", 0.0f},        {"if(nan, 2, 3)", 3.0f}, {"sqrt(nan)", 0.0f},
        {"1 / nan", NOT_A_NUMBER},
    };
    for (const ValueCase& c : cases) {
        const float v = value_of(c.text);
        if (std::isnan(c.expected)) {
            EXPECT_TRUE(std::isnan(v)) << c.text;
        } else {
            EXPECT_EQ(v, c.expected) << c.text;
        }
    }
}

TEST(Expr, NamesReadParametersAndBuiltInsHideThem) {
    const ValueCase cases[] = {
        {"time * ratio^2", 25.0f},  // the plug-in's own nested delay times
        {"mode", 1.0f},
        {"mix", 0.25f},             // the parameter
        {"mix(0, 10, mix)", 2.5f},  // the function, then the parameter
        {"rate", 48000.0f},         // not the parameter "rate" (7)
        {"pi", 3.1415927f},         // not the parameter "pi" (9)
        {"bpm", 120.0f},
        {"far", 0.0f},  // a slot past the end of the value table
    };
    for (const ValueCase& c : cases)
        EXPECT_EQ(value_of(c.text), c.expected) << c.text;
}

TEST(Expr, AnyUnicodeWhiteSpaceSeparatesTokens) {
    // no-break space, ideographic space, line separator, medium mathematical
    // space, en quad, next line, form feed and vertical tab
    EXPECT_EQ(value_of("1\u00A0+\u30002"), 3.0f);
    EXPECT_EQ(value_of("\u2028 1 \u205F"), 1.0f);
    EXPECT_EQ(value_of("\u2000min\u0085(\f1,\v2)\t\r\n"), 1.0f);
    // The zero-width space is not white space.
    EXPECT_EQ(error_of("1\u200B+2"),
              "unexpected '\u200B' after the end of the expression '1\u200B+2'");
}

struct ErrorCase {
    const char* text;
    const char* message;
};

TEST(Expr, EveryFaultIsReportedWithItsOwnMessage) {
    const ErrorCase cases[] = {
        {"", "the expression is empty"},
        {"   ", "the expression is empty"},
        {"\t\n\u3000", "the expression is empty"},
        {"2 3", "unexpected '3' after the end of the expression '2 3'"},
        {"  2 3 ", "unexpected '3' after the end of the expression '  2 3 '"},
        {"1 < 2 < 3", "unexpected '<' after the end of the expression '1 < 2 < 3'"},
        {"2 # 3", "unexpected '#' after the end of the expression '2 # 3'"},
        {"2e", "unexpected 'e' after the end of the expression '2e'"},
        {"1e+", "unexpected 'e' after the end of the expression '1e+'"},
        {"1e-x", "unexpected 'e' after the end of the expression '1e-x'"},
        {"(1))", "unexpected ')' after the end of the expression '(1))'"},
        {"1 é", "unexpected 'é' after the end of the expression '1 é'"},
        {"1 +", "the expression ends where a number or a name should be"},
        {"-", "the expression ends where a number or a name should be"},
        {"+ ", "the expression ends where a number or a name should be"},
        {"(", "the expression ends where a number or a name should be"},
        {"2^", "the expression ends where a number or a name should be"},
        {"1 <", "the expression ends where a number or a name should be"},
        {"min(", "the expression ends where a number or a name should be"},
        {"1 < = 2", "expected a number or a name but found '='"},
        {"*2", "expected a number or a name but found '*'"},
        {"min(1,)", "expected a number or a name but found ')'"},
        {"()", "expected a number or a name but found ')'"},
        {"é", "expected a number or a name but found 'é'"},
        {"\xff", "expected a number or a name but found '\uFFFD'"},
        {"(1 + 2", "a '(' is never closed"},
        {"(1 2)", "a '(' is never closed"},
        {"((1)", "a '(' is never closed"},
        {"1.2.3", "'1.2.3' is not a number"},
        {".", "'.' is not a number"},
        {"..5e3", "'..5e3' is not a number"},
        {"foo", "'foo' is not a parameter, a modulator or a built-in name"},
        {"Time", "'Time' is not a parameter, a modulator or a built-in name"},
        {"PI", "'PI' is not a parameter, a modulator or a built-in name"},
        {"foo(1)", "there is no function named 'foo'"},
        {"foo(", "there is no function named 'foo'"},
        {"pi(1)", "there is no function named 'pi'"},
        {"time(1)", "there is no function named 'time'"},
        {"Sin(0)", "there is no function named 'Sin'"},
        {"min(1 2)", "the call to 'min' needs a ',' or a ')'"},
        {"min(1, 2", "the call to 'min' needs a ',' or a ')'"},
        {"min(1; 2)", "the call to 'min' needs a ',' or a ')'"},
        {"min(1)", "'min' takes 2 value(s) but was given 1"},
        {"sin()", "'sin' takes 1 value(s) but was given 0"},
        {"sin( )", "'sin' takes 1 value(s) but was given 0"},
        {"clamp(1, 2, 3, 4)", "'clamp' takes 3 value(s) but was given 4"},
        {"if(1, 2)", "'if' takes 3 value(s) but was given 2"},
    };
    for (const ErrorCase& c : cases)
        EXPECT_EQ(error_of(c.text), c.message) << c.text;
}

TEST(Expr, OnlyTreesFreeOfRunTimeValuesAreConstant) {
    const struct {
        const char* text;
        bool constant;
    } cases[] = {
        {"2 * pi", true},       {"-(1 + 2) ^ 2", true},    {"min(1, clamp(2, 0, 1))", true},
        {"if(1, 2, 3)", true},  {"time", false},           {"2 * time", false},
        {"bpm", false},         {"rate / 2", false},       {"sync(1)", false},
        {"sync(1) * 0", false}, {"if(1, 2, mode)", false}, {"-ratio", false},
        {"1 < time", false},    {"max(1, mix)", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(is_const(parse_ok(c.text)), c.constant) << c.text;
}

TEST(Expr, NestingUpToTheLimitParsesAndEvaluatesOnASmallStack) {
    // Each of these is 1, nested as deeply as allowed.
    const std::string texts[] = {
        repeat("(", 64) + "1" + repeat(")", 64),
        repeat("-", 64) + "1",
        repeat("abs(", 63) + "-1" + repeat(")", 63),
        repeat("1^", 64) + "1",
        repeat("-(", 32) + "1" + repeat(")", 32),
        repeat("+", 10000) + "1",  // plus signs open no level
    };
    std::vector<Node> trees;
    for (const std::string& text : texts)
        trees.push_back(parse_ok(text));
    // Evaluation runs on the audio thread, whose stack may be small.
    on_small_stack([&trees] {
        for (const Node& tree : trees) {
            EXPECT_EQ(eval(tree, context()), 1.0f);
            EXPECT_TRUE(is_const(tree));
        }
        trees.clear();
    });
}

TEST(Expr, NestingBeyondTheLimitFailsInsteadOfExhaustingTheStack) {
    const std::string deep_texts[] = {
        repeat("(", 65) + "1" + repeat(")", 65),
        repeat("-", 65) + "1",
        repeat("abs(", 65) + "1" + repeat(")", 65),
        repeat("2^", 65) + "2",
        repeat("-(", 33) + "1" + repeat(")", 33),  // every sign and parenthesis counts
        repeat("min(1, ", 65) + "1" + repeat(")", 65),
        repeat("(", 100000),
        repeat("-", 100000),
        repeat("2^", 100000) + "2",
        repeat("sin(", 100000),
    };
    for (const std::string& text : deep_texts) {
        EXPECT_EQ(error_of(text), "the expression is nested too deeply") << text.substr(0, 40);
    }
}

TEST(Expr, LongFlatChainsParseEvaluateAndFreeWithoutDeepRecursion) {
    on_small_stack([] {
        const int terms = 10000;
        const Node sum = parse_ok(repeat("1+", terms - 1) + "1");
        EXPECT_EQ(eval(sum, context()), static_cast<float>(terms));
        EXPECT_TRUE(is_const(sum));

        const Node product = parse_ok(repeat("2*", terms) + "time/2/2");
        EXPECT_TRUE(std::isinf(eval(product, context())));
        EXPECT_FALSE(is_const(product));

        // A chain of chains: every bracket holds a long sum of its own.
        std::string inner = "(";
        inner += repeat("1-", 99) + "1)";
        const Node nested = parse_ok(inner + repeat("*" + inner, 99) + " < 0");
        EXPECT_EQ(eval(nested, context()), 0.0f);  // (-98)^100 is positive
        EXPECT_TRUE(is_const(nested));

        const Node with_slot = parse_ok(repeat("1+", terms) + "mode");
        EXPECT_EQ(eval(with_slot, context()), static_cast<float>(terms + 1));
        EXPECT_FALSE(is_const(with_slot));
    });
}

TEST(Expr, HandBuiltTreesEvaluateLikeParsedOnes) {
    // 10 - 2 - 3, as the graph compiler would build a constant
    Node left{Binary(BinOp::Sub, std::make_unique<Node>(Const{10.0f}),
                     std::make_unique<Node>(Const{2.0f}))};
    const Node tree{Binary(BinOp::Sub, std::make_unique<Node>(std::move(left)),
                           std::make_unique<Node>(Const{3.0f}))};
    EXPECT_EQ(eval(tree, context()), 5.0f);
    EXPECT_EQ(eval(Node{Const{0.35f}}, context()), 0.35f);

    std::vector<Node> args;
    args.emplace_back(Slot{0});
    const Node call{Call{Func::Sync, std::move(args)}};
    EXPECT_EQ(eval(call, context(60.0f)), 100000.0f);
    EXPECT_FALSE(is_const(call));
}

}  // namespace
}  // namespace orba::expr
