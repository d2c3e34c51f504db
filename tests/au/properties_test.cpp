#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "orba/core/param_text.h"
#include "tests/au/render_support.h"
#include "tests/clap/probe_plugin.h"
#include "varnel-delay/varnel_delay.h"

namespace orba::test {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr float NaN_F = std::numeric_limits<float>::quiet_NaN();

class AuProperties : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(probe) << probe.error(); }

    Loaded probe{PROBE};
};

std::optional<std::string> preset_name(Unit& unit) {
    AUPreset preset{};
    if (unit.get(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, preset) != noErr) {
        return std::nullopt;
    }
    const Cf name(preset.presetName);
    return cf_text(name.as<CFStringRef>());
}

OSStatus rename(Unit& unit, std::string_view name) {
    const Cf text(cf_string(name));
    const AUPreset preset{.presetNumber = -1, .presetName = text.as<CFStringRef>()};
    return unit.set(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, preset);
}

TEST_F(AuProperties, StreamFormatAnswersOnlyElementZeroOfInputAndOutputIntoRoomEnough) {
    const struct {
        AudioUnitScope scope;
        AudioUnitElement element;
        bool with_data;
        UInt32 room;
        OSStatus status;
    } cases[] = {
        {kAudioUnitScope_Global, 0, true, 40, kAudioUnitErr_InvalidScope},
        {kAudioUnitScope_Output, 1, true, 40, kAudioUnitErr_InvalidElement},
        {kAudioUnitScope_Output, 0, false, 0, noErr},
        {kAudioUnitScope_Output, 0, true, 39, kAudioUnitErr_InvalidPropertyValue},
        {kAudioUnitScope_Input, 0, true, 40, noErr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "scope " << c.scope << ", element " << c.element << ", room " << c.room);
        unsigned char bytes[48];
        std::memset(bytes, 0xAB, sizeof bytes);
        UInt32 size = c.room;
        EXPECT_EQ(get_raw(*probe, kAudioUnitProperty_StreamFormat, c.scope, c.element,
                          c.with_data ? bytes : nullptr, &size),
                  c.status);
        if (c.status == noErr) {
            EXPECT_EQ(size, 40u);
        }
        const AudioStreamBasicDescription expected = float_format(2, 44100.0);
        if (c.status == noErr && c.with_data) {
            EXPECT_EQ(std::memcmp(bytes, &expected, sizeof expected), 0);
        } else {
            EXPECT_EQ(bytes[0], 0xAB) << "a refused call wrote data";
        }
    }
}

