// A feedback loop against the delay block it can replace: the same echo (time,
// feedback and a one-pole low-pass on every repeat), stereo at 48 kHz in host
// blocks of 256 frames, per frame of audio. The loop pays for running its
// blocks as blocks; LoopColoured adds what a tape echo puts in the loop.
#include <benchmark/benchmark.h>

#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "orba/blocks/graph.h"

namespace {

constexpr float RATE = 48000.0f;
constexpr std::size_t BLOCK = 256;
constexpr std::size_t FRAMES = 96 * BLOCK;
constexpr std::string_view NAMES[] = {"time"};
constexpr orba::ParamInfo PARAMS[] = {
    {.id = "time", .min = 20.0f, .max = 1000.0f, .default_value = 375.0f}};

void echo(benchmark::State& state, const char* text) {
    auto params = std::move(orba::ParamSet::with_channels(PARAMS, 2)).value();
    auto compiled = orba::Graph::from_str(text, NAMES);
    if (!compiled) {
        state.SkipWithError(compiled.error().c_str());
        return;
    }
    orba::Graph& graph = *compiled;
    graph.prepare(orba::ProcessSetup{.max_frames = BLOCK, .sample_rate = RATE, .channels = 2});
    std::vector<std::vector<float>> input(2, std::vector<float>(FRAMES));
    for (std::size_t i = 0; i < FRAMES; ++i) {
        const float envelope = std::exp(-static_cast<float>(i % 12000) / 2000.0f);
        input[0][i] = input[1][i] = 0.4f * envelope * std::sin(0.0287f * static_cast<float>(i));
    }
    std::vector<std::span<float>> spans(2);
    for (auto _ : state) {
        for (std::size_t start = 0; start < FRAMES; start += BLOCK) {
            for (std::size_t c = 0; c < 2; ++c)
                spans[c] = {input[c].data() + start, BLOCK};
            graph.process(*params, spans, orba::ProcessContext{});
        }
        benchmark::ClobberMemory();
    }
    state.counters["per_frame"] =
        benchmark::Counter(static_cast<double>(FRAMES) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void DelayBlockEcho(benchmark::State& state) {
    echo(state, R"({"block": "delay", "args": {"time_ms": "time", "feedback": 0.5,
                    "damp_hz": 3000}})");
}

void LoopEcho(benchmark::State& state) {
    echo(state, R"({"chain": [{"block": "loop", "args": {"time_ms": "time", "feedback": 0.5}},
                              {"block": "onepole", "args": {"freq": 3000}},
                              {"block": "loop_end"}]})");
}

void LoopColoured(benchmark::State& state) {
    echo(state, R"({"chain": [{"block": "loop", "args": {"time_ms": "time", "feedback": 0.5}},
                              {"block": "filter", "args": {"type": "lowpass", "freq": 3000}},
                              {"block": "onepole", "args": {"type": "highpass", "freq": 150}},
                              {"block": "shaper", "args": {"drive_db": 6, "output_db": -6}},
                              {"block": "loop_end"}]})");
}

}  // namespace

BENCHMARK(DelayBlockEcho);
BENCHMARK(LoopEcho);
BENCHMARK(LoopColoured);
