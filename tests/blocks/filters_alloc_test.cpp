#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "orba/blocks/block.h"
#include "orba/blocks/blocks/biquad.h"
#include "orba/blocks/blocks/harmonic_eq.h"
#include "orba/blocks/blocks/onepole.h"
#include "orba/blocks/frame.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/block_harness.h"

namespace orba {
namespace {

const BlockInfo* const FILTER_BLOCKS[] = {&blocks::biquad::INFO, &blocks::onepole::INFO,
                                          &blocks::harmonic_eq::INFO};

using test::walk_args;

void fill(Frame& frame, std::size_t period, std::size_t offset) {
    for (std::size_t c = 0; c < frame.channels; ++c) {
        for (std::size_t j = 0; j < SLICE; ++j) {
            const float n = static_cast<float>(period * SLICE + offset + j);
            frame.data[c][j] =
                0.5f * std::sin(0.07f * n * static_cast<float>(c + 1)) + 0.25f * std::sin(1.3f * n);
        }
    }
}

TEST(FilterBlocksAlloc, TheCounterSeesAnAllocation) {
    test::AllocationScope scope;
    auto held = std::make_unique<std::vector<float>>(100);
    EXPECT_GT(scope.count(), 0u);
}

TEST(FilterBlocksAlloc, ControlAndProcessNeverAllocate) {
    for (const BlockInfo* info : FILTER_BLOCKS) {
        std::vector<float> args(info->args.size());
        auto block = info->make();
        walk_args(*info, 0, args);
        block->configure(args);
        block->prepare(2, 48000.0f);
        Frame frame;
        frame.resize(2);

        test::AllocationScope scope;
        for (std::size_t period = 0; period < 300; ++period) {
            walk_args(*info, period, args);
            block->control(args);
            fill(frame, period, 0);
            frame.frames = 10;
            block->process(frame, 0);
            frame.frames = SLICE - 10;
            block->process(frame, 10);
        }
        EXPECT_EQ(scope.count(), 0u) << info->name;
    }
}

TEST(FilterBlocksAlloc, TenPlusTwentyTwoFramesSoundLikeOneSliceOfThirtyTwo) {
    for (const BlockInfo* info : FILTER_BLOCKS) {
        std::vector<float> args(info->args.size());
        auto whole = info->make();
        auto split = info->make();
        whole->prepare(2, 44100.0f);
        split->prepare(2, 44100.0f);
        Frame input;
        input.resize(2);
        for (std::size_t period = 0; period < 300; ++period) {
            walk_args(*info, period, args);
            whole->control(args);
            split->control(args);
            fill(input, period, 0);
            const auto one = test::run_period(*whole, input.data, SLICE);
            const auto part = test::run_period(*split, input.data, 10);
            for (std::size_t j = 0; j < SLICE; ++j) {
                ASSERT_EQ(one[0][j], part[0][j]) << info->name << " period " << period << " " << j;
                ASSERT_EQ(one[1][j], part[1][j]) << info->name << " period " << period << " " << j;
            }
        }
    }
}

}  // namespace
}  // namespace orba
