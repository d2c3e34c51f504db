#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "orba/clap/abi.h"
#include "orba/clap/param_help.h"
#include "tests/clap/host.h"
#include "tests/clap/probe_plugin.h"

namespace orba::test {
namespace {

constexpr abi::clap_id id_of(Probe::Index index, std::uint32_t channel = 0) {
    return static_cast<abi::clap_id>(index * 128 + channel);
}

Library& probe_library() {
    static Library library(ORBA_PROBE_CLAP);
    return library;
}

// Everything a host keeps for one instance of the probe.
class ClapProbe : public testing::Test {
  protected:
    void SetUp() override {
        Library& library = probe_library();
        ASSERT_NE(library.entry(), nullptr) << library.error();
        ASSERT_TRUE(library.entry()->init(ORBA_PROBE_CLAP));
        factory = library.factory();
        ASSERT_NE(factory, nullptr);
        create();
    }
    void TearDown() override {
        destroy();
        probe_library().entry()->deinit();
    }

    void create() {
        plugin = factory->create_plugin(factory, &host.host, "orba.test.probe");
        ASSERT_NE(plugin, nullptr);
        ASSERT_TRUE(plugin->init(plugin));
        params = extension<abi::clap_plugin_params>(abi::CLAP_EXT_PARAMS);
        state = extension<abi::clap_plugin_state>(abi::CLAP_EXT_STATE);
        ports = extension<abi::clap_plugin_audio_ports>(abi::CLAP_EXT_AUDIO_PORTS);
        configurable = extension<abi::clap_plugin_configurable_audio_ports>(
            abi::CLAP_EXT_CONFIGURABLE_AUDIO_PORTS);
        latency = extension<abi::clap_plugin_latency>(abi::CLAP_EXT_LATENCY);
        tail = extension<abi::clap_plugin_tail>(abi::CLAP_EXT_TAIL);
    }
    void destroy() {
        if (plugin == nullptr) return;
        if (active) plugin->deactivate(plugin);
        plugin->destroy(plugin);
        plugin = nullptr;
        active = false;
    }

    template <class T>
    const T* extension(const char* id) {
        return static_cast<const T*>(plugin->get_extension(plugin, id));
    }

    bool activate(double rate = 48000.0, std::uint32_t max_frames = 512) {
        bool ok = plugin->activate(plugin, rate, 1, max_frames);
        active = active || ok;
        return ok;
    }
    void deactivate() {
        plugin->deactivate(plugin);
        active = false;
    }

    double value(abi::clap_id id) {
        double v = std::numeric_limits<double>::quiet_NaN();
        EXPECT_TRUE(params->get_value(plugin, id, &v)) << "id " << id;
        return v;
    }
    abi::clap_process_status run(Block& block, const Events* events = nullptr) {
        block.process.in_events = events != nullptr ? events->list() : nullptr;
        return plugin->process(plugin, &block.process);
    }
    // One block with one parameter-value event.
    abi::clap_process_status set(abi::clap_id id, double v, std::uint32_t frames = 16) {
        Events events;
        events.param(id, v);
        Block block(2, 2, frames);
        return run(block, &events);
    }
    bool configure(std::vector<std::uint32_t> counts) {
        std::vector<abi::clap_audio_port_configuration_request> requests;
        for (std::uint32_t n : counts) {
            requests.push_back({false, 0, n, nullptr, nullptr});
        }
        return configurable->apply_configuration(plugin, requests.data(),
                                                 static_cast<std::uint32_t>(requests.size()));
    }
    std::vector<std::uint8_t> saved() {
        OutStream out;
        EXPECT_TRUE(state->save(plugin, &out.stream));
        return out.bytes;
    }

    TestHost host;
    const abi::clap_plugin_factory* factory = nullptr;
    const abi::clap_plugin* plugin = nullptr;
    bool active = false;
    const abi::clap_plugin_params* params = nullptr;
    const abi::clap_plugin_state* state = nullptr;
    const abi::clap_plugin_audio_ports* ports = nullptr;
    const abi::clap_plugin_configurable_audio_ports* configurable = nullptr;
    const abi::clap_plugin_latency* latency = nullptr;
    const abi::clap_plugin_tail* tail = nullptr;
};

TEST(ClapLibrary, AHostLoadsRunsAndUnloadsTheLibrary) {
    Library library(ORBA_PROBE_CLAP);
    const abi::clap_plugin_entry* entry = library.entry();
    ASSERT_NE(entry, nullptr) << library.error();
    EXPECT_EQ(entry->clap_version.major, 1u);
    EXPECT_EQ(entry->clap_version.minor, 2u);
    EXPECT_EQ(entry->clap_version.revision, 10u);
    ASSERT_TRUE(entry->init(ORBA_PROBE_CLAP));
    const abi::clap_plugin_factory* factory = library.factory();
    ASSERT_NE(factory, nullptr);
    ASSERT_EQ(factory->get_plugin_count(factory), 1u);
    const abi::clap_plugin_descriptor* descriptor = factory->get_plugin_descriptor(factory, 0);
    ASSERT_NE(descriptor, nullptr);

    TestHost host;
    const abi::clap_plugin* plugin = factory->create_plugin(factory, &host.host, descriptor->id);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->desc, descriptor);
    EXPECT_TRUE(host.queries.empty()) << "no host calls inside create_plugin";
    ASSERT_TRUE(plugin->init(plugin));
    EXPECT_EQ(host.queries, (std::vector<std::string>{"clap.params", "clap.latency"}));
    ASSERT_TRUE(plugin->activate(plugin, 48000.0, 1, 256));
    ASSERT_TRUE(plugin->start_processing(plugin));

