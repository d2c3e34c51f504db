#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "fuzz/au_unit.h"
#include "fuzz/input.h"
#include "orba/core/state.h"

// The Audio Unit's property, parameter and render selectors under a fuzzed
// sequence of host calls. Values are fuzzed bytes of the property's own size
// (now and then of a wrong size); CF objects handed in are real ones built
// from fuzzed bytes, and every pointer-valued field (callbacks, connections,
// listeners) comes from a fixed set of safe values. CF objects the unit hands
// back are released as a host must, so the leak checker sees the unit's own.
// The au_host target drives a fresh test effect or instrument for each input;
// the targets for the shipped plug-ins keep one unit for the whole run (see
// KeptAuUnit).
namespace {

using orba::fuzz::AuPlugin;
using orba::fuzz::Input;
using orba::test::Unit;

constexpr UInt32 MAX_RENDER_FRAMES = 1024;

// What the host's callbacks answer, set by the input as it goes.
struct HostState {
    OSStatus input_status = noErr;
    float input_level = 0.5f;
    OSStatus callback_status = noErr;
    Float64 beat = 0.0;
    Float64 tempo = 120.0;
    Boolean playing = 1;
    Float64 sample = 0.0;
    Unit* unit = nullptr;
    int listened = 0;
};

HostState host;

OSStatus input_proc(void* ref_con, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                    UInt32 frames, AudioBufferList* data) {
    auto* state = static_cast<HostState*>(ref_con);
    if (state->input_status != noErr) return state->input_status;
    if (data == nullptr) return kAudio_ParamError;
    for (UInt32 b = 0; b < data->mNumberBuffers; ++b) {
        auto* out = static_cast<float*>(data->mBuffers[b].mData);
        if (out == nullptr) continue;
        const UInt32 room = data->mBuffers[b].mDataByteSize / sizeof(float);
        for (UInt32 i = 0; i < std::min(frames, room); ++i)
            out[i] = state->input_level * static_cast<float>((i + b) % 5);
    }
    return noErr;
}

OSStatus beat_and_tempo(void* user, Float64* beat, Float64* tempo) {
    const auto* state = static_cast<const HostState*>(user);
    if (beat != nullptr) *beat = state->beat;
    if (tempo != nullptr) *tempo = state->tempo;
    return state->callback_status;
}

OSStatus transport_state(void* user, Boolean* playing, Boolean* changed, Float64* sample,
                         Boolean* cycling, Float64* cycle_start, Float64* cycle_end) {
    const auto* state = static_cast<const HostState*>(user);
    if (playing != nullptr) *playing = state->playing;
    if (changed != nullptr) *changed = 0;
    if (sample != nullptr) *sample = state->sample;
    if (cycling != nullptr) *cycling = 0;
    if (cycle_start != nullptr) *cycle_start = 0.0;
    if (cycle_end != nullptr) *cycle_end = 0.0;
    return state->callback_status;
}

// A listener that reads the unit back while it is being told of a change.
void listener(void* user, AudioUnit, AudioUnitPropertyID id, AudioUnitScope scope,
              AudioUnitElement element) {
    auto* state = static_cast<HostState*>(user);
    ++state->listened;
    if (state->unit == nullptr) return;
    UInt32 size = 0;
    Boolean writable = 0;
    if (state->unit->property_info(id, scope, element, &size, &writable) != noErr) return;
    if (id == kAudioUnitProperty_StreamFormat) {
        AudioStreamBasicDescription format{};
        (void)state->unit->get(id, scope, element, format);
    }
}

void quiet_listener(void*, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {}

OSStatus notify_proc(void* ref_con, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                     UInt32, AudioBufferList*) {
    ++static_cast<HostState*>(ref_con)->listened;
    return noErr;
}

// A notify that takes itself off the list from inside the render.
OSStatus leaving_notify(void* ref_con, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                        UInt32, AudioBufferList*) {
    auto* state = static_cast<HostState*>(ref_con);
    if (state->unit != nullptr) (void)state->unit->remove_render_notify(leaving_notify, ref_con);
    return noErr;
}

constexpr AudioUnitPropertyID PROPERTIES[] = {
    kAudioUnitProperty_ClassInfo, kAudioUnitProperty_MakeConnection,
    kAudioUnitProperty_SampleRate, kAudioUnitProperty_ParameterList,
    kAudioUnitProperty_ParameterInfo, kAudioUnitProperty_StreamFormat,
    kAudioUnitProperty_ElementCount, kAudioUnitProperty_Latency,
    kAudioUnitProperty_SupportedNumChannels, kAudioUnitProperty_MaximumFramesPerSlice,
    kAudioUnitProperty_ParameterValueStrings, kAudioUnitProperty_TailTime,
    kAudioUnitProperty_BypassEffect, kAudioUnitProperty_LastRenderError,
    kAudioUnitProperty_SetRenderCallback, kAudioUnitProperty_HostCallbacks,
    kAudioUnitProperty_InPlaceProcessing, kAudioUnitProperty_ParameterStringFromValue,
    kAudioUnitProperty_ParameterIDName, kAudioUnitProperty_PresentPreset,
    kAudioUnitProperty_ParameterValueFromString, kAudioUnitProperty_ShouldAllocateBuffer,
    kAudioUnitProperty_CPULoad, kAudioUnitProperty_AudioChannelLayout,
    kAudioUnitProperty_FactoryPresets, kAudioUnitProperty_ContextName,
    kAudioUnitProperty_CocoaUI, kAudioUnitProperty_NickName};

constexpr AudioUnitScope SCOPES[] = {kAudioUnitScope_Global, kAudioUnitScope_Input,
                                     kAudioUnitScope_Output, kAudioUnitScope_Global,
                                     kAudioUnitScope_Output, 4};

// Properties whose data holds pointers: these never get raw bytes.
bool holds_pointers(AudioUnitPropertyID id) {
    switch (id) {
        case kAudioUnitProperty_ClassInfo:
        case kAudioUnitProperty_MakeConnection:
        case kAudioUnitProperty_SetRenderCallback:
        case kAudioUnitProperty_HostCallbacks:
        case kAudioUnitProperty_PresentPreset:
        case kAudioUnitProperty_ParameterStringFromValue:
        case kAudioUnitProperty_ParameterIDName:
        case kAudioUnitProperty_ParameterValueFromString:
        case kAudioUnitProperty_ParameterValueStrings:
        case kAudioUnitProperty_ParameterInfo:
        case kAudioUnitProperty_CocoaUI:
        case kAudioUnitProperty_ContextName:
        case kAudioUnitProperty_NickName:
        case kAudioUnitProperty_FactoryPresets:
        case kAudioUnitProperty_AudioChannelLayout:
            return true;
        default:
            return false;
    }
}

// Releases a CF object on scope exit.
struct Cf {
    CFTypeRef object = nullptr;
    Cf() = default;
    explicit Cf(CFTypeRef o) : object(o) {}
    Cf(const Cf&) = delete;
    Cf& operator=(const Cf&) = delete;
    ~Cf() {
        if (object != nullptr) CFRelease(object);
    }
};

CFStringRef fuzz_string(Input& in) {
    const std::string_view text = in.text(64);
    return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                   static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false);
}

CFNumberRef fuzz_number(Input& in, SInt32 usual) {
    const SInt32 value = in.flag() ? usual : in.raw<SInt32>();
    if (in.byte() % 8 == 0) {
        const Float64 real = in.raw<Float64>();
        return CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &real);
    }
    return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value);
}

