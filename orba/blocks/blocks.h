#pragma once

#include <span>
#include <string_view>

#include "orba/blocks/block.h"

// The registry: every block a graph can name, in the order the system lists
// them (gain, filter, onepole, shaper, dynamics, delay, tremolo, stereo,
// harmonic_eq).
namespace orba::blocks {

// The block whose name is exactly `name` (byte for byte, case-sensitive), or
// nullptr.
const BlockInfo* find(std::string_view name);

// Every registered block, in registry order.
std::span<const BlockInfo* const> all();

}  // namespace orba::blocks
