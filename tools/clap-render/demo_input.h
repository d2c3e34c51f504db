#pragma once

#include <cstdint>
#include <vector>

namespace orba::render {

// About four seconds of plucked strings, panned across the channels, and a
// click, interleaved, peaking at -6 dBFS. The same samples on every run.
std::vector<float> demo_input(double sample_rate, std::uint32_t channels);

// One frame of full scale on every channel: rendered with the tail, the
// plug-in's impulse response.
std::vector<float> impulse_input(std::uint32_t channels);

}  // namespace orba::render
