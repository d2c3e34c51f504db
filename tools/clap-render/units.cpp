#include "units.h"

#include <array>
#include <cmath>

#include "orba/core/charconv.h"

#include "text.h"

namespace orba::render {
namespace {

struct Unit {
    std::string_view name;
    std::string_view family;
    int exponent;  // the power of ten to the family's base unit
};

constexpr std::array<Unit, 7> UNITS{{
    {"s", "time", 0},
    {"ms", "time", -3},
    {"Hz", "frequency", 0},
    {"kHz", "frequency", 3},
    {"dB", "level", 0},
    {"", "fraction", 0},
    {"%", "fraction", -2},
}};

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

const Unit* find_unit(std::string_view name) {
    for (const Unit& unit : UNITS) {
        if (lower(unit.name) == lower(name)) return &unit;
    }
    return nullptr;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The leading number and what follows it, trimmed.
std::optional<std::pair<double, std::string_view>> split_number(std::string_view text) {
    text = trim(text);
    if (text.starts_with('+')) text.remove_prefix(1);
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = orba::from_chars(text.data(), end, value);
    if (ec != std::errc() || !std::isfinite(value)) return std::nullopt;
    return std::pair{value, trim(std::string_view(ptr, static_cast<std::size_t>(end - ptr)))};
}

std::string units_taken(const Unit* unit, bool fraction) {
    if (unit == nullptr || unit->name.empty()) {
        return fraction ? "a plain number or %" : "a plain number";
    }
    std::string names(unit->name);
    for (const Unit& other : UNITS) {
        if (other.family != unit->family || &other == unit) continue;
        names += " or " + std::string(other.name);
    }
    return names;
}

}  // namespace

std::optional<std::string> shown_unit(std::string_view shown) {
    const auto split = split_number(shown);
    if (!split) return std::nullopt;
    return std::string(split->second);
}

std::optional<double> leading_number(std::string_view shown) {
    const auto split = split_number(shown);
    if (!split) return std::nullopt;
    return split->first;
}

Result<std::string> in_parameter_unit(std::string_view text, const UnitContext& param) {
    const auto typed = split_number(text);
    if (!param.unit || !typed || typed->second.empty()) return std::string(text);
    const Unit* own = find_unit(*param.unit);
    const bool fraction = param.unit->empty() && param.min >= 0.0 && param.max <= 1.0;
    const Unit* given = find_unit(typed->second);
    const bool fits = own != nullptr && given != nullptr && given->family == own->family &&
                      (own->family != "fraction" || fraction);
    if (fits) {
        // Whole powers of ten, so that "0.25s" is 250 ms exactly.
        const int shift = given->exponent - own->exponent;
        const double scale = std::pow(10.0, std::abs(shift));
        return shortest(shift >= 0 ? typed->first * scale : typed->first / scale);
    }
    // A unit this tool does not know can still be the plug-in's own.
    if (own == nullptr && lower(typed->second) == lower(*param.unit)) return shortest(typed->first);
    const std::string takes = own != nullptr ? units_taken(own, fraction) : *param.unit;
    return fail(in_quotes(text) + " does not fit " + in_quotes(param.name) + ", which takes " +
                takes);
}

}  // namespace orba::render
