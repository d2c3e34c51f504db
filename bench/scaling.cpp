// How the runtime's cost grows with the work: channel count, parallel
// branches, nesting depth and the host's block size. Every figure is CPU time
// per frame of audio at 48 kHz, so a linear cost shows as a counter that grows
// in step with the work, and a fixed cost as one that does not.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/render.h"
#include "varnel-delay/varnel_delay.h"

namespace {

constexpr float RATE = orba::bench::MUSIC_RATE;

void varnel(benchmark::State& state, std::size_t channels, std::size_t block) {
    orba::VarnelDelay plugin;
    plugin.params()->set_channels(static_cast<std::uint32_t>(channels));
    plugin.prepare(orba::ProcessSetup{.max_frames = block,
                                      .sample_rate = RATE,
                                      .channels = static_cast<std::uint32_t>(channels)});
    orba::bench::render_per_frame(state, channels, block, [&](orba::Buffers buffers) {
        plugin.process(buffers, orba::ProcessContext{});
    });
}

// Varnel Delay at 256 frames on 1, 2, 8 and 64 channels.
void Channels(benchmark::State& state) {
    varnel(state, static_cast<std::size_t>(state.range(0)), 256);
}

// Varnel Delay in stereo at host blocks of 1, 32, 256 and 4096 frames.
void HostBlock(benchmark::State& state) {
    varnel(state, 2, static_cast<std::size_t>(state.range(0)));
}

constexpr orba::ParamInfo PARAMS[] = {
    {.id = "time", .min = 20.0f, .max = 1000.0f, .default_value = 400.0f},
    {.id = "decay_db", .min = -24.0f, .max = 0.0f, .default_value = -4.0f},
};

std::string delay_text(int k) {
    std::string text = R"({"block":"delay","args":{"time_ms":"time*)";
    text += std::to_string(90 - k);
    text += R"(/100","feedback":0.3,"damp_hz":6000}})";
    return text;
}

// One parallel node of 1, 4, 16 or 64 delay branches, stereo, 256 frames.
void ParallelDelays(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    std::string text = R"({"parallel":[)";
    for (int k = 0; k < count; ++k) {
        if (k > 0) text += ',';
        text += R"({"node":)" + delay_text(k) + '}';
    }
    text += "]}";
    orba::bench::render_graph_per_frame(state, text, PARAMS);
}

// Varnel Delay's pattern nested 1 to 8 levels deep: each level is a parallel
// node of a delay and a chain of a delay, a gain and the next level, so depth
// d runs 2d + 1 delays, d gains and d parallel nodes.
void Nesting(benchmark::State& state) {
    const auto depth = static_cast<int>(state.range(0));
    std::string text = delay_text(2 * depth);
    for (int level = depth - 1; level >= 0; --level) {
        text = R"({"parallel":[{"node":)" + delay_text(2 * level) + R"(},{"node":{"chain":[)" +
               delay_text(2 * level + 1) + R"(,{"block":"gain","args":{"gain_db":"decay_db"}},)" +
               text + "]}}]}";
    }
    orba::bench::render_graph_per_frame(state, text, PARAMS);
    state.counters["delays"] = 2 * depth + 1;
}

BENCHMARK(Channels)->ArgName("channels")->Arg(1)->Arg(2)->Arg(8)->Arg(64);
BENCHMARK(ParallelDelays)->ArgName("delays")->Arg(1)->Arg(4)->Arg(16)->Arg(64);
BENCHMARK(Nesting)->ArgName("depth")->DenseRange(1, 8);
BENCHMARK(HostBlock)->ArgName("block")->Arg(1)->Arg(32)->Arg(256)->Arg(4096);

}  // namespace
