#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <span>
#include <vector>

#include "orba/blocks/block.h"
#include "orba/blocks/frame.h"

// Running one block the way a graph does, for the block benchmarks.
namespace orba::bench {

inline constexpr float RATE = 48000.0f;
inline constexpr std::size_t CHANNELS = 2;

inline std::vector<float> default_args(const BlockInfo& info) {
    std::vector<float> args;
    for (const ArgInfo& arg : info.args)
        args.push_back(arg.default_value);
    return args;
}

// One full slice on every channel, `sample(channel, index)` giving each sample
// in order.
template <typename Sample>
Frame input_slice(Sample sample) {
    Frame input;
    input.resize(CHANNELS);
    input.frames = SLICE;
    for (std::size_t c = 0; c < CHANNELS; ++c) {
        for (std::size_t j = 0; j < SLICE; ++j)
            input.data[c][j] = sample(c, j);
    }
    return input;
}

// Reports the time per sample per channel, one slice having run per iteration.
inline void count_samples(benchmark::State& state) {
    state.counters["per_sample_channel"] =
        benchmark::Counter(static_cast<double>(state.iterations() * SLICE * CHANNELS),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One control and one full slice of `input` per iteration, the block's memory
// carried from slice to slice as in a running graph. `clobber` makes every
// iteration's writes count even where nothing reads them back.
inline void run_slices(benchmark::State& state, const BlockInfo& info, std::span<const float> args,
                       const Frame& input, bool clobber = false) {
    auto block = info.make();
    block->configure(default_args(info));
    block->prepare(CHANNELS, RATE);
    Frame frame = input;
    for (auto _ : state) {
        frame.data = input.data;
        block->control(args);
        block->process(frame, 0);
        benchmark::DoNotOptimize(frame.data[0][0]);
        if (clobber) benchmark::ClobberMemory();
    }
    count_samples(state);
}

}  // namespace orba::bench