// The format rules in full are the wrapper's own test; here, that the
// property applies them, refuses while initialized and keeps what it took.
TEST_F(AuProperties, OnlyUninitializedNonInterleavedFloatFormatsAtSaneRatesAreTaken) {
    AudioStreamBasicDescription integers = float_format(2);
    integers.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked |
                            kAudioFormatFlagIsNonInterleaved;
    integers.mBitsPerChannel = 16;
    integers.mBytesPerFrame = integers.mBytesPerPacket = 2;
    const struct {
        const char* what;
        AudioUnitScope scope;
        AudioStreamBasicDescription format;
        bool initialized;
        OSStatus status;
    } cases[] = {
        {"16-bit integers", kAudioUnitScope_Input, integers, false,
         kAudioUnitErr_FormatNotSupported},
        {"65 channels", kAudioUnitScope_Output, float_format(65), false,
         kAudioUnitErr_FormatNotSupported},
        {"a rate above 768 kHz", kAudioUnitScope_Output, float_format(2, 768000.5), false,
         kAudioUnitErr_FormatNotSupported},
        {"a change while initialized", kAudioUnitScope_Output, float_format(2, 48000.0), true,
         kAudioUnitErr_Initialized},
        {"768 kHz", kAudioUnitScope_Output, float_format(2, 768000.0), false, noErr},
        {"64 channels", kAudioUnitScope_Input, float_format(64, 48000.0), false, noErr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded unit(PROBE);
        ASSERT_TRUE(unit);
        if (c.initialized) {
            ASSERT_EQ(unit->initialize(), noErr);
        }
        EXPECT_EQ(unit->set(kAudioUnitProperty_StreamFormat, c.scope, 0, c.format), c.status);
        const AudioStreamBasicDescription kept = c.status == noErr ? c.format : float_format(2);
        AudioStreamBasicDescription now{};
        ASSERT_EQ(unit->get(kAudioUnitProperty_StreamFormat, c.scope, 0, now), noErr);
        EXPECT_EQ(now.mChannelsPerFrame, kept.mChannelsPerFrame);
        EXPECT_EQ(now.mSampleRate, kept.mSampleRate);
        EXPECT_EQ(now.mFormatFlags, 41u);
    }
}

// Scopes: 0 Global, 1 Input, 2 Output. Ids: 2 SampleRate, 3 ParameterList,
// 8 StreamFormat, 14 MaximumFramesPerSlice, 21 BypassEffect, 36 PresentPreset.
TEST_F(AuProperties, SettingAPropertyNotifiesExactlyItsListeners) {
    using Entry = Notifications::Entry;
    const struct {
        const char* what;
        std::function<OSStatus(Unit&)> set;
        OSStatus status;
        std::vector<Entry> expected;
    } cases[] = {
        {"one output channel, which drops a trim",
         [](Unit& u) { return u.set_format(kAudioUnitScope_Output, 1); },
         noErr,
         {{8, 1, 0}, {8, 2, 0}, {3, 0, 0}}},
        {"one input channel",
         [](Unit& u) { return u.set_format(kAudioUnitScope_Input, 1); },
         noErr,
         {{8, 1, 0}, {8, 2, 0}}},
        {"the same two output channels",
         [](Unit& u) { return u.set_format(kAudioUnitScope_Output, 2, 48000.0); },
         noErr,
         {{8, 1, 0}, {8, 2, 0}}},
        {"a sample rate",
         [](Unit& u) {
             return u.set(kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 0, 48000.0);
         },
         noErr,
         {{2, 1, 0}, {2, 2, 0}, {8, 1, 0}, {8, 2, 0}}},
        {"a refused sample rate",
         [](Unit& u) {
             return u.set(kAudioUnitProperty_SampleRate, kAudioUnitScope_Output, 0, 0.0);
         },
         kAudioUnitErr_InvalidPropertyValue,
         {}},
        {"frames per slice",
         [](Unit& u) {
             return u.set(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0,
                          UInt32{512});
         },
         noErr,
         {{14, 0, 0}}},
        {"bypass",
         [](Unit& u) {
             return u.set(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, UInt32{1});
         },
         noErr,
         {{21, 0, 0}}},
        {"a preset name", [](Unit& u) { return rename(u, "Bright"); }, noErr, {{36, 0, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded unit(PROBE);
        ASSERT_TRUE(unit);
        Notifications log;
        log.listen(*unit, {2, 3, 8, 14, 21, 36});
        EXPECT_EQ(c.set(*unit), c.status);
        EXPECT_EQ(log.entries, c.expected);
        EXPECT_TRUE(log.units_ok) << "a listener was told of another unit";
    }
}

TEST_F(AuProperties, SampleRateAndFramesPerSliceTakeOnlyValuesTheUnitCanRun) {
    constexpr auto RATE = kAudioUnitProperty_SampleRate;
    constexpr auto FRAMES = kAudioUnitProperty_MaximumFramesPerSlice;
    const struct {
        AudioUnitPropertyID id;
        double value;
        bool initialized;
        OSStatus status;
    } cases[] = {
        {RATE, 0.0, false, kAudioUnitErr_InvalidPropertyValue},
        {RATE, -48000.0, false, kAudioUnitErr_InvalidPropertyValue},
        {RATE, NaN, false, kAudioUnitErr_InvalidPropertyValue},
        {RATE, std::numeric_limits<double>::infinity(), false, kAudioUnitErr_InvalidPropertyValue},
        {RATE, 768000.5, false, kAudioUnitErr_InvalidPropertyValue},
        {RATE, 48000.0, true, kAudioUnitErr_Initialized},
        {RATE, 768000.0, false, noErr},
        {RATE, 0.5, false, noErr},
        {FRAMES, 0, false, kAudioUnitErr_InvalidPropertyValue},
        {FRAMES, 1048577, false, kAudioUnitErr_InvalidPropertyValue},
        {FRAMES, 4096, true, kAudioUnitErr_Initialized},
        {FRAMES, 4096, false, noErr},
        {FRAMES, 1048576, false, noErr},
        {FRAMES, 1, false, noErr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "property " << c.id << ", value " << c.value
                                        << (c.initialized ? ", initialized" : ""));
        Loaded unit(PROBE);
        ASSERT_TRUE(unit);
        if (c.initialized) {
            ASSERT_EQ(unit->initialize(), noErr);
        }
        if (c.id == RATE) {
            // One rate for both scopes: set on one, read on the other.
            EXPECT_EQ(unit->set(RATE, kAudioUnitScope_Input, 0, c.value), c.status);
            Float64 rate = 0.0;
            ASSERT_EQ(unit->get(RATE, kAudioUnitScope_Output, 0, rate), noErr);
            EXPECT_EQ(rate, c.status == noErr ? c.value : 44100.0);
        } else {
            const auto frames = static_cast<UInt32>(c.value);
            EXPECT_EQ(unit->set(FRAMES, kAudioUnitScope_Global, 0, frames), c.status);
            UInt32 now = 0;
            ASSERT_EQ(unit->get(FRAMES, kAudioUnitScope_Global, 0, now), noErr);
            EXPECT_EQ(now, c.status == noErr ? frames : 1156u);
        }
    }
}

// Writable parameters get random values in their range; ClassInfo taken then
// must bring exactly those back over another random set.
TEST_F(AuProperties, ClassInfoBringsBackEveryParameterValueAndTheName) {
    ASSERT_EQ(probe->set_format(kAudioUnitScope_Input, 3), noErr);
    ASSERT_EQ(probe->set_format(kAudioUnitScope_Output, 3), noErr);
    std::vector<AudioUnitParameterID> ids;
    ASSERT_EQ(probe->get_array(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, ids),
              noErr);
    std::erase_if(ids, [](AudioUnitParameterID id) {
        return PROBE_TABLE[id / 128].kind == ParamKind::Meter;
    });
    ASSERT_EQ(ids.size(), 7u) << "gain, mode, bypass, latency and three trims";

    std::mt19937 random(20261208);
    const auto randomise = [&] {
        for (AudioUnitParameterID id : ids) {
            const ParamInfo& info = PROBE_TABLE[id / 128];
            std::uniform_real_distribution<float> value(info.min, info.max);
            ASSERT_EQ(probe->set_parameter(id, value(random)), noErr);
        }
    };
    const auto values = [&] {
        std::vector<float> now;
        for (AudioUnitParameterID id : ids)
            now.push_back(probe->parameter(id).value_or(NaN_F));
        return now;
    };

    randomise();
    ASSERT_EQ(rename(*probe, "Saved"), noErr);
    const std::vector<float> saved = values();
    CFPropertyListRef info = nullptr;
    ASSERT_EQ(probe->get(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, info), noErr);
    const Cf owned(info);
    randomise();
    ASSERT_EQ(rename(*probe, "Changed"), noErr);
    ASSERT_NE(values(), saved);

    EXPECT_EQ(probe->set(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, info), noErr);
    EXPECT_EQ(values(), saved);
    EXPECT_EQ(preset_name(*probe), "Saved");
}

TEST_F(AuProperties, AClassInfoDictionaryIsCheckedBeforeItsStateIsApplied) {
    constexpr auto GAIN = param_id(Probe::GAIN);
    ASSERT_EQ(probe->set_parameter(GAIN, -12.0f), noErr);
    ASSERT_EQ(rename(*probe, "Saved"), noErr);
    CFPropertyListRef info = nullptr;
    ASSERT_EQ(probe->get(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, info), noErr);
    const Cf saved(info);
    const auto saved_value = [&](const char* key) {
        const Cf name(cf_string(key));
        return CFDictionaryGetValue(saved.as<CFDictionaryRef>(), name.get());
    };
    const auto data = static_cast<CFDataRef>(saved_value("data"));
    const Cf truncated(
        CFDataCreate(kCFAllocatorDefault, CFDataGetBytePtr(data), CFDataGetLength(data) - 1));
    const Cf text(cf_string("aufx"));
    const SInt32 other = static_cast<SInt32>(four_char("Othr"));
    const Cf other_subtype(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &other));
    const SInt64 wide = (SInt64{1} << 32) + four_char("Prbe");
    const Cf wide_subtype(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &wide));

    const struct {
        const char* what;
        const char* key;  // replaced, or left out when `value` is null
        CFTypeRef value;
        OSStatus status;
        std::optional<const char*> name;  // unchecked when the state is refused late
        bool applied;
    } cases[] = {
        {"the saved dictionary", nullptr, nullptr, noErr, "Saved", true},
        {"another subtype", "subtype", other_subtype.get(), kAudioUnitErr_InvalidPropertyValue,
         "Current", false},
        {"a subtype beyond 32 bits", "subtype", wide_subtype.get(),
         kAudioUnitErr_InvalidPropertyValue, "Current", false},
        {"a type as text", "type", text.get(), kAudioUnitErr_InvalidPropertyValue, "Current",
         false},
        {"no manufacturer", "manufacturer", nullptr, kAudioUnitErr_InvalidPropertyValue, "Current",
         false},
        {"no data", "data", nullptr, noErr, "Saved", false},
        {"no name", "name", nullptr, noErr, "Current", true},
        {"data as text", "data", text.get(), kAudioUnitErr_InvalidPropertyValue, std::nullopt,
         false},
        {"truncated data", "data", truncated.get(), kAudioUnitErr_InvalidPropertyValue,
         std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(probe->set_parameter(GAIN, -6.0f), noErr);
        ASSERT_EQ(rename(*probe, "Current"), noErr);
        CFMutableDictionaryRef dictionary =
            CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                      &kCFTypeDictionaryValueCallBacks);
        const Cf edited(dictionary);
        for (const char* key : {"version", "type", "subtype", "manufacturer", "name", "data"}) {
            const bool replaced = c.key != nullptr && std::strcmp(key, c.key) == 0;
            const CFTypeRef value = replaced ? c.value : saved_value(key);
            const Cf name(cf_string(key));
            if (value != nullptr) CFDictionarySetValue(dictionary, name.get(), value);
        }
        const CFPropertyListRef sent = edited.get();
        EXPECT_EQ(probe->set(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, sent),
                  c.status);
        if (c.name) {
            EXPECT_EQ(preset_name(*probe), *c.name);
        }
        EXPECT_EQ(probe->parameter(GAIN), c.applied ? -12.0f : -6.0f);
    }

    const CFPropertyListRef not_a_dictionary[] = {nullptr, text.get()};
    for (CFPropertyListRef sent : not_a_dictionary) {
        EXPECT_EQ(probe->set(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, sent),
                  kAudioUnitErr_InvalidPropertyValue);
    }
}

TEST_F(AuProperties, ParameterIdNamesAreCutToWholeCharactersOnlyWhenAskedTo) {
    Loaded varnel(VARNEL);
    ASSERT_TRUE(varnel) << varnel.error();
    const struct {
        Unit* unit;
        AudioUnitParameterID id;
        SInt32 length;
        OSStatus status;
        const char* name;
    } cases[] = {
        {&*varnel, 0, 3, noErr, "Tim"},
        {&*varnel, 0, 0, noErr, "Time"},
        {&*varnel, 0, 4, noErr, "Time"},
        {&*varnel, 0, kAudioUnitParameterName_Full, noErr, "Time"},
        {&*probe, param_id(Probe::TRIM, 1), 0, noErr, "Trim 2"},
        {&*probe, param_id(Probe::TRIM, 1), 5, noErr, "Trim "},
        {&*probe, param_id(Probe::TRIM, 2), 0, kAudioUnitErr_InvalidParameter, nullptr},
        {&*probe, param_id(Probe::COUNT), 0, kAudioUnitErr_InvalidParameter, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << c.id << ", length " << c.length);
        AudioUnitParameterIDName request{
            .inID = c.id, .inDesiredLength = c.length, .outName = nullptr};
        EXPECT_EQ(
            c.unit->get(kAudioUnitProperty_ParameterIDName, kAudioUnitScope_Global, 0, request),
            c.status);
        const Cf name(request.outName);
        if (c.name != nullptr) {
            EXPECT_EQ(cf_text(request.outName), c.name);
        }
    }
}

TEST_F(AuProperties, OnlyChoiceParametersHaveValueStrings) {
    const struct {
        AudioUnitParameterID id;
        AudioUnitScope scope;
        OSStatus status;
        std::vector<std::string> names;
    } cases[] = {
        {param_id(Probe::MODE), kAudioUnitScope_Global, noErr, {"Normal", "PingPong"}},
        {param_id(Probe::GAIN), kAudioUnitScope_Global, kAudioUnitErr_InvalidProperty, {}},
        {param_id(Probe::BYPASS), kAudioUnitScope_Global, kAudioUnitErr_InvalidProperty, {}},
        {param_id(Probe::MODE, 1), kAudioUnitScope_Global, kAudioUnitErr_InvalidParameter, {}},
        {param_id(Probe::MODE), kAudioUnitScope_Output, kAudioUnitErr_InvalidScope, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << c.id << ", scope " << c.scope);
        UInt32 size = 0;
        EXPECT_EQ(probe->property_info(kAudioUnitProperty_ParameterValueStrings, c.scope, c.id,
                                       &size, nullptr),
                  c.status);
        CFArrayRef array = nullptr;
        EXPECT_EQ(probe->get(kAudioUnitProperty_ParameterValueStrings, c.scope, c.id, array),
                  c.status);
        const Cf owned(array);
        std::vector<std::string> names;
        for (CFIndex i = 0; array != nullptr && i < CFArrayGetCount(array); ++i) {
            names.push_back(
                cf_text(static_cast<CFStringRef>(CFArrayGetValueAtIndex(array, i))).value_or("?"));
        }
        EXPECT_EQ(names, c.names);
    }
}

TEST_F(AuProperties, ParameterInfoDescribesEachKindOfParameter) {
    Loaded varnel(VARNEL);
    ASSERT_TRUE(varnel) << varnel.error();
    const struct {
        Unit* unit;
        AudioUnitParameterID id;
        const ParamInfo& info;
        const char* name;
        AudioUnitParameterUnit unit_kind;
        AudioUnitParameterOptions flags;
    } cases[] = {
        {&*probe, param_id(Probe::GAIN), PROBE_TABLE[Probe::GAIN], "Gain",
         kAudioUnitParameterUnit_Decibels, 0xC8000010},
        {&*probe, param_id(Probe::MODE), PROBE_TABLE[Probe::MODE], "Mode",
         kAudioUnitParameterUnit_Indexed, 0xC8200010},
        {&*probe, param_id(Probe::BYPASS), PROBE_TABLE[Probe::BYPASS], "Bypass",
         kAudioUnitParameterUnit_Boolean, 0xC8000010},
        {&*probe, param_id(Probe::TRIM, 1), PROBE_TABLE[Probe::TRIM], "Trim 2",
         kAudioUnitParameterUnit_Generic, 0xC8000010},
        {&*probe, param_id(Probe::FRAMES), PROBE_TABLE[Probe::FRAMES], "frames",
         kAudioUnitParameterUnit_Generic, 0x48008010},
        {&*varnel, param_id(0), VarnelDelay::PARAMS[0], "Time",
         kAudioUnitParameterUnit_Milliseconds, 0xC8400010},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AudioUnitParameterInfo info{};
        ASSERT_EQ(c.unit->get(kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, c.id, info),
                  noErr);
        const Cf name(info.cfNameString);
        EXPECT_STREQ(info.name, c.name);
        EXPECT_EQ(cf_text(info.cfNameString), c.name);
        EXPECT_EQ(info.unitName, nullptr);
        EXPECT_EQ(info.unit, c.unit_kind);
        EXPECT_EQ(info.minValue, c.info.min);
        EXPECT_EQ(info.maxValue, c.info.max);
        EXPECT_EQ(info.defaultValue, c.info.default_value);
        EXPECT_EQ(info.flags, c.flags);
    }
}

// The unit's text conversions are the core's parameter text rules, in both
// directions, for each kind of parameter.
TEST_F(AuProperties, ParameterTextConvertsAsTheCoreRulesDo) {
    const std::size_t indices[] = {Probe::GAIN, Probe::MODE, Probe::BYPASS, Probe::TRIM};
    const char* texts[] = {"250 ms", " -6dB ", "pingpong", "On", "loud", "1e3", "50%", "", "0.5"};
    for (std::size_t index : indices) {
        const ParamInfo& param = PROBE_TABLE[index];
        const AudioUnitParameterID id = param_id(index, param.per_channel ? 1 : 0);
        for (const char* text : texts) {
            SCOPED_TRACE(testing::Message() << param.name << " from \"" << text << '"');
            const Cf string(cf_string(text));
            AudioUnitParameterValueFromString request{
                .inParamID = id, .inString = string.as<CFStringRef>(), .outValue = -123.0f};
            const std::optional<float> expected = parse_param_text_f32(param, text);
            EXPECT_EQ(probe->get(kAudioUnitProperty_ParameterValueFromString,
                                 kAudioUnitScope_Global, 0, request),
                      expected ? OSStatus{noErr} : OSStatus{kAudioUnitErr_InvalidPropertyValue});
            if (expected) {
                EXPECT_EQ(request.outValue, *expected);
            }
        }
        for (float value : {-70.0f, -6.0f, 0.0f, 0.4f, 0.5f, 1.0f, 1.75f, 12.0f}) {
            SCOPED_TRACE(testing::Message() << param.name << " of " << value);
            AudioUnitParameterStringFromValue request{
                .inParamID = id, .inValue = &value, .outString = nullptr};
            ASSERT_EQ(probe->get(kAudioUnitProperty_ParameterStringFromValue,
                                 kAudioUnitScope_Global, 0, request),
                      noErr);
            const Cf string(request.outString);
            EXPECT_EQ(cf_text(request.outString), param.display(value));
        }
        // Without a value, the current one.
        ASSERT_EQ(probe->set_parameter(id, param.max), noErr);
        AudioUnitParameterStringFromValue current{
            .inParamID = id, .inValue = nullptr, .outString = nullptr};
        ASSERT_EQ(probe->get(kAudioUnitProperty_ParameterStringFromValue, kAudioUnitScope_Global, 0,
                             current),
                  noErr);
        const Cf string(current.outString);
        EXPECT_EQ(cf_text(current.outString), param.display(param.max));
    }

    Loaded varnel(VARNEL);
    ASSERT_TRUE(varnel) << varnel.error();
    const Cf text(cf_string("250 ms"));
    AudioUnitParameterValueFromString time{
        .inParamID = 0, .inString = text.as<CFStringRef>(), .outValue = 0.0f};
    ASSERT_EQ(
        varnel->get(kAudioUnitProperty_ParameterValueFromString, kAudioUnitScope_Global, 0, time),
        noErr);
    EXPECT_EQ(time.outValue, 250.0f);
    const Cf nan(cf_string("NaN")), inf(cf_string("-inf"));
    const struct {
        AudioUnitParameterID id;
        CFStringRef text;
        OSStatus status;
    } refused[] = {
        {param_id(Probe::COUNT), text.as<CFStringRef>(), kAudioUnitErr_InvalidParameter},
        {param_id(Probe::GAIN), nullptr, kAudioUnitErr_InvalidPropertyValue},
        {param_id(Probe::GAIN), nan.as<CFStringRef>(), kAudioUnitErr_InvalidPropertyValue},
        {param_id(Probe::MODE), inf.as<CFStringRef>(), kAudioUnitErr_InvalidPropertyValue},
    };
    for (const auto& r : refused) {
        AudioUnitParameterValueFromString request{
            .inParamID = r.id, .inString = r.text, .outValue = 0.0f};
        EXPECT_EQ(probe->get(kAudioUnitProperty_ParameterValueFromString, kAudioUnitScope_Global, 0,
                             request),
                  r.status);
    }
}

TEST_F(AuProperties, SupportedChannelsFollowTheLayout) {
    std::vector<AUChannelInfo> instrument_pairs;
    for (SInt16 n = 1; n <= 16; ++n)
        instrument_pairs.push_back({0, n});
    const struct {
        const Kind& kind;
        std::vector<AUChannelInfo> pairs;
    } cases[] = {
        {VARNEL, {{-1, -1}}},
        {PROBE, {{-1, -1}}},
        {INSTRUMENT, instrument_pairs},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind.path);
        Loaded unit(c.kind);
        ASSERT_TRUE(unit) << unit.error();
        std::vector<AUChannelInfo> pairs;
        ASSERT_EQ(unit->get_array(kAudioUnitProperty_SupportedNumChannels, kAudioUnitScope_Global,
                                  0, pairs),
                  noErr);
        ASSERT_EQ(pairs.size(), c.pairs.size());
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            EXPECT_EQ(pairs[i].inChannels, c.pairs[i].inChannels) << i;
            EXPECT_EQ(pairs[i].outChannels, c.pairs[i].outChannels) << i;
        }
    }
}

// The probe reports its latency parameter as latency, twice that as tail.
TEST_F(AuProperties, LatencyAndTailAreInSecondsAtTheUnitsRate) {
    const struct {
        Float64 rate;
        float samples;
    } cases[] = {{44100.0, 441.0f}, {48000.0, 4096.0f}, {96000.0, 0.0f}, {22050.0, 7.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.samples << " at " << c.rate);
        Loaded unit(PROBE);
        ASSERT_TRUE(unit);
        ASSERT_EQ(unit->set(kAudioUnitProperty_SampleRate, kAudioUnitScope_Output, 0, c.rate),
                  noErr);
        ASSERT_EQ(unit->set_parameter(param_id(Probe::LATENCY), c.samples), noErr);
        ASSERT_EQ(unit->initialize(), noErr);
        Float64 latency = -1.0;
        Float64 tail = -1.0;
        EXPECT_EQ(unit->get(kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0, latency), noErr);
        EXPECT_EQ(unit->get(kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0, tail), noErr);
        EXPECT_EQ(latency, c.samples / c.rate);
        EXPECT_EQ(tail, 2.0 * c.samples / c.rate);
    }
}

}  // namespace
}  // namespace orba::test
