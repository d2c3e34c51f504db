#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/au/host.h"
#include "tests/clap/host.h"
#include "tests/clap/probe_plugin.h"

namespace orba::test {
namespace {

constexpr AudioUnitParameterID id_of(Probe::Index index, UInt32 channel = 0) {
    return static_cast<AudioUnitParameterID>(index * 128 + channel);
}

const Component& probe_component() {
    static const Component component(ORBA_PROBE_AU, "OrbaProbeFactory");
    return component;
}

const Component& delay_component() {
    static const Component component(ORBA_VARNEL_DELAY_AU, "VarnelDelayFactory");
    return component;
}

AudioComponentDescription delay_description() {
    return description(four_char(VARNEL_DELAY_AU_TYPE), four_char(VARNEL_DELAY_AU_SUBTYPE),
                       four_char(VARNEL_DELAY_AU_MANUFACTURER));
}

class AuProbe : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(probe_component().factory(), nullptr) << probe_component().error();
        unit = make();
        ASSERT_TRUE(*unit);
    }

    static std::unique_ptr<Unit> make() {
        return std::make_unique<Unit>(
            probe_component().factory(),
            description(four_char("aufx"), four_char("Prbe"), four_char("Orba")));
    }
    float prepares() { return unit->parameter(id_of(Probe::PREPARES)).value_or(-1.0f); }
    static OSStatus render_once(Unit& target) {
        Source source;
        BufferList buffers(2, 64);
        if (OSStatus status = target.set_input(source); status != noErr) return status;
        return target.render(64, buffers.list());
    }

    std::unique_ptr<Unit> unit;
};

// Next to an instance the host has changed, so nothing leaks between them.
TEST_F(AuProbe, AFreshInstanceIsUninitializedAtTheDefaultFormat) {
    ASSERT_EQ(unit->set_parameter(id_of(Probe::GAIN), -6.0f), noErr);
    ASSERT_EQ(unit->set_format(kAudioUnitScope_Output, 1, 96000.0), noErr);
    const std::unique_ptr<Unit> fresh = make();
    ASSERT_TRUE(*fresh);

    for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
        SCOPED_TRACE(scope);
        Float64 rate = 0.0;
        EXPECT_EQ(fresh->get(kAudioUnitProperty_SampleRate, scope, 0, rate), noErr);
        EXPECT_EQ(rate, 44100.0);
        AudioStreamBasicDescription format{};
        EXPECT_EQ(fresh->get(kAudioUnitProperty_StreamFormat, scope, 0, format), noErr);
        EXPECT_EQ(format.mChannelsPerFrame, 2u);
        EXPECT_EQ(format.mSampleRate, 44100.0);
    }
    UInt32 frames = 0;
    EXPECT_EQ(
        fresh->get(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, frames),
        noErr);
    EXPECT_EQ(frames, 1156u);
    AUPreset preset{.presetNumber = 0, .presetName = nullptr};
    EXPECT_EQ(fresh->get(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, preset),
              noErr);
    EXPECT_EQ(preset.presetNumber, -1);
    EXPECT_EQ(cf_text(preset.presetName), "Untitled");
    if (preset.presetName != nullptr) CFRelease(preset.presetName);
    EXPECT_EQ(fresh->parameter(id_of(Probe::GAIN)), 0.0f);
    EXPECT_EQ(fresh->parameter(id_of(Probe::PREPARES)), 0.0f);
    EXPECT_EQ(render_once(*fresh), kAudioUnitErr_Uninitialized);
}

TEST(AuComponent, TheFactoryGivesNothingForANullDescription) {
    for (const Component* component : {&probe_component(), &delay_component()}) {
        ASSERT_NE(component->factory(), nullptr) << component->error();
        EXPECT_EQ(component->factory()(nullptr), nullptr) << component->path();
    }
}