    Events events;
    events.param(id_of(Probe::GAIN), -6.0);
    abi::clap_event_transport transport{};
    transport.flags = abi::CLAP_TRANSPORT_HAS_TEMPO | abi::CLAP_TRANSPORT_IS_PLAYING;
    transport.tempo = 96.0;
    Block block(2, 2, 64);
    block.in[0][0] = 1.0f;
    block.in[1][1] = -1.0f;
    block.process.transport = &transport;
    block.process.steady_time = 0;
    block.process.in_events = events.list();
    ASSERT_EQ(plugin->process(plugin, &block.process), abi::CLAP_PROCESS_CONTINUE);
    const float gain = std::pow(10.0f, -6.0f / 20.0f);
    EXPECT_EQ(block.out[0][0], gain);
    EXPECT_EQ(block.out[1][1], -gain);
    EXPECT_EQ(block.out[0][1], 0.0f);
    EXPECT_EQ(host.callbacks, 1);

    plugin->stop_processing(plugin);
    plugin->on_main_thread(plugin);
    plugin->deactivate(plugin);
    plugin->destroy(plugin);
    entry->deinit();
}

TEST(ClapLibrary, TheDescriptorIsBuiltOnceWithEmptyStringsAndTerminatedFeatures) {
    Library& library = probe_library();
    ASSERT_NE(library.entry(), nullptr) << library.error();
    const abi::clap_plugin_factory* factory = library.factory();
    const abi::clap_plugin_descriptor* before = factory->get_plugin_descriptor(factory, 0);
    ASSERT_TRUE(library.entry()->init("ignored"));
    const abi::clap_plugin_descriptor* d = factory->get_plugin_descriptor(factory, 0);
    EXPECT_EQ(d, before);
    library.entry()->deinit();
    ASSERT_TRUE(library.entry()->init("ignored"));
    EXPECT_EQ(factory->get_plugin_descriptor(factory, 0), before);
    EXPECT_EQ(factory->get_plugin_descriptor(factory, 1), nullptr);
    library.entry()->deinit();

    EXPECT_EQ(d->clap_version.major, 1u);
    EXPECT_EQ(d->clap_version.minor, 2u);
    EXPECT_EQ(d->clap_version.revision, 10u);
    EXPECT_STREQ(d->id, "orba.test.probe");
    EXPECT_STREQ(d->name, "Orba Probe");
    EXPECT_STREQ(d->vendor, "Orba");
    EXPECT_STREQ(d->version, "1.0.0");
    EXPECT_STREQ(d->description, "Measures its host");
    ASSERT_NE(d->url, nullptr);
    ASSERT_NE(d->manual_url, nullptr);
    ASSERT_NE(d->support_url, nullptr);
    EXPECT_STREQ(d->url, "");
    EXPECT_STREQ(d->manual_url, "");
    EXPECT_STREQ(d->support_url, "");
    ASSERT_NE(d->features, nullptr);
    EXPECT_STREQ(d->features[0], "audio-effect");
    EXPECT_STREQ(d->features[1], "utility");
    EXPECT_EQ(d->features[2], nullptr);
}

TEST(ClapLibrary, TheFactoryAnswersOnlyItsExactId) {
    Library& library = probe_library();
    ASSERT_NE(library.entry(), nullptr) << library.error();
    const abi::clap_plugin_factory* factory = library.factory();
    const struct {
        const char* id;
        bool found;
    } cases[] = {
        {"clap.plugin-factory", true},   {nullptr, false},
        {"clap.plugin-factory ", false}, {"clap.plugin-factor", false},
        {"CLAP.PLUGIN-FACTORY", false},  {"clap.plugin-invalidation-factory", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id != nullptr ? c.id : "null");
        const void* got = library.entry()->get_factory(c.id);
        EXPECT_EQ(got, c.found ? static_cast<const void*>(factory) : nullptr);
    }
}

TEST(ClapLibrary, CreatePluginRefusesMissingOrIncompatibleHostsAndOtherIds) {
    Library& library = probe_library();
    ASSERT_NE(library.entry(), nullptr) << library.error();
    ASSERT_TRUE(library.entry()->init(ORBA_PROBE_CLAP));
    const abi::clap_plugin_factory* factory = library.factory();
    TestHost host;
    TestHost old_host(abi::clap_version{0, 9, 9});
    TestHost next_host(abi::clap_version{2, 0, 0});
    const struct {
        const abi::clap_host* host;
        const char* id;
        bool created;
    } cases[] = {
        {nullptr, "orba.test.probe", false},        {&host.host, nullptr, false},
        {&old_host.host, "orba.test.probe", false}, {&host.host, "ORBA.TEST.PROBE", false},
        {&host.host, "orba.test.probe ", false},    {&host.host, "orba.test.prob", false},
        {&host.host, "orba.test.probe", true},      {&next_host.host, "orba.test.probe", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.id != nullptr ? c.id : "null") << " host "
                                        << (c.host != nullptr ? c.host->clap_version.major : 99));
        const abi::clap_plugin* plugin = factory->create_plugin(factory, c.host, c.id);
        EXPECT_EQ(plugin != nullptr, c.created);
        if (plugin != nullptr) {
            EXPECT_EQ(plugin->desc, factory->get_plugin_descriptor(factory, 0));
            plugin->destroy(plugin);
        }
    }
    library.entry()->deinit();
}

// Hosts hand the library's path to init in UTF-8, and load it from wherever
// the user keeps it, whatever the folder and file are called.
TEST(ClapLibrary, LoadsFromAPathOutsideASCIIAndReportsAMissingOne) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(testing::TempDir()) / fs::path(u8"Prüfung – 音");
    fs::create_directories(folder);
    const fs::path file = folder / fs::path(u8"Probe ✓.clap");
    fs::copy_file(ORBA_PROBE_CLAP, file, fs::copy_options::overwrite_existing);
    const std::u8string utf8 = file.u8string();
    const std::string path(utf8.begin(), utf8.end());
    {
        Library library(path);
        ASSERT_NE(library.entry(), nullptr) << library.error();
        EXPECT_TRUE(library.entry()->init(path.c_str()));
        EXPECT_NE(library.factory(), nullptr);
        library.entry()->deinit();
    }
    fs::remove_all(folder);
    Library missing(path);
    EXPECT_EQ(missing.entry(), nullptr);
    EXPECT_FALSE(missing.error().empty());
}