// Any CF object: a class-info dictionary (mostly with this unit's codes and a
// saved or fuzzed state), a string, a number or data.
CFTypeRef fuzz_object(Input& in, Unit& unit, const AudioComponentDescription& desc) {
    switch (in.byte() % 6) {
        case 0:
            return fuzz_string(in);
        case 1:
            return fuzz_number(in, 0);
        case 2: {
            const std::span<const std::uint8_t> bytes = in.bytes(256);
            return CFDataCreate(kCFAllocatorDefault, bytes.data(), static_cast<CFIndex>(bytes.size()));
        }
        default:
            break;
    }
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    const auto set = [&](const char* key, CFTypeRef value) {
        const Cf name(CFStringCreateWithCString(kCFAllocatorDefault, key, kCFStringEncodingUTF8));
        const Cf owned(value);
        if (value != nullptr) CFDictionarySetValue(dict, name.object, value);
    };
    const std::uint8_t present = in.byte();
    if ((present & 1) == 0) set("type", fuzz_number(in, static_cast<SInt32>(desc.componentType)));
    if ((present & 2) == 0)
        set("subtype", fuzz_number(in, static_cast<SInt32>(desc.componentSubType)));
    if ((present & 4) == 0)
        set("manufacturer", fuzz_number(in, static_cast<SInt32>(desc.componentManufacturer)));
    if ((present & 8) == 0) set("name", in.flag() ? static_cast<CFTypeRef>(fuzz_string(in)) : fuzz_number(in, 1));
    if ((present & 16) == 0) set("version", fuzz_number(in, 0));
    if ((present & 32) == 0) {
        std::vector<std::uint8_t> bytes;
        if (in.flag()) {
            // A state the unit itself saved, now and then with a byte changed.
            CFPropertyListRef info = nullptr;
            if (unit.get(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, info) == noErr) {
                const Cf owned(info);
                const auto data = static_cast<CFDataRef>(CFDictionaryGetValue(
                    static_cast<CFDictionaryRef>(info), CFSTR("data")));
                if (data != nullptr) {
                    const UInt8* first = CFDataGetBytePtr(data);
                    bytes.assign(first, first + CFDataGetLength(data));
                }
            }
            if (!bytes.empty() && in.flag()) bytes[in.below(static_cast<std::uint32_t>(bytes.size()))] ^= in.byte();
        } else {
            const std::span<const std::uint8_t> raw = in.bytes(512);
            bytes.assign(raw.begin(), raw.end());
        }
        set("data", in.byte() % 8 == 0 ? static_cast<CFTypeRef>(fuzz_string(in))
                                        : CFDataCreate(kCFAllocatorDefault, bytes.data(),
                                                       static_cast<CFIndex>(bytes.size())));
    }
    return dict;
}