// Lookup takes no instance: what it serves is the same for every one.
TEST(AuComponent, LookupServesExactlyTheWrapperSelectors) {
    const struct {
        SInt16 selector;
        bool served;
    } cases[] = {
        {kAudioUnitRange, false},
        {kAudioUnitInitializeSelect, true},
        {kAudioUnitUninitializeSelect, true},
        {kAudioUnitGetPropertyInfoSelect, true},
        {kAudioUnitGetPropertySelect, true},
        {kAudioUnitSetPropertySelect, true},
        {kAudioUnitGetParameterSelect, true},
        {kAudioUnitSetParameterSelect, true},
        {8, false},
        {kAudioUnitResetSelect, true},
        {kAudioUnitAddPropertyListenerSelect, true},
        {kAudioUnitRemovePropertyListenerSelect, true},
        {12, false},
        {13, false},
        {kAudioUnitRenderSelect, true},
        {kAudioUnitAddRenderNotifySelect, true},
        {kAudioUnitRemoveRenderNotifySelect, true},
        {kAudioUnitScheduleParametersSelect, true},
        {kAudioUnitRemovePropertyListenerWithUserDataSelect, true},
        {kAudioUnitComplexRenderSelect, false},
        {kAudioUnitProcessSelect, false},
        {kAudioUnitProcessMultipleSelect, false},
        {kMusicDeviceRange, false},
        {kMusicDeviceMIDIEventSelect, true},
        {kMusicDeviceSysExSelect, true},
        {kMusicDevicePrepareInstrumentSelect, false},
        {kMusicDeviceStartNoteSelect, false},
        {kMusicDeviceStopNoteSelect, false},
        {0x107, false},
        {kAudioOutputUnitStartSelect, false},
        {kAudioOutputUnitStopSelect, false},
        {-1, false},
        {0x7FFF, false},
    };
    Unit unit(delay_component().factory(), delay_description());
    ASSERT_TRUE(unit);
    for (const auto& c : cases) {
        EXPECT_EQ(unit.interface()->Lookup(c.selector) != nullptr, c.served) << c.selector;
    }
}

TEST_F(AuProbe, InitializePreparesOnceAndResetPreparesOnlyWhileInitialized) {
    enum Call { INITIALIZE, UNINITIALIZE, RESET };
    const struct {
        Call call;
        float prepares;
    } steps[] = {
        {RESET, 0}, {INITIALIZE, 1},   {INITIALIZE, 1}, {RESET, 2},
        {RESET, 3}, {UNINITIALIZE, 3}, {RESET, 3},      {INITIALIZE, 4},
    };
    int step = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(step++);
        const OSStatus status = s.call == INITIALIZE     ? unit->initialize()
                                : s.call == UNINITIALIZE ? unit->uninitialize()
                                                         : unit->reset();
        EXPECT_EQ(status, noErr);
        EXPECT_EQ(prepares(), s.prepares);
    }
}

TEST_F(AuProbe, InitializeRefusesDifferingOrUnsupportedChannelCounts) {
    const struct {
        UInt32 inputs, outputs;
        OSStatus status;
    } cases[] = {
        {1, 2, kAudioUnitErr_FormatNotSupported},
        {2, 1, kAudioUnitErr_FormatNotSupported},
        {2, 6, kAudioUnitErr_FormatNotSupported},
        {1, 1, noErr},
        {6, 6, noErr},
        {64, 64, noErr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.inputs << " in, " << c.outputs << " out");
        unit = make();
        ASSERT_EQ(unit->set_format(kAudioUnitScope_Input, c.inputs), noErr);
        ASSERT_EQ(unit->set_format(kAudioUnitScope_Output, c.outputs), noErr);
        EXPECT_EQ(unit->initialize(), c.status);
        EXPECT_EQ(prepares(), c.status == noErr ? 1.0f : 0.0f);
        if (c.status != noErr) {
            EXPECT_EQ(unit->reset(), noErr);
            EXPECT_EQ(prepares(), 0.0f) << "a refused unit stays uninitialized";
        }
    }
}

