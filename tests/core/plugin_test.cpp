#include "orba/core/plugin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace orba {
namespace {

TEST(Tempo, AnUnusableTempoCountsAsOneHundredTwenty) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const std::pair<std::optional<double>, float> cases[] = {
        {std::nullopt, 120.0f},
        {19.9, 120.0f},
        {inf, 120.0f},
        {-inf, 120.0f},
        {std::numeric_limits<double>::quiet_NaN(), 120.0f},
        {-140.0, 120.0f},
        {0.0, 120.0f},
        // Finite as f64 but infinite once narrowed to f32.
        {1e300, 120.0f},
        {20.0, 20.0f},
        {240.0, 240.0f},
        {133.5, 133.5f},
    };
    for (const auto& [tempo, expected] : cases) {
        ProcessContext context;
        context.tempo = tempo;
        EXPECT_EQ(effective_tempo(context), expected) << (tempo ? *tempo : -1.0);
    }
}

struct BoundsCase {
    const char* what;
    std::vector<Bus> inputs;
    std::vector<Bus> outputs;
    ChannelBounds clap;
    ChannelBounds au;
};

TEST(ChannelRange, BothWrappersDeriveTheirRangeFromTheLayout) {
    const BoundsCase cases[] = {
        {"Range 0..100", {{"In", Channels::Range{0, 100}}}, {}, {1, 64}, {1, 64}},
        {"Fixed 0", {{"In", Channels::Fixed{0}}}, {}, {1, 1}, {1, 1}},
        {"no bus", {}, {}, {1, 64}, {1, 64}},
        {"output only", {}, {{"Out", Channels::Fixed{2}}}, {1, 64}, {2, 2}},
        {"Range 5..3", {{"In", Channels::Range{5, 3}}}, {}, {5, 5}, {5, 5}},
        {"Range 70..80", {{"In", Channels::Range{70, 80}}}, {}, {64, 64}, {64, 64}},
        {"Range 0..0", {{"In", Channels::Range{0, 0}}}, {}, {1, 1}, {1, 1}},
        {"Fixed 100", {{"In", Channels::Fixed{100}}}, {}, {64, 64}, {64, 64}},
        {"Fixed 2", {{"In", Channels::Fixed{2}}}, {}, {2, 2}, {2, 2}},
        {"Any", {{"In", Channels::Any{}}}, {}, {1, 64}, {1, 64}},
        {"output Any", {}, {{"Out", Channels::Any{}}}, {1, 64}, {1, 64}},
        {"first input decides",
         {{"In", Channels::Fixed{1}}, {"Side", Channels::Fixed{4}}},
         {{"Out", Channels::Fixed{8}}},
         {1, 1},
         {1, 1}},
        {"delay plug-in",
         {{"Main", Channels::Range{1, 64}}},
         {{"Main", Channels::Any{}}},
         {1, 64},
         {1, 64}},
    };
    for (const BoundsCase& c : cases) {
        const Layout layout{c.inputs, c.outputs};
        EXPECT_EQ(channel_bounds(layout, BoundsSource::FirstInput), c.clap) << c.what;
        EXPECT_EQ(channel_bounds(layout, BoundsSource::FirstInputElseFirstOutput), c.au) << c.what;
    }
}

TEST(ChannelRange, TheStartingCountIsTwoWhereTheRangeAllowsIt) {
    const std::pair<Channels, std::uint32_t> cases[] = {
        {Channels::Range{1, 64}, 2u}, {Channels::Fixed{1}, 1u}, {Channels::Range{4, 8}, 4u},
        {Channels::Any{}, 2u},        {Channels::Fixed{6}, 6u}, {Channels::Range{2, 2}, 2u},
        {Channels::Range{0, 1}, 1u},  {Channels::Fixed{0}, 1u},
    };
    for (const auto& [rule, expected] : cases) {
        EXPECT_EQ(starting_channels(channel_bounds(rule)), expected);
    }
}

constexpr Bus INPUTS[] = {{"Main", Channels::Range{1, 64}}};
constexpr Bus OUTPUTS[] = {{"Main", Channels::Any{}}};

// The least a plug-in must write: layout, params, prepare, process, latency, tail.
class Silence final : public Plugin {
  public:
    Layout layout() const override { return {INPUTS, OUTPUTS}; }
    std::shared_ptr<ParamSet> params() const override { return nullptr; }
    void prepare(const ProcessSetup&) override {}
    void process(Buffers, const ProcessContext&) override {}
    std::uint32_t latency_samples() override { return 0; }
    std::uint32_t tail_samples() override { return 0; }
};

TEST(PluginContract, APluginIsAnEffectThatIgnoresMidiUnlessItSaysOtherwise) {
    Silence plugin;
    Plugin& p = plugin;
    EXPECT_FALSE(p.is_instrument());
    p.midi(0x90, 60, 100, 0);
    EXPECT_EQ(channel_bounds(p.layout(), BoundsSource::FirstInput), (ChannelBounds{1, 64}));
}

}  // namespace
}  // namespace orba
