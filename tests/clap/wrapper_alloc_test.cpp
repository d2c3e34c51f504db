#include <gtest/gtest.h>

#include "orba/clap/export.h"
#include "tests/clap/host.h"
#include "tests/clap/probe_plugin.h"
#include "tests/support/alloc_counter.h"

namespace orba::test {
namespace {

using ProbeExport = clap::Export<Probe, PROBE_CONFIG>;

TEST(ClapWrapperAlloc, TheAudioThreadCallsNeverAllocate) {
    ASSERT_TRUE(ProbeExport::ENTRY.init(nullptr));
    TestHost host;
    const abi::clap_plugin_factory* factory = &ProbeExport::FACTORY;
    const abi::clap_plugin* plugin = factory->create_plugin(factory, &host.host, "orba.test.probe");
    ASSERT_NE(plugin, nullptr);
    ASSERT_TRUE(plugin->init(plugin));
    const auto* configurable = static_cast<const abi::clap_plugin_configurable_audio_ports*>(
        plugin->get_extension(plugin, "clap.configurable-audio-ports/1"));
    const auto* params =
        static_cast<const abi::clap_plugin_params*>(plugin->get_extension(plugin, "clap.params"));
    const abi::clap_audio_port_configuration_request request{false, 0, 64, nullptr, nullptr};
    ASSERT_TRUE(configurable->apply_configuration(plugin, &request, 1));
    ASSERT_TRUE(plugin->activate(plugin, 48000.0, 1, 1024));

    Block block(64, 64, 1024);
    Events events;
    events.param(Probe::GAIN * 128, -3.0);
    events.param(Probe::TRIM * 128 + 63, 0.5);
    events.param(Probe::LATENCY * 128, 10.0);
    abi::clap_event_transport transport{};
    transport.flags = abi::CLAP_TRANSPORT_HAS_TEMPO | abi::CLAP_TRANSPORT_IS_PLAYING;
    transport.tempo = 128.0;
    block.process.transport = &transport;
    block.process.in_events = events.list();

    AllocationScope scope;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(plugin->process(plugin, &block.process), abi::CLAP_PROCESS_CONTINUE);
    }
    params->flush(plugin, events.list(), nullptr);
    plugin->reset(plugin);
    EXPECT_EQ(scope.count(), 0u);

    plugin->deactivate(plugin);
    plugin->destroy(plugin);
    ProbeExport::ENTRY.deinit();
}

}  // namespace
}  // namespace orba::test