AudioStreamBasicDescription fuzz_format(Input& in) {
    if (in.byte() % 4 == 0) return in.raw<AudioStreamBasicDescription>();
    constexpr Float64 RATES[] = {44100.0, 48000.0, 8000.0, 768000.0, 768001.0, 0.0, -1.0,
                                 std::numeric_limits<Float64>::quiet_NaN()};
    AudioStreamBasicDescription format = orba::test::float_format(in.byte() % 9, in.pick(RATES));
    if (in.byte() % 8 == 0) format.mFormatFlags = in.raw<UInt32>();
    return format;
}

class Session {
  public:
    // `source` is an initialised unit the input may connect to; the sample
    // rates the session sets on purpose are `rate_scale` times those read.
    Session(Input& in, AuPlugin which, Unit& unit, Unit& source, double rate_scale)
        : in_(in), desc_(orba::fuzz::au_description(which)), unit_(unit), source_(source),
          rate_scale_(rate_scale) {
        if (!unit_ || !source_) __builtin_trap();
        host = HostState{};
        host.unit = &unit_;
    }
    ~Session() { host.unit = nullptr; }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void step() {
        switch (in_.byte() % 14) {
            case 0:
                (void)unit_.initialize();
                break;
            case 1:
                (void)unit_.uninitialize();
                break;
            case 2:
                (void)unit_.reset(in_.pick(SCOPES), in_.byte() % 4);
                break;
            case 3:
            case 4:
                set_property();
                break;
            case 5:
            case 6:
                get_property();
                break;
            case 7:
                parameter();
                break;
            case 8:
                schedule();
                break;
            case 9:
            case 10:
                render();
                break;
            case 11:
                listeners();
                break;
            case 12:
                host_answers();
                break;
            default:
                midi();
                break;
        }
    }

  private:
    AudioUnitPropertyID property() {
        return in_.byte() % 16 == 0 ? in_.raw<AudioUnitPropertyID>() : in_.pick(PROPERTIES);
    }
    AudioUnitElement element() { return in_.byte() % 8 == 0 ? in_.raw<AudioUnitElement>() : 0; }

