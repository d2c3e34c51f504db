#include "orba/core/charconv.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include <fast_float/fast_float.h>
#include <fmt/compile.h>
#include <fmt/format.h>

namespace orba {
namespace {

// fast_float's format flags have values of their own.
std::optional<fast_float::chars_format> parse_format(std::chars_format format) {
    switch (format) {
        case std::chars_format::scientific:
            return fast_float::chars_format::scientific;
        case std::chars_format::fixed:
            return fast_float::chars_format::fixed;
        case std::chars_format::general:
            return fast_float::chars_format::general;
        default:
            return std::nullopt;
    }
}

// fast_float gives a number beyond the range as infinity or zero with no
// error; std names it out of range. So an infinity not spelled as one, or a
// zero from a nonzero digit, is.
template <class T>
bool beyond_range(const char* first, const char* end, T parsed) {
    if (*first == '-') ++first;
    if (std::isinf(parsed)) return *first != 'i' && *first != 'I';
    if (parsed != 0) return false;
    for (; first != end && *first != 'e' && *first != 'E'; ++first) {
        if (*first >= '1' && *first <= '9') return true;
    }
    return false;
}

template <class T>
std::from_chars_result parse(const char* first, const char* last, T& value,
                             std::chars_format format) {
    const std::optional<fast_float::chars_format> accepted = parse_format(format);
    if (!accepted) return {first, std::errc::invalid_argument};
    // Parsed aside: value stays untouched on any error, whichever way this
    // fast_float release reports one.
    T parsed{};
    const auto [end, ec] = fast_float::from_chars(first, last, parsed, *accepted);
    if (ec != std::errc{}) return {end, ec};
    if (beyond_range(first, end, parsed)) return {end, std::errc::result_out_of_range};
    value = parsed;
    return {end, std::errc{}};
}

std::to_chars_result put(char* first, char* last, std::string_view text) {
    if (text.size() > static_cast<std::size_t>(last - first)) {
        return {last, std::errc::value_too_large};
    }
    std::memcpy(first, text.data(), text.size());
    return {first + text.size(), std::errc{}};
}

template <class T>
std::to_chars_result not_finite(char* first, char* last, T value) {
    const bool negative = std::signbit(value);
    if (std::isnan(value)) return put(first, last, negative ? "-nan" : "nan");
    return put(first, last, negative ? "-inf" : "inf");
}

std::to_chars_result formatted(char* first, char* last, fmt::format_to_n_result<char*> result) {
    if (result.size > static_cast<std::size_t>(last - first)) {
        return {last, std::errc::value_too_large};
    }
    return {first + result.size, std::errc{}};
}

// Room for the exact digits of the largest double, 309 of them, or for
// "-0." and 323 zeros before the smallest double's one digit.
struct Text {
    char data[352];
    std::size_t size = 0;

