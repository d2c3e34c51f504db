#include "orba/clap/wrapper.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "orba/clap/export.h"
#include "orba/core/fatal.h"
#include "tests/clap/host.h"
#include "tests/clap/probe_plugin.h"
#include "tests/support/overflowing_sum.h"

namespace orba::clap {
namespace {

namespace test = orba::test;

TEST(ClapWrapper, CStringDropsNulBytesAndKeepsTheTextAround) {
    const struct {
        std::string_view in;
        std::string out;
    } cases[] = {
        {"Varnel Delay", "Varnel Delay"},
        {std::string_view("ab\0cd", 5), "abcd"},
        {std::string_view("\0\0x\0", 4), "x"},
        {"", ""},
    };
    for (const auto& c : cases) {
        const std::string got = c_string(c.in);
        EXPECT_EQ(got, c.out);
        EXPECT_EQ(std::strlen(got.c_str()), c.out.size());
    }
}

TEST(ClapWrapper, IsIdComparesTheWholeIdentifierWithItsTerminator) {
    const struct {
        const char* id;
        bool same;
    } cases[] = {
        {"clap.tail", true}, {"clap.tail.x", false}, {"clap.tai", false}, {"CLAP.TAIL", false},
        {"", false},         {nullptr, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(abi::is_id(c.id, abi::CLAP_EXT_TAIL), c.same) << (c.id ? c.id : "null");
    }
}

// A plug-in of any layout and parameter table, for what the probe cannot show.
class Shaped final : public Inner {
  public:
    Shaped(Layout layout, std::span<const ParamInfo> table) : layout_(layout) {
        auto set = ParamSet::with_channels(table, MAX_CHANNELS);
        if (!set) fatal(set.error());
        params_ = std::move(set.value());
    }
    Layout layout() const override { return layout_; }
    std::shared_ptr<ParamSet> params() const override { return params_; }
    void prepare(const ProcessSetup&) override {}
    void process(Buffers, const ProcessContext&) override {}
    std::uint32_t latency() override { return 0; }
    std::uint32_t tail() override { return 0; }

  private:
    Layout layout_;
    std::shared_ptr<ParamSet> params_;
};

struct Instance {
    Instance(Layout layout, std::span<const ParamInfo> table = {})
        : plugin(Wrapper::create(nullptr, nullptr, std::make_unique<Shaped>(layout, table))),
          wrapper(Wrapper::from(plugin)) {}
    ~Instance() { plugin->destroy(plugin); }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    const abi::clap_plugin* plugin;
    Wrapper* wrapper;
};

TEST(ClapWrapper, TheChannelRangeComesFromTheFirstInputBusOnly) {
    static constexpr Bus WIDE[] = {{"Main", Channels::Range{0, 100}}};
    static constexpr Bus FIXED_0[] = {{"Main", Channels::Fixed{0}}};
    static constexpr Bus FIXED_1[] = {{"Main", Channels::Fixed{1}}};
    static constexpr Bus FIXED_2[] = {{"Main", Channels::Fixed{2}}};
    static constexpr Bus FIXED_99[] = {{"Main", Channels::Fixed{99}}};
    static constexpr Bus BACKWARDS[] = {{"Main", Channels::Range{5, 3}}};
    static constexpr Bus FOUR_TO_EIGHT[] = {{"Main", Channels::Range{4, 8}}};
    static constexpr Bus ANY[] = {{"Main", Channels::Any{}}};
    const struct {
        const char* what;
        Layout layout;
        std::uint32_t min, max, start;
    } cases[] = {
        {"range 0 to 100", {WIDE, {}}, 1, 64, 2},
        {"fixed 0", {FIXED_0, {}}, 1, 1, 1},
        {"fixed 1", {FIXED_1, {}}, 1, 1, 1},
        {"fixed 99", {FIXED_99, {}}, 64, 64, 64},
        {"no buses", {}, 1, 64, 2},
        {"only an output of 2", {{}, FIXED_2}, 1, 64, 2},
        {"range 5 to 3", {BACKWARDS, {}}, 5, 5, 5},
        {"range 4 to 8", {FOUR_TO_EIGHT, FIXED_1}, 4, 8, 4},
        {"any", {ANY, {}}, 1, 64, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Instance instance(c.layout);
        EXPECT_EQ(instance.wrapper->min_channels(), c.min);
        EXPECT_EQ(instance.wrapper->max_channels(), c.max);
        EXPECT_EQ(instance.wrapper->channels(), c.start);
        EXPECT_EQ(instance.wrapper->params().channels(), c.start);
    }
}

TEST(ClapWrapper, NamesAreCutToTheHostBufferAtACharacterBoundary) {
    static const std::string LONG(300, 'a');
    static const std::string SPLIT = std::string(254, 'b') + "\xC3\xA9";  // e acute at 254..255
    static const std::string MODULE(1100, 'm');
    static const ParamInfo TABLE[] = {
        {.id = "long", .name = LONG, .group = MODULE, .max = 1.0f},
        {.id = "split", .name = SPLIT, .max = 1.0f},
    };
    Instance instance({}, TABLE);
    abi::clap_param_info info;
    ASSERT_TRUE(instance.wrapper->param_info(0, info));
    EXPECT_EQ(std::string(info.name), LONG.substr(0, 255));
    EXPECT_EQ(std::string(info.module), MODULE.substr(0, 1023));
    ASSERT_TRUE(instance.wrapper->param_info(1, info));
    EXPECT_EQ(std::string(info.name), SPLIT.substr(0, 254));
}

TEST(ClapWrapper, ThePluginRecordComesFirstAndPointsBackAtItsWrapper) {
    Instance instance({});
    EXPECT_EQ(static_cast<const void*>(instance.plugin),
              static_cast<const void*>(instance.wrapper));
    EXPECT_EQ(Wrapper::from(nullptr), nullptr);
    EXPECT_EQ(instance.wrapper->sample_rate(), 48000.0);
    EXPECT_EQ(instance.wrapper->max_frames(), 4096u);
    EXPECT_FALSE(instance.wrapper->active());
}

TEST(ClapWrapper, ConcurrentCallersShareOneDescriptor) {
    static constexpr std::string_view FEATURES[] = {"audio-effect"};
    static constexpr Config CONFIG{.id = "a.b", .name = "B", .features = FEATURES};
    static Registry registry{CONFIG};
    std::vector<const abi::clap_plugin_descriptor*> seen(8);
    std::vector<std::thread> threads;
    for (auto& slot : seen)
        threads.emplace_back([&slot] { slot = registry.descriptor(); });
    for (auto& t : threads)
        t.join();
    for (auto* d : seen)
        EXPECT_EQ(d, seen[0]);
    EXPECT_STREQ(seen[0]->features[0], "audio-effect");
    EXPECT_EQ(seen[0]->features[1], nullptr);
}

// A second plug-in type through the same export layer, beside the probe.
class Silent final : public Plugin {
  public:
    static constexpr ParamInfo TABLE[] = {{.id = "level", .name = "Level", .max = 1.0f}};
    Silent() {
        auto set = ParamSet::with_channels(TABLE, 1);
        if (!set) fatal(set.error());
        params_ = std::move(set.value());
    }
    Layout layout() const override { return {}; }
    std::shared_ptr<ParamSet> params() const override { return params_; }
    void prepare(const ProcessSetup&) override {}
    void process(Buffers buffers, const ProcessContext&) override {
        for (auto channel : buffers)
            std::fill(channel.begin(), channel.end(), 0.0f);
    }
    std::uint32_t latency_samples() override { return 3; }
    std::uint32_t tail_samples() override { return 5; }

  private:
    std::shared_ptr<ParamSet> params_;
};

inline constexpr Config SILENT_CONFIG{.id = "orba.test.silent", .name = "Silent"};

TEST(ClapWrapper, TheExportLayerServesAnyPluginTypeWithItsOwnStatics) {
    using ProbeExport = Export<test::Probe, test::PROBE_CONFIG>;
    using SilentExport = Export<Silent, SILENT_CONFIG>;
    ASSERT_TRUE(SilentExport::ENTRY.init(nullptr));
    const auto* factory = static_cast<const abi::clap_plugin_factory*>(
        SilentExport::ENTRY.get_factory("clap.plugin-factory"));
    ASSERT_EQ(factory, &SilentExport::FACTORY);
    EXPECT_NE(factory, ProbeExport::ENTRY.get_factory("clap.plugin-factory"));
    EXPECT_STREQ(factory->get_plugin_descriptor(factory, 0)->id, "orba.test.silent");
    EXPECT_EQ(factory->get_plugin_descriptor(factory, 0)->features[0], nullptr);

    test::TestHost host;
    EXPECT_EQ(factory->create_plugin(factory, &host.host, "orba.test.probe"), nullptr);
    const abi::clap_plugin* plugin =
        factory->create_plugin(factory, &host.host, "orba.test.silent");
    ASSERT_NE(plugin, nullptr);
    ASSERT_TRUE(plugin->init(plugin));
    const auto* latency =
        static_cast<const abi::clap_plugin_latency*>(plugin->get_extension(plugin, "clap.latency"));
    const auto* tail =
        static_cast<const abi::clap_plugin_tail*>(plugin->get_extension(plugin, "clap.tail"));
    EXPECT_EQ(latency->get(plugin), 3u);
    EXPECT_EQ(tail->get(plugin), 5u);
    ASSERT_TRUE(plugin->activate(plugin, 48000.0, 1, 64));
    test::Block block(2, 2, 16);
    block.in[0].assign(16, 1.0f);
    ASSERT_EQ(plugin->process(plugin, &block.process), abi::CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(block.out[0], std::vector<float>(16, 0.0f));
    plugin->deactivate(plugin);
    plugin->destroy(plugin);
    SilentExport::ENTRY.deinit();
}

TEST(ClapWrapper, NoNonFiniteSampleReachesTheHostAndEveryFiniteOneIsUntouched) {
    const abi::clap_plugin* plugin =
        Wrapper::create(nullptr, nullptr, std::make_unique<Adapter<test::OverflowingSum>>());
    ASSERT_TRUE(plugin->init(plugin));
    ASSERT_TRUE(plugin->activate(plugin, 48000.0, 1, 500));
    test::Block block(2, 2, 500);
    block.in = test::huge_and_small(2, 500);
    block.in_ptrs = {block.in[0].data(), block.in[1].data()};
    block.in_buffer.data32 = block.in_ptrs.data();
    ASSERT_EQ(plugin->process(plugin, &block.process), abi::CLAP_PROCESS_CONTINUE);
    std::size_t overflows = 0;
    EXPECT_EQ(test::differs_from_graph(block.in, block.out, overflows), "");
    EXPECT_GT(overflows, 10u);
    plugin->deactivate(plugin);
    plugin->destroy(plugin);
}

}  // namespace
}  // namespace orba::clap
