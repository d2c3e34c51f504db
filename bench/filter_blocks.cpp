#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "bench/block_bench.h"
#include "orba/blocks/block.h"
#include "orba/blocks/blocks/biquad.h"
#include "orba/blocks/blocks/harmonic_eq.h"
#include "orba/blocks/blocks/onepole.h"
#include "orba/blocks/frame.h"

namespace {

using orba::bench::default_args;

// One control (with its coefficient designs) and one full slice per
// iteration at 48000 Hz, over a sine with a little noise. Reported as time per
// sample per channel.
void run_filter_block(benchmark::State& state, const orba::BlockInfo& info,
                      const std::vector<float>& args) {
    unsigned noise = 1;
    const orba::Frame input = orba::bench::input_slice([&](std::size_t c, std::size_t j) {
        noise = noise * 1664525u + 1013904223u;
        return 0.5f * std::sin(0.0576f * static_cast<float>(j + 7 * c)) +
               static_cast<float>(noise >> 8) * 1e-9f;
    });
    orba::bench::run_slices(state, info, args, input);
}

// type, slope
void BM_Filter(benchmark::State& state) {
    const auto& info = orba::blocks::biquad::INFO;
    auto args = default_args(info);
    args[0] = static_cast<float>(state.range(0));
    args[3] = 6.0f;
    args[4] = static_cast<float>(state.range(1));
    run_filter_block(state, info, args);
}
BENCHMARK(BM_Filter)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({0, 3})
    ->Args({4, 0})
    ->Args({6, 0})
    ->ArgNames({"type", "slope"});

void BM_OnePole(benchmark::State& state) {
    const auto& info = orba::blocks::onepole::INFO;
    auto args = default_args(info);
    args[0] = static_cast<float>(state.range(0));
    run_filter_block(state, info, args);
}
BENCHMARK(BM_OnePole)->DenseRange(0, 1)->ArgName("highpass");

// Bands in use: 8 at 110 Hz, 32 at 50 Hz (all below 45% of the rate).
void BM_HarmonicEq(benchmark::State& state) {
    const auto& info = orba::blocks::harmonic_eq::INFO;
    auto args = default_args(info);
    const auto bands = state.range(0);
    args[0] = bands == 32 ? 50.0f : 110.0f;
    args[1] = static_cast<float>(bands);
    args[3] = 4.0f;
    run_filter_block(state, info, args);
}
BENCHMARK(BM_HarmonicEq)->Arg(1)->Arg(8)->Arg(32)->ArgName("bands");

}  // namespace
