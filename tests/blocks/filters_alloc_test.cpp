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

namespace orba {
namespace {

const BlockInfo* const FILTER_BLOCKS[] = {&blocks::biquad::INFO, &blocks::onepole::INFO,
                                          &blocks::harmonic_eq::INFO};

// Argument values for one control period: every argument walks its range at
// its own pace, choices rounded as the runtime rounds them.
void walk(const BlockInfo& info, std::size_t period, std::vector<float>& args) {
    for (std::size_t a = 0; a < args.size(); ++a) {
        const ArgInfo& arg = info.args[a];
        const float t = static_cast<float>((period * 7 + a * 3) % 11) / 10.0f;
        args[a] = arg.min + t * (arg.max - arg.min);
        if (!arg.choices.empty()) args[a] = std::round(args[a]);
    }
}

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
        walk(*info, 0, args);
        block->configure(args);
        block->prepare(2, 48000.0f);
        Frame frame;
        frame.resize(2);

        test::AllocationScope scope;
        for (std::size_t period = 0; period < 300; ++period) {
            walk(*info, period, args);
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
        Frame one;
        Frame part;
        one.resize(2);
        part.resize(2);
        for (std::size_t period = 0; period < 300; ++period) {
            walk(*info, period, args);
            whole->control(args);
            split->control(args);

            fill(one, period, 0);
            one.frames = SLICE;
            whole->process(one, 0);

            fill(part, period, 0);
            part.frames = 10;
            split->process(part, 0);
            std::vector<float> first(part.data[0].begin(), part.data[0].begin() + 10);
            std::vector<float> first_right(part.data[1].begin(), part.data[1].begin() + 10);
            fill(part, period, 10);
            part.frames = SLICE - 10;
            split->process(part, 10);

            for (std::size_t j = 0; j < SLICE; ++j) {
                const float left = j < 10 ? first[j] : part.data[0][j - 10];
                const float right = j < 10 ? first_right[j] : part.data[1][j - 10];
                ASSERT_EQ(one.data[0][j], left) << info->name << " period " << period << " " << j;
                ASSERT_EQ(one.data[1][j], right) << info->name << " period " << period << " " << j;
            }
        }
    }
}

}  // namespace
}  // namespace orba
