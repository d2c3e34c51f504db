#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "bench/block_bench.h"
#include "orba/blocks/block.h"
#include "orba/blocks/blocks/dynamics.h"
#include "orba/blocks/blocks/shaper.h"
#include "orba/blocks/blocks/stereo.h"
#include "orba/blocks/blocks/tremolo.h"
#include "orba/blocks/frame.h"

namespace {

// One control and one full slice per iteration, over a 440 Hz sine so the
// curves and the detector see a moving signal. Reported as time per sample per
// channel.
void run_block(benchmark::State& state, const orba::BlockInfo& info, std::vector<float> args) {
    const orba::Frame input = orba::bench::input_slice([](std::size_t c, std::size_t j) {
        return 0.5f * std::sin(0.0576f * static_cast<float>(j + 7 * c));
    });
    orba::bench::run_slices(state, info, args, input);
}

std::vector<float> with(const orba::BlockInfo& info, std::size_t index, float value) {
    auto args = orba::bench::default_args(info);
    args[index] = value;
    return args;
}

void BM_Shaper(benchmark::State& state) {
    const auto& info = orba::blocks::shaper::INFO;
    run_block(state, info, with(info, 0, static_cast<float>(state.range(0))));
}
BENCHMARK(BM_Shaper)->DenseRange(0, 4)->ArgName("curve");

void BM_Dynamics(benchmark::State& state) {
    const auto& info = orba::blocks::dynamics::INFO;
    run_block(state, info, with(info, 8, static_cast<float>(state.range(0))));
}
BENCHMARK(BM_Dynamics)->DenseRange(0, 1)->ArgName("rms");

void BM_Tremolo(benchmark::State& state) {
    const auto& info = orba::blocks::tremolo::INFO;
    run_block(state, info, with(info, 2, static_cast<float>(state.range(0))));
}
BENCHMARK(BM_Tremolo)->DenseRange(0, 1)->ArgName("triangle");

void BM_Stereo(benchmark::State& state) {
    const auto& info = orba::blocks::stereo::INFO;
    run_block(state, info, with(info, 0, static_cast<float>(state.range(0))));
}
BENCHMARK(BM_Stereo)->DenseRange(0, 4)->ArgName("mode");

}  // namespace
