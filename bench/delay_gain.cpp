#include <benchmark/benchmark.h>

#include <cstddef>
#include <random>
#include <vector>

#include "orba/blocks/block.h"
#include "orba/blocks/blocks/delay.h"
#include "orba/blocks/blocks/gain.h"
#include "orba/blocks/frame.h"

namespace {

constexpr float DELAY_RATE = 48000.0f;
constexpr std::size_t DELAY_CHANNELS = 2;

std::vector<float> defaults_of(const orba::BlockInfo& info) {
    std::vector<float> args;
    for (const orba::ArgInfo& arg : info.args)
        args.push_back(arg.default_value);
    return args;
}

// One control and one full slice of noise per iteration, the block's memory
// carried from slice to slice as in a running graph. Reported as time per
// sample per channel.
void run_slices(benchmark::State& state, const orba::BlockInfo& info, std::vector<float> args) {
    auto block = info.make();
    block->configure(defaults_of(info));
    block->prepare(DELAY_CHANNELS, DELAY_RATE);
    orba::Frame input;
    input.resize(DELAY_CHANNELS);
    input.frames = orba::SLICE;
    std::mt19937 random(1);
    std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
    for (std::size_t c = 0; c < DELAY_CHANNELS; ++c) {
        for (float& x : input.data[c])
            x = sample(random);
    }
    orba::Frame frame = input;
    for (auto _ : state) {
        frame.data = input.data;
        block->control(args);
        block->process(frame, 0);
        benchmark::DoNotOptimize(frame.data[0][0]);
        benchmark::ClobberMemory();
    }
    state.counters["per_sample_channel"] =
        benchmark::Counter(static_cast<double>(state.iterations() * orba::SLICE * DELAY_CHANNELS),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

std::vector<float> delay_args(float mode, float depth_ms) {
    std::vector<float> args = defaults_of(orba::blocks::delay::INFO);
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
    std::vector<float> args = defaults_of(orba::blocks::delay::INFO);
    block->configure(args);
    block->prepare(DELAY_CHANNELS, DELAY_RATE);
    orba::Frame frame;
    frame.resize(DELAY_CHANNELS);
    frame.frames = orba::SLICE;
    float time = 250.0f;
    for (auto _ : state) {
        time = time < 300.0f ? time + 0.1f : 250.0f;
        args[0] = time;
        block->control(args);
        block->process(frame, 0);
        benchmark::DoNotOptimize(frame.data[0][0]);
    }
    state.counters["per_sample_channel"] =
        benchmark::Counter(static_cast<double>(state.iterations() * orba::SLICE * DELAY_CHANNELS),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DelayGliding);

void BM_GainPanned(benchmark::State& state) {
    run_slices(state, orba::blocks::gain::INFO, {-4.0f, 0.3f, 0.0f});
}
BENCHMARK(BM_GainPanned);

}  // namespace
