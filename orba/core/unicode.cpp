#include "orba/core/unicode.h"

namespace orba::unicode {

Decoded decode(std::string_view text, std::size_t at) {
  const auto b0 = static_cast<unsigned char>(text[at]);
  if (b0 < 0x80)
    return {b0, 1, true};
  // The allowed range of the second byte narrows for the leads whose full
  // range would spell overlong forms, surrogates or values past U+10FFFF.
  std::size_t len = 0;
  char32_t c = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    c = b0 & 0x0F;
    if (b0 == 0xE0)
      lo = 0xA0;
    if (b0 == 0xED)
      hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    c = b0 & 0x07;
    if (b0 == 0xF0)
      lo = 0x90;
    if (b0 == 0xF4)
      hi = 0x8F;
  } else {
    return {REPLACEMENT, 1, false};
  }
  for (std::size_t taken = 1; taken < len; ++taken) {
    if (at + taken >= text.size())
      return {REPLACEMENT, taken, false};
    const auto b = static_cast<unsigned char>(text[at + taken]);
    if (b < lo || b > hi)
      return {REPLACEMENT, taken, false};
    lo = 0x80;
    hi = 0xBF;
    c = (c << 6) | (b & 0x3F);
  }
  return {c, len, true};
}

Decoded decode_before(std::string_view text, std::size_t end) {
  std::size_t start = end - 1;
  while (start > 0 && end - start < 4 &&
         (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
    --start;
  const Decoded d = decode(text, start);
  if (start + d.size == end)
    return d;
  return {REPLACEMENT, 1, false};
}

std::u32string to_utf32(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Decoded d = decode(text, i);
    out.push_back(d.c);
    i += d.size;
  }
  return out;
}

bool is_valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const Decoded d = decode(text, i);
    if (!d.well_formed)
      return false;
    i += d.size;
  }
  return true;
}

void append_utf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string to_utf8(char32_t c) {
  std::string out;
  append_utf8(out, c);
  return out;
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trim_white_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const Decoded d = decode(text, begin);
    if (!is_white_space(d.c))
      break;
    begin += d.size;
  }
  std::size_t end = text.size();
  while (end > begin) {
    const Decoded d = decode_before(text, end);
    if (!is_white_space(d.c))
      break;
    end -= d.size;
  }
  return text.substr(begin, end - begin);
}

} // namespace orba::unicode
