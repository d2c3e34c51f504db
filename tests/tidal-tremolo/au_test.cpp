#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "tests/au/host.h"
#include "tests/support/plugin_render.h"

namespace orba::test {
namespace {

AudioComponentDescription codes() {
    return description(four_char(ORBA_PLUGIN_AU_TYPE), four_char(ORBA_PLUGIN_AU_SUBTYPE),
                       four_char(ORBA_PLUGIN_AU_MANUFACTURER));
}

TEST(AuTidalTremolo, TheComponentOpensUnderItsCodesAndServesTheTenParameters) {
    const Component component(ORBA_PLUGIN_AU, ORBA_PLUGIN_AU_FACTORY);
    ASSERT_NE(component.factory(), nullptr) << component.error();
    Unit unit(component.factory(), codes());
    ASSERT_TRUE(unit);
    std::vector<AudioUnitParameterID> ids;
    ASSERT_EQ(unit.get_array(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, ids),
              noErr);
    EXPECT_EQ(ids.size(), 10u);

    const std::optional<std::string> plist = bundle_info_plist(ORBA_PLUGIN_AU);
    ASSERT_TRUE(plist.has_value());
    for (const char* text :
         {"<string>Tidal Tremolo</string>", "<string>Tdtr</string>",
          "<string>Dravik Labs: Tidal Tremolo</string>", "<string>TidalTremoloFactory</string>"}) {
        EXPECT_NE(plist->find(text), std::string::npos) << text;
    }
}

// Both packages hold the same plug-in, made of its table and its graph file
// alone: the component renders noise exactly as the .clap does.
TEST(AuTidalTremolo, RendersTheSameBitsAsTheClapLibrary) {
    constexpr UInt32 BLOCK = 480, FRAMES = 9600;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    Audio noise(2, std::vector<float>(FRAMES));
    for (auto& channel : noise)
        for (float& x : channel)
            x = sample(random);
    const std::pair<const char*, float> settings[] = {
        {"depth", 0.9f}, {"spread", 90.0f}, {"tone", 3000.0f}};
    PluginRender clap;
    clap.block = BLOCK;
    for (const auto& [id, value] : settings)
        clap.set(id, value);
    const Audio want = clap.render(noise);

    const Component component(ORBA_PLUGIN_AU, ORBA_PLUGIN_AU_FACTORY);
    Unit unit(component.factory(), codes());
    ASSERT_TRUE(unit);
    Source source;
    source.signal = noise;
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Input, 2, 48000.0), noErr);
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Output, 2, 48000.0), noErr);
    ASSERT_EQ(unit.set_input(source), noErr);
    ASSERT_EQ(unit.initialize(), noErr);
    for (const auto& [id, value] : settings)
        ASSERT_EQ(unit.set_parameter(clap.param_id(id), value), noErr);
    for (UInt32 start = 0; start < FRAMES; start += BLOCK) {
        BufferList out(2, BLOCK);
        ASSERT_EQ(unit.render(BLOCK, out.list(), start), noErr);
        for (UInt32 c = 0; c < 2; ++c) {
            const std::span<const float> got = out.channel(c);
            ASSERT_TRUE(std::equal(got.begin(), got.end(), want[c].begin() + start))
                << "channel " << c << " from frame " << start;
        }
    }
}

}  // namespace
}  // namespace orba::test
