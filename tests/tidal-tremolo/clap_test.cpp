#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/plugin_render.h"

namespace orba::test {
namespace {

constexpr double RATE = 48000.0;

// What the plug-in should do to a steady level of 1: the tremolo's gain for
// channel c at frame n, then the output level and the dry/wet blend.
double model(double rate_hz, double depth, bool triangle, double spread, double level_db,
             double mix, std::size_t c, std::size_t n) {
    const double q =
        static_cast<double>(c) * spread / 360.0 + rate_hz * static_cast<double>(n) / RATE;
    const double phi = q - std::floor(q);
    const double dip = triangle ? 1.0 - (1.0 - 4.0 * std::fabs(phi - 0.5))
                                : std::sin(-2.0 * std::numbers::pi * phi) + 1.0;
    const double wet = (1.0 - 0.5 * depth * dip) * std::pow(10.0, level_db / 20.0);
    return 1.0 + mix * (wet - 1.0);
}

struct Case {
    double speed, sync, division, tempo, depth, shape, spread, level, mix;
    double rate_hz;  // what the tremolo should run at
};

// A host's view of Tidal Tremolo from the shipped library.
class ClapTidalTremolo : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(host.error(), "");
        plugin = host.plugin();
        params = static_cast<const abi::clap_plugin_params*>(
            plugin->get_extension(plugin, "clap.params"));
        ASSERT_NE(params, nullptr);
    }

    void expect_model(const Case& k) {
        host.tempo = k.tempo;
        const std::pair<const char*, double> settings[] = {
            {"speed", k.speed}, {"tempo_sync", k.sync}, {"division", k.division},
            {"depth", k.depth}, {"shape", k.shape},     {"spread", k.spread},
            {"tone", 20000.0},  {"level", k.level},     {"mix", k.mix}};
        for (const auto& [id, value] : settings)
            host.set(id, value);
        const Audio out = host.render(Audio(2, std::vector<float>(24000, 1.0f)));
        double worst = 0.0;
        for (std::size_t c = 0; c < 2; ++c) {
            // From 50 ms on, once the filter has taken in the step at the start.
            for (std::size_t n = 2400; n < out[c].size(); ++n) {
                const double want =
                    model(k.rate_hz, k.depth, k.shape > 0.5, k.spread, k.level, k.mix, c, n);
                worst = std::max(worst, std::fabs(out[c][n] - want));
            }
        }
        EXPECT_LT(worst, 2e-3);
    }

    PluginRender host;
    const abi::clap_plugin* plugin = nullptr;
    const abi::clap_plugin_params* params = nullptr;
};

TEST_F(ClapTidalTremolo, HostsSeeTheProductAndItsTenParameters) {
    const abi::clap_plugin_descriptor* d = plugin->desc;
    EXPECT_STREQ(d->id, "dravik-labs.tidal-tremolo");
    EXPECT_STREQ(d->name, "Tidal Tremolo");
    EXPECT_STREQ(d->vendor, "Dravik Labs");
    EXPECT_STREQ(d->features[0], "audio-effect");

    ASSERT_EQ(params->count(plugin), 10u);
    const struct {
        const char* name;
        const char* module;
        const char* shown;
    } rows[] = {
        {"Speed", "Tremolo", "4.00 Hz"}, {"Sync", "Tremolo", "Off"},
        {"Note", "Tremolo", "1/4"},      {"Depth", "Tremolo", "0.50"},
        {"Shape", "Tremolo", "Sine"},    {"Spread", "Tremolo", "0.00 deg"},
        {"Tone", "Tone", "12000.00 Hz"}, {"Wander", "Tone", "0.00"},
        {"Level", "Output", "0.00 dB"},  {"Mix", "Output", "1.00"},
    };
    for (std::uint32_t i = 0; i < 10; ++i) {
        SCOPED_TRACE(rows[i].name);
        abi::clap_param_info info;
        ASSERT_TRUE(params->get_info(plugin, i, &info));
        EXPECT_EQ(info.id, i * 128);
        EXPECT_STREQ(info.name, rows[i].name);
        EXPECT_STREQ(info.module, rows[i].module);
        char text[64];
        ASSERT_TRUE(params->value_to_text(plugin, info.id, info.default_value, text, sizeof text));
        EXPECT_STREQ(text, rows[i].shown);
    }
    double division = 0.0;
    ASSERT_TRUE(params->text_to_value(plugin, host.param_id("division"), "1/8", &division));
    EXPECT_EQ(division, 1.0);
}

