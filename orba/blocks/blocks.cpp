#include "orba/blocks/blocks.h"

#include "orba/blocks/blocks/biquad.h"
#include "orba/blocks/blocks/delay.h"
#include "orba/blocks/blocks/dynamics.h"
#include "orba/blocks/blocks/gain.h"
#include "orba/blocks/blocks/harmonic_eq.h"
#include "orba/blocks/blocks/loop.h"
#include "orba/blocks/blocks/onepole.h"
#include "orba/blocks/blocks/shaper.h"
#include "orba/blocks/blocks/stereo.h"
#include "orba/blocks/blocks/tremolo.h"

namespace orba::blocks {
namespace {

// Registry order. A new block adds its header above and one line at its place
// here: gain, filter, onepole, shaper, dynamics, delay, tremolo, stereo,
// harmonic_eq, loop, loop_end.
constexpr const BlockInfo* REGISTRY[] = {
    &gain::INFO,
    &biquad::INFO,
    &onepole::INFO,
    &shaper::INFO,
    &dynamics::INFO,
    &delay::INFO,
    &tremolo::INFO,
    &stereo::INFO,
    &harmonic_eq::INFO,
    &loop::INFO,
    &loop::END_INFO,
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
