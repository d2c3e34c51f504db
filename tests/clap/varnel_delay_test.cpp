#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "tests/clap/host.h"
#include "varnel-delay/varnel_delay.h"

namespace orba::test {
namespace {

constexpr abi::clap_id MODE = 5 * 128;
constexpr abi::clap_id MIX = 6 * 128;

// A host's view of one Varnel Delay instance from the shipped library.
class ClapVarnelDelay : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(library.entry(), nullptr) << library.error();
        ASSERT_TRUE(library.entry()->init(ORBA_VARNEL_DELAY_CLAP));
        factory = library.factory();
        ASSERT_NE(factory, nullptr);
        plugin = factory->create_plugin(factory, &host.host, "dravik-labs.varnel-delay");
        ASSERT_NE(plugin, nullptr);
        ASSERT_TRUE(plugin->init(plugin));
        params = static_cast<const abi::clap_plugin_params*>(
            plugin->get_extension(plugin, "clap.params"));
        state =
            static_cast<const abi::clap_plugin_state*>(plugin->get_extension(plugin, "clap.state"));
        ASSERT_NE(params, nullptr);
        ASSERT_NE(state, nullptr);
    }
    void TearDown() override {
        if (plugin != nullptr) {
            plugin->deactivate(plugin);
            plugin->destroy(plugin);
        }
        library.entry()->deinit();
    }

    Library library{ORBA_VARNEL_DELAY_CLAP};
    TestHost host;
    const abi::clap_plugin_factory* factory = nullptr;
    const abi::clap_plugin* plugin = nullptr;
    const abi::clap_plugin_params* params = nullptr;
    const abi::clap_plugin_state* state = nullptr;
};

TEST_F(ClapVarnelDelay, TheDescriptorNamesTheProduct) {
    const abi::clap_plugin_descriptor* d = factory->get_plugin_descriptor(factory, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(plugin->desc, d);
    EXPECT_STREQ(d->id, "dravik-labs.varnel-delay");
    EXPECT_STREQ(d->name, "Varnel Delay");
    EXPECT_STREQ(d->vendor, "Dravik Labs");
    EXPECT_STREQ(d->version, "0.1.0");
    EXPECT_STREQ(d->url, "");
    EXPECT_STREQ(d->manual_url, "");
    EXPECT_STREQ(d->support_url, "");
    EXPECT_STREQ(d->description,
                 "A self-similar delay: every echo spawns a smaller copy of the whole delay "
                 "pattern, scaled in time by the ratio and in level by the decay, four levels "
                 "deep.");
    EXPECT_STREQ(d->features[0], "audio-effect");
    EXPECT_STREQ(d->features[1], "delay");
    EXPECT_EQ(d->features[2], nullptr);
}

TEST_F(ClapVarnelDelay, HostsSeeTheSevenParameters) {
    ASSERT_EQ(params->count(plugin), 7u);
    const struct {
        const char* name;
        const char* module;
        abi::clap_param_info_flags flags;
        const char* shown;
    } rows[] = {
        {"Time", "Varnel", 0x20, "400.00 ms"},   {"Ratio", "Varnel", 0x20, "0.62"},
        {"Decay", "Varnel", 0x20, "-4.00 dB"},   {"Feedback", "Tone", 0x20, "0.30"},
        {"Damping", "Tone", 0x20, "6000.00 Hz"}, {"Mode", "Tone", 0x10021, "Normal"},
        {"Mix", "Output", 0x20, "0.35"},
    };
    for (std::uint32_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(rows[i].name);
        abi::clap_param_info info;
        ASSERT_TRUE(params->get_info(plugin, i, &info));
        EXPECT_EQ(info.id, i * 128);
        EXPECT_STREQ(info.name, rows[i].name);
        EXPECT_STREQ(info.module, rows[i].module);
        EXPECT_EQ(info.flags, rows[i].flags);
        double value = 0.0;
        ASSERT_TRUE(params->get_value(plugin, info.id, &value));
        EXPECT_EQ(value, info.default_value);
        char text[64];
        ASSERT_TRUE(params->value_to_text(plugin, info.id, value, text, sizeof text));
        EXPECT_STREQ(text, rows[i].shown);
    }
    double mode = 0.0;
    ASSERT_TRUE(params->text_to_value(plugin, MODE, " pingpong ", &mode));
    EXPECT_EQ(mode, 1.0);
}

TEST_F(ClapVarnelDelay, TheDefaultStateIsTheSixtyEightByteBlock) {
    OutStream out;
    ASSERT_TRUE(state->save(plugin, &out.stream));
    ASSERT_EQ(out.bytes.size(), 68u);
    auto word = [&](std::size_t offset) {
        std::uint32_t w;
        std::memcpy(&w, out.bytes.data() + offset, 4);
        return w;
    };
    auto number = [&](std::size_t offset) {
        float f;
        std::memcpy(&f, out.bytes.data() + offset, 4);
        return f;
    };
    EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.begin() + 4), "ORBA");
    EXPECT_EQ(word(4), 1u);
    EXPECT_EQ(word(8), 7u);
    const float defaults[] = {400.0f, 0.618f, -4.0f, 0.3f, 6000.0f, 0.0f, 0.35f};
    for (std::size_t k = 0; k < 7; ++k) {
        EXPECT_EQ(word(12 + 8 * k), 1u);
        EXPECT_EQ(number(16 + 8 * k), defaults[k]);
    }

    // Back in through a stream that hands over one byte a call.
    Events events;
    events.param(MIX, 1.0);
    params->flush(plugin, events.list(), nullptr);
    InStream in(out.bytes);
    in.per_call = 1;
    ASSERT_TRUE(state->load(plugin, &in.stream));
    double mix = 0.0;
    ASSERT_TRUE(params->get_value(plugin, MIX, &mix));
    EXPECT_EQ(mix, 0.35f);
}

