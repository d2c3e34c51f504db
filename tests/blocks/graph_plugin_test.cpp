#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <span>
#include <utility>
#include <vector>

#include "orba/blocks/graph_plugin.h"

namespace orba {
namespace {

constexpr std::string_view GRAPH =
    R"({"mix": "mix", "block": "gain", "args": {"gain_db": "gain"}})";
constexpr ParamInfo GAIN{.id = "gain", .name = "Gain", .min = -24.0f, .max = 0.0f};
constexpr ParamInfo MIX{.id = "mix", .name = "Mix", .min = 0.0f, .max = 1.0f};
constexpr std::array<ParamInfo, 2> GAIN_FIRST{GAIN, MIX};
constexpr std::array<ParamInfo, 2> MIX_FIRST{MIX, GAIN};
static_assert(param_names(MIX_FIRST) == std::array<std::string_view, 2>{"mix", "gain"});

constexpr GraphPluginInfo GAIN_FIRST_INFO{.name = "A", .params = GAIN_FIRST, .graph = GRAPH};
constexpr GraphPluginInfo MIX_FIRST_INFO{.name = "B", .params = MIX_FIRST, .graph = GRAPH};

// The graph reads the table's own ids, so the order of the rows, which sets
// host ids and saved state, cannot send one parameter's value to another.
template <const GraphPluginInfo& Info>
float rendered(float gain_db, float mix) {
    GraphPlugin<Info> plugin;
    for (std::size_t i = 0; i < Info.params.size(); ++i)
        plugin.params()->at(i).set(Info.params[i].id == "gain" ? gain_db : mix);
    plugin.prepare(ProcessSetup{.max_frames = 64, .sample_rate = 48000.0f, .channels = 1});
    std::vector<float> samples(64, 1.0f);
    const std::span<float> channel(samples);
    plugin.process(Buffers(&channel, 1), ProcessContext{});
    return samples.back();
}

TEST(GraphPlugin, ReadsEachParameterByItsIdWhateverTheOrderOfTheTable) {
    for (const auto& [gain_db, mix] : {std::pair{-12.0f, 1.0f}, std::pair{-6.0f, 0.5f}}) {
        const float a = rendered<GAIN_FIRST_INFO>(gain_db, mix);
        EXPECT_EQ(a, rendered<MIX_FIRST_INFO>(gain_db, mix));
        EXPECT_NEAR(a, 1.0f - mix + mix * std::pow(10.0f, gain_db / 20.0f), 1e-5f);
    }
    EXPECT_EQ(GraphPlugin<MIX_FIRST_INFO>().params()->size(), 2u);
}

}  // namespace
}  // namespace orba
