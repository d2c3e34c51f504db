#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <numbers>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "orba/blocks/block.h"
#include "orba/blocks/frame.h"

// Driving one block by hand the way the graph runtime does, for block tests.
namespace orba::test {

using ArgOverrides = std::initializer_list<std::pair<std::string_view, float>>;

inline double to_db(double gain) {
    return 20.0 * std::log10(gain);
}

// Sets the argument called `name`; false when the block has none by that name.
inline bool set_arg(const BlockInfo& info, std::vector<float>& args, std::string_view name,
                    float value) {
    const auto it = std::find_if(info.args.begin(), info.args.end(),
                                 [&](const ArgInfo& a) { return a.name == name; });
    if (it == info.args.end()) return false;
    args[static_cast<std::size_t>(it - info.args.begin())] = value;
    return true;
}

// The argument defaults with some of them replaced by name.
inline std::vector<float> args_with(const BlockInfo& info, ArgOverrides overrides = {}) {
    std::vector<float> args;
    for (const ArgInfo& arg : info.args)
        args.push_back(arg.default_value);
    for (const auto& [name, value] : overrides)
        EXPECT_TRUE(set_arg(info, args, name, value)) << name;
    return args;
}

// Argument values for one control period: every argument that may change
// walks its range at its own pace, choices rounded as the runtime rounds them.
inline void walk_args(const BlockInfo& info, std::size_t period, std::vector<float>& args) {
    for (std::size_t a = 0; a < args.size(); ++a) {
        const ArgInfo& arg = info.args[a];
        if (arg.constant) continue;
        const float t = static_cast<float>((period * 7 + a * 3) % 11) / 10.0f;
        args[a] = arg.min + t * (arg.max - arg.min);
        if (!arg.choices.empty()) args[a] = std::round(args[a]);
    }
}

// Runs one control period of `input` through `block` as a slice of `cut`
// frames followed by one of the rest, and returns every channel's output.
inline std::vector<SliceArray> run_period(Block& block, const std::vector<SliceArray>& input,
                                          std::size_t cut) {
    std::vector<SliceArray> out(input.size());
    Frame frame;
    frame.resize(input.size());
    for (std::size_t start = 0; start < SLICE; start += frame.frames) {
        frame.frames = start == 0 ? cut : SLICE - cut;
        for (std::size_t c = 0; c < input.size(); ++c) {
            std::copy_n(input[c].begin() + start, frame.frames, frame.data[c].begin());
        }
        block.process(frame, start);
        for (std::size_t c = 0; c < input.size(); ++c) {
            std::copy_n(frame.data[c].begin(), frame.frames, out[c].begin() + start);
        }
    }
    return out;
}

// A 32-sample stretch of a sine, shifted from channel to channel.
inline std::vector<SliceArray> test_signal(std::size_t channels, float amplitude = 0.5f) {
    std::vector<SliceArray> data(channels);
    for (std::size_t c = 0; c < channels; ++c) {
        for (std::size_t j = 0; j < SLICE; ++j) {
            data[c][j] = amplitude * std::sin(0.3f * static_cast<float>(j + 5 * c));
        }
    }
    return data;
}

// Steady-state gain in dB of a sine through a one-channel block: a quarter
// second to settle, then one second (a whole number of cycles for whole-hertz
// sines) correlated against sine and cosine.
inline double sine_gain_db(Block& block, std::span<const float> args, double freq, float rate) {
    constexpr double PI = std::numbers::pi;
    block.prepare(1, rate);
    Frame frame;
    frame.resize(1);
    const std::size_t settle = static_cast<std::size_t>(rate) / 4;
    const std::size_t window = static_cast<std::size_t>(rate);
    double in_phase = 0.0;
    double quadrature = 0.0;
    for (std::size_t start = 0; start < settle + window; start += SLICE) {
        block.control(args);
        frame.frames = SLICE;
        for (std::size_t j = 0; j < SLICE; ++j) {
            frame.data[0][j] =
                static_cast<float>(std::sin(2.0 * PI * freq * double(start + j) / rate));
        }
        block.process(frame, 0);
        for (std::size_t j = 0; j < SLICE; ++j) {
            const std::size_t n = start + j;
            if (n < settle || n >= settle + window) continue;
            const double phase = 2.0 * PI * freq * double(n) / rate;
            in_phase += frame.data[0][j] * std::sin(phase);
            quadrature += frame.data[0][j] * std::cos(phase);
        }
    }
    return to_db(2.0 * std::hypot(in_phase, quadrature) / double(window));
}

}  // namespace orba::test