// Renders `input` (stereo, in blocks of `block` frames) through the library
// and through the plug-in type itself, with the same parameter writes first.
void expect_same_output(const abi::clap_plugin* plugin, std::uint32_t frames, std::uint32_t block,
                        double mode, double mix) {
    ASSERT_TRUE(plugin->activate(plugin, 48000.0, 1, block));
    ASSERT_TRUE(plugin->start_processing(plugin));
    VarnelDelay reference;
    reference.params()->set_channels(2);
    reference.prepare(ProcessSetup{.max_frames = block, .sample_rate = 48000.0f, .channels = 2});
    reference.params()->at(5).set(static_cast<float>(mode));
    reference.params()->at(6).set(static_cast<float>(mix));

    std::vector<float> left(frames, 0.0f), right(frames, 0.0f);
    left[0] = 1.0f;
    right[3] = -0.5f;
    std::vector<float> ref_left = left, ref_right = right;

    Events events;
    events.param(MODE, mode);
    events.param(MIX, mix);
    for (std::uint32_t start = 0; start < frames; start += block) {
        const std::uint32_t n = std::min(block, frames - start);
        Block b(2, 2, n);
        std::copy_n(left.begin() + start, n, b.in[0].begin());
        std::copy_n(right.begin() + start, n, b.in[1].begin());
        b.process.steady_time = start;
        b.process.in_events = start == 0 ? events.list() : nullptr;
        ASSERT_EQ(plugin->process(plugin, &b.process), abi::CLAP_PROCESS_CONTINUE);
        std::copy_n(b.out[0].begin(), n, left.begin() + start);
        std::copy_n(b.out[1].begin(), n, right.begin() + start);

        const std::span<float> channels[] = {{ref_left.data() + start, n},
                                             {ref_right.data() + start, n}};
        ProcessContext context;
        context.position = static_cast<double>(start);
        context.sample_rate = 48000.0f;
        reference.process(channels, context);
    }
    plugin->stop_processing(plugin);
    plugin->deactivate(plugin);

    std::size_t differences = 0;
    for (std::uint32_t i = 0; i < frames; ++i) {
        differences += std::memcmp(&left[i], &ref_left[i], sizeof(float)) != 0;
        differences += std::memcmp(&right[i], &ref_right[i], sizeof(float)) != 0;
    }
    EXPECT_EQ(differences, 0u);
    // The echoes are there: 400 ms at 48 kHz is sample 19200.
    EXPECT_NE(left[19200], 0.0f);
}

TEST_F(ClapVarnelDelay, AnImpulseThroughTheLibraryMatchesThePluginBitForBit) {
    expect_same_output(plugin, 48000, 512, 0.0, 0.35f);
}

TEST_F(ClapVarnelDelay, PingPongFullyWetThroughOddBlocksMatchesBitForBit) {
    expect_same_output(plugin, 30000, 77, 1.0, 1.0);
}

TEST(ClapVarnelDelayLibrary, ExportsOnlyClapEntry) {
    EXPECT_EQ(exported_symbols(ORBA_VARNEL_DELAY_CLAP), std::vector<std::string>{"clap_entry"});
}

#if !defined(ORBA_SANITIZE)
TEST(ClapVarnelDelayLibrary, NeedsNothingButTheSystemCLibraries) {
    expect_only_system_c_libraries(ORBA_VARNEL_DELAY_CLAP);
}
#endif

}  // namespace
}  // namespace orba::test
