#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// UTF-8 and the one Unicode property every text reader here shares. Nothing
// here depends on the process locale.
namespace orba::unicode {

inline constexpr char32_t REPLACEMENT = 0xFFFD;

// One character read from UTF-8: its code point, how many bytes it took, and
// whether those bytes were well formed.
struct Decoded {
  char32_t c;
  std::size_t size;
  bool well_formed;
};

// Reads the character starting at `at`, which must be inside `text`. An
// ill-formed sequence reads as U+FFFD covering one maximal ill-formed
// subsequence (at least one byte), so decoding never skips a character that
// starts inside a broken one.
Decoded decode(std::string_view text, std::size_t at);
// Reads the character ending just before `end` (> 0): the inverse step of
// `decode` on well-formed text; a byte that ends no well-formed character
// reads as U+FFFD, one byte long.
Decoded decode_before(std::string_view text, std::size_t end);
// The whole text, one U+FFFD per maximal ill-formed subsequence.
std::u32string to_utf32(std::string_view text);

// Well-formed UTF-8: no overlong forms, no encoded surrogates, nothing above
// U+10FFFF, no truncated sequence.
bool is_valid_utf8(std::string_view text);

// `c` must be a Unicode scalar value.
void append_utf8(std::string &out, char32_t c);
std::string to_utf8(char32_t c);

// The Unicode White_Space property.
bool is_white_space(char32_t c);
// Removes White_Space characters from both ends; ill-formed bytes are not
// white space.
std::string_view trim_white_space(std::string_view text);

} // namespace orba::unicode
