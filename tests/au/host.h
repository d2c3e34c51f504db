#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "orba/au/sys.h"
#include "orba/core/shared_library.h"

// A small Audio Unit host for tests, written only against Apple's documented
// interface: it loads a component binary, creates instances through the
// factory the bundle names, and reaches every method through Lookup with its
// exact prototype, as the system does on a host's behalf.
namespace orba::test {

// The prototypes of the methods Lookup returns, by selector.
using InitializeFn = OSStatus (*)(void* self);
using UninitializeFn = OSStatus (*)(void* self);
using GetPropertyInfoFn = OSStatus (*)(void* self, AudioUnitPropertyID id, AudioUnitScope scope,
                                       AudioUnitElement element, UInt32* size, Boolean* writable);
using GetPropertyFn = OSStatus (*)(void* self, AudioUnitPropertyID id, AudioUnitScope scope,
                                   AudioUnitElement element, void* data, UInt32* size);
using SetPropertyFn = OSStatus (*)(void* self, AudioUnitPropertyID id, AudioUnitScope scope,
                                   AudioUnitElement element, const void* data, UInt32 size);
using GetParameterFn = OSStatus (*)(void* self, AudioUnitParameterID id, AudioUnitScope scope,
                                    AudioUnitElement element, AudioUnitParameterValue* value);
using SetParameterFn = OSStatus (*)(void* self, AudioUnitParameterID id, AudioUnitScope scope,
                                    AudioUnitElement element, AudioUnitParameterValue value,
                                    UInt32 offset);
using ResetFn = OSStatus (*)(void* self, AudioUnitScope scope, AudioUnitElement element);
using AddPropertyListenerFn = OSStatus (*)(void* self, AudioUnitPropertyID id,
                                           AudioUnitPropertyListenerProc proc, void* user_data);
using RemovePropertyListenerFn = OSStatus (*)(void* self, AudioUnitPropertyID id,
                                              AudioUnitPropertyListenerProc proc);
using RemovePropertyListenerWithUserDataFn = OSStatus (*)(void* self, AudioUnitPropertyID id,
                                                          AudioUnitPropertyListenerProc proc,
                                                          void* user_data);
using RenderFn = OSStatus (*)(void* self, AudioUnitRenderActionFlags* flags,
                              const AudioTimeStamp* time_stamp, UInt32 bus, UInt32 frames,
                              AudioBufferList* data);
using RenderNotifyFn = OSStatus (*)(void* self, AURenderCallback proc, void* ref_con);
using ScheduleParametersFn = OSStatus (*)(void* self, const AudioUnitParameterEvent* events,
                                          UInt32 count);
using MidiEventFn = OSStatus (*)(void* self, UInt32 status, UInt32 data1, UInt32 data2,
                                 UInt32 offset);
using SysExFn = OSStatus (*)(void* self, const UInt8* data, UInt32 length);

// A component binary (Contents/MacOS/<name> inside its bundle), opened the
// way hosts open it.
class Component {
  public:
    Component(const char* path, const char* factory_name) : path_(path), library_(path) {
        if (!library_.loaded()) {
            error_ = library_.error();
            return;
        }
        factory_ =
            reinterpret_cast<AudioComponentFactoryFunction>(library_.symbol(factory_name));
        if (factory_ == nullptr) error_ = std::string("no ") + factory_name;
    }
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    const std::string& error() const { return error_; }
    AudioComponentFactoryFunction factory() const { return factory_; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    SharedLibrary library_;
    AudioComponentFactoryFunction factory_ = nullptr;
    std::string error_;
};

inline AudioComponentDescription description(OSType type, OSType subtype, OSType manufacturer) {
    return AudioComponentDescription{.componentType = type,
                                     .componentSubType = subtype,
                                     .componentManufacturer = manufacturer,
                                     .componentFlags = 0,
                                     .componentFlagsMask = 0};
}

// A four-character code from its text, first character in the high byte.
inline OSType four_char(const char* code) {
    OSType value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(code[i]);
    return value;
}

// The standard Audio Unit stream format: non-interleaved 32-bit float.
inline AudioStreamBasicDescription float_format(UInt32 channels, Float64 rate = 44100.0) {
    return AudioStreamBasicDescription{
        .mSampleRate = rate,
        .mFormatID = kAudioFormatLinearPCM,
        .mFormatFlags = kAudioFormatFlagsNativeFloatPacked | kAudioFormatFlagIsNonInterleaved,
        .mBytesPerPacket = 4,
        .mFramesPerPacket = 1,
        .mBytesPerFrame = 4,
        .mChannelsPerFrame = channels,
        .mBitsPerChannel = 32,
        .mReserved = 0};
}

inline AudioUnitParameterEvent immediate_event(AudioUnitParameterID id, float value,
                                               UInt32 offset = 0) {
    AudioUnitParameterEvent event{};
    event.scope = kAudioUnitScope_Global;
    event.parameter = id;
    event.eventType = kParameterEvent_Immediate;
    event.eventValues.immediate.bufferOffset = offset;
    event.eventValues.immediate.value = value;
    return event;
}

inline AudioUnitParameterEvent ramp_event(AudioUnitParameterID id, float start, float end,
                                          UInt32 frames) {
    AudioUnitParameterEvent event{};
    event.scope = kAudioUnitScope_Global;
    event.parameter = id;
    event.eventType = kParameterEvent_Ramped;
    event.eventValues.ramp.durationInFrames = frames;
    event.eventValues.ramp.startValue = start;
    event.eventValues.ramp.endValue = end;
    return event;
}

inline AudioTimeStamp sample_time(Float64 sample) {
    AudioTimeStamp time{};
    time.mSampleTime = sample;
    time.mFlags = kAudioTimeStampSampleTimeValid;
    return time;
}

// The UTF-8 text of a CFString, or nothing when it is null or does not
// convert.
inline std::optional<std::string> cf_text(CFStringRef string) {
    if (string == nullptr) return std::nullopt;
    const CFIndex size =
        CFStringGetMaximumSizeForEncoding(CFStringGetLength(string), kCFStringEncodingUTF8) + 1;
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!CFStringGetCString(string, text.data(), size, kCFStringEncodingUTF8)) return std::nullopt;
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

// An AudioBufferList of `channels` mono buffers, allocated at its true size
// (8 + 16 per buffer) as hosts allocate it. Its samples live here unless the
// list is made with null mData, for the unit to fill in.
class BufferList {
  public:
    BufferList(UInt32 channels, UInt32 frames, bool null_data = false)
        : bytes_(offsetof(AudioBufferList, mBuffers) + channels * sizeof(AudioBuffer)),
          memory_(std::calloc(1, bytes_)),
          samples(channels, std::vector<float>(frames, 0.0f)) {
        if (memory_ == nullptr) throw std::bad_alloc();
        list()->mNumberBuffers = channels;
        for (UInt32 c = 0; c < channels; ++c) {
            AudioBuffer& buffer = list()->mBuffers[c];
            buffer.mNumberChannels = 1;
            buffer.mDataByteSize = frames * static_cast<UInt32>(sizeof(float));
            buffer.mData = null_data ? nullptr : samples[c].data();
        }
    }
    ~BufferList() { std::free(memory_); }
    BufferList(const BufferList&) = delete;
    BufferList& operator=(const BufferList&) = delete;