    AudioUnitParameterID parameter_id() {
        if (in_.byte() % 8 == 0) return in_.raw<AudioUnitParameterID>();
        std::vector<AudioUnitParameterID> ids;
        (void)unit_.get_array(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, ids);
        return ids.empty() ? 0 : ids[in_.below(static_cast<std::uint32_t>(ids.size()))];
    }

    OSStatus set_raw(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement el,
                     const void* data, UInt32 size) {
        const auto fn = unit_.lookup<orba::test::SetPropertyFn>(kAudioUnitSetPropertySelect);
        return fn(unit_.interface(), id, scope, el, data, size);
    }

    void set_property() {
        const AudioUnitPropertyID id = property();
        const AudioUnitScope scope = in_.pick(SCOPES);
        const AudioUnitElement el = element();
        UInt32 size = 0;
        Boolean writable = 0;
        if (unit_.property_info(id, scope, el, &size, &writable) != noErr) size = in_.byte();
        // Mostly the property's size; now and then one the unit must refuse.
        if (in_.byte() % 16 == 0) size = in_.byte();
        std::vector<std::uint8_t> data(std::max<UInt32>(size, 1));
        Cf keep;
        switch (holds_pointers(id) ? id : 0xFFFFFFFF) {
            case kAudioUnitProperty_ClassInfo: {
                keep.object = in_.byte() % 8 == 0 ? nullptr : fuzz_object(in_, unit_, desc_);
                const CFPropertyListRef value = keep.object;
                std::memcpy(data.data(), &value, std::min<std::size_t>(sizeof value, data.size()));
                break;
            }
            case kAudioUnitProperty_MakeConnection: {
                AudioUnitConnection c{};
                c.sourceAudioUnit = in_.flag() ? reinterpret_cast<AudioUnit>(source_.handle()) : nullptr;
                c.sourceOutputNumber = in_.byte() % 4 == 0 ? in_.raw<UInt32>() : 0;
                c.destInputNumber = in_.byte() % 4 == 0 ? in_.raw<UInt32>() : 0;
                std::memcpy(data.data(), &c, std::min(sizeof c, data.size()));
                break;
            }
            case kAudioUnitProperty_SetRenderCallback: {
                const AURenderCallbackStruct c{.inputProc = in_.flag() ? input_proc : nullptr,
                                               .inputProcRefCon = &host};
                std::memcpy(data.data(), &c, std::min(sizeof c, data.size()));
                break;
            }
            case kAudioUnitProperty_HostCallbacks: {
                HostCallbackInfo c{};
                c.hostUserData = &host;
                c.beatAndTempoProc = in_.flag() ? beat_and_tempo : nullptr;
                c.transportStateProc = in_.flag() ? transport_state : nullptr;
                std::memcpy(data.data(), &c, std::min(sizeof c, data.size()));
                break;
            }
            case kAudioUnitProperty_PresentPreset: {
                AUPreset preset{};
                preset.presetNumber = in_.raw<SInt32>();
                keep.object = in_.byte() % 4 == 0 ? nullptr
                                                  : (in_.flag() ? static_cast<CFTypeRef>(fuzz_string(in_))
                                                                : fuzz_number(in_, 3));
                preset.presetName = static_cast<CFStringRef>(keep.object);
                std::memcpy(data.data(), &preset, std::min(sizeof preset, data.size()));
                break;
            }
            case 0xFFFFFFFF: {
                if (id == kAudioUnitProperty_StreamFormat && in_.flag()) {
                    AudioStreamBasicDescription f = fuzz_format(in_);
                    f.mSampleRate *= rate_scale_;
                    std::memcpy(data.data(), &f, std::min(sizeof f, data.size()));
                } else if (id == kAudioUnitProperty_MaximumFramesPerSlice && in_.flag()) {
                    const UInt32 frames = in_.below(8193);
                    std::memcpy(data.data(), &frames, std::min(sizeof frames, data.size()));
                } else if (id == kAudioUnitProperty_SampleRate && in_.flag()) {
                    const Float64 rate = 1000.0 * in_.byte() * rate_scale_;
                    std::memcpy(data.data(), &rate, std::min(sizeof rate, data.size()));
                } else {
                    for (std::uint8_t& b : data)
                        b = in_.byte();
                }
                break;
            }
            default:
                // Read-only properties holding pointers: the unit must refuse
                // them before it looks at the data, so zeros will do.
                break;
        }
        (void)set_raw(id, scope, el, in_.byte() % 32 == 0 ? nullptr : data.data(), size);
    }

