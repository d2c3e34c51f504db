// A feedback loop against the delay block it can replace: the same echo (time,
// feedback and a one-pole low-pass on every repeat), stereo at 48 kHz in host
// blocks of 256 frames, per frame of audio. The loop pays for running its
// blocks as blocks; LoopColoured adds what a tape echo puts in the loop.
#include <benchmark/benchmark.h>

#include "bench/render.h"

namespace {

constexpr orba::ParamInfo PARAMS[] = {
    {.id = "time", .min = 20.0f, .max = 1000.0f, .default_value = 375.0f}};

void echo(benchmark::State& state, const char* text) {
    orba::bench::render_graph_per_frame(state, text, PARAMS);
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
