#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "tests/au/host.h"
#include "tests/clap/probe_plugin.h"

namespace orba::test {
namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float INF = std::numeric_limits<float>::infinity();

constexpr AudioUnitParameterID id_of(Probe::Index index, UInt32 channel = 0) {
    return static_cast<AudioUnitParameterID>(index * 128 + channel);
}

const Component& probe_component() {
    static const Component component(ORBA_PROBE_AU, "OrbaProbeFactory");
    return component;
}

std::unique_ptr<Unit> make_probe(AudioComponentInstance handle = nullptr) {
    return std::make_unique<Unit>(
        probe_component().factory(),
        description(four_char("aufx"), four_char("Prbe"), four_char("Orba")), handle);
}

class AuParameters : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(probe_component().factory(), nullptr) << probe_component().error();
        unit = make_probe();
        ASSERT_TRUE(*unit);
    }
    OSStatus render_once() {
        BufferList buffers(output_channels, 64);
        if (OSStatus status = unit->set_input(source); status != noErr) return status;
        return unit->render(64, buffers.list());
    }

    std::unique_ptr<Unit> unit;
    Source source;
    UInt32 output_channels = 2;
};

TEST_F(AuParameters, EveryChannelOfAPerChannelParameterHasItsOwnIdInTheList) {
    for (UInt32 channels : {2u, 1u, 3u, 2u}) {
        SCOPED_TRACE(channels);
        ASSERT_EQ(unit->set_format(kAudioUnitScope_Input, channels), noErr);
        ASSERT_EQ(unit->set_format(kAudioUnitScope_Output, channels), noErr);
        std::vector<AudioUnitParameterID> expected;
        for (std::size_t index = 0; index < Probe::COUNT; ++index) {
            const UInt32 count = index == Probe::TRIM ? channels : 1;
            for (UInt32 channel = 0; channel < count; ++channel)
                expected.push_back(id_of(static_cast<Probe::Index>(index), channel));
        }
        std::vector<AudioUnitParameterID> ids;
        EXPECT_EQ(unit->get_array(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, ids),
                  noErr);
        EXPECT_EQ(ids, expected);
        EXPECT_EQ(unit->parameter(id_of(Probe::TRIM, channels - 1)), 1.0f);
        EXPECT_EQ(unit->parameter(id_of(Probe::TRIM, channels)), std::nullopt);
    }
}

TEST_F(AuParameters, RefusedGetsAndSetsNameTheirFaultAndChangeNothing) {
    enum Call { GET, SET };
    const struct {
        const char* what;
        Call call;
        AudioUnitParameterID id;
        AudioUnitScope scope;
        AudioUnitElement element;
        float value;
        OSStatus status;
    } cases[] = {
        {"a second channel of a plain parameter", GET, id_of(Probe::MODE, 1), 0, 0, 0,
         kAudioUnitErr_InvalidParameter},
        {"an index past the parameters", GET, id_of(Probe::COUNT), 0, 0, 0,
         kAudioUnitErr_InvalidParameter},
        {"a channel past the output channels", GET, id_of(Probe::TRIM, 2), 0, 0, 0,
         kAudioUnitErr_InvalidParameter},
        {"the Output scope", GET, id_of(Probe::GAIN), kAudioUnitScope_Output, 0, 0,
         kAudioUnitErr_InvalidScope},
        {"element 1", GET, id_of(Probe::GAIN), 0, 1, 0, kAudioUnitErr_InvalidElement},
        {"NaN", SET, id_of(Probe::GAIN), 0, 0, NaN, kAudioUnitErr_InvalidParameter},
        {"infinity", SET, id_of(Probe::GAIN), 0, 0, -INF, kAudioUnitErr_InvalidParameter},
        {"the Output scope", SET, id_of(Probe::GAIN), kAudioUnitScope_Output, 0, -6,
         kAudioUnitErr_InvalidScope},
        {"the Input scope", SET, id_of(Probe::GAIN), kAudioUnitScope_Input, 0, -6,
         kAudioUnitErr_InvalidScope},
        {"the Output scope before a bad id", SET, id_of(Probe::COUNT), kAudioUnitScope_Output, 0,
         -6, kAudioUnitErr_InvalidScope},
        {"element 1", SET, id_of(Probe::GAIN), 0, 1, -6, kAudioUnitErr_InvalidElement},
        {"a Meter", SET, id_of(Probe::PREPARES), 0, 0, 5, kAudioUnitErr_InvalidParameter},
        {"a channel past the output channels", SET, id_of(Probe::TRIM, 2), 0, 0, 0.5f,
         kAudioUnitErr_InvalidParameter},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.call == GET ? "get, " : "set, ") << c.what);
        AudioUnitParameterValue value = 123.0f;
        const OSStatus status = c.call == GET
                                    ? unit->get_parameter(c.id, value, c.scope, c.element)
                                    : unit->set_parameter(c.id, c.value, c.scope, c.element);
        EXPECT_EQ(status, c.status);
        if (c.call == GET) {
            EXPECT_EQ(value, 123.0f) << "the output is left alone";
        }
    }
    EXPECT_EQ(unit->parameter(id_of(Probe::GAIN)), 0.0f);
    EXPECT_EQ(unit->parameter(id_of(Probe::PREPARES)), 0.0f);
    EXPECT_EQ(unit->parameter(id_of(Probe::TRIM, 1)), 1.0f);

    const auto get = unit->lookup<GetParameterFn>(kAudioUnitGetParameterSelect);
    EXPECT_EQ(get(unit->interface(), id_of(Probe::GAIN), kAudioUnitScope_Global, 0, nullptr),
              kAudio_ParamError);
    const auto schedule = unit->lookup<ScheduleParametersFn>(kAudioUnitScheduleParametersSelect);
    EXPECT_EQ(schedule(unit->interface(), nullptr, 2), kAudio_ParamError);
    EXPECT_EQ(schedule(unit->interface(), nullptr, 0), noErr);
}