    AudioBufferList* list() { return static_cast<AudioBufferList*>(memory_); }
    std::size_t bytes() const { return bytes_; }
    // What buffer `c` points at now (possibly memory the unit lent).
    std::span<const float> channel(UInt32 c) {
        const AudioBuffer& buffer = list()->mBuffers[c];
        return {static_cast<const float*>(buffer.mData), buffer.mDataByteSize / sizeof(float)};
    }

  private:
    std::size_t bytes_;
    void* memory_;

  public:
    std::vector<std::vector<float>> samples;
};

// A host's render callback feeding a unit's input: each channel plays its
// `signal` from the current position on, silence after its end. Counts its
// calls and can fail with `status`.
struct Source {
    static OSStatus render(void* ref_con, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                           UInt32 bus, UInt32 frames, AudioBufferList* data) {
        auto* self = static_cast<Source*>(ref_con);
        ++self->calls;
        self->bus = bus;
        self->frames = frames;
        if (self->status != noErr) return self->status;
        for (UInt32 c = 0; c < data->mNumberBuffers; ++c) {
            auto* out = static_cast<float*>(data->mBuffers[c].mData);
            if (out == nullptr) return kAudio_ParamError;
            const std::vector<float>* in = c < self->signal.size() ? &self->signal[c] : nullptr;
            for (UInt32 i = 0; i < frames; ++i) {
                const std::size_t at = self->position + i;
                out[i] = in != nullptr && at < in->size() ? (*in)[at] : 0.0f;
            }
        }
        self->position += frames;
        return noErr;
    }
    AURenderCallbackStruct callback() { return {.inputProc = render, .inputProcRefCon = this}; }

