// Varnel Delay's cost at 48 kHz stereo: the plug-in through the framework, the
// same pattern fused by hand, and the ratio of the two (the framework's cost);
// and the plug-in against its own graph run one delay at a time, as it ran
// before the delays' recursions were grouped (the speed-up).
#include <benchmark/benchmark.h>

#include <time.h>

#include <cmath>
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

constexpr float RATE = 48000.0f;
constexpr std::size_t SECONDS_OF_AUDIO = 1;

enum Mode { DEFAULTS = 0, PINGPONG = 1 };

std::vector<std::vector<float>> music(std::size_t frames) {
    std::vector<std::vector<float>> input(2, std::vector<float>(frames));
    for (std::size_t i = 0; i < frames; ++i) {
        const float t = static_cast<float>(i) / RATE;
        const float envelope = std::exp(-static_cast<float>(i % 12000) / 2000.0f);
        input[0][i] = 0.4f * envelope * std::sin(6.2831855f * 220.0f * t);
        input[1][i] = 0.4f * envelope * std::sin(6.2831855f * 330.0f * t);
    }
    return input;
}

void set_mode(orba::VarnelDelay& plugin, orba::bench::FusedVarnel* fused, Mode mode) {
    if (mode == PINGPONG) {
        plugin.params()->at(5).set(1.0f);
        if (fused) fused->params[5] = 1.0f;
    }
}

void report_realtime(benchmark::State& state, std::size_t frames) {
    // Seconds of audio per second of CPU.
    state.counters["realtime"] = benchmark::Counter(
        static_cast<double>(frames) / RATE * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}

void PluginProcess(benchmark::State& state) {
    const auto block = static_cast<std::size_t>(state.range(0));
    orba::VarnelDelay plugin;
    set_mode(plugin, nullptr, static_cast<Mode>(state.range(1)));
    plugin.params()->set_channels(2);
    plugin.prepare(orba::ProcessSetup{.max_frames = block, .sample_rate = RATE, .channels = 2});
    const std::size_t frames = static_cast<std::size_t>(RATE) * SECONDS_OF_AUDIO / block * block;
    auto input = music(frames);
    for (auto _ : state) {
        for (std::size_t start = 0; start < frames; start += block) {
            std::span<float> spans[] = {{input[0].data() + start, block},
                                        {input[1].data() + start, block}};
            plugin.process(spans, orba::ProcessContext{});
        }
        benchmark::ClobberMemory();
    }
    report_realtime(state, frames);
}

void FusedProcess(benchmark::State& state) {
    const auto block = static_cast<std::size_t>(state.range(0));
    orba::bench::FusedVarnel fused;
    if (state.range(1) == PINGPONG) fused.params[5] = 1.0f;
    fused.prepare(RATE, 2);
    const std::size_t frames = static_cast<std::size_t>(RATE) * SECONDS_OF_AUDIO / block * block;
    auto input = music(frames);
    for (auto _ : state) {
        for (std::size_t start = 0; start < frames; start += block) {
            float* pointers[] = {input[0].data() + start, input[1].data() + start};
            fused.process(pointers, block);
        }
        benchmark::ClobberMemory();
    }
    report_realtime(state, frames);
}

// CPU time of this thread, so other load on the machine does not count.
double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Both implementations over the same audio, timed block by block in turn so
// that both see the same machine load; `cost` = plug-in time / fused time.
void FrameworkCost(benchmark::State& state) {
    const auto block = static_cast<std::size_t>(state.range(0));
    orba::VarnelDelay plugin;
    orba::bench::FusedVarnel fused;
    set_mode(plugin, &fused, static_cast<Mode>(state.range(1)));
    plugin.params()->set_channels(2);
    plugin.prepare(orba::ProcessSetup{.max_frames = block, .sample_rate = RATE, .channels = 2});
    fused.prepare(RATE, 2);
    const std::size_t frames = static_cast<std::size_t>(RATE) * SECONDS_OF_AUDIO / block * block;
    auto a = music(frames);
    auto b = a;
    double plugin_time = 0.0, fused_time = 0.0;
    for (auto _ : state) {
        const double t0 = thread_seconds();
        for (std::size_t start = 0; start < frames; start += block) {
            std::span<float> spans[] = {{a[0].data() + start, block}, {a[1].data() + start, block}};
            plugin.process(spans, orba::ProcessContext{});
        }
        const double t1 = thread_seconds();
        for (std::size_t start = 0; start < frames; start += block) {
            float* pointers[] = {b[0].data() + start, b[1].data() + start};
            fused.process(pointers, block);
        }
        const double t2 = thread_seconds();
        benchmark::ClobberMemory();
        plugin_time += t1 - t0;
        fused_time += t2 - t1;
    }
    state.counters["cost"] = plugin_time / fused_time;
}

// The plug-in, its ungrouped yardstick and the fused loop over the same audio,
// timed block by block in turn; `speedup` = yardstick time / plug-in time,
// `over_fused` = fused time / plug-in time, and the real-time factors of
// the plug-in (`realtime`) and of the yardstick (`realtime_before`).
void GroupedSpeedup(benchmark::State& state) {
    const auto block = static_cast<std::size_t>(state.range(0));
    orba::VarnelDelay plugin;
    UngroupedVarnel before;
    orba::bench::FusedVarnel fused;
    set_mode(plugin, &fused, static_cast<Mode>(state.range(1)));
    if (state.range(1) == PINGPONG) before.params()->at(5).set(1.0f);
    const orba::ProcessSetup setup{.max_frames = block, .sample_rate = RATE, .channels = 2};
    plugin.params()->set_channels(2);
    before.params()->set_channels(2);
    plugin.prepare(setup);
    before.prepare(setup);
    fused.prepare(RATE, 2);
    const std::size_t frames = static_cast<std::size_t>(RATE) * SECONDS_OF_AUDIO / block * block;
    const auto input = music(frames);
    auto a = input, b = input, c = input;
    double plugin_time = 0.0, before_time = 0.0, fused_time = 0.0;
    for (auto _ : state) {
        // Fresh music every time: output fed back in as input would grow
        // until it overflows, and the lines would be cleared.
        state.PauseTiming();
        a = input;
        b = input;
        c = input;
        state.ResumeTiming();
        const double t0 = thread_seconds();
        for (std::size_t start = 0; start < frames; start += block) {
            std::span<float> spans[] = {{a[0].data() + start, block}, {a[1].data() + start, block}};
            plugin.process(spans, orba::ProcessContext{});
        }
        const double t1 = thread_seconds();
        for (std::size_t start = 0; start < frames; start += block) {
            std::span<float> spans[] = {{b[0].data() + start, block}, {b[1].data() + start, block}};
            before.process(spans, orba::ProcessContext{});
        }
        const double t2 = thread_seconds();
        for (std::size_t start = 0; start < frames; start += block) {
            float* pointers[] = {c[0].data() + start, c[1].data() + start};
            fused.process(pointers, block);
        }
        const double t3 = thread_seconds();
        benchmark::ClobberMemory();
        plugin_time += t1 - t0;
        before_time += t2 - t1;
        fused_time += t3 - t2;
    }
    if (a != b || a != c) state.SkipWithError("the three outputs differ");
    const double audio =
        static_cast<double>(frames) / RATE * static_cast<double>(state.iterations());
    state.counters["speedup"] = before_time / plugin_time;
    state.counters["over_fused"] = fused_time / plugin_time;
    state.counters["realtime"] = audio / plugin_time;
    state.counters["realtime_before"] = audio / before_time;
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
