#pragma once

// Text to floating point and back with std::from_chars and std::to_chars's
// exact results, on every standard library. Apple's libc++ has no
// floating-point from_chars and offers to_chars only from macOS 13.3, years
// after the oldest system the plug-ins load on; so every float and double
// conversion of the project comes here, and integers keep using <charconv>.
// Nothing here reads the process locale.
//
// The semantics are std's: the same result struct, a pointer past the text
// taken, std::errc{} on success. A number beyond the type's range gives
// result_out_of_range and leaves `value` untouched; a buffer too small gives
// {last, value_too_large}. chars_format::hex is not offered and gives
// invalid_argument.

#include <charconv>
#include <system_error>

namespace orba {

// An optional minus, then digits with an optional point and exponent (as
// `format` allows), "inf", "infinity", "nan" or "nan(chars)" in any case.
// No leading plus or white space.
std::from_chars_result from_chars(const char* first, const char* last, float& value,
                                  std::chars_format format = std::chars_format::general);
std::from_chars_result from_chars(const char* first, const char* last, double& value,
                                  std::chars_format format = std::chars_format::general);

// The fewest digits that read back as `value`, laid out fixed or scientific,
// whichever is shorter (fixed on a tie). A fixed integer is written exactly.
std::to_chars_result to_chars(char* first, char* last, float value);
std::to_chars_result to_chars(char* first, char* last, double value);

// The fewest digits that read back as `value`, in the given layout; general
// is fixed for decimal exponents from -4 to 5, scientific otherwise.
std::to_chars_result to_chars(char* first, char* last, float value, std::chars_format format);
std::to_chars_result to_chars(char* first, char* last, double value, std::chars_format format);

// As printf's %.*f, %.*e and %.*g: the exact binary value rounded to
// `precision` digits (after the point, or significant for general), ties to
// even. A negative precision means 6.
std::to_chars_result to_chars(char* first, char* last, float value, std::chars_format format,
                              int precision);
std::to_chars_result to_chars(char* first, char* last, double value, std::chars_format format,
                              int precision);

}  // namespace orba