    std::vector<std::vector<float>> signal;
    std::size_t position = 0;
    int calls = 0;
    UInt32 bus = 0;
    UInt32 frames = 0;
    OSStatus status = noErr;
};

// One instance, created by a factory and opened; closed when it goes. Opened
// by default with its own interface pointer as the AudioComponentInstance, as
// Linux hosts do; a test may pass any other handle instead.
class Unit {
  public:
    Unit(AudioComponentFactoryFunction factory, const AudioComponentDescription& desc,
         AudioComponentInstance handle = nullptr)
        : interface_(factory != nullptr ? factory(&desc) : nullptr) {
        if (interface_ == nullptr) return;
        handle_ = handle != nullptr ? handle : reinterpret_cast<AudioComponentInstance>(interface_);
        open_status_ = interface_->Open(interface_, handle_);
    }
    ~Unit() {
        if (interface_ != nullptr) interface_->Close(interface_);
    }
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    explicit operator bool() const { return interface_ != nullptr && open_status_ == noErr; }
    AudioComponentPlugInInterface* interface() const { return interface_; }
    // The handle Open was given: what listeners must receive as their unit.
    AudioComponentInstance handle() const { return handle_; }

    template <class Fn>
    Fn lookup(SInt16 selector) const {
        return reinterpret_cast<Fn>(interface_->Lookup(selector));
    }

    OSStatus initialize() { return call<InitializeFn>(kAudioUnitInitializeSelect); }
    OSStatus uninitialize() { return call<UninitializeFn>(kAudioUnitUninitializeSelect); }
    OSStatus reset(AudioUnitScope scope = kAudioUnitScope_Global, AudioUnitElement element = 0) {
        return call<ResetFn>(kAudioUnitResetSelect, scope, element);
    }

    OSStatus property_info(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                           UInt32* size, Boolean* writable) {
        return call<GetPropertyInfoFn>(kAudioUnitGetPropertyInfoSelect, id, scope, element, size,
                                       writable);
    }
    template <class T>
    OSStatus get(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, T& value) {
        UInt32 size = sizeof(T);
        return call<GetPropertyFn>(kAudioUnitGetPropertySelect, id, scope, element, &value, &size);
    }
    // An array property, sized by GetPropertyInfo first as hosts do.
    template <class T>
    OSStatus get_array(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       std::vector<T>& values) {
        UInt32 size = 0;
        if (OSStatus status = property_info(id, scope, element, &size, nullptr); status != noErr)
            return status;
        values.assign(size / sizeof(T), T{});
        const OSStatus status = call<GetPropertyFn>(kAudioUnitGetPropertySelect, id, scope, element,
                                                    values.data(), &size);
        values.resize(size / sizeof(T));
        return status;
    }
    template <class T>
    OSStatus set(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                 const T& value) {
        return call<SetPropertyFn>(kAudioUnitSetPropertySelect, id, scope, element, &value,
                                   static_cast<UInt32>(sizeof(T)));
    }
    OSStatus set_format(AudioUnitScope scope, UInt32 channels, Float64 rate = 44100.0) {
        return set(kAudioUnitProperty_StreamFormat, scope, 0, float_format(channels, rate));
    }
    OSStatus set_input(Source& source) {
        return set(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                   source.callback());
    }

