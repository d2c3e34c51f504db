#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "tests/clap/host.h"

namespace orba::test {
namespace {

enum : abi::clap_id {
    SPEED = 0 * 128,
    SYNC = 1 * 128,
    DIVISION = 2 * 128,
    DEPTH = 3 * 128,
    SHAPE = 4 * 128,
    SPREAD = 5 * 128,
    TONE = 6 * 128,
    WANDER = 7 * 128,
    LEVEL = 8 * 128,
    MIX = 9 * 128,
};

constexpr double RATE = 48000.0;

struct Setting {
    abi::clap_id id;
    double value;
};

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

// A host's view of Tidal Tremolo instances from the shipped library.
class ClapTidalTremolo : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(library.entry(), nullptr) << library.error();
        ASSERT_TRUE(library.entry()->init(TIDAL_TREMOLO_CLAP));
        factory = library.factory();
        ASSERT_NE(factory, nullptr);
        plugin = create();
        ASSERT_NE(plugin, nullptr);
        params = static_cast<const abi::clap_plugin_params*>(
            plugin->get_extension(plugin, "clap.params"));
        ASSERT_NE(params, nullptr);
    }
    void TearDown() override {
        for (const abi::clap_plugin* p : created)
            p->destroy(p);
        library.entry()->deinit();
    }

    const abi::clap_plugin* create() {
        const abi::clap_plugin* p = factory->create_plugin(factory, &host.host, TIDAL_TREMOLO_ID);
        if (p == nullptr || !p->init(p)) return nullptr;
        created.push_back(p);
        return p;
    }

    // `frames` of stereo `input` at 48 kHz in blocks of 480, with `settings`
    // written and the host's tempo given with the first block.
    std::vector<std::vector<float>> render(const std::vector<float>& input,
                                           const std::vector<Setting>& settings,
                                           double tempo = 120.0) {
        constexpr std::uint32_t BLOCK = 480;
        EXPECT_TRUE(plugin->activate(plugin, RATE, 1, BLOCK));
        EXPECT_TRUE(plugin->start_processing(plugin));
        Events events;
        for (const Setting& s : settings)
            events.param(s.id, s.value);
        abi::clap_event_transport transport{};
        transport.header.size = sizeof transport;
        transport.header.type = abi::CLAP_EVENT_TRANSPORT;
        transport.flags = abi::CLAP_TRANSPORT_HAS_TEMPO;
        transport.tempo = tempo;
        std::vector<std::vector<float>> out(2, std::vector<float>(input.size()));
        for (std::size_t start = 0; start < input.size(); start += BLOCK) {
            const auto n =
                static_cast<std::uint32_t>(std::min<std::size_t>(BLOCK, input.size() - start));
            Block b(2, 2, n);
            for (std::size_t c = 0; c < 2; ++c)
                std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(start), n, b.in[c].begin());
            b.process.steady_time = static_cast<std::int64_t>(start);
            b.process.transport = &transport;
            b.process.in_events = start == 0 ? events.list() : nullptr;
            EXPECT_EQ(plugin->process(plugin, &b.process), abi::CLAP_PROCESS_CONTINUE);
            for (std::size_t c = 0; c < 2; ++c)
                std::copy_n(b.out[c].begin(), n,
                            out[c].begin() + static_cast<std::ptrdiff_t>(start));
        }
        plugin->stop_processing(plugin);
        plugin->deactivate(plugin);
        return out;
    }

    void expect_model(const Case& k) {
        const std::vector<float> steady(24000, 1.0f);
        const auto out = render(steady,
                                {{SPEED, k.speed},
                                 {SYNC, k.sync},
                                 {DIVISION, k.division},
                                 {DEPTH, k.depth},
                                 {SHAPE, k.shape},
                                 {SPREAD, k.spread},
                                 {TONE, 20000.0},
                                 {LEVEL, k.level},
                                 {MIX, k.mix}},
                                k.tempo);
        double worst = 0.0;
        for (std::size_t c = 0; c < 2; ++c) {
            // From 50 ms on, once the filter has taken in the step at the start.
            for (std::size_t n = 2400; n < steady.size(); ++n) {
                const double want =
                    model(k.rate_hz, k.depth, k.shape > 0.5, k.spread, k.level, k.mix, c, n);
                worst = std::max(worst, std::fabs(out[c][n] - want));
            }
        }
        EXPECT_LT(worst, 2e-3);
    }

    Library library{TIDAL_TREMOLO_CLAP};
    TestHost host;
    const abi::clap_plugin_factory* factory = nullptr;
    const abi::clap_plugin* plugin = nullptr;
    const abi::clap_plugin_params* params = nullptr;
    std::vector<const abi::clap_plugin*> created;
};

TEST_F(ClapTidalTremolo, HostsSeeTheProductAndItsTenParameters) {
    const abi::clap_plugin_descriptor* d = factory->get_plugin_descriptor(factory, 0);
    ASSERT_NE(d, nullptr);
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
    ASSERT_TRUE(params->text_to_value(plugin, DIVISION, "1/8", &division));
    EXPECT_EQ(division, 1.0);
}

TEST_F(ClapTidalTremolo, SavedStateCarriesEveryValueIntoAnotherInstance) {
    const std::vector<Setting> settings = {{SPEED, 7.5},  {SYNC, 1.0},   {DIVISION, 4.0},
                                           {DEPTH, 0.25}, {TONE, 900.0}, {MIX, 0.5}};
    Events events;
    for (const Setting& s : settings)
        events.param(s.id, s.value);
    params->flush(plugin, events.list(), nullptr);
    const auto* state =
        static_cast<const abi::clap_plugin_state*>(plugin->get_extension(plugin, "clap.state"));
    OutStream out;
    ASSERT_TRUE(state->save(plugin, &out.stream));
    EXPECT_EQ(out.bytes.size(), 12u + 8u * 10u);

    const abi::clap_plugin* other = create();
    ASSERT_NE(other, nullptr);
    InStream in(out.bytes);
    ASSERT_TRUE(state->load(other, &in.stream));
    for (const Setting& s : settings) {
        double value = 0.0;
        ASSERT_TRUE(params->get_value(other, s.id, &value));
        EXPECT_EQ(value, static_cast<float>(s.value)) << s.id;
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
        const auto out = render(sine, {{DEPTH, 0.0}, {TONE, k.tone}});
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
