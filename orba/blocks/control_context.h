#pragma once

#include <span>

namespace orba {

// What argument expressions read at a control tick: parameter values first,
// then modulator outputs, plus the sample rate and tempo in force.
struct ControlContext {
    std::span<const float> values;
    float sample_rate = 48000.0f;
    float tempo = 120.0f;
};

}  // namespace orba