    OSStatus get_parameter(AudioUnitParameterID id, AudioUnitParameterValue& value,
                           AudioUnitScope scope = kAudioUnitScope_Global,
                           AudioUnitElement element = 0) {
        return call<GetParameterFn>(kAudioUnitGetParameterSelect, id, scope, element, &value);
    }
    // The value of a global parameter, or nothing when the unit refuses.
    std::optional<float> parameter(AudioUnitParameterID id) {
        AudioUnitParameterValue value = 0.0f;
        if (get_parameter(id, value) != noErr) return std::nullopt;
        return value;
    }
    OSStatus set_parameter(AudioUnitParameterID id, AudioUnitParameterValue value,
                           AudioUnitScope scope = kAudioUnitScope_Global,
                           AudioUnitElement element = 0, UInt32 offset = 0) {
        return call<SetParameterFn>(kAudioUnitSetParameterSelect, id, scope, element, value,
                                    offset);
    }
    OSStatus schedule(std::span<const AudioUnitParameterEvent> events) {
        return call<ScheduleParametersFn>(kAudioUnitScheduleParametersSelect, events.data(),
                                          static_cast<UInt32>(events.size()));
    }

    OSStatus add_listener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                          void* user_data) {
        return call<AddPropertyListenerFn>(kAudioUnitAddPropertyListenerSelect, id, proc,
                                           user_data);
    }
    OSStatus remove_listener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc) {
        return call<RemovePropertyListenerFn>(kAudioUnitRemovePropertyListenerSelect, id, proc);
    }
    OSStatus remove_listener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                             void* user_data) {
        return call<RemovePropertyListenerWithUserDataFn>(
            kAudioUnitRemovePropertyListenerWithUserDataSelect, id, proc, user_data);
    }

    OSStatus add_render_notify(AURenderCallback proc, void* ref_con) {
        return call<RenderNotifyFn>(kAudioUnitAddRenderNotifySelect, proc, ref_con);
    }
    OSStatus remove_render_notify(AURenderCallback proc, void* ref_con) {
        return call<RenderNotifyFn>(kAudioUnitRemoveRenderNotifySelect, proc, ref_con);
    }

    // One render of `frames` at sample time `time` into `data`, bus 0.
    OSStatus render(UInt32 frames, AudioBufferList* data, Float64 time = 0.0,
                    AudioUnitRenderActionFlags* flags = nullptr) {
        AudioUnitRenderActionFlags none = 0;
        const AudioTimeStamp stamp = sample_time(time);
        return call<RenderFn>(kAudioUnitRenderSelect, flags != nullptr ? flags : &none, &stamp,
                              UInt32{0}, frames, data);
    }

    OSStatus midi(UInt32 status, UInt32 data1, UInt32 data2, UInt32 offset = 0) {
        return call<MidiEventFn>(kMusicDeviceMIDIEventSelect, status, data1, data2, offset);
    }

  private:
    // Through Lookup every time, as the system does per host call; a
    // selector the unit does not serve gives kAudio_UnimplementedError.
    template <class Fn, class... Args>
    OSStatus call(SInt16 selector, Args... args) {
        const Fn method = lookup<Fn>(selector);
        if (method == nullptr) return kAudio_UnimplementedError;
        return method(interface_, args...);
    }

    AudioComponentPlugInInterface* interface_;
    AudioComponentInstance handle_ = nullptr;
    OSStatus open_status_ = kAudio_ParamError;
};

// The text of the Info.plist in the bundle around a component binary
// (<name>.component/Contents/MacOS/<name>), or nothing without one.
inline std::optional<std::string> bundle_info_plist(const std::string& binary) {
    const std::filesystem::path plist =
        std::filesystem::path(binary).parent_path().parent_path() / "Info.plist";
    std::ifstream in(plist);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace orba::test