TEST_F(AuParameters, SetValuesAreClampedAndRoundedAndReachOnlyTheirChannel) {
    const struct {
        AudioUnitParameterID id;
        float value;
        float stored;
    } cases[] = {
        {id_of(Probe::GAIN), 100.0f, 12.0f},
        {id_of(Probe::GAIN), -std::numeric_limits<float>::max(), -60.0f},
        {id_of(Probe::GAIN), -7.25f, -7.25f},
        {id_of(Probe::MODE), 0.5f, 1.0f},
        {id_of(Probe::MODE), 0.49f, 0.0f},
        {id_of(Probe::BYPASS), -3.0f, 0.0f},
        {id_of(Probe::LATENCY), 10.25f, 10.25f},
        {id_of(Probe::TRIM, 1), 3.0f, 2.0f},
        {id_of(Probe::TRIM, 0), 0.5f, 0.5f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " = " << c.value);
        unit = make_probe();
        EXPECT_EQ(unit->set_parameter(c.id, c.value), noErr);
        EXPECT_EQ(unit->parameter(c.id), c.stored);
        if (c.id / 128 == Probe::TRIM) {
            EXPECT_EQ(unit->parameter(c.id ^ 1u), 1.0f) << "the other channel keeps its trim";
        }
    }
}

// The first event is queued, the refused second one ends the call, the third
// is never looked at. Nothing shows before a render, even across Initialize.
TEST_F(AuParameters, ScheduleParametersKeepsTheEventsBeforeARefusedOne) {
    const auto event = [](AudioUnitParameterEvent e, auto change) {
        change(e);
        return e;
    };
    const AudioUnitParameterEvent gain = immediate_event(id_of(Probe::GAIN), -12.0f);
    const struct {
        const char* what;
        AudioUnitParameterEvent refused;
        OSStatus status;
    } cases[] = {
        {"an event type neither immediate nor ramped",
         event(gain, [](auto& e) { e.eventType = static_cast<AUParameterEventType>(3); }),
         kAudioUnitErr_InvalidPropertyValue},
        {"the Output scope", event(gain, [](auto& e) { e.scope = kAudioUnitScope_Output; }),
         kAudioUnitErr_InvalidScope},
        {"element 1", event(gain, [](auto& e) { e.element = 1; }), kAudioUnitErr_InvalidElement},
        {"a second channel of a plain parameter",
         event(gain, [](auto& e) { e.parameter = id_of(Probe::GAIN, 1); }),
         kAudioUnitErr_InvalidParameter},
        {"a NaN value", immediate_event(id_of(Probe::GAIN), NaN), kAudioUnitErr_InvalidParameter},
        {"a ramp to infinity", ramp_event(id_of(Probe::GAIN), 0.0f, INF, 64),
         kAudioUnitErr_InvalidParameter},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        unit = make_probe();
        const AudioUnitParameterEvent events[] = {
            ramp_event(id_of(Probe::GAIN), -60.0f, -6.0f, 512),
            c.refused,
            immediate_event(id_of(Probe::MODE), 1.0f),
        };
        EXPECT_EQ(unit->schedule(events), c.status);
        EXPECT_EQ(unit->parameter(id_of(Probe::GAIN)), 0.0f);
        ASSERT_EQ(unit->initialize(), noErr);
        EXPECT_EQ(unit->parameter(id_of(Probe::GAIN)), 0.0f);
        ASSERT_EQ(render_once(), noErr);
        EXPECT_EQ(unit->parameter(id_of(Probe::GAIN)), -6.0f) << "a ramp jumps to its end";
        EXPECT_EQ(unit->parameter(id_of(Probe::MODE)), 0.0f);
    }
}

// What a listener heard, and from which of the two procs.
struct Heard {
    int tag;
    bool also;
    AudioUnit unit;
    AudioUnitPropertyID id;
    AudioUnitScope scope;
    AudioUnitElement element;
};

struct Ear {
    std::vector<Heard>* log;
    int tag;
    Unit* leave_from = nullptr;  // removes itself from this unit when called
};

