#include <gtest/gtest.h>

#include <vector>

#include "tests/support/plugin_render.h"

namespace orba::test {
namespace {

// One cycle per eighth note at 150 BPM is 5 Hz: a steady level dips to its
// lowest every 9600 frames.
TEST(TidalTremolo, SyncedToEighthsAt150BpmDipsEvery9600Frames) {
    PluginRender host;
    ASSERT_EQ(host.error(), "");
    host.tempo = 150.0;
    host.set("tempo_sync", 1.0);
    host.set("division", 1.0);  // 1/8
    host.set("depth", 1.0);
    host.set("tone", 20000.0);
    const Audio out = host.render(Audio(2, std::vector<float>(48000, 1.0f)));
    for (std::size_t n = 9600 + 2400; n < 48000; n += 9600)
        EXPECT_NEAR(out[0][n], out[0][n - 9600], 1e-3) << n;
}

}  // namespace
}  // namespace orba::test