    void get_property() {
        const AudioUnitPropertyID id = property();
        const AudioUnitScope scope = in_.pick(SCOPES);
        const AudioUnitElement el = element();
        UInt32 size = 0;
        Boolean writable = 0;
        const bool known = unit_.property_info(id, scope, el, &size, &writable) == noErr;
        if (!known || in_.byte() % 16 == 0) size = in_.byte();
        // Never empty, so that a zero size still comes with a real pointer.
        std::vector<std::uint8_t> data(std::max<UInt32>(size, 1));
        const float value = in_.raw<float>();
        Cf text;
        if (id == kAudioUnitProperty_ParameterStringFromValue && size >= sizeof(AudioUnitParameterStringFromValue)) {
            const AudioUnitParameterStringFromValue r{
                .inParamID = parameter_id(), .inValue = in_.flag() ? &value : nullptr, .outString = nullptr};
            std::memcpy(data.data(), &r, sizeof r);
        } else if (id == kAudioUnitProperty_ParameterIDName && size >= sizeof(AudioUnitParameterIDName)) {
            const AudioUnitParameterIDName r{
                .inID = parameter_id(), .inDesiredLength = in_.raw<SInt32>(), .outName = nullptr};
            std::memcpy(data.data(), &r, sizeof r);
        } else if (id == kAudioUnitProperty_ParameterValueFromString &&
                   size >= sizeof(AudioUnitParameterValueFromString)) {
            text.object = in_.byte() % 8 == 0 ? nullptr
                                              : (in_.flag() ? static_cast<CFTypeRef>(fuzz_string(in_))
                                                            : fuzz_number(in_, 5));
            const AudioUnitParameterValueFromString r{.inParamID = parameter_id(),
                                                      .inString = static_cast<CFStringRef>(text.object),
                                                      .outValue = 0.0f};
            std::memcpy(data.data(), &r, sizeof r);
        } else if (holds_pointers(id)) {
            // Pointers going in are null: the unit writes, never reads, them.
        } else {
            for (std::uint8_t& b : data)
                b = in_.byte();
        }
        const auto fn = unit_.lookup<orba::test::GetPropertyFn>(kAudioUnitGetPropertySelect);
        UInt32 io = size;
        const bool no_data = in_.byte() % 16 == 0;
        const OSStatus status = fn(unit_.interface(), id, scope, el, no_data ? nullptr : data.data(), &io);
        if (status != noErr || no_data) return;
        if (io > size) __builtin_trap();
        release_results(id, data);
    }

    // A host owns what these properties hand out.
    static void release_results(AudioUnitPropertyID id, const std::vector<std::uint8_t>& data) {
        const auto at = [&data](std::size_t offset) {
            CFTypeRef object = nullptr;
            std::memcpy(&object, data.data() + offset, sizeof object);
            if (object != nullptr) CFRelease(object);
        };
        switch (id) {
            case kAudioUnitProperty_ClassInfo:
            case kAudioUnitProperty_ParameterValueStrings:
                at(0);
                break;
            case kAudioUnitProperty_ParameterInfo:
                at(offsetof(AudioUnitParameterInfo, cfNameString));
                break;
            case kAudioUnitProperty_ParameterStringFromValue:
                at(offsetof(AudioUnitParameterStringFromValue, outString));
                break;
            case kAudioUnitProperty_ParameterIDName:
                at(offsetof(AudioUnitParameterIDName, outName));
                break;
            case kAudioUnitProperty_PresentPreset:
                at(offsetof(AUPreset, presetName));
                break;
            default:
                break;
        }
    }

    void parameter() {
        const AudioUnitParameterID id = parameter_id();
        const AudioUnitScope scope = in_.byte() % 8 == 0 ? in_.pick(SCOPES) : kAudioUnitScope_Global;
        const AudioUnitElement el = element();
        if (in_.flag()) {
            AudioUnitParameterValue value = 0.0f;
            (void)unit_.get_parameter(id, value, scope, el);
        } else {
            (void)unit_.set_parameter(id, in_.raw<float>(), scope, el, in_.raw<UInt32>());
        }
    }