void hear(void* data, AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
          AudioUnitElement element) {
    auto* ear = static_cast<Ear*>(data);
    ear->log->push_back({ear->tag, false, unit, id, scope, element});
    if (ear->leave_from != nullptr) ear->leave_from->remove_listener(id, hear, ear);
}

void hear_also(void* data, AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
               AudioUnitElement element) {
    auto* ear = static_cast<Ear*>(data);
    ear->log->push_back({ear->tag, true, unit, id, scope, element});
}

std::vector<int> tags(const std::vector<Heard>& log) {
    std::vector<int> result;
    for (const Heard& heard : log)
        result.push_back(heard.tag);
    return result;
}

OSStatus set_bypass(Unit& unit, UInt32 on) {
    return unit.set(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, on);
}

OSStatus set_in_place(Unit& unit) {
    return unit.set(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0, UInt32{1});
}

TEST_F(AuParameters, RemovingByProcTakesEveryUserDataAndWithUserDataOnlyTheOne) {
    const struct {
        const char* what;
        AudioUnitPropertyID id;
        AudioUnitPropertyListenerProc proc;
        int user_data;  // index into the ears, or -1 to remove by proc alone
        std::vector<int> heard;
    } cases[] = {
        {"by proc", kAudioUnitProperty_BypassEffect, hear, -1, {3, 4}},
        {"by proc and user data", kAudioUnitProperty_BypassEffect, hear, 1, {1, 3, 4}},
        {"by user data never added", kAudioUnitProperty_BypassEffect, hear, 4, {1, 2, 3, 4}},
        {"by a proc never added for the property",
         kAudioUnitProperty_InPlaceProcessing,
         hear_also,
         -1,
         {1, 2, 3, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        unit = make_probe();
        std::vector<Heard> log;
        Ear ears[] = {{&log, 1}, {&log, 2}, {&log, 3}, {&log, 4}, {&log, 5}};
        ASSERT_EQ(unit->add_listener(kAudioUnitProperty_BypassEffect, hear, &ears[0]), noErr);
        ASSERT_EQ(unit->add_listener(kAudioUnitProperty_BypassEffect, hear, &ears[1]), noErr);
        ASSERT_EQ(unit->add_listener(kAudioUnitProperty_BypassEffect, hear_also, &ears[2]), noErr);
        ASSERT_EQ(unit->add_listener(kAudioUnitProperty_InPlaceProcessing, hear, &ears[3]), noErr);
        const OSStatus removed = c.user_data < 0
                                     ? unit->remove_listener(c.id, c.proc)
                                     : unit->remove_listener(c.id, c.proc, &ears[c.user_data]);
        EXPECT_EQ(removed, noErr);
        ASSERT_EQ(set_bypass(*unit, 1), noErr);
        ASSERT_EQ(set_in_place(*unit), noErr);
        EXPECT_EQ(tags(log), c.heard);
    }
}

TEST_F(AuParameters, AListenerThatRemovesItselfWhileCalledLeavesTheOthersCalled) {
    for (int leaver = 0; leaver < 3; ++leaver) {
        SCOPED_TRACE(leaver);
        unit = make_probe();
        std::vector<Heard> log;
        Ear ears[] = {{&log, 0}, {&log, 1}, {&log, 2}};
        ears[leaver].leave_from = unit.get();
        for (Ear& ear : ears)
            ASSERT_EQ(unit->add_listener(kAudioUnitProperty_BypassEffect, hear, &ear), noErr);
        ASSERT_EQ(set_bypass(*unit, 1), noErr);
        EXPECT_EQ(tags(log), (std::vector<int>{0, 1, 2}));
        log.clear();
        ASSERT_EQ(set_bypass(*unit, 0), noErr);
        std::vector<int> rest = {0, 1, 2};
        rest.erase(rest.begin() + leaver);
        EXPECT_EQ(tags(log), rest);
    }
}

// On macOS the handle Open is given is not the interface pointer, so a unit
// that passed itself to listeners would hand them something no host knows.
TEST_F(AuParameters, ListenersReceiveTheInstanceOpenWasGiven) {
    const auto fake = reinterpret_cast<AudioComponentInstance>(std::uintptr_t{0x5EED0});
    for (AudioComponentInstance handle : {fake, static_cast<AudioComponentInstance>(nullptr)}) {
        unit = make_probe(handle);
        ASSERT_TRUE(*unit);
        std::vector<Heard> log;
        Ear ear{&log, 1};
        ASSERT_EQ(unit->add_listener(kAudioUnitProperty_BypassEffect, hear, &ear), noErr);
        ASSERT_EQ(set_bypass(*unit, 1), noErr);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].unit, unit->handle());
        EXPECT_EQ(log[0].id, kAudioUnitProperty_BypassEffect);
        EXPECT_EQ(log[0].scope, kAudioUnitScope_Global);
        EXPECT_EQ(log[0].element, 0u);
    }
    EXPECT_EQ(unit->handle(), reinterpret_cast<AudioComponentInstance>(unit->interface()));
}

}  // namespace
}  // namespace orba::test
