// Varnel Delay's cost at 48 kHz stereo: the plug-in through the framework, the
// same pattern fused by hand, and the ratio of the two (the framework's cost);
// and the plug-in against its own graph run one delay at a time, as it ran
// before the delays' recursions were grouped (the speed-up).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

// GCC cannot see that the fused loop's delays() fills the slice's delays
// before they are read, once the loop is inlined into three callers.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "bench/fused_varnel.h"
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include "bench/render.h"
#include "orba/blocks/blocks.h"
#include "orba/blocks/blocks/delay.h"
#include "orba/blocks/spec.h"
#include "varnel-delay/varnel_delay.h"

namespace {

// The delay block behind a BlockInfo of its own, which the runtime does not
// group: each delay runs its whole slice in its own step, recursions and all.
class SoloDelay final : public orba::Block {
  public:
    void configure(std::span<const float> args) override { inner_.configure(args); }
    void prepare(std::size_t channels, float rate) override { inner_.prepare(channels, rate); }
    void control(std::span<const float> args) override { inner_.control(args); }
    void process(orba::Frame& frame, std::size_t phase) override { inner_.process(frame, phase); }
    std::uint32_t tail(std::span<const float> args, float rate) const override {
        return inner_.tail(args, rate);
    }

  private:
    orba::blocks::delay::Delay inner_;
};

// Varnel Delay's graph and parameters with every delay a SoloDelay: the
// plug-in as it ran before, kept as the yardstick for the grouped runtime.
class UngroupedVarnel {
  public:
    UngroupedVarnel() {
        solo_ = orba::blocks::delay::INFO;
        solo_.make = [] { return std::unique_ptr<orba::Block>(new SoloDelay); };
        for (const orba::BlockInfo* info : orba::blocks::all())
            list_.push_back(info == &orba::blocks::delay::INFO ? &solo_ : info);
        params_ = orba::ParamSet::with_channels(orba::VarnelDelay::PARAMS, 64).value();
        graph_ = std::make_unique<orba::Graph>(
            orba::Graph::from_spec(orba::spec::from_str(orba::varnel::GRAPH_TEXT).value(),
                                   orba::varnel::PARAM_NAMES, list_)
                .value());
    }
    std::shared_ptr<orba::ParamSet> params() const { return params_; }
    void prepare(const orba::ProcessSetup& setup) { graph_->prepare(setup); }
    void process(orba::Buffers buffers, const orba::ProcessContext& context) {
        graph_->process(*params_, buffers, context);
    }