TEST(AuVarnelDelay, OpensAndInitializesAt48000) {
    const Component& component = delay_component();
    ASSERT_NE(component.factory(), nullptr) << component.error();
    EXPECT_TRUE(component.path().ends_with("Varnel Delay.component/Contents/MacOS/Varnel Delay"));
    Unit unit(component.factory(), delay_description());
    ASSERT_TRUE(unit);
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Input, 2, 48000.0), noErr);
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Output, 2, 48000.0), noErr);
    EXPECT_EQ(unit.initialize(), noErr);
    Float64 rate = 0.0;
    EXPECT_EQ(unit.get(kAudioUnitProperty_SampleRate, kAudioUnitScope_Output, 0, rate), noErr);
    EXPECT_EQ(rate, 48000.0);
}

// The element after `<key>name</key>`, searched from `from` on, as
// "element:text".
std::optional<std::string> plist_value(const std::string& plist, std::string_view key,
                                       std::size_t from) {
    const std::string tag = "<key>" + std::string(key) + "</key>";
    const std::size_t at = plist.find(tag, from);
    if (at == std::string::npos) return std::nullopt;
    const std::size_t open = plist.find('<', at + tag.size());
    const std::size_t text = plist.find('>', open) + 1;
    const std::size_t close = plist.find("</", text);
    if (open == std::string::npos || close == std::string::npos) return std::nullopt;
    return plist.substr(open + 1, text - open - 2) + ":" + plist.substr(text, close - text);
}

TEST(AuVarnelDelay, TheBundleRegistersTheComponentUnderItsFactory) {
    const std::optional<std::string> plist = bundle_info_plist(ORBA_VARNEL_DELAY_AU);
    ASSERT_TRUE(plist.has_value());
    const std::size_t entry = plist->find("<key>AudioComponents</key>");
    ASSERT_NE(entry, std::string::npos);
    const struct {
        std::string_view key;
        std::string value;
        std::size_t from;
    } cases[] = {
        {"CFBundleExecutable", "string:Varnel Delay", 0},
        {"CFBundlePackageType", "string:BNDL", 0},
        {"type", std::string("string:") + VARNEL_DELAY_AU_TYPE, entry},
        {"subtype", std::string("string:") + VARNEL_DELAY_AU_SUBTYPE, entry},
        {"manufacturer", std::string("string:") + VARNEL_DELAY_AU_MANUFACTURER, entry},
        {"name", "string:Dravik Labs: Varnel Delay", entry},
        {"version", "integer:256", entry},
        {"factoryFunction", "string:VarnelDelayFactory", entry},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plist_value(*plist, c.key, c.from), c.value) << c.key;
    }
    EXPECT_EQ(std::string(VARNEL_DELAY_AU_TYPE), "aufx") << "an effect";
}

TEST(AuComponent, ExportsOnlyItsFactory) {
    const struct {
        const char* path;
        const char* factory;
    } cases[] = {
        {ORBA_VARNEL_DELAY_AU, "VarnelDelayFactory"},
        {ORBA_PROBE_AU, "OrbaProbeFactory"},
        {ORBA_PROBE_INSTRUMENT_AU, "OrbaProbeInstrumentFactory"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(exported_symbols(c.path), std::vector<std::string>{c.factory}) << c.path;
    }
}

// Off macOS the platform library stands in for AudioToolbox and
// CoreFoundation; besides it a component may need only the C runtime.
TEST(AuVarnelDelay, NeedsThePlatformLibrary) {
    const std::string platform = std::filesystem::path(ORBA_AU_PLATFORM_LIBRARY).filename();
    const std::vector<std::string> needed = needed_libraries(ORBA_VARNEL_DELAY_AU);
    EXPECT_NE(std::find(needed.begin(), needed.end(), platform), needed.end()) << platform;
#if !defined(ORBA_SANITIZE)
    for (const std::string& library : needed) {
        EXPECT_TRUE(library == platform || library.starts_with("libc.so") ||
                    library.starts_with("libm.so") || library.starts_with("ld-linux"))
            << library;
    }
#endif
}

}  // namespace
}  // namespace orba::test
