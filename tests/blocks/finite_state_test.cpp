// An infinity or NaN that reaches a recursive block's memory must not stay
// there: the block recovers within a bound and then sounds exactly like one
// that never saw it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <vector>

#include "orba/blocks/blocks/biquad.h"
#include "orba/blocks/blocks/delay.h"
#include "orba/blocks/blocks/dynamics.h"
#include "orba/blocks/blocks/harmonic_eq.h"
#include "orba/blocks/blocks/onepole.h"
#include "tests/support/block_harness.h"

namespace orba::test {
namespace {

constexpr float RATE = 48000.0f;
constexpr float INF = std::numeric_limits<float>::infinity();
constexpr float NOT_A_NUMBER = std::numeric_limits<float>::quiet_NaN();

struct Rendered {
    std::vector<std::vector<float>> out;  // per channel
    std::size_t line_length = 0;          // a delay's, else 0
};

// Silence, then one slice whose sample 5 of channel 0 is `poison` (the rest
// silent), then `rest` silent samples, then a sine for `tail` samples; one
// control call per slice, as the runtime makes.
Rendered run(const BlockInfo& info, ArgOverrides overrides, std::size_t channels, float poison,
             std::size_t rest, std::size_t tail) {
    std::unique_ptr<Block> block = info.make();
    const std::vector<float> args = args_with(info, overrides);
    block->configure(args);
    block->prepare(channels, RATE);
    Rendered result;
    if (auto* delay = dynamic_cast<blocks::delay::Delay*>(block.get())) {
        result.line_length = delay->lines()[0].buffer.size();
    }
    const std::size_t before = 4 * SLICE;
    const std::size_t total = before + SLICE + rest + tail;
    result.out.assign(channels, std::vector<float>(total, 0.0f));
    Frame frame;
    frame.resize(channels);
    for (std::size_t start = 0; start < total; start += SLICE) {
        block->control(args);
        frame.frames = SLICE;
        for (std::size_t c = 0; c < channels; ++c) {
            for (std::size_t j = 0; j < SLICE; ++j) {
                const std::size_t n = start + j;
                float x = 0.0f;
                if (n >= total - tail) x = 0.7f * std::sin(0.05f * static_cast<float>(n + 9 * c));
                if (c == 0 && n == before + 5) x = poison;
                frame.data[c][j] = x;
            }
        }
        block->process(frame, 0);
        for (std::size_t c = 0; c < channels; ++c) {
            std::copy_n(frame.channel(c), SLICE, result.out[c].begin() + static_cast<long>(start));
        }
    }
    return result;
}

TEST(FiniteState, ABlockPoisonedByInfinityOrNaNRecoversAndThenMatchesAnUnpoisonedTwin) {
    using namespace blocks;
    const struct {
        const char* what;
        const BlockInfo& info;
        ArgOverrides args;
        std::size_t channels;
        float poison;
    } cases[] = {
        {"filter, NaN", biquad::INFO, {{"type", 0.0f}, {"freq", 800.0f}}, 2, NOT_A_NUMBER},
        {"filter at 48 dB per octave, inf", biquad::INFO, {{"slope", 3.0f}}, 1, INF},
        {"one-pole high-pass, -inf", onepole::INFO, {{"type", 1.0f}}, 2, -INF},
        {"one-pole low-pass, NaN", onepole::INFO, {}, 1, NOT_A_NUMBER},
        {"harmonic eq, inf", harmonic_eq::INFO, {{"gain_db", 6.0f}}, 2, INF},
        {"delay with feedback, inf",
         delay::INFO,
         {{"time_ms", 40.0f}, {"feedback", 0.9f}, {"max_ms", 50.0f}},
         2,
         INF},
        {"delay in ping-pong, NaN",
         delay::INFO,
         {{"time_ms", 30.0f}, {"feedback", 0.97f}, {"mode", 1.0f}, {"max_ms", 50.0f}},
         2,
         NOT_A_NUMBER},
        {"delay shorter than a slice, modulated, NaN",
         delay::INFO,
         {{"time_ms", 0.3f}, {"feedback", 0.8f}, {"mod_depth_ms", 0.2f}, {"max_ms", 10.0f}},
         1,
         NOT_A_NUMBER},
        {"rms dynamics with a detector filter, NaN",
         dynamics::INFO,
         {{"detector", 1.0f}, {"sidechain_hpf_hz", 100.0f}, {"link", 0.0f}},
         2,
         NOT_A_NUMBER},
        {"peak dynamics with a detector filter, NaN",
         dynamics::INFO,
         {{"sidechain_hpf_hz", 200.0f}, {"attack_ms", 1.0f}},
         1,
         NOT_A_NUMBER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // A delay may hold the poison for one line length and clears it at
        // the end of a slice; every other block at the end of the poisoned one.
        const std::size_t line_length = run(c.info, c.args, c.channels, 0.0f, 0, 0).line_length;
        const std::size_t bound = line_length + SLICE;
        const std::size_t rest = (bound + SLICE - 1) / SLICE * SLICE;
        const std::size_t tail = 8192;
        const Rendered poisoned = run(c.info, c.args, c.channels, c.poison, rest, tail);
        const Rendered twin = run(c.info, c.args, c.channels, 0.0f, rest, tail);
        const std::size_t poisoned_at = 4 * SLICE + 5;
        const std::size_t total = poisoned.out[0].size();
        std::size_t non_finite = 0, different = 0;
        for (std::size_t ch = 0; ch < c.channels; ++ch) {
            for (std::size_t n = poisoned_at + bound; n < total; ++n)
                non_finite += std::isfinite(poisoned.out[ch][n]) ? 0 : 1;
            for (std::size_t n = total - tail; n < total; ++n)
                different += poisoned.out[ch][n] == twin.out[ch][n] ? 0 : 1;
        }
        EXPECT_EQ(non_finite, 0u) << "samples not finite after the bound of " << bound;
        EXPECT_EQ(different, 0u) << "samples unlike the twin's";
        EXPECT_NE(twin.out[0][total - 1], 0.0f) << "the block passes the sine";
    }
}

}  // namespace
}  // namespace orba::test
