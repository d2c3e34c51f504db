#include <gtest/gtest.h>

#include <vector>

#include "orba/blocks/blocks/delay.h"
#include "orba/blocks/blocks/gain.h"
#include "tests/support/alloc_counter.h"

namespace orba::blocks {
namespace {

// Runs a prepared block through periods with the given argument sets, in
// slices of 10 and 22 frames, and counts what control and process allocate.
std::size_t allocations_while_running(const BlockInfo& info, std::size_t channels,
                                      const std::vector<std::vector<float>>& settings) {
    std::unique_ptr<Block> block = info.make();
    std::vector<float> defaults;
    for (const ArgInfo& arg : info.args)
        defaults.push_back(arg.default_value);
    block->configure(defaults);
    block->prepare(channels, 48000.0f);
    Frame frame;
    frame.resize(channels);
    for (std::size_t c = 0; c < channels; ++c)
        frame.channel(c)[0] = 1.0f;
    test::AllocationScope scope;
    for (int round = 0; round < 50; ++round) {
        for (const auto& args : settings) {
            block->control(args);
            frame.frames = 10;
            block->process(frame, 0);
            frame.frames = 22;
            block->process(frame, 10);
            (void)block->tail(args, 48000.0f);
            (void)block->latency();
            (void)block->meter(0);
        }
    }
    return scope.count();
}

TEST(RealTime, DelayNeitherControlNorProcessAllocates) {
    const std::vector<std::vector<float>> settings = {
        {250.0f, 0.35f, 8000.0f, 0.0f, 0.0f, 0.5f, 2000.0f},
        {120.0f, 0.9f, 300.0f, 1.0f, 0.0f, 0.5f, 2000.0f},
        {20.0f, 0.5f, 3000.0f, 1.0f, 12.0f, 4.0f, 2000.0f},
        {5.0f, 0.2f, 20000.0f, 0.0f, 20.0f, 20.0f, 2000.0f},
    };
    for (std::size_t channels : {1u, 2u, 3u}) {
        EXPECT_EQ(allocations_while_running(delay::INFO, channels, settings), 0u) << channels;
    }
}

TEST(RealTime, GainNeitherControlNorProcessAllocates) {
    const std::vector<std::vector<float>> settings = {
        {0.0f, 0.0f, 0.0f}, {-12.0f, 0.5f, 1.0f}, {6.0f, -1.0f, 0.0f}};
    for (std::size_t channels : {1u, 2u, 3u}) {
        EXPECT_EQ(allocations_while_running(gain::INFO, channels, settings), 0u) << channels;
    }
}

}  // namespace
}  // namespace orba::blocks
