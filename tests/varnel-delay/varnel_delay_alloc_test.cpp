#include <gtest/gtest.h>

#include <vector>

#include "tests/support/alloc_counter.h"
#include "varnel-delay/varnel_delay.h"

namespace orba {
namespace {

TEST(VarnelDelayRealTime, ProcessAndTailNeverAllocate) {
    VarnelDelay plugin;
    plugin.params()->set_channels(2);
    plugin.prepare(ProcessSetup{.max_frames = 512, .sample_rate = 44100.0f, .channels = 2});
    std::vector<float> left(512, 0.25f), right(512, -0.25f);
    std::span<float> spans[] = {left, right};
    ProcessContext context;
    context.tempo = 140.0;

    test::AllocationScope scope;
    for (int block = 0; block < 50; ++block) {
        plugin.params()->at(block % 7).set(static_cast<float>(block));  // automation
        plugin.process(spans, context);
        (void)plugin.tail_samples();
        (void)plugin.latency_samples();
    }
    EXPECT_EQ(scope.count(), 0u);
}

}  // namespace
}  // namespace orba