    void add(char c) { data[size++] = c; }
    void add(const char* text, std::size_t count) {
        std::memcpy(data + size, text, count);
        size += count;
    }
    void fill(char c, std::size_t count) {
        std::memset(data + size, c, count);
        size += count;
    }
    std::string_view view() const { return {data, size}; }
};

// The digits of an integral magnitude. Below 2^128 (every float) a native
// 128-bit integer prints it in a few divisions, where fmt's exact fixed form
// goes through big-number arithmetic, tens of times slower for large floats.
char* integer_digits(char* out, double magnitude) {
#ifdef __SIZEOF_INT128__
    if (magnitude < 0x1p128) {
        __extension__ typedef unsigned __int128 Wide;
        return fmt::format_to(out, FMT_COMPILE("{}"), static_cast<Wide>(magnitude));
    }
#endif
    return fmt::format_to(out, FMT_COMPILE("{:.0f}"), magnitude);
}

// How many decimals a non-integral magnitude's exact value has: as many as
// binary places, 1074 at most.
int exact_decimals(double magnitude) {
    int exponent = 0;
    const double mantissa = std::frexp(magnitude, &exponent);
    const auto bits = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
    return 53 - exponent - std::countr_zero(bits);
}

std::to_chars_result fixed(char* first, char* last, double value, int precision) {
    const double magnitude = std::fabs(value);
    if (std::trunc(magnitude) != magnitude) {
        // fmt stops after 767 significant digits, the most an exact value has,
        // and leaves out the zeros a longer precision asks for after them.
        const int exact = exact_decimals(magnitude);
        const auto zeros = static_cast<std::size_t>(precision > exact ? precision - exact : 0);
        const auto r = fmt::format_to_n(first, static_cast<std::size_t>(last - first), "{:.{}f}",
                                        value, precision > exact ? exact : precision);
        if (r.size + zeros > static_cast<std::size_t>(last - first)) {
            return {last, std::errc::value_too_large};
        }
        std::memset(r.out, '0', zeros);
        return {r.out + zeros, std::errc{}};
    }
    char digits[320];
    const std::size_t count = static_cast<std::size_t>(integer_digits(digits, magnitude) - digits);
    const bool negative = std::signbit(value);
    const std::size_t decimals = static_cast<std::size_t>(precision);
    const std::size_t size = (negative ? 1 : 0) + count + (decimals > 0 ? decimals + 1 : 0);
    if (size > static_cast<std::size_t>(last - first)) return {last, std::errc::value_too_large};
    char* out = first;
    if (negative) *out++ = '-';
    std::memcpy(out, digits, count);
    out += count;
    if (decimals > 0) {
        *out++ = '.';
        std::memset(out, '0', decimals);
        out += decimals;
    }
    return {out, std::errc{}};
}

// A finite magnitude's shortest round-trip digits, d.ddd × 10^exponent: the
// fewest that read back as the value, the nearest such if several do.
struct Shortest {
    char digits[32];
    int count = 0;
    int exponent = 0;
};

// fmt's default form carries these digits, laid out either way, with zeros
// around them when fixed; those zeros are dropped here.
template <class T>
Shortest shortest_digits(T magnitude) {
    char text[64];
    const char* const end = fmt::format_to(text, FMT_COMPILE("{}"), magnitude);
    char all[64];
    int total = 0;
    int before_point = -1;
    const char* p = text;
    for (; p != end && *p != 'e'; ++p) {
        if (*p == '.') {
            before_point = total;
        } else {
            all[total++] = *p;
        }
    }
    if (before_point < 0) before_point = total;
    int power = 0;
    if (p != end) {
        ++p;
        const bool negative = *p == '-';
        if (*p == '-' || *p == '+') ++p;
        for (; p != end; ++p)
            power = power * 10 + (*p - '0');
        if (negative) power = -power;
    }
    int lead = 0;
    while (lead < total && all[lead] == '0')
        ++lead;
    int stop = total;
    while (stop > lead && all[stop - 1] == '0')
        --stop;
    Shortest s;
    if (lead == stop) {
        s.digits[0] = '0';
        s.count = 1;
        return s;
    }
    s.count = stop - lead;
    std::memcpy(s.digits, all + lead, static_cast<std::size_t>(s.count));
    s.exponent = before_point + power - lead - 1;
    return s;
}

int fixed_length(const Shortest& s) {
    if (s.exponent < 0) return s.count + 1 - s.exponent;
    return s.exponent < s.count - 1 ? s.count + 1 : s.exponent + 1;
}

int scientific_length(const Shortest& s) {
    return s.count + (s.count > 1 ? 1 : 0) + 2 + (s.exponent <= -100 || s.exponent >= 100 ? 3 : 2);
}

void add_scientific(Text& text, const Shortest& s) {
    text.add(s.digits[0]);
    if (s.count > 1) {
        text.add('.');
        text.add(s.digits + 1, static_cast<std::size_t>(s.count - 1));
    }
    text.add('e');
    text.add(s.exponent < 0 ? '-' : '+');
    const int power = s.exponent < 0 ? -s.exponent : s.exponent;
    if (power >= 100) text.add(static_cast<char>('0' + power / 100));
    text.add(static_cast<char>('0' + power / 10 % 10));
    text.add(static_cast<char>('0' + power % 10));
}

// Beyond the shortest digits an integer continues with its exact digits, not
// with zeros: of all texts that read back, the one nearest the value.
void add_fixed(Text& text, const Shortest& s, double magnitude) {
    if (s.exponent < 0) {
        text.add("0.", 2);
        text.fill('0', static_cast<std::size_t>(-s.exponent - 1));
        text.add(s.digits, static_cast<std::size_t>(s.count));
    } else if (s.exponent < s.count - 1) {
        text.add(s.digits, static_cast<std::size_t>(s.exponent + 1));
        text.add('.');
        text.add(s.digits + s.exponent + 1, static_cast<std::size_t>(s.count - s.exponent - 1));
    } else if (s.exponent == s.count - 1) {
        text.add(s.digits, static_cast<std::size_t>(s.count));
    } else {
        text.size =
            static_cast<std::size_t>(integer_digits(text.data + text.size, magnitude) - text.data);
    }
}

template <class T>
std::to_chars_result shortest(char* first, char* last, T value,
                              std::optional<std::chars_format> format) {
    if (!std::isfinite(value)) return not_finite(first, last, value);
    const bool negative = std::signbit(value);
    const T magnitude = negative ? -value : value;
    const Shortest s = shortest_digits(magnitude);
    bool as_fixed = false;
    if (!format) {
        as_fixed = fixed_length(s) <= scientific_length(s);
    } else if (*format == std::chars_format::fixed) {
        as_fixed = true;
    } else if (*format == std::chars_format::general) {
        as_fixed = s.exponent >= -4 && s.exponent < 6;
    } else if (*format != std::chars_format::scientific) {
        return {first, std::errc::invalid_argument};
    }
    Text text;
    if (negative) text.add('-');
    if (as_fixed) {
        add_fixed(text, s, static_cast<double>(magnitude));
    } else {
        add_scientific(text, s);
    }
    return put(first, last, text.view());
}

template <class T>
std::to_chars_result with_precision(char* first, char* last, T value, std::chars_format format,
                                    int precision) {
    if (!std::isfinite(value)) return not_finite(first, last, value);
    if (precision < 0) precision = 6;
    // A float's exact value is its double's, so it rounds the same.
    const double wide = value;
    const auto size = static_cast<std::size_t>(last - first);
    switch (format) {
        case std::chars_format::fixed:
            return fixed(first, last, wide, precision);
        case std::chars_format::scientific:
            // The text holds every digit asked for: an absurd precision fails
            // here at once, not after fmt has counted out its zeros.
            if (static_cast<std::size_t>(precision) >= size) {
                return {last, std::errc::value_too_large};
            }
            return formatted(first, last,
                             fmt::format_to_n(first, size, "{:.{}e}", wide, precision));
        case std::chars_format::general:
            return formatted(first, last,
                             fmt::format_to_n(first, size, "{:.{}g}", wide, precision));
        default:
            return {first, std::errc::invalid_argument};
    }
}

}  // namespace

std::from_chars_result from_chars(const char* first, const char* last, float& value,
                                  std::chars_format format) {
    return parse(first, last, value, format);
}

std::from_chars_result from_chars(const char* first, const char* last, double& value,
                                  std::chars_format format) {
    return parse(first, last, value, format);
}

std::to_chars_result to_chars(char* first, char* last, float value) {
    return shortest(first, last, value, std::nullopt);
}

std::to_chars_result to_chars(char* first, char* last, double value) {
    return shortest(first, last, value, std::nullopt);
}

std::to_chars_result to_chars(char* first, char* last, float value, std::chars_format format) {
    return shortest(first, last, value, format);
}

std::to_chars_result to_chars(char* first, char* last, double value, std::chars_format format) {
    return shortest(first, last, value, format);
}

std::to_chars_result to_chars(char* first, char* last, float value, std::chars_format format,
                              int precision) {
    return with_precision(first, last, value, format, precision);
}

std::to_chars_result to_chars(char* first, char* last, double value, std::chars_format format,
                              int precision) {
    return with_precision(first, last, value, format, precision);
}

}  // namespace orba
