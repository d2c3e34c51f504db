#pragma once

// Whole graphs and plug-ins over test music, as the graph and plug-in
// benchmarks render them.

#include <benchmark/benchmark.h>

#include <time.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "orba/blocks/graph.h"
#include "orba/blocks/graph_plugin.h"

namespace orba::bench {

using Audio = std::vector<std::vector<float>>;

inline constexpr float MUSIC_RATE = 48000.0f;

// A decaying note every quarter second on each channel, 220 Hz on the first
// and 110 Hz higher on each next one.
inline Audio music(std::size_t channels, std::size_t frames) {
    Audio audio(channels, std::vector<float>(frames));
    for (std::size_t c = 0; c < channels; ++c) {
        const float hz = 220.0f + 110.0f * static_cast<float>(c);
        for (std::size_t i = 0; i < frames; ++i) {
            const float t = static_cast<float>(i) / MUSIC_RATE;
            const float envelope = std::exp(-static_cast<float>(i % 12000) / 2000.0f);
            audio[c][i] = 0.4f * envelope * std::sin(6.2831855f * hz * t);
        }
    }
    return audio;
}

// CPU time of this thread, so other load on the machine does not count.
inline double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Renders `input` through each of `renders` in turn, in host blocks of
// `block` frames, each taking the block's channels as spans in place. Every
// iteration starts again from the same input: output fed back in grows until
// it overflows, and a delay then clears its lines, work no host pays for.
// Each render is timed on this thread's clock in turn, so all see the same
// load; returns each one's seconds summed over the iterations. Outputs that
// differ stop the benchmark with an error.
template <class... Render>
std::array<double, sizeof...(Render)> render_in_turn(benchmark::State& state, const Audio& input,
                                                     std::size_t block, Render&&... renders) {
    constexpr std::size_t COUNT = sizeof...(Render);
    const std::size_t channels = input.size();
    const std::size_t frames = channels == 0 ? 0 : input[0].size() / block * block;
    std::array<Audio, COUNT> outputs;
    std::array<double, COUNT> seconds{};
    std::vector<std::span<float>> spans(channels);
    for (auto _ : state) {
        state.PauseTiming();
        outputs.fill(input);
        state.ResumeTiming();
        std::size_t k = 0;
        auto run = [&](auto& render) {
            const double start_time = thread_seconds();
            for (std::size_t start = 0; start < frames; start += block) {
                for (std::size_t c = 0; c < channels; ++c)
                    spans[c] = {outputs[k][c].data() + start, block};
                render(std::span<const std::span<float>>(spans));
            }
            seconds[k] += thread_seconds() - start_time;
            ++k;
        };
        (run(renders), ...);
        benchmark::ClobberMemory();
    }
    for (std::size_t k = 1; k < COUNT; ++k) {
        if (outputs[k] != outputs[0]) state.SkipWithError("the renders' outputs differ");
    }
    return seconds;
}

// Half a second: a whole number of blocks at every host block size the
// benchmarks use.
inline constexpr std::size_t HALF_SECOND = 24576;

// Renders half a second of `channels` channels of music through `process` in
// host blocks of `block` frames per iteration, and reports the CPU time per
// frame of audio (all channels together) as `per_frame`.
template <class Process>
void render_per_frame(benchmark::State& state, std::size_t channels, std::size_t block,
                      Process&& process) {
    const auto [seconds] = render_in_turn(state, music(channels, HALF_SECOND), block, process);
    state.counters["per_frame"] =
        seconds / (static_cast<double>(HALF_SECOND) * static_cast<double>(state.iterations()));
}

// The graph of `text` over `params` (their ids its names), through
// render_per_frame in stereo and 256-frame host blocks.
inline void render_graph_per_frame(benchmark::State& state, std::string_view text,
                                   std::span<const ParamInfo> params) {
    auto values = std::move(ParamSet::with_channels(params, 2)).value();
    auto compiled = Graph::from_str(text, param_names(params));
    if (!compiled) {
        state.SkipWithError(compiled.error().c_str());
        return;
    }
    Graph& graph = *compiled;
    graph.prepare(ProcessSetup{.max_frames = 256, .sample_rate = MUSIC_RATE, .channels = 2});
    render_per_frame(state, 2, 256,
                     [&](Buffers buffers) { graph.process(*values, buffers, ProcessContext{}); });
}

}  // namespace orba::bench