    void schedule() {
        std::array<AudioUnitParameterEvent, 8> events{};
        const std::uint32_t count = in_.byte() % (events.size() + 1);
        for (std::uint32_t i = 0; i < count; ++i) {
            AudioUnitParameterEvent& e = events[i];
            e.scope = in_.byte() % 8 == 0 ? in_.pick(SCOPES) : kAudioUnitScope_Global;
            e.element = element();
            e.parameter = parameter_id();
            e.eventType = in_.flag() ? kParameterEvent_Immediate
                                     : (in_.flag() ? kParameterEvent_Ramped
                                                   : static_cast<AUParameterEventType>(in_.raw<UInt32>()));
            e.eventValues.ramp.startBufferOffset = in_.flag() ? in_.raw<SInt32>() : in_.byte();
            e.eventValues.ramp.durationInFrames = in_.flag() ? in_.raw<UInt32>() : in_.byte();
            e.eventValues.ramp.startValue = in_.raw<float>();
            e.eventValues.ramp.endValue = in_.raw<float>();
        }
        (void)unit_.schedule(std::span<const AudioUnitParameterEvent>(events.data(), count));
    }

    void render() {
        UInt32 channels = in_.byte() % 4 != 0 ? 2 : in_.byte() % 6;
        AudioStreamBasicDescription format{};
        if (in_.flag() && unit_.get(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, format) == noErr)
            channels = format.mChannelsPerFrame;
        UInt32 limit = 0;
        (void)unit_.get(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, limit);
        UInt32 frames = in_.below(std::min(limit, MAX_RENDER_FRAMES) + 1);
        if (in_.byte() % 16 == 0) frames = in_.below(MAX_RENDER_FRAMES + 1);
        orba::test::BufferList buffers(channels, frames, in_.byte() % 4 == 0);
        for (UInt32 c = 0; c < channels; ++c) {
            // A buffer claiming less room than the frames needs refusing.
            if (in_.byte() % 32 == 0) buffers.list()->mBuffers[c].mDataByteSize = in_.below(frames * 4 + 1);
            if (in_.byte() % 32 == 0) buffers.list()->mBuffers[c].mNumberChannels = in_.byte() % 3;
        }
        AudioUnitRenderActionFlags flags = in_.byte() % 8 == 0 ? in_.raw<UInt32>() : 0;
        AudioTimeStamp stamp = orba::test::sample_time(in_.raw<Float64>());
        if (in_.byte() % 8 == 0) stamp.mFlags = in_.raw<UInt32>();
        const UInt32 bus = in_.byte() % 8 == 0 ? in_.raw<UInt32>() : 0;
        const auto fn = unit_.lookup<orba::test::RenderFn>(kAudioUnitRenderSelect);
        (void)fn(unit_.interface(), &flags, &stamp, bus, frames, buffers.list());
    }

    void listeners() {
        const AudioUnitPropertyID id = property();
        switch (in_.byte() % 6) {
            case 0:
                (void)unit_.add_listener(id, listener, &host);
                break;
            case 1:
                (void)unit_.add_listener(id, quiet_listener, nullptr);
                break;
            case 2:
                (void)unit_.remove_listener(id, in_.flag() ? listener : quiet_listener);
                break;
            case 3:
                (void)unit_.remove_listener(id, listener, in_.flag() ? &host : nullptr);
                break;
            case 4:
                (void)unit_.add_render_notify(in_.flag() ? notify_proc : leaving_notify, &host);
                break;
            default:
                (void)unit_.remove_render_notify(in_.flag() ? notify_proc : leaving_notify, &host);
                break;
        }
    }

    void host_answers() {
        host.input_status = in_.byte() % 8 == 0 ? in_.raw<OSStatus>() : noErr;
        host.input_level = in_.byte() % 8 == 0 ? in_.raw<float>() : 0.5f;
        host.callback_status = in_.byte() % 8 == 0 ? in_.raw<OSStatus>() : noErr;
        host.beat = in_.raw<Float64>();
        host.tempo = in_.flag() ? in_.raw<Float64>() : 60.0 + in_.byte();
        host.playing = in_.byte();
        host.sample = in_.raw<Float64>();
    }

