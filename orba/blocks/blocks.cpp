#include "orba/blocks/blocks.h"

#include "orba/blocks/blocks/delay.h"
#include "orba/blocks/blocks/gain.h"

namespace orba::blocks {
namespace {

// Registry order. A new block adds its header above and one line at its place
// here: gain, filter, onepole, shaper, dynamics, delay, tremolo, stereo,
// harmonic_eq.
constexpr const BlockInfo* REGISTRY[] = {
    &gain::INFO,
    // filter, onepole, shaper, dynamics
    &delay::INFO,
    // tremolo, stereo, harmonic_eq
};

}  // namespace

const BlockInfo* find(std::string_view name) {
    for (const BlockInfo* info : REGISTRY) {
        if (info->name == name) return info;
    }
    return nullptr;
}

std::span<const BlockInfo* const> all() {
    return REGISTRY;
}

}  // namespace orba::blocks