TEST(ClapLibrary, ExportsOnlyClapEntry) {
    EXPECT_EQ(exported_symbols(ORBA_PROBE_CLAP), std::vector<std::string>{"clap_entry"});
}

#if !defined(ORBA_SANITIZE)
TEST(ClapLibrary, NeedsNothingButTheSystemCLibraries) {
    expect_only_system_c_libraries(ORBA_PROBE_CLAP);
}
#endif

TEST_F(ClapProbe, GetExtensionMatchesIdsExactly) {
    const void* params_table = plugin->get_extension(plugin, "clap.params");
    EXPECT_NE(params_table, nullptr);
    for (const char* id : {"clap.param", "clap.params ", "clap.tail.x", "CLAP.STATE",
                           "clap.configurable-audio-ports.draft0", ""}) {
        EXPECT_EQ(plugin->get_extension(plugin, id), nullptr) << id;
    }
    EXPECT_EQ(plugin->get_extension(plugin, nullptr), nullptr);
    for (const char* id : {"clap.state", "clap.latency", "clap.tail", "clap.audio-ports"}) {
        EXPECT_NE(plugin->get_extension(plugin, id), nullptr) << id;
    }
    EXPECT_EQ(plugin->get_extension(plugin, "clap.configurable-audio-ports/1"),
              plugin->get_extension(plugin, "clap.configurable-audio-ports.draft1"));
    EXPECT_NE(configurable, nullptr);
}

TEST_F(ClapProbe, ActivationRefusesUnusableSampleRates) {
    const double refused[] = {0.0,
                              -44100.0,
                              std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN(),
                              1e9,
                              768000.5};
    for (double rate : refused) {
        EXPECT_FALSE(activate(rate)) << rate;
    }
    EXPECT_EQ(value(id_of(Probe::PREPARES)), 0.0) << "a refused activation prepares nothing";

    ASSERT_TRUE(activate(1e-3));
    deactivate();
    ASSERT_TRUE(activate(768000.0));
    deactivate();
    ASSERT_TRUE(activate(44100.0, 0));
    EXPECT_EQ(value(id_of(Probe::FRAMES)), 1.0);
    EXPECT_EQ(value(id_of(Probe::RATE)), 44100.0);
    EXPECT_FALSE(activate(48000.0)) << "already active";
    EXPECT_EQ(value(id_of(Probe::RATE)), 44100.0);
    EXPECT_EQ(value(id_of(Probe::PREPARES)), 3.0);
}

TEST_F(ClapProbe, ResetPreparesAgainOnlyWhileActive) {
    plugin->reset(plugin);
    EXPECT_EQ(value(id_of(Probe::PREPARES)), 0.0);
    ASSERT_TRUE(activate(96000.0, 128));
    plugin->reset(plugin);
    EXPECT_EQ(value(id_of(Probe::PREPARES)), 2.0);
    EXPECT_EQ(value(id_of(Probe::RATE)), 96000.0);
    EXPECT_EQ(value(id_of(Probe::FRAMES)), 128.0);
}

