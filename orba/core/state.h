#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "orba/core/param.h"

// A plug-in's parameter values as a little-endian block of bytes: "ORBA",
// version 1, the parameter count, then per parameter its slot count and slot
// values. Records are matched to parameters by position only.
namespace orba::state {

std::vector<std::uint8_t> save(const ParamSet& params);

// Checks the whole block before applying anything: a short block, a foreign
// magic, another version or a truncated record changes nothing and gives
// false. Accepted values are normalised, Meter records skipped, and the set's
// listener is notified.
bool load(ParamSet& params, std::span<const std::uint8_t> bytes);

}  // namespace orba::state
