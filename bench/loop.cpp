// A feedback loop against the delay block it can replace: the same echo (time,
// feedback and a one-pole low-pass on every repeat), stereo at 48 kHz in host
// blocks of 256 frames, per frame of audio. The loop pays for running its
// blocks as blocks; LoopColoured adds what a tape echo puts in the loop.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/render.h"
#include "orba/blocks/graph.h"

namespace {

constexpr float RATE = orba::bench::MUSIC_RATE;
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
    const auto [seconds] = orba::bench::render_in_turn(
        state, orba::bench::music(2, FRAMES), BLOCK,
        [&](orba::Buffers buffers) { graph.process(*params, buffers, orba::ProcessContext{}); });
    state.counters["per_frame"] =
        seconds / (static_cast<double>(FRAMES) * static_cast<double>(state.iterations()));
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
