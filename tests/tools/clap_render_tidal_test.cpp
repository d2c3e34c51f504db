// clap-render driven as a process through the built Tidal Tremolo library, as
// the authoring guide shows it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render_support.h"

namespace orba::test {
namespace {

std::vector<std::string> with_tidal(std::vector<std::string> args) {
    args.insert(args.begin(), {"--plugin", TIDAL_TREMOLO_CLAP, "--quiet"});
    return args;
}

TEST(ClapRenderTidal, TakesChoiceNamesThatLookLikeNumbersAndSeesASyncedTremoloFollowTheTempo) {
    TempDir dir;
    write_audio(dir / "in.wav", noise(4800, 2));
    const Outcome run =
        run_tool(dir, with_tidal({dir / "in.wav", "-o", dir / "out.wav", "--set", "Sync=On",
                                  "--set", "Note=1/8", "--set", "Depth=0.8", "--bpm", "96"}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    for (const auto& [sync, last] :
         {std::pair{"Sync=On", "Tidal Tremolo follows the tempo (--bpm).\n"},
          std::pair{"Sync=Off",
                    "Tidal Tremolo does not read the tempo, so --bpm changes nothing.\n"}}) {
        const Outcome list = run_tool(dir, with_tidal({"--set", sync, "--list"}));
        ASSERT_EQ(list.status, 0) << list.err;
        EXPECT_TRUE(list.out.ends_with(last)) << list.out;
    }
}

}  // namespace
}  // namespace orba::test
