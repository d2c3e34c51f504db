#include "orba/core/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace orba {
namespace {

struct Failure {
    std::string text;
    std::string message;
};

TEST(Json, MalformedTextNamesTheFaultAndTheByteWhereReadingStopped) {
    const Failure cases[] = {
        {"", "unexpected end of input at byte 0"},
        {"   ", "unexpected end of input at byte 3"},
        {"[", "unexpected end of input at byte 1"},
        {"[1,]", "expected a value at byte 3"},
        {"[1 2]", "expected a comma or ] at byte 3"},
        {"[1", "expected a comma or ] at byte 2"},
        {"{\"a\" 1}", "expected a colon at byte 5"},
        {"{\"a\"", "expected a colon at byte 4"},
        {"{1:2}", "expected a string key at byte 1"},
        {"{\"a\":1,}", "expected a string key at byte 7"},
        {"{\"a\":1 \"b\":2}", "expected a comma or } at byte 7"},
        {"{\"a\":", "unexpected end of input at byte 5"},
        {"tru", "unexpected word at byte 0"},
        {"[1, nul]", "unexpected word at byte 4"},
        {"true false", "unexpected text after the value at byte 5"},
        {"nullx", "unexpected text after the value at byte 4"},
        {"1-2", "expected a value at byte 0"},
        {"e5", "expected a value at byte 0"},
        {"-", "expected a value at byte 0"},
        {"+-1", "expected a value at byte 0"},
        {"[.]", "expected a value at byte 1"},
        {"x", "expected a value at byte 0"},
        {"\"abc", "unterminated string at byte 4"},
        {"\"ab\\", "unterminated escape at byte 4"},
        {"\"a\\x\"", "unknown escape at byte 4"},
        {"\"\\u12\"", "short \\u escape at byte 3"},
        {"\"\\u12g4\"", "bad \\u escape at byte 3"},
        {"\"\\u-123\"", "bad \\u escape at byte 3"},
        {"\"\\uD83D\\u12\"", "short \\u escape at byte 9"},
        {"\"\xff\"", "the string is not valid UTF-8"},
        {"\"\xc0\xaf\"", "the string is not valid UTF-8"},          // overlong "/"
        {"\"\xed\xa0\x80\"", "the string is not valid UTF-8"},      // encoded surrogate
        {"\"\xf4\x90\x80\x80\"", "the string is not valid UTF-8"},  // beyond U+10FFFF
        {"\"\xe2\x82\"", "the string is not valid UTF-8"},          // cut short
        {"{\"\xff\":1}", "the string is not valid UTF-8"},
    };
    for (const Failure& c : cases) {
        Result<Json> r = json::parse(c.text);
        ASSERT_FALSE(r.ok()) << c.text;
        EXPECT_EQ(r.error(), c.message) << c.text;
    }
}

std::string nested(int depth) {
    return std::string(depth, '[') + "1" + std::string(depth, ']');
}

TEST(Json, SixtyFourEnclosingArraysAreTheLimit) {
    Result<Json> deepest = json::parse(nested(64));
    ASSERT_TRUE(deepest.ok()) << deepest.error();
    const Json* v = &*deepest;
    for (int i = 0; i < 64; ++i) {
        ASSERT_TRUE(v->is_array());
        v = &v->as_array()[0];
    }
    EXPECT_EQ(v->as_number(), 1.0);

    Result<Json> too_deep = json::parse(nested(65));
    ASSERT_FALSE(too_deep.ok());
    EXPECT_EQ(too_deep.error(), "nesting is too deep at byte 65");

    std::string objects;
    for (int i = 0; i < 65; ++i)
        objects += "{\"k\":";
    objects += "1" + std::string(65, '}');
    EXPECT_EQ(json::parse(objects).error(), "nesting is too deep at byte 325");
}

TEST(Json, HostileNestingFailsWithoutExhaustingTheStack) {
    const std::string text(1'000'000, '[');
    EXPECT_EQ(json::parse(text).error(), "nesting is too deep at byte 65");
}

TEST(Json, NumbersFollowTheDecimalConversion) {
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {
        {" 12 ", 12.0},     {"+1", 1.0},
        {".5", 0.5},        {"5.", 5.0},
        {"007", 7.0},       {"1E+3", 1000.0},
        {"-2.5e-1", -0.25}, {"0.1", 0.1},
        {"1e-400", 0.0},    {"123456789012345678901234567890", 1.2345678901234568e29},
    };
    for (const Case& c : cases) {
        Result<Json> r = json::parse(c.text);
        ASSERT_TRUE(r.ok()) << c.text << ": " << r.error();
        EXPECT_EQ(r->as_number(), c.value) << c.text;
    }
}

TEST(Json, OutOfRangeNumbersSaturateToInfinityOrZeroWithTheirSign) {
    EXPECT_EQ(json::parse("1e400")->as_number(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(json::parse("-1e400")->as_number(), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(json::parse("1e99999999999999999999")->as_number(),
              std::numeric_limits<double>::infinity());
    EXPECT_EQ(json::parse("0.0000001e-400")->as_number(), 0.0);
    EXPECT_TRUE(std::signbit(json::parse("-1e-400")->as_number()));
    EXPECT_EQ(json::parse("4.9e-324")->as_number(), std::numeric_limits<double>::denorm_min());
}

TEST(Json, MinusZeroKeepsItsSign) {
    const double z = json::parse("-0")->as_number();
    EXPECT_EQ(z, 0.0);
    EXPECT_TRUE(std::signbit(z));
}

TEST(Json, WordsCompareOnlyTheWordItself) {
    Result<Json> r = json::parse("[true,false,null]");
    ASSERT_TRUE(r.ok());
    const Json::Array& a = r->as_array();
    ASSERT_EQ(a.size(), 3u);
    EXPECT_TRUE(a[0].as_bool());
    EXPECT_FALSE(a[1].as_bool());
    EXPECT_TRUE(a[2].is_null());
    EXPECT_EQ(json::parse("[nullx]").error(), "expected a comma or ] at byte 5");
}

TEST(Json, EscapesDecodeToUtf8) {
    struct Case {
        const char* text;
        std::string value;
    };
    const Case cases[] = {
        {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
        {R"("\u0041\u00e9\u20AC")", "A\xc3\xa9\xe2\x82\xac"},
        {R"("\u+041")", "A"},
        {R"("\uD83D\uDE00")", "\xf0\x9f\x98\x80"},
        {R"("\uD83D")", "\xef\xbf\xbd"},
        {R"("\uDE00x")", "\xef\xbf\xbdx"},
        // A high half followed by something other than a low half stands alone;
        // the next escape still reads as its own character.
        {R"("\uD83D\u0041")",
         "\xef\xbf\xbd"
         "A"},
        {R"("\uD83D\uD83D\uDE00")", "\xef\xbf\xbd\xf0\x9f\x98\x80"},
        {R"("\uD83D\n")", "\xef\xbf\xbd\n"},
        {"\"tab\there\"", "tab\there"},
        {"\"\xf0\x9f\x98\x80\"", "\xf0\x9f\x98\x80"},
        {R"("\u0000")", std::string(1, '\0')},
    };
    for (const Case& c : cases) {
        Result<Json> r = json::parse(c.text);
        ASSERT_TRUE(r.ok()) << c.text << ": " << r.error();
        EXPECT_EQ(r->as_string(), c.value) << c.text;
    }
}

TEST(Json, ObjectsKeepEveryEntryInDocumentOrderAndGetFindsTheFirst) {
    Result<Json> r = json::parse(R"({"b": 0, "a": 1, "a": 2})");
    ASSERT_TRUE(r.ok());
    const Json::Object& members = r->as_object();
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].first, "b");
    EXPECT_EQ(members[1].first, "a");
    EXPECT_EQ(members[2].first, "a");
    EXPECT_EQ(members[2].second.as_number(), 2.0);
    ASSERT_NE(r->get("a"), nullptr);
    EXPECT_EQ(r->get("a")->as_number(), 1.0);
    EXPECT_EQ(r->get("A"), nullptr);
    EXPECT_EQ(r->get("a "), nullptr);
}

TEST(Json, GetOnAnythingButAnObjectFindsNothing) {
    EXPECT_EQ(json::parse(R"(["a"])")->get("a"), nullptr);
    EXPECT_EQ(json::parse(R"("a")")->get("a"), nullptr);
    EXPECT_EQ(json::parse("null")->get("a"), nullptr);
}

TEST(Json, EmptyContainersAndSurroundingWhiteSpaceAreAccepted) {
    Result<Json> r = json::parse(" \t\r\n{ \"a\" : [ ] , \"b\" : { } }\n");
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_TRUE(r->get("a")->as_array().empty());
    EXPECT_TRUE(r->get("b")->as_object().empty());
    // Only those four bytes count as white space.
    EXPECT_EQ(json::parse("1\v").error(), "unexpected text after the value at byte 1");
}

}  // namespace
}  // namespace orba
