#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "orba/core/result.h"

namespace orba::render {

// What a typed value is checked against: the parameter's name for messages,
// the unit the plug-in shows its values in ("" for a plain number, none when
// it shows words, as a choice does) and its range.
struct UnitContext {
    std::string_view name;
    std::optional<std::string> unit;
    double min = 0.0;
    double max = 0.0;
};

// The unit after the number the plug-in shows ("400.00 ms" gives "ms",
// "0.35" gives ""), or none when it shows no number.
std::optional<std::string> shown_unit(std::string_view shown);

// The number the plug-in's display starts with ("1/8" gives 1), or none.
std::optional<double> leading_number(std::string_view shown);

// Typed text rewritten as a bare number in the parameter's own unit, which is
// what the plug-in reads: "0.5s" gives "500" for a parameter in ms, "6kHz"
// "6000" for one in Hz, "50%" "0.5" for a plain parameter from 0 to 1. A bare
// number, and text that is no number (a choice's name), pass unchanged. A unit
// from another family is refused, naming the units the parameter takes.
Result<std::string> in_parameter_unit(std::string_view text, const UnitContext& param);

}  // namespace orba::render