TEST_F(ClapProbe, AZeroFrameBlockStillAppliesItsEvents) {
    ASSERT_TRUE(activate());
    EXPECT_EQ(set(id_of(Probe::GAIN), -12.0, 0), abi::CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(value(id_of(Probe::GAIN)), -12.0);
    EXPECT_EQ(host.callbacks, 1);
}

TEST_F(ClapProbe, OutputBuffersThatDoNotFitTheInstanceAreErrors) {
    ASSERT_TRUE(activate());
    {
        Block block(2, 3, 16);
        EXPECT_EQ(run(block), abi::CLAP_PROCESS_ERROR);
    }
    {
        Block block(2, 2, 16);
        block.out_buffer.data32 = nullptr;
        EXPECT_EQ(run(block), abi::CLAP_PROCESS_ERROR);
    }
    {
        Block block(2, 2, 16);
        block.out_ptrs[1] = nullptr;
        EXPECT_EQ(run(block), abi::CLAP_PROCESS_ERROR);
    }
    {
        Block block(2, 2, 16);
        block.process.audio_outputs_count = 0;
        EXPECT_EQ(run(block), abi::CLAP_PROCESS_CONTINUE);
        EXPECT_EQ(block.out[0][0], 7.0f) << "no output port, nothing runs";
    }
    EXPECT_EQ(plugin->process(plugin, nullptr), abi::CLAP_PROCESS_ERROR);
}

TEST_F(ClapProbe, AMonoInputFeedsTheFirstChannelAndTheSecondRunsFromSilence) {
    ASSERT_TRUE(activate());
    ASSERT_EQ(set(id_of(Probe::TRIM, 0), 0.5), abi::CLAP_PROCESS_CONTINUE);
    Block block(1, 2, 32);
    for (std::size_t i = 0; i < 32; ++i)
        block.in[0][i] = static_cast<float>(i);
    ASSERT_EQ(run(block), abi::CLAP_PROCESS_CONTINUE);
    for (std::size_t i = 0; i < 32; ++i) {
        EXPECT_EQ(block.out[0][i], 0.5f * static_cast<float>(i));
        EXPECT_EQ(block.out[1][i], 0.0f);
    }

    Block none(0, 2, 8);
    ASSERT_EQ(run(none), abi::CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(none.out[0], std::vector<float>(8, 0.0f));
    EXPECT_EQ(none.out[1], std::vector<float>(8, 0.0f));
}

TEST_F(ClapProbe, ProcessingInPlaceKeepsTheInput) {
    ASSERT_TRUE(activate());
    Block block(2, 2, 4);
    block.out[0] = {1.0f, 2.0f, 3.0f, 4.0f};
    block.out[1] = {5.0f, 6.0f, 7.0f, 8.0f};
    block.in_buffer.data32 = block.out_ptrs.data();
    ASSERT_EQ(run(block), abi::CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(block.out[0], (std::vector<float>{1.0f, 2.0f, 3.0f, 4.0f}));
    EXPECT_EQ(block.out[1], (std::vector<float>{5.0f, 6.0f, 7.0f, 8.0f}));
}

TEST_F(ClapProbe, EventsThatAreNotUsableParameterValuesAreIgnored) {
    ASSERT_TRUE(activate());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* what;
        abi::clap_id id;
        double value;
        std::uint32_t size;
        std::uint16_t space;
        std::uint16_t type;
    } cases[] = {
        {"meter", id_of(Probe::FRAMES), 5.0, 56, 0, abi::CLAP_EVENT_PARAM_VALUE},
        {"index beyond the count", id_of(Probe::COUNT), 5.0, 56, 0, abi::CLAP_EVENT_PARAM_VALUE},
        {"channel of a plain parameter", id_of(Probe::GAIN, 1), -5.0, 56, 0,
         abi::CLAP_EVENT_PARAM_VALUE},
        {"channel beyond the count", id_of(Probe::TRIM, 2), 0.25, 56, 0,
         abi::CLAP_EVENT_PARAM_VALUE},
        {"NaN", id_of(Probe::GAIN), nan, 56, 0, abi::CLAP_EVENT_PARAM_VALUE},
        {"infinity", id_of(Probe::GAIN), inf, 56, 0, abi::CLAP_EVENT_PARAM_VALUE},
        {"size 48", id_of(Probe::GAIN), -5.0, 48, 0, abi::CLAP_EVENT_PARAM_VALUE},
        {"another space", id_of(Probe::GAIN), -5.0, 56, 1, abi::CLAP_EVENT_PARAM_VALUE},
        {"modulation", id_of(Probe::GAIN), -5.0, 56, 0, abi::CLAP_EVENT_PARAM_MOD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Events events;
        abi::clap_event_param_value& e = events.param(c.id, c.value);
        e.header.size = c.size;
        e.header.space_id = c.space;
        e.header.type = c.type;
        events.null();
        events.transport(80.0);
        Block block(2, 2, 8);
        ASSERT_EQ(run(block, &events), abi::CLAP_PROCESS_CONTINUE);
        EXPECT_EQ(host.callbacks, 0);
        EXPECT_EQ(value(id_of(Probe::GAIN)), 0.0);
        EXPECT_EQ(value(id_of(Probe::TRIM, 0)), 1.0);
        EXPECT_EQ(value(id_of(Probe::TRIM, 1)), 1.0);
    }
}

TEST_F(ClapProbe, EventValuesAreLimitedAndRoundedLikeAnyWrite) {
    ASSERT_TRUE(activate());
    const struct {
        abi::clap_id id;
        double sent;
        double stored;
    } cases[] = {
        {id_of(Probe::MODE), 0.7, 1.0},      {id_of(Probe::MODE), -3.0, 0.0},
        {id_of(Probe::BYPASS), 0.5, 1.0},    {id_of(Probe::GAIN), 100.0, 12.0},
        {id_of(Probe::GAIN), -1e300, -60.0}, {id_of(Probe::TRIM, 1), 0.25, 0.25},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(set(c.id, c.sent), abi::CLAP_PROCESS_CONTINUE);
        EXPECT_EQ(value(c.id), c.stored) << c.id << " " << c.sent;
    }
    EXPECT_EQ(value(id_of(Probe::TRIM, 0)), 1.0) << "one channel of a per-channel parameter";
}

TEST_F(ClapProbe, ChangedParametersAreNotifiedOnceFromTheMainThreadCallback) {
    ASSERT_TRUE(activate());
    ASSERT_EQ(set(id_of(Probe::GAIN), -3.0), abi::CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(host.callbacks, 1);
    EXPECT_EQ(value(id_of(Probe::NOTIFIES)), 0.0) << "never from the audio thread";
    plugin->on_main_thread(plugin);
    EXPECT_EQ(value(id_of(Probe::NOTIFIES)), 1.0);
    plugin->on_main_thread(plugin);
    EXPECT_EQ(value(id_of(Probe::NOTIFIES)), 1.0);
    EXPECT_EQ(host.latency_changes, 0);
}

// The host may hear of a latency change only inside activate: while active the
// plug-in asks for a restart, once, and the activation that follows tells.
TEST_F(ClapProbe, ALatencyChangeWhileActiveAsksForARestartAndTheNextActivationTells) {
    ASSERT_TRUE(activate());
    Events events;
    const struct {
        const char* what;
        double latency;
        bool processed;  // else flushed, then reset
        int restarts, changes;
    } steps[] = {
        {"while processing", 64.0, true, 1, 1},
        {"with a reset", 32.0, false, 2, 2},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        const int callbacks = host.callbacks;
        if (s.processed) {
            ASSERT_EQ(set(id_of(Probe::LATENCY), s.latency), abi::CLAP_PROCESS_CONTINUE);
        } else {
            events.param(id_of(Probe::LATENCY), s.latency);
            params->flush(plugin, events.list(), nullptr);
            plugin->reset(plugin);
        }
        EXPECT_EQ(host.callbacks, callbacks + 2) << "one for the parameter, one for the latency";
        EXPECT_EQ(latency->get(plugin), static_cast<std::uint32_t>(s.latency));
        plugin->on_main_thread(plugin);
        plugin->on_main_thread(plugin);
        EXPECT_EQ(host.restarts, s.restarts);
        EXPECT_EQ(host.latency_changes, s.changes - 1) << "never while active";
        deactivate();
        plugin->on_main_thread(plugin);
        EXPECT_EQ(host.restarts, s.restarts) << "not while inactive";
        ASSERT_TRUE(activate());
        EXPECT_EQ(host.latency_changes, s.changes) << "inside activate";
    }

    // A change while inactive is told by the next activation, and an
    // activation that changes nothing tells nothing.
    deactivate();
    events.param(id_of(Probe::LATENCY), 16.0);
    params->flush(plugin, events.list(), nullptr);
    ASSERT_TRUE(activate());
    EXPECT_EQ(latency->get(plugin), 16u);
    EXPECT_EQ(host.latency_changes, 3);
    deactivate();
    ASSERT_TRUE(activate());
    plugin->on_main_thread(plugin);
    EXPECT_EQ(host.latency_changes, 3);
    EXPECT_EQ(host.restarts, 2);
}

TEST_F(ClapProbe, TheHostTransportBecomesTheProcessContext) {
    ASSERT_TRUE(activate(48000.0));
    struct Case {
        const char* what;
        std::int64_t steady_time;
        std::optional<abi::clap_event_transport> transport;
        double tempo, position, playing;
    };
    abi::clap_event_transport playing{};
    playing.flags = abi::CLAP_TRANSPORT_HAS_TEMPO | abi::CLAP_TRANSPORT_IS_PLAYING;
    playing.tempo = 90.0;
    abi::clap_event_transport seconds{};
    seconds.flags = abi::CLAP_TRANSPORT_HAS_SECONDS_TIMELINE;
    seconds.song_pos_seconds = abi::CLAP_SECTIME_FACTOR * 3 / 2;
    seconds.tempo = 200.0;
    const Case cases[] = {
        {"free running", -1, std::nullopt, -1.0, -1.0, 0.0},
        {"steady time only", 480, std::nullopt, -1.0, 480.0, 0.0},
        {"tempo and playing", 96, playing, 90.0, 96.0, 1.0},
        {"seconds timeline", 96, seconds, -1.0, 72000.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Block block(2, 2, 8);
        block.process.steady_time = c.steady_time;
        block.process.transport = c.transport ? &*c.transport : nullptr;
        ASSERT_EQ(run(block), abi::CLAP_PROCESS_CONTINUE);
        EXPECT_EQ(value(id_of(Probe::TEMPO)), c.tempo);
        EXPECT_EQ(value(id_of(Probe::POSITION)), c.position);
        EXPECT_EQ(value(id_of(Probe::PLAYING)), c.playing);
    }
}

TEST_F(ClapProbe, DenormalsAreFlushedOnlyWhileTheBlockRuns) {
    ASSERT_TRUE(activate());
#if defined(__x86_64__)
    const unsigned before = _mm_getcsr();
#endif
    Block block(2, 2, 8);
    ASSERT_EQ(run(block), abi::CLAP_PROCESS_CONTINUE);
#if defined(__aarch64__)
    // FZ is the only flush arm64 has, and it reads denormal inputs as zero too.
    EXPECT_EQ(value(id_of(Probe::FLUSHED)), 2.0);
#else
    EXPECT_EQ(value(id_of(Probe::FLUSHED)), 1.0) << "denormal inputs are read as they are";
#endif
#if defined(__x86_64__)
    EXPECT_EQ(_mm_getcsr(), before);
#endif
    volatile float smallest = std::numeric_limits<float>::min();
    EXPECT_NE(smallest * 0.5f, 0.0f) << "the host thread keeps its own setting";
}

TEST_F(ClapProbe, AFlushOnAnInactiveInstanceNotifiesAtOnce) {
    Events events;
    events.param(id_of(Probe::MODE), 1.0);
    params->flush(plugin, events.list(), nullptr);
    EXPECT_EQ(value(id_of(Probe::MODE)), 1.0);
    EXPECT_EQ(value(id_of(Probe::NOTIFIES)), 1.0);
    EXPECT_EQ(host.callbacks, 0);

    Events ignored;
    ignored.param(id_of(Probe::FRAMES), 3.0);
    params->flush(plugin, ignored.list(), nullptr);
    params->flush(plugin, nullptr, nullptr);
    EXPECT_EQ(value(id_of(Probe::NOTIFIES)), 1.0) << "nothing written, nothing to tell";
}

TEST_F(ClapProbe, AFlushWhileActiveWaitsForTheMainThreadCallback) {
    ASSERT_TRUE(activate());
    Events events;
    events.param(id_of(Probe::MODE), 1.0);
    params->flush(plugin, events.list(), nullptr);
    EXPECT_EQ(value(id_of(Probe::MODE)), 1.0);
    EXPECT_EQ(value(id_of(Probe::NOTIFIES)), 0.0);
    EXPECT_EQ(host.callbacks, 1);
    plugin->on_main_thread(plugin);
    EXPECT_EQ(value(id_of(Probe::NOTIFIES)), 1.0);
}

TEST_F(ClapProbe, PerChannelParametersListOneEntryPerChannel) {
    ASSERT_EQ(params->count(plugin), Probe::COUNT + 1);
    const struct {
        std::uint32_t index;
        abi::clap_id id;
        abi::clap_param_info_flags flags;
        const char* name;
        const char* module;
        double min, max, default_value;
    } rows[] = {
        {0, id_of(Probe::GAIN), 0x20, "Gain", "Out", -60.0, 12.0, 0.0},
        {1, id_of(Probe::MODE), 0x10021, "Mode", "Out", 0.0, 1.0, 0.0},
        {2, id_of(Probe::BYPASS), 0x31, "Bypass", "", 0.0, 1.0, 0.0},
        {4, id_of(Probe::TRIM, 0), 0x20, "Trim 1", "Trims/Channel 1", 0.0, 2.0, 1.0},
        {5, id_of(Probe::TRIM, 1), 0x20, "Trim 2", "Trims/Channel 2", 0.0, 2.0, 1.0},
        {6, id_of(Probe::FRAMES), 0x8, "frames", "Probe", 0.0, 1e12f, 0.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        abi::clap_param_info info;
        std::memset(&info, 0x55, sizeof info);
        ASSERT_TRUE(params->get_info(plugin, row.index, &info));
        EXPECT_EQ(info.id, row.id);
        EXPECT_EQ(info.flags, row.flags);
        EXPECT_EQ(info.cookie, nullptr);
        EXPECT_STREQ(info.name, row.name);
        EXPECT_STREQ(info.module, row.module);
        EXPECT_EQ(info.min_value, row.min);
        EXPECT_EQ(info.max_value, row.max);
        EXPECT_EQ(info.default_value, row.default_value);
    }
    abi::clap_param_info info;
    EXPECT_FALSE(params->get_info(plugin, Probe::COUNT + 1, &info));
    EXPECT_FALSE(params->get_info(plugin, 0, nullptr));

    ASSERT_TRUE(configure({5}));
    EXPECT_EQ(params->count(plugin), Probe::COUNT + 4);
    ASSERT_TRUE(params->get_info(plugin, 8, &info));
    EXPECT_EQ(info.id, id_of(Probe::TRIM, 4));
    EXPECT_STREQ(info.module, "Trims/Channel 5");
}

TEST_F(ClapProbe, ValuesAreReadAndShownPerId) {
    ASSERT_TRUE(activate());
    ASSERT_EQ(set(id_of(Probe::TRIM, 1), 0.5), abi::CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(value(id_of(Probe::TRIM, 0)), 1.0);
    EXPECT_EQ(value(id_of(Probe::TRIM, 1)), 0.5);
    double v = 0.0;
    EXPECT_FALSE(params->get_value(plugin, id_of(Probe::GAIN, 1), &v));
    EXPECT_FALSE(params->get_value(plugin, id_of(Probe::TRIM, 2), &v));
    EXPECT_FALSE(params->get_value(plugin, id_of(Probe::GAIN), nullptr));

    const struct {
        abi::clap_id id;
        double value;
        std::uint32_t capacity;
        const char* text;
    } cases[] = {
        {id_of(Probe::GAIN), -6.0, 64, "-6.00 dB"},
        {id_of(Probe::GAIN), 1e300, 64, "inf dB"},
        // Just past the largest float still rounds to it, as narrowing does.
        {id_of(Probe::GAIN), 3.4028235e38, 64, "340282346638528859811704183484516925440.00 dB"},
        {id_of(Probe::GAIN), -3.4028235e38, 64, "-340282346638528859811704183484516925440.00 dB"},
        {id_of(Probe::MODE), 1.0, 64, "PingPong"},
        {id_of(Probe::BYPASS), 0.49, 64, "Off"},
        {id_of(Probe::TRIM, 1), 0.125, 64, "0.12"},
        {id_of(Probe::GAIN), -6.0, 4, "-6."},
        {id_of(Probe::GAIN), -6.0, 1, ""},
    };
    for (const auto& c : cases) {
        char buffer[64];
        std::memset(buffer, 'x', sizeof buffer);
        ASSERT_TRUE(params->value_to_text(plugin, c.id, c.value, buffer, c.capacity));
        EXPECT_STREQ(buffer, c.text);
    }
    char untouched[4] = {'a', 'b', 'c', 'd'};
    EXPECT_TRUE(params->value_to_text(plugin, id_of(Probe::GAIN), 0.0, untouched, 0));
    EXPECT_EQ(untouched[0], 'a');
    EXPECT_FALSE(params->value_to_text(plugin, id_of(Probe::GAIN), 0.0, nullptr, 8));
    EXPECT_FALSE(params->value_to_text(plugin, id_of(Probe::GAIN, 1), 0.0, untouched, 4));
}

// The help extension against a plain model: every capacity gives the longest
// run of whole UTF-8 characters that fits before the NUL.
TEST_F(ClapProbe, HelpTextsAreCopiedWholeCharactersAtATimeAndOnlyForKnownIds) {
    const auto* help =
        extension<abi::orba_clap_plugin_param_help>("com.dravik-labs.orba.param-help/1");
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(plugin->get_extension(plugin, "com.dravik-labs.orba.param-help/2"), nullptr);

    const std::string text(PROBE_GAIN_HELP);
    for (std::uint32_t capacity = 1; capacity <= text.size() + 2; ++capacity) {
        std::size_t fits = 0;  // bytes of the whole characters that fit
        for (std::size_t at = 0; at < text.size();) {
            const auto lead = static_cast<unsigned char>(text[at]);
            const std::size_t size = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            if (at + size > capacity - 1) break;
            at += size;
            fits = at;
        }
        std::string buffer(capacity + 1, 'x');
        ASSERT_TRUE(help->get(plugin, id_of(Probe::GAIN), buffer.data(), capacity)) << capacity;
        EXPECT_EQ(buffer.substr(0, fits + 1), text.substr(0, fits) + '\0') << capacity;
        EXPECT_EQ(buffer.substr(capacity), "x") << "written past the capacity " << capacity;
    }

    char out[64];
    ASSERT_TRUE(configure({3}));
    ASSERT_TRUE(help->get(plugin, id_of(Probe::TRIM, 2), out, sizeof out));
    EXPECT_STREQ(out, "Each channel's own level.");
    ASSERT_TRUE(help->get(plugin, id_of(Probe::MODE), out, sizeof out));
    EXPECT_STREQ(out, "");
    for (const abi::clap_id unknown : {id_of(Probe::GAIN, 1), id_of(Probe::TRIM, 3),
                                       id_of(Probe::COUNT), abi::CLAP_INVALID_ID}) {
        std::memset(out, 'x', sizeof out);
        EXPECT_FALSE(help->get(plugin, unknown, out, sizeof out)) << unknown;
        EXPECT_EQ(out[0], '\0') << unknown;
    }
    std::memset(out, 'x', sizeof out);
    EXPECT_FALSE(help->get(plugin, id_of(Probe::GAIN), out, 0));
    EXPECT_EQ(out[0], 'x');
    EXPECT_FALSE(help->get(plugin, id_of(Probe::GAIN), nullptr, 8));
}

TEST_F(ClapProbe, TypedTextIsParsedByTheParameterKind) {
    const struct {
        abi::clap_id id;
        const char* text;
        std::optional<double> expected;
    } cases[] = {
        {id_of(Probe::MODE), " pingpong ", 1.0},
        {id_of(Probe::MODE), "1", 1.0},
        {id_of(Probe::MODE), "Ping Pong", std::nullopt},
        {id_of(Probe::BYPASS), "ON", 1.0},
        {id_of(Probe::BYPASS), "False", 0.0},
        {id_of(Probe::BYPASS), "yes", std::nullopt},
        {id_of(Probe::GAIN), "250 ms", 250.0},
        {id_of(Probe::GAIN), "-6dB", -6.0},
        {id_of(Probe::GAIN), "50%", 50.0},
        {id_of(Probe::GAIN), "1e3Hz", 1000.0},
        {id_of(Probe::GAIN), "ms", std::nullopt},
        {id_of(Probe::GAIN), "abc", std::nullopt},
        {id_of(Probe::GAIN), "\xC3\x28", std::nullopt},
        {id_of(Probe::GAIN), "-inf dB", std::nullopt},
        {id_of(Probe::MODE), "nan", std::nullopt},
        {id_of(Probe::BYPASS), "inf", std::nullopt},
        {id_of(Probe::TRIM, 1), "0.5", 0.5},
        {id_of(Probe::TRIM, 2), "0.5", std::nullopt},
        {id_of(Probe::GAIN, 1), "1", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        double v = -99.0;
        const bool ok = params->text_to_value(plugin, c.id, c.text, &v);
        ASSERT_EQ(ok, c.expected.has_value());
        if (ok) {
            EXPECT_EQ(v, *c.expected);
        }
    }
    double v = 0.0;
    EXPECT_FALSE(params->text_to_value(plugin, id_of(Probe::GAIN), nullptr, &v));
    EXPECT_FALSE(params->text_to_value(plugin, id_of(Probe::GAIN), "1", nullptr));
}

TEST_F(ClapProbe, StateSurvivesStreamsThatMoveOneByteAtATime) {
    ASSERT_TRUE(activate());
    ASSERT_EQ(set(id_of(Probe::GAIN), -9.0), abi::CLAP_PROCESS_CONTINUE);
    ASSERT_EQ(set(id_of(Probe::TRIM, 1), 0.75), abi::CLAP_PROCESS_CONTINUE);
    const std::vector<std::uint8_t> whole = saved();
    ASSERT_GE(whole.size(), 12u);
    EXPECT_EQ(std::string(whole.begin(), whole.begin() + 4), "ORBA");

    OutStream trickle;
    trickle.per_call = 3;
    ASSERT_TRUE(state->save(plugin, &trickle.stream));
    EXPECT_EQ(trickle.bytes, whole);
    EXPECT_EQ(static_cast<std::size_t>(trickle.calls), (whole.size() + 2) / 3);

    destroy();
    create();
    ASSERT_NE(plugin, nullptr);
    InStream in(whole);
    in.per_call = 1;
    ASSERT_TRUE(state->load(plugin, &in.stream));
    EXPECT_EQ(value(id_of(Probe::GAIN)), -9.0);
    EXPECT_EQ(value(id_of(Probe::TRIM, 1)), 0.75);
    EXPECT_EQ(host.rescans,
              std::vector<abi::clap_param_rescan_flags>{abi::CLAP_PARAM_RESCAN_VALUES});
    EXPECT_EQ(value(id_of(Probe::NOTIFIES)), 1.0);
}

TEST_F(ClapProbe, FailingStreamsSaveFalseAndLoadNothing) {
    ASSERT_TRUE(activate());
    for (std::int64_t answer : {0, -1}) {
        OutStream out;
        out.per_call = 5;
        out.fail_on = 2;
        out.fail_with = answer;
        EXPECT_FALSE(state->save(plugin, &out.stream)) << answer;
    }
    EXPECT_FALSE(state->save(plugin, nullptr));

    ASSERT_EQ(set(id_of(Probe::GAIN), -9.0), abi::CLAP_PROCESS_CONTINUE);
    const std::vector<std::uint8_t> changed = saved();
    ASSERT_EQ(set(id_of(Probe::GAIN), 0.0), abi::CLAP_PROCESS_CONTINUE);

    struct Case {
        const char* what;
        std::size_t per_call;
        int fail_on;
        std::int64_t extra;
    } cases[] = {
        {"the second read fails", 8, 2, 0},
        {"the first read fails", 8, 1, 0},
        {"a read claims more than it was asked for", 4096, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InStream in(changed);
        in.per_call = c.per_call;
        in.fail_on = c.fail_on;
        in.extra = c.extra;
        EXPECT_FALSE(state->load(plugin, &in.stream));
        EXPECT_EQ(value(id_of(Probe::GAIN)), 0.0);
    }
    InStream truncated(std::vector<std::uint8_t>(changed.begin(), changed.end() - 1));
    EXPECT_FALSE(state->load(plugin, &truncated.stream));
    EXPECT_FALSE(state->load(plugin, nullptr));
    EXPECT_EQ(value(id_of(Probe::GAIN)), 0.0);
    EXPECT_TRUE(host.rescans.empty());
}

TEST_F(ClapProbe, AStreamLongerThanSixteenMebibytesIsRefused) {
    std::vector<std::uint8_t> bytes = saved();
    bytes.resize(std::size_t{16} << 20, 0);
    {
        InStream in(bytes);
        in.per_call = 1 << 20;
        EXPECT_TRUE(state->load(plugin, &in.stream)) << "trailing bytes are ignored";
    }
    bytes.push_back(0);
    InStream in(bytes);
    EXPECT_FALSE(state->load(plugin, &in.stream));
    EXPECT_EQ(host.rescans.size(), 1u);
}

TEST_F(ClapProbe, PortsReportTheChannelCountAndItsType) {
    EXPECT_EQ(ports->count(plugin, true), 1u);
    EXPECT_EQ(ports->count(plugin, false), 1u);
    abi::clap_audio_port_info info;
    EXPECT_FALSE(ports->get(plugin, 1, false, &info));
    EXPECT_FALSE(ports->get(plugin, 0, true, nullptr));
    const struct {
        std::uint32_t channels;
        const char* type;
    } cases[] = {{2, "stereo"}, {1, "mono"}, {6, nullptr}, {64, nullptr}};
    for (const auto& c : cases) {
        ASSERT_TRUE(configure({c.channels}));
        for (bool is_input : {true, false}) {
            std::memset(&info, 0x55, sizeof info);
            ASSERT_TRUE(ports->get(plugin, 0, is_input, &info));
            EXPECT_EQ(info.id, 0u);
            EXPECT_STREQ(info.name, "Main");
            EXPECT_EQ(info.flags, abi::CLAP_AUDIO_PORT_IS_MAIN);
            EXPECT_EQ(info.channel_count, c.channels);
            if (c.type == nullptr) {
                EXPECT_EQ(info.port_type, nullptr);
            } else {
                EXPECT_STREQ(info.port_type, c.type);
            }
            EXPECT_EQ(info.in_place_pair, 0u);
        }
    }
}

TEST_F(ClapProbe, PortConfigurationsAreCheckedAsAWhole) {
    using Request = abi::clap_audio_port_configuration_request;
    const struct {
        const char* what;
        std::vector<Request> requests;
        bool ok;
    } cases[] = {
        {"one output of 2", {{false, 0, 2, nullptr, nullptr}}, true},
        {"input and output of 3",
         {{true, 0, 3, nullptr, nullptr}, {false, 0, 3, nullptr, nullptr}},
         true},
        {"no request", {}, false},
        {"0 channels", {{false, 0, 0, nullptr, nullptr}}, false},
        {"65 channels", {{false, 0, 65, nullptr, nullptr}}, false},
        {"second port", {{false, 1, 2, nullptr, nullptr}}, false},
        {"2 then 1", {{false, 0, 2, nullptr, nullptr}, {false, 0, 1, nullptr, nullptr}}, false},
        {"2 then port 1", {{false, 0, 2, nullptr, nullptr}, {true, 1, 2, nullptr, nullptr}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto n = static_cast<std::uint32_t>(c.requests.size());
        EXPECT_EQ(configurable->can_apply_configuration(plugin, c.requests.data(), n), c.ok);
        EXPECT_EQ(configurable->apply_configuration(plugin, c.requests.data(), n), c.ok);
    }
    Request one{false, 0, 2, nullptr, nullptr};
    EXPECT_FALSE(configurable->apply_configuration(plugin, nullptr, 1));
    EXPECT_FALSE(configurable->apply_configuration(plugin, &one, 0));
    EXPECT_EQ(host.rescans,
              std::vector<abi::clap_param_rescan_flags>(2, abi::CLAP_PARAM_RESCAN_ALL));

    ASSERT_TRUE(activate());
    EXPECT_FALSE(configurable->can_apply_configuration(plugin, &one, 1)) << "while active";
    EXPECT_FALSE(configurable->apply_configuration(plugin, &one, 1)) << "while active";
}

TEST_F(ClapProbe, TheConfiguredChannelCountIsWhatProcessingRuns) {
    ASSERT_TRUE(configure({6}));
    ASSERT_TRUE(activate());
    Block six(6, 6, 8);
    six.in[5][0] = 1.0f;
    ASSERT_EQ(run(six), abi::CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(six.out[5][0], 1.0f);
    Block two(2, 2, 8);
    EXPECT_EQ(run(two), abi::CLAP_PROCESS_ERROR);
}

TEST_F(ClapProbe, AHostWithoutExtensionsIsToldNothing) {
    destroy();
    host.offer_extensions = false;
    create();
    ASSERT_NE(plugin, nullptr);
    ASSERT_TRUE(configure({1}));
    InStream in(saved());
    ASSERT_TRUE(state->load(plugin, &in.stream));
    ASSERT_TRUE(activate());
    ASSERT_EQ(set(id_of(Probe::LATENCY), 8.0, 8), abi::CLAP_PROCESS_ERROR) << "mono instance";
    Block mono(1, 1, 8);
    ASSERT_EQ(run(mono), abi::CLAP_PROCESS_CONTINUE);
    plugin->on_main_thread(plugin);
    EXPECT_TRUE(host.rescans.empty());
    EXPECT_EQ(host.latency_changes, 0);
    EXPECT_EQ(latency->get(plugin), 8u);
}

}  // namespace
}  // namespace orba::test
