#include <benchmark/benchmark.h>

#include <cstddef>
#include <random>
#include <vector>

#include "bench/block_bench.h"
#include "orba/blocks/block.h"
#include "orba/blocks/blocks/delay.h"
#include "orba/blocks/blocks/gain.h"
#include "orba/blocks/frame.h"

namespace {

using orba::bench::CHANNELS;
using orba::bench::default_args;
using orba::bench::RATE;

// One control and one full slice of noise per iteration, the block's memory
// carried from slice to slice as in a running graph. Reported as time per
// sample per channel.
void run_slices(benchmark::State& state, const orba::BlockInfo& info, std::vector<float> args) {
    std::mt19937 random(1);
    std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
    const orba::Frame input =
        orba::bench::input_slice([&](std::size_t, std::size_t) { return sample(random); });
    orba::bench::run_slices(state, info, args, input, true);
}

std::vector<float> delay_args(float mode, float depth_ms) {
    std::vector<float> args = default_args(orba::blocks::delay::INFO);
    args[3] = mode;
    args[4] = depth_ms;
    return args;
}

void BM_DelayDefaults(benchmark::State& state) {
    run_slices(state, orba::blocks::delay::INFO, delay_args(0.0f, 0.0f));
}
BENCHMARK(BM_DelayDefaults);

void BM_DelayModulated(benchmark::State& state) {
    run_slices(state, orba::blocks::delay::INFO, delay_args(0.0f, 3.0f));
}
BENCHMARK(BM_DelayModulated);

void BM_DelayPingPong(benchmark::State& state) {
    run_slices(state, orba::blocks::delay::INFO, delay_args(1.0f, 0.0f));
}
BENCHMARK(BM_DelayPingPong);

// The time moves every period, so every slice takes the gliding path.
void BM_DelayGliding(benchmark::State& state) {
    auto block = orba::blocks::delay::INFO.make();
    std::vector<float> args = default_args(orba::blocks::delay::INFO);
    block->configure(args);
    block->prepare(CHANNELS, RATE);
    orba::Frame frame;
    frame.resize(CHANNELS);
    frame.frames = orba::SLICE;
    float time = 250.0f;
    for (auto _ : state) {
        time = time < 300.0f ? time + 0.1f : 250.0f;
        args[0] = time;
        block->control(args);
        block->process(frame, 0);
        benchmark::DoNotOptimize(frame.data[0][0]);
    }
    orba::bench::count_samples(state);
}
BENCHMARK(BM_DelayGliding);

void BM_GainPanned(benchmark::State& state) {
    run_slices(state, orba::blocks::gain::INFO, {-4.0f, 0.3f, 0.0f});
}
BENCHMARK(BM_GainPanned);

}  // namespace