TEST_F(ClapTidalTremolo, SavedStateCarriesEveryValueIntoAnotherInstance) {
    const std::pair<const char*, double> settings[] = {{"speed", 7.5},    {"tempo_sync", 1.0},
                                                       {"division", 4.0}, {"depth", 0.25},
                                                       {"tone", 900.0},   {"mix", 0.5}};
    for (const auto& [id, value] : settings)
        host.set(id, value);
    host.render(Audio(2, std::vector<float>(32)));
    const auto* state =
        static_cast<const abi::clap_plugin_state*>(plugin->get_extension(plugin, "clap.state"));
    OutStream out;
    ASSERT_TRUE(state->save(plugin, &out.stream));
    EXPECT_EQ(out.bytes.size(), 12u + 8u * 10u);

    const PluginRender second;
    ASSERT_EQ(second.error(), "");
    InStream in(out.bytes);
    ASSERT_TRUE(state->load(second.plugin(), &in.stream));
    for (const auto& [id, value] : settings) {
        double read = 0.0;
        ASSERT_TRUE(params->get_value(second.plugin(), host.param_id(id), &read));
        EXPECT_EQ(read, static_cast<float>(value)) << id;
    }
}

TEST_F(ClapTidalTremolo, FreeRunningLevelFollowsTheModelForRandomSettings) {
    std::mt19937 random(20261208);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 6; ++i) {
        Case k{};
        k.speed = 0.2 + 7.8 * unit(random);
        k.rate_hz = static_cast<float>(k.speed);
        k.tempo = 120.0;
        k.depth = unit(random);
        k.shape = unit(random) < 0.5 ? 0.0 : 1.0;
        k.spread = 180.0 * unit(random);
        k.level = -12.0 * unit(random);
        k.mix = unit(random);
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << k.speed << " Hz");
        expect_model(k);
    }
}

TEST_F(ClapTidalTremolo, SyncedRateIsOneCyclePerNoteAtTheHostsTempoWhateverTheSpeed) {
    const Case cases[] = {
        // speed, sync, division, tempo, depth, shape, spread, level, mix, rate_hz
        {17.0, 1.0, 2.0, 90.0, 0.8, 0.0, 0.0, 0.0, 1.0, 1.5},
        {17.0, 1.0, 1.0, 140.0, 0.6, 1.0, 90.0, 0.0, 1.0, 140.0 / 30.0},
        {0.5, 1.0, 4.0, 60.0, 1.0, 0.0, 180.0, 0.0, 1.0, 0.25},
        {3.0, 0.0, 4.0, 60.0, 1.0, 0.0, 0.0, 0.0, 1.0, 3.0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.tempo << " bpm, division " << k.division);
        expect_model(k);
    }
}

// The low-pass is a second-order Butterworth made by the bilinear transform,
// so its gain at f is 1 / sqrt(1 + r^4) with r the ratio of the prewarped
// frequencies.
TEST_F(ClapTidalTremolo, ToneFilterFollowsTheButterworthResponse) {
    const struct {
        double tone, freq;
    } cases[] = {{1000.0, 250.0}, {1000.0, 1000.0}, {1000.0, 4000.0}, {5000.0, 10000.0}};
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.freq << " Hz through " << k.tone << " Hz");
        std::vector<float> sine(24000);
        for (std::size_t n = 0; n < sine.size(); ++n)
            sine[n] = static_cast<float>(
                std::sin(2.0 * std::numbers::pi * k.freq * static_cast<double>(n) / RATE));
        host.set("depth", 0.0);
        host.set("tone", k.tone);
        const Audio out = host.render(Audio(2, sine));
        double in_power = 0.0, out_power = 0.0;
        for (std::size_t n = 12000; n < sine.size(); ++n) {
            in_power += static_cast<double>(sine[n]) * sine[n];
            out_power += static_cast<double>(out[1][n]) * out[1][n];
        }
        const double r =
            std::tan(std::numbers::pi * k.freq / RATE) / std::tan(std::numbers::pi * k.tone / RATE);
        EXPECT_NEAR(std::sqrt(out_power / in_power), 1.0 / std::sqrt(1.0 + r * r * r * r), 2e-3);
    }
}

}  // namespace
}  // namespace orba::test
