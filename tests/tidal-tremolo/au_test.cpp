#include <gtest/gtest.h>

#include <vector>

#include "tests/au/host.h"

namespace orba::test {
namespace {

TEST(AuTidalTremolo, TheComponentOpensUnderItsCodesAndServesTheTenParameters) {
    const Component component(TIDAL_TREMOLO_AU, TIDAL_TREMOLO_AU_FACTORY);
    ASSERT_NE(component.factory(), nullptr) << component.error();
    Unit unit(component.factory(),
              description(four_char(TIDAL_TREMOLO_AU_TYPE), four_char(TIDAL_TREMOLO_AU_SUBTYPE),
                          four_char(TIDAL_TREMOLO_AU_MANUFACTURER)));
    ASSERT_TRUE(unit);
    std::vector<AudioUnitParameterID> ids;
    ASSERT_EQ(unit.get_array(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, ids),
              noErr);
    EXPECT_EQ(ids.size(), 10u);

    const std::optional<std::string> plist = bundle_info_plist(TIDAL_TREMOLO_AU);
    ASSERT_TRUE(plist.has_value());
    for (const char* text :
         {"<string>Tidal Tremolo</string>", "<string>Tdtr</string>",
          "<string>Dravik Labs: Tidal Tremolo</string>", "<string>TidalTremoloFactory</string>"}) {
        EXPECT_NE(plist->find(text), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace orba::test
