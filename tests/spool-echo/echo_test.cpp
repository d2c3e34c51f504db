#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "tests/support/plugin_render.h"

namespace orba::test {
namespace {

// The first frame of `channel` from `from` on that is not silent.
std::size_t onset(const std::vector<float>& channel, std::size_t from) {
    const auto it = std::find_if(channel.begin() + static_cast<long>(from), channel.end(),
                                 [](float y) { return y != 0.0f; });
    return static_cast<std::size_t>(it - channel.begin());
}

// Free at 250 ms the repeats land every 12000 frames; on quarters at 150 BPM
// every 19200, and ping-pong starts on the left and crosses at every repeat.
TEST(SpoolEcho, RepeatsLandOnTheFrameFreeSyncedAndPingPong) {
    PluginRender host;
    host.set("mix", 1.0);
    host.set("time", 250.0);
    Audio out = host.impulse(40000);
    EXPECT_EQ(onset(out[0], 0), 12000u);
    EXPECT_EQ(onset(out[1], 0), 12000u);
    EXPECT_EQ(onset(out[0], 20000), 24000u);

    host.tempo = 150.0;
    host.set("tempo_sync", 1.0);
    host.set("division", 2.0);  // 1/4
    host.set("ping_pong", 1.0);
    out = host.impulse(60000);
    EXPECT_EQ(onset(out[0], 0), 19200u);
    EXPECT_EQ(onset(out[1], 0), 38400u);
    EXPECT_EQ(onset(out[0], 30000), 57600u);
}

// Each trip through the loop's low-pass and high-pass leaves a repeat with
// less energy in its changes from frame to frame (darker) and less level.
TEST(SpoolEcho, EveryRepeatIsDarkerAndQuieterThanTheOneBefore) {
    PluginRender host;
    host.set("mix", 1.0);
    host.set("time", 100.0);
    host.set("feedback", 0.9);
    host.set("tone", 2000.0);
    host.set("drive", 0.0);
    const Audio out = host.impulse(6 * 4800);
    double last_level = 1e9, last_brightness = 1e9;
    for (std::size_t k = 1; k < 6; ++k) {
        double level = 0.0, change = 0.0;
        for (std::size_t n = k * 4800; n < (k + 1) * 4800; ++n) {
            level += out[0][n] * out[0][n];
            change += (out[0][n] - out[0][n - 1]) * (out[0][n] - out[0][n - 1]);
        }
        EXPECT_LT(level, std::exchange(last_level, level)) << "repeat " << k;
        EXPECT_LT(change / level, std::exchange(last_brightness, change / level)) << k;
    }
}

// At the highest feedback a loud input keeps coming round, but the saturator
// holds every repeat below full scale less the drive.
TEST(SpoolEcho, SaturationBoundsTheLoopAtHighFeedback) {
    for (const double drive : {0.0, 6.0, 12.0}) {
        PluginRender host;
        host.set("mix", 1.0);
        host.set("feedback", 0.97);
        host.set("tone", 16000.0);
        host.set("low_cut", 20.0);
        host.set("drive", drive);
        Audio in(2, std::vector<float>(96000, 0.0f));
        for (std::size_t n = 0; n < 24000; ++n)
            in[0][n] = in[1][n] = 2.0f * std::sin(0.05f * static_cast<float>(n));
        const Audio out = host.render(in);
        auto peak = [&](std::size_t from) {
            return std::fabs(
                *std::max_element(out[0].begin() + static_cast<long>(from), out[0].end(),
                                  [](float a, float b) { return std::fabs(a) < std::fabs(b); }));
        };
        const auto bound = static_cast<float>(std::pow(10.0, -drive / 20.0));
        EXPECT_LE(peak(0), bound * 1.0001f) << drive;
        EXPECT_GT(peak(72000), 0.5f * bound) << drive;
    }
}

}  // namespace
}  // namespace orba::test
