#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "orba/blocks/block.h"
#include "orba/blocks/frame.h"

// Drives a block and a plain model of it side by side with the same seeded
// random arguments, signals, channel counts, sample rates and ragged slices,
// and reports the first output sample, latency, tail or meter whose bits
// differ. A model is itself a Block, written sample by sample with no caching
// or fast paths, so the block's shortcuts have to earn every bit.
namespace orba::test {

struct ModelRunOptions {
    std::size_t runs = 24;
    std::size_t periods = 48;                // control periods per preparation
    std::size_t max_channels = 4;
    float max_amplitude = 2.0f;              // the loudest period's peak
    std::vector<float> sample_rates = {8000.0f, 22050.0f, 44100.0f, 48000.0f, 96000.0f,
                                       192000.0f, 768000.0f};
};

namespace model_detail {

inline float pick_arg(const ArgInfo& arg, std::mt19937& random) {
    switch (random() % 6) {
        case 0: return arg.min;
        case 1: return arg.max;
        case 2: return arg.default_value;
        default: break;
    }
    if (!arg.choices.empty()) {
        const auto count = static_cast<unsigned>(arg.max - arg.min) + 1;
        return arg.min + static_cast<float>(random() % count);
    }
    return std::uniform_real_distribution<float>(arg.min, arg.max)(random);
}

// What the runtime hands to control: limited to the range, choices rounded.
inline std::vector<float> normalised(const BlockInfo& info, std::vector<float> args) {
    for (std::size_t a = 0; a < args.size(); ++a) {
        const ArgInfo& arg = info.args[a];
        args[a] = std::clamp(args[a], arg.min, arg.max);
        if (!arg.choices.empty()) args[a] = std::round(args[a]);
    }
    return args;
}

inline std::string describe(const BlockInfo& info, const std::vector<float>& args) {
    std::ostringstream text;
    for (std::size_t a = 0; a < args.size(); ++a)
        text << (a ? ", " : "") << info.args[a].name << "=" << args[a];
    return text.str();
}

inline bool same(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

}  // namespace model_detail

// Fails the current test at the first difference. `make_model` returns a fresh
// model; `seed` makes the run repeatable.
template <class MakeModel>
void expect_block_matches_model(const BlockInfo& info, MakeModel make_model, unsigned seed,
                                const ModelRunOptions& options = {}) {
    using namespace model_detail;
    for (std::size_t run = 0; run < options.runs; ++run) {
        std::mt19937 random(seed * 7919u + static_cast<unsigned>(run));
        std::vector<float> args;
        for (const ArgInfo& arg : info.args) {
            args.push_back(arg.constant ? pick_arg(arg, random) : arg.default_value);
        }
        std::unique_ptr<Block> block = info.make();
        std::unique_ptr<Block> model = make_model();
        block->configure(args);
        model->configure(args);

        for (std::size_t preparation = 0; preparation < 2; ++preparation) {
            const std::size_t channels = 1 + random() % options.max_channels;
            // A listed rate, or now and then any rate in between: some f32
            // regroupings only show at rates no list would think of.
            const float rate =
                random() % 4 == 0
                    ? std::round(std::uniform_real_distribution<float>(8000.0f, 768000.0f)(random))
                    : options.sample_rates[random() % options.sample_rates.size()];
            block->prepare(channels, rate);
            model->prepare(channels, rate);
            Frame frame, expected;
            frame.resize(channels);
            expected.resize(channels);
            std::normal_distribution<float> noise(0.0f, 1.0f);

            for (std::size_t period = 0; period < options.periods; ++period) {
                if (period == 0 || random() % 3 == 0) {
                    for (std::size_t a = 0; a < args.size(); ++a) {
                        if (!info.args[a].constant && (period == 0 || random() % 2 == 0))
                            args[a] = pick_arg(info.args[a], random);
                    }
                }
                const std::vector<float> control = normalised(info, args);
                const auto where = [&] {
                    std::ostringstream text;
                    text << info.name << " run " << run << " (seed " << seed << "), "
                         << channels << " channels at " << rate << " Hz, period " << period
                         << ": " << describe(info, control);
                    return text.str();
                };
                block->control(control);
                model->control(control);
                if (block->latency() != model->latency() ||
                    block->tail(control, rate) != model->tail(control, rate)) {
                    ADD_FAILURE() << "latency " << block->latency() << " vs " << model->latency()
                                  << ", tail " << block->tail(control, rate) << " vs "
                                  << model->tail(control, rate) << "; " << where();
                    return;
                }
                // Loud, quiet and silent periods, so thresholds and the
                // denormal guard are crossed both ways.
                const float level = random() % 5 == 0
                                        ? 0.0f
                                        : options.max_amplitude *
                                              std::pow(10.0f, -3.0f * static_cast<float>(
                                                                   random() % 1000) / 1000.0f);
                for (std::size_t phase = 0; phase < SLICE;) {
                    const std::size_t n =
                        std::min<std::size_t>(SLICE - phase, 1 + random() % SLICE);
                    frame.frames = expected.frames = n;
                    for (std::size_t c = 0; c < channels; ++c) {
                        for (std::size_t j = 0; j < n; ++j)
                            frame.data[c][j] = expected.data[c][j] = level * noise(random);
                    }
                    block->process(frame, phase);
                    model->process(expected, phase);
                    for (std::size_t c = 0; c < channels; ++c) {
                        for (std::size_t j = 0; j < n; ++j) {
                            if (!same(frame.data[c][j], expected.data[c][j])) {
                                ADD_FAILURE() << "sample " << phase + j << " of channel " << c
                                              << ": " << frame.data[c][j] << " vs "
                                              << expected.data[c][j] << "; " << where();
                                return;
                            }
                        }
                    }
                    for (std::size_t m = 0; m < info.meters.size(); ++m) {
                        if (!same(block->meter(m), model->meter(m))) {
                            ADD_FAILURE() << "meter " << info.meters[m] << ": "
                                          << block->meter(m) << " vs " << model->meter(m)
                                          << " after sample " << phase + n << "; " << where();
                            return;
                        }
                    }
                    phase += n;
                }
            }
        }
    }
}

}  // namespace orba::test
