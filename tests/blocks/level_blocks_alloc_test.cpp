#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "orba/blocks/block.h"
#include "orba/blocks/blocks/dynamics.h"
#include "orba/blocks/blocks/shaper.h"
#include "orba/blocks/blocks/stereo.h"
#include "orba/blocks/blocks/tremolo.h"
#include "orba/blocks/frame.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/block_harness.h"

namespace orba {
namespace {

const BlockInfo* const LEVEL_BLOCKS[] = {&blocks::shaper::INFO, &blocks::dynamics::INFO,
                                         &blocks::tremolo::INFO, &blocks::stereo::INFO};

TEST(LevelBlocksAlloc, TheCounterSeesAnAllocation) {
    test::AllocationScope scope;
    auto held = std::make_unique<std::vector<float>>(100);
    EXPECT_GT(scope.count(), 0u);
}

TEST(LevelBlocksAlloc, ControlProcessAndQueriesNeverAllocate) {
    for (const BlockInfo* info : LEVEL_BLOCKS) {
        std::vector<float> args;
        for (const auto& arg : info->args)
            args.push_back(arg.constant ? arg.max : arg.default_value);
        auto block = info->make();
        block->configure(args);
        block->prepare(2, 48000.0f);
        Frame frame;
        frame.resize(2);

        test::AllocationScope scope;
        for (std::size_t period = 0; period < 200; ++period) {
            test::walk_args(*info, period, args);
            block->control(args);
            for (std::size_t start = 0; start < SLICE; start += frame.frames) {
                frame.frames = start == 0 ? 10 : SLICE - 10;
                for (auto& channel : frame.data) {
                    for (std::size_t j = 0; j < SLICE; ++j) {
                        channel[j] = std::sin(0.1f * static_cast<float>(period * SLICE + j));
                    }
                }
                block->process(frame, start);
            }
            (void)block->meter(0);
            (void)block->latency();
            (void)block->tail(args, 48000.0f);
        }
        EXPECT_EQ(scope.count(), 0u) << info->name;
    }
}

}  // namespace
}  // namespace orba