  private:
    orba::BlockInfo solo_;
    std::vector<const orba::BlockInfo*> list_;
    std::shared_ptr<orba::ParamSet> params_;
    std::unique_ptr<orba::Graph> graph_;
};

constexpr float RATE = orba::bench::MUSIC_RATE;

enum Mode { DEFAULTS = 0, PINGPONG = 1 };

// One second of stereo music in whole host blocks.
orba::bench::Audio music(std::size_t block) {
    return orba::bench::music(2, static_cast<std::size_t>(RATE) / block * block);
}

void set_mode(orba::VarnelDelay& plugin, orba::bench::FusedVarnel* fused, Mode mode) {
    if (mode == PINGPONG) {
        plugin.params()->at(5).set(1.0f);
        if (fused) fused->params[5] = 1.0f;
    }
}

orba::VarnelDelay& prepared(orba::VarnelDelay& plugin, std::size_t block) {
    plugin.params()->set_channels(2);
    plugin.prepare(orba::ProcessSetup{.max_frames = block, .sample_rate = RATE, .channels = 2});
    return plugin;
}

// The plug-in and the fused loop as renders for render_in_turn.
auto render(orba::VarnelDelay& plugin) {
    return [&plugin](orba::Buffers buffers) { plugin.process(buffers, orba::ProcessContext{}); };
}

auto render(orba::bench::FusedVarnel& fused) {
    return [&fused](orba::Buffers buffers) {
        float* pointers[] = {buffers[0].data(), buffers[1].data()};
        fused.process(pointers, buffers[0].size());
    };
}

// Seconds of audio per second of CPU, for `seconds` spent on every iteration.
double realtime(const benchmark::State& state, const orba::bench::Audio& input, double seconds) {
    return static_cast<double>(input[0].size()) / RATE * static_cast<double>(state.iterations()) /
           seconds;
}

void PluginProcess(benchmark::State& state) {
    const auto block = static_cast<std::size_t>(state.range(0));
    orba::VarnelDelay plugin;
    set_mode(plugin, nullptr, static_cast<Mode>(state.range(1)));
    const auto input = music(block);
    const auto [seconds] =
        orba::bench::render_in_turn(state, input, block, render(prepared(plugin, block)));
    state.counters["realtime"] = realtime(state, input, seconds);
}

void FusedProcess(benchmark::State& state) {
    const auto block = static_cast<std::size_t>(state.range(0));
    orba::bench::FusedVarnel fused;
    if (state.range(1) == PINGPONG) fused.params[5] = 1.0f;
    fused.prepare(RATE, 2);
    const auto input = music(block);
    const auto [seconds] = orba::bench::render_in_turn(state, input, block, render(fused));
    state.counters["realtime"] = realtime(state, input, seconds);
}

// Both implementations over the same audio, timed in turn so that both see
// the same machine load; `cost` = plug-in time / fused time.
void FrameworkCost(benchmark::State& state) {
    const auto block = static_cast<std::size_t>(state.range(0));
    orba::VarnelDelay plugin;
    orba::bench::FusedVarnel fused;
    set_mode(plugin, &fused, static_cast<Mode>(state.range(1)));
    fused.prepare(RATE, 2);
    const auto [plugin_time, fused_time] = orba::bench::render_in_turn(
        state, music(block), block, render(prepared(plugin, block)), render(fused));
    state.counters["cost"] = plugin_time / fused_time;
}

// The plug-in, its ungrouped yardstick and the fused loop over the same audio,
// timed in turn; `speedup` = yardstick time / plug-in time, `over_fused` =
// fused time / plug-in time, and the real-time factors of the plug-in
// (`realtime`) and of the yardstick (`realtime_before`).
void GroupedSpeedup(benchmark::State& state) {
    const auto block = static_cast<std::size_t>(state.range(0));
    orba::VarnelDelay plugin;
    UngroupedVarnel before;
    orba::bench::FusedVarnel fused;
    set_mode(plugin, &fused, static_cast<Mode>(state.range(1)));
    if (state.range(1) == PINGPONG) before.params()->at(5).set(1.0f);
    before.params()->set_channels(2);
    before.prepare(orba::ProcessSetup{.max_frames = block, .sample_rate = RATE, .channels = 2});
    fused.prepare(RATE, 2);
    const auto input = music(block);
    const auto [plugin_time, before_time, fused_time] = orba::bench::render_in_turn(
        state, input, block, render(prepared(plugin, block)),
        [&](orba::Buffers buffers) { before.process(buffers, orba::ProcessContext{}); },
        render(fused));
    state.counters["speedup"] = before_time / plugin_time;
    state.counters["over_fused"] = fused_time / plugin_time;
    state.counters["realtime"] = realtime(state, input, plugin_time);
    state.counters["realtime_before"] = realtime(state, input, before_time);
}

void CompileGraph(benchmark::State& state) {
    for (auto _ : state) {
        orba::VarnelDelay plugin;
        benchmark::DoNotOptimize(plugin);
    }
}

void TailSamples(benchmark::State& state) {
    orba::VarnelDelay plugin;
    plugin.prepare(orba::ProcessSetup{.max_frames = 256, .sample_rate = RATE, .channels = 2});
    for (auto _ : state)
        benchmark::DoNotOptimize(plugin.tail_samples());
}

void Blocks(benchmark::internal::Benchmark* b) {
    b->ArgNames({"block", "pingpong"});
    for (long mode : {0L, 1L}) {
        for (long block : {32L, 256L, 1024L})
            b->Args({block, mode});
    }
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(PluginProcess)->Apply(Blocks);
BENCHMARK(FusedProcess)->Apply(Blocks);
BENCHMARK(FrameworkCost)->Apply(Blocks);
BENCHMARK(GroupedSpeedup)->Apply(Blocks);
BENCHMARK(CompileGraph)->Unit(benchmark::kMicrosecond);
BENCHMARK(TailSamples);

}  // namespace