    void midi() {
        if (in_.flag()) {
            (void)unit_.midi(in_.flag() ? in_.raw<UInt32>() : 0x80u + in_.byte() % 0x80,
                             in_.byte(), in_.byte(), in_.flag() ? in_.raw<UInt32>() : in_.byte());
        } else {
            const std::span<const std::uint8_t> bytes = in_.bytes(64);
            const auto fn = unit_.lookup<orba::test::SysExFn>(kMusicDeviceSysExSelect);
            if (fn != nullptr) (void)fn(unit_.interface(), bytes.empty() ? nullptr : bytes.data(),
                                        static_cast<UInt32>(bytes.size()));
        }
    }

    Input& in_;
    AudioComponentDescription desc_;
    Unit& unit_;
    Unit& source_;
    double rate_scale_;
};

// Up to 64 host calls read from `in`.
void host_calls(Input& in, AuPlugin which, Unit& unit, Unit& source, double rate_scale = 1.0) {
    Session session(in, which, unit, source, rate_scale);
    for (int step = 0; step < 64 && !in.empty(); ++step)
        session.step();
}

template <class T>
void set_or_trap(Unit& unit, AudioUnitPropertyID id, AudioUnitScope scope, const T& value) {
    if (unit.set(id, scope, 0, value) != noErr) __builtin_trap();
}

// One unit of a shipped plug-in for the whole fuzzing process. Building and
// preparing one costs far more than an input's calls, so between inputs it is
// brought back to where it started instead: uninitialised, with no listener,
// notify, input, connection or host callbacks, its first formats, slice size
// and bypass, and its default class info. Run it with -detect_leaks=0, as
// the CLAP targets' KeptClapPlugin says.
class KeptAuUnit {
  public:
    explicit KeptAuUnit(AuPlugin which)
        : which_(which),
          unit_(orba::fuzz::au_factory(which), orba::fuzz::au_description(which)),
          source_(orba::fuzz::au_factory(AuPlugin::Probe), orba::fuzz::au_description(AuPlugin::Probe)) {
        CFPropertyListRef info = nullptr;
        if (!unit_ || !source_ || source_.initialize() != noErr ||
            unit_.get(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, input_) != noErr ||
            unit_.get(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, output_) != noErr ||
            unit_.get(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, frames_) != noErr ||
            unit_.get(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, info) != noErr) {
            __builtin_trap();
        }
        defaults_.object = info;
    }

    void run(Input& in) {
        (void)in.below(2);  // where au_host picks its unit, so corpora carry over
        host_calls(in, which_, unit_, source_, RATE_SCALE);
        if (unit_.uninitialize() != noErr) __builtin_trap();
        // A host can only take off what it knows it added; these lists
        // would otherwise grow with every input.
        orba::au::Instance& instance = *orba::au::Instance::from(unit_.interface());
        {
            std::scoped_lock lock(instance.listeners.mutex, instance.notifies.mutex);
            instance.listeners.value.clear();
            instance.notifies.value.clear();
        }
        set_or_trap(unit_, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input,
                    AURenderCallbackStruct{});
        set_or_trap(unit_, kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input,
                    AudioUnitConnection{});
        set_or_trap(unit_, kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global,
                    HostCallbackInfo{});
        set_or_trap(unit_, kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, UInt32{0});
        set_or_trap(unit_, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, input_);
        set_or_trap(unit_, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, output_);
        set_or_trap(unit_, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, frames_);
        set_or_trap(unit_, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global,
                    static_cast<CFPropertyListRef>(defaults_.object));
        if (unit_.reset() != noErr) __builtin_trap();
    }

  private:
    // As for the CLAP targets: clearing seven delay lines at the rates hosts
    // use on every Initialize and Reset would take most of an input's time.
    static constexpr double RATE_SCALE = 0.125;
    AuPlugin which_;
    Unit unit_;
    Unit source_;
    AudioStreamBasicDescription input_{}, output_{};
    UInt32 frames_ = 0;
    Cf defaults_;
};

}  // namespace
