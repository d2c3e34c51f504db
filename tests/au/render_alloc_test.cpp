#include <gtest/gtest.h>

#include <array>

#include "tests/au/probe_instrument.h"
#include "tests/au/render_support.h"
#include "tests/clap/probe_plugin.h"
#include "tests/support/alloc_counter.h"

namespace orba::test {
namespace {

// Everything a render can touch is in use: a connected unit with its own
// render callback, the host's transport, notifies, scheduled changes, lent
// buffers and bypass. Scheduling may allocate, so it comes first.
TEST(AuRenderAlloc, AnEffectRendersWithEverythingInUseWithoutAllocating) {
    Loaded upstream(PROBE);
    Loaded probe(PROBE);
    ASSERT_TRUE(upstream) << upstream.error();
    ASSERT_TRUE(probe);
    Source input;
    input.signal.assign(2, std::vector<float>(1 << 14, 0.25f));
    ASSERT_EQ(upstream->set_input(input), noErr);
    ASSERT_EQ(upstream->initialize(), noErr);
    const AudioUnitConnection connection{upstream->handle(), 0, 0};
    ASSERT_EQ(probe->set(kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0, connection),
              noErr);
    Transport transport{.tempo = 140.0, .playing = true, .sample = 256.0};
    ASSERT_EQ(probe->set(kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                         transport.callbacks()),
              noErr);
    NotifyLog notifies;
    ASSERT_EQ(probe->add_render_notify(NotifyLog::proc, &notifies), noErr);
    ASSERT_EQ(probe->initialize(), noErr);

    BufferList owned(2, 1156);
    BufferList lent(2, 1156, true);
    ASSERT_EQ(probe->render(1156, owned.list()), noErr);
    const std::array events{immediate_event(param_id(Probe::GAIN), -3.0f),
                            immediate_event(param_id(Probe::TRIM, 1), 0.5f),
                            ramp_event(param_id(Probe::LATENCY), 0.0f, 64.0f, 128)};
    ASSERT_EQ(probe->schedule(events), noErr);

    std::array<OSStatus, 3> statuses{};
    AllocationScope processing;
    statuses[0] = probe->render(1156, owned.list(), 1156.0);
    statuses[1] = probe->render(1156, lent.list(), 2312.0);
    const std::size_t processed = processing.count();
    ASSERT_EQ(probe->set(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, UInt32{1}),
              noErr);
    AllocationScope bypassed;
    statuses[2] = probe->render(512, owned.list(), 3468.0);
    EXPECT_EQ(processed + bypassed.count(), 0u);

    EXPECT_EQ(statuses, (std::array<OSStatus, 3>{}));
    EXPECT_EQ(probe->parameter(param_id(Probe::GAIN)), -3.0f);
    EXPECT_EQ(probe->parameter(param_id(Probe::TEMPO)), 140.0f);
    EXPECT_EQ(notifies.calls, 8u);
    EXPECT_EQ(input.calls, 4);
}

TEST(AuRenderAlloc, AnInstrumentQueuesAndPlaysMidiWithoutAllocating) {
    Loaded instrument(INSTRUMENT);
    ASSERT_TRUE(instrument) << instrument.error();
    ASSERT_EQ(instrument->initialize(), noErr);
    BufferList list(2, 1024);
    ASSERT_EQ(instrument->render(1024, list.list()), noErr);

    OSStatus status = noErr;
    AllocationScope scope;
    for (UInt32 i = 0; i < 1100 && status == noErr; ++i)
        status = instrument->midi(0x90, i & 0x7F, 100, i);
    if (status == noErr) status = instrument->render(1024, list.list());
    EXPECT_EQ(scope.count(), 0u);

    EXPECT_EQ(status, noErr);
    EXPECT_EQ(instrument->parameter(param_id(ProbeInstrument::MESSAGES)), 1024.0f);
}

}  // namespace
}  // namespace orba::test
