#pragma once

#include <optional>
#include <string_view>

#include "orba/core/param.h"
#include "orba/core/unicode.h"

// Parameter text typed by a user, read the same way by every host wrapper.
// Nothing here depends on the process locale.
namespace orba {

// Trims Unicode white space, then by kind:
// - Choice: the first name equal to the text ignoring the case of A-Z gives its
//   index; failing that, the whole text as a number.
// - Toggle: "0", "off", "false" give 0 and "1", "on", "true" give 1 (A-Z in
//   any case); anything else gives nothing.
// - Float and Meter: the text up to its first white space, as a number when it
//   is one, else less every trailing alphabetic character or '%' ("250 ms"
//   250, "-6dB" -6).
// The number comes back as written: not clamped, rounded or scaled by a unit
// ("2 kHz" is 2, "50%" is 50). Text that is not valid UTF-8, or whose number
// is not finite ("nan", "-inf ms", "1e999"), gives nothing.
std::optional<double> parse_param_text(const ParamInfo& info, std::string_view text);
// The same, parsed straight to 32 bits so the value is rounded only once.
std::optional<float> parse_param_text_f32(const ParamInfo& info, std::string_view text);

// A decimal number filling the whole text: an optional sign, digits with an
// optional fraction and exponent (digits on at least one side of the point),
// or inf, infinity or nan in any case. Too large a magnitude gives infinity,
// too small a zero.
std::optional<double> parse_number(std::string_view text);
std::optional<float> parse_number_f32(std::string_view text);

using unicode::is_valid_utf8;
using unicode::is_white_space;
using unicode::trim_white_space;
// The Unicode Alphabetic property.
bool is_alphabetic(char32_t c);

}  // namespace orba
