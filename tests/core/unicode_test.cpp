#include "orba/core/unicode.h"

#include <gtest/gtest.h>

namespace orba::unicode {
namespace {

TEST(Unicode,
     IllFormedTextReadsAsOneReplacementPerMaximalIllFormedSubsequence) {
  const struct {
    std::string_view text;
    std::u32string expected;
  } cases[] = {
      {"a\xC3\xA9", U"a\u00E9"},
      {"\xF0\x9F\x98\x80", U"\U0001F600"},
      {"\xF0\x9F\x98x",
       U"\uFFFDx"},            // truncated four-byte form, then a character
      {"\xE2\x80", U"\uFFFD"}, // truncated at the end of the text
      {"\xC0\xA0",
       U"\uFFFD\uFFFD"}, // overlong space: neither byte starts a form
      {"\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},           // an encoded surrogate
      {"\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"}, // past U+10FFFF
  };
  for (const auto &c : cases) {
    EXPECT_EQ(to_utf32(c.text), c.expected) << c.text;
    EXPECT_EQ(is_valid_utf8(c.text),
              c.expected.find(REPLACEMENT) == std::u32string::npos)
        << c.text;
  }
}

TEST(Unicode, EncodingAndDecodingRoundTripAtEveryLength) {
  for (char32_t c : {U'\x7F', U'\x80', U'\u07FF', U'\u0800', U'\uFFFD',
                     U'\U00010000', U'\U0010FFFF'}) {
    const std::string text = to_utf8(c);
    EXPECT_EQ(to_utf32(text), std::u32string(1, c));
    const Decoded back = decode_before(text, text.size());
    EXPECT_EQ(back.c, c);
    EXPECT_EQ(back.size, text.size());
  }
}

TEST(Unicode, TrimKeepsIllFormedBytesAndOverlongSpaces) {
  EXPECT_EQ(trim_white_space("\xE2\x80\xA8 \xFF x \xC0\xA0\t"),
            "\xFF x \xC0\xA0");
  EXPECT_EQ(trim_white_space(" \xE3\x80\x80 "), "");
}

} // namespace
} // namespace orba::unicode
