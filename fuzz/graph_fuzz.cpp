#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "orba/blocks/graph.h"
#include "orba/core/param.h"

// Any graph text either fails with a message or compiles into a graph that
// prepares, runs and reports latency and tail without crashing, whatever its
// blocks, expressions and modulators do with the audio.
namespace {

constexpr std::array<std::string_view, 4> NAMES{"a", "b", "c", "d"};
constexpr std::array<orba::ParamInfo, 4> TABLE{{
    {.id = "a", .min = -100.0f, .max = 100.0f, .default_value = 1.0f},
    {.id = "b", .min = 0.0f, .max = 1.0f, .default_value = 0.5f},
    {.id = "c", .min = 20.0f, .max = 20000.0f, .default_value = 1000.0f, .log = true},
    {.id = "d", .min = -60.0f, .max = 0.0f, .default_value = -6.0f, .kind = orba::ParamKind::Meter},
}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    orba::Result<orba::Graph> compiled = orba::Graph::from_str(text, NAMES);
    if (!compiled.ok()) {
        if (compiled.error().empty()) __builtin_trap();
        return 0;
    }
    auto params = orba::ParamSet::with_channels(TABLE, 2);
    if (!params.ok()) __builtin_trap();
    orba::Graph& graph = *compiled;
    // Small delay memory keeps each run quick: 8000 Hz is the lowest rate.
    graph.prepare(orba::ProcessSetup{.max_frames = 100, .sample_rate = 8000.0f, .channels = 2});
    std::vector<float> left(100), right(100);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<float>(i % 7) * 0.25f - 0.5f;
        right[i] = i == 3 ? 1.0f : 0.0f;
    }
    const std::span<float> buffers[] = {left, right};
    orba::ProcessContext context;
    context.tempo = 90.0;
    for (int block = 0; block < 3; ++block) {
        (*params)->at(static_cast<std::size_t>(block) % 3).set(static_cast<float>(block) * 7.0f);
        graph.process(**params, buffers, context);
        (void)graph.latency_samples();
        (void)graph.tail_for(**params);
    }
    return 0;
}
