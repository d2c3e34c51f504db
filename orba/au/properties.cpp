#include "orba/au/wrapper.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>
#include <mutex>

#include "orba/core/state.h"

namespace orba::au {
namespace {

// Which scopes and elements a property answers. The checks run in the order
// of the bits: scope, then element or parameter id, then the instrument rule.
enum Rule : unsigned {
    GLOBAL = 1u << 0,
    INPUT_OR_OUTPUT = 1u << 1,
    INPUT = 1u << 2,
    // Global, Input or Output, any element.
    PLAIN_SCOPES = 1u << 3,
    ELEMENT_0 = 1u << 4,
    // The element is a parameter id, and with CHOICE, one of a Choice parameter.
    PARAMETER = 1u << 5,
    CHOICE = 1u << 6,
    // An instrument has no input, so its Input scope has no element 0 either.
    NOT_INSTRUMENT_INPUT = 1u << 7,
};

struct Row {
    AudioUnitPropertyID id;
    unsigned rules;
    UInt32 size;  // 0 for the lists, whose size the instance decides
    bool writable;
};

constexpr Row ROWS[] = {
    {kAudioUnitProperty_ClassInfo, GLOBAL | ELEMENT_0, sizeof(CFPropertyListRef), true},
    {kAudioUnitProperty_MakeConnection, INPUT | ELEMENT_0 | NOT_INSTRUMENT_INPUT,
     sizeof(AudioUnitConnection), true},
    {kAudioUnitProperty_SampleRate, INPUT_OR_OUTPUT | ELEMENT_0 | NOT_INSTRUMENT_INPUT,
     sizeof(Float64), true},
    {kAudioUnitProperty_ParameterList, 0, 0, false},
    {kAudioUnitProperty_ParameterInfo, GLOBAL | PARAMETER, sizeof(AudioUnitParameterInfo), false},
    {kAudioUnitProperty_StreamFormat, INPUT_OR_OUTPUT | ELEMENT_0 | NOT_INSTRUMENT_INPUT,
     sizeof(AudioStreamBasicDescription), true},
    {kAudioUnitProperty_ElementCount, PLAIN_SCOPES, sizeof(UInt32), false},
    {kAudioUnitProperty_Latency, GLOBAL | ELEMENT_0, sizeof(Float64), false},
    {kAudioUnitProperty_SupportedNumChannels, GLOBAL | ELEMENT_0, 0, false},
    {kAudioUnitProperty_MaximumFramesPerSlice, GLOBAL | ELEMENT_0, sizeof(UInt32), true},
    {kAudioUnitProperty_ParameterValueStrings, GLOBAL | PARAMETER | CHOICE, sizeof(CFArrayRef),
     false},
    {kAudioUnitProperty_TailTime, GLOBAL | ELEMENT_0, sizeof(Float64), false},
    {kAudioUnitProperty_BypassEffect, GLOBAL | ELEMENT_0, sizeof(UInt32), true},
    {kAudioUnitProperty_LastRenderError, GLOBAL | ELEMENT_0, sizeof(OSStatus), true},
    {kAudioUnitProperty_SetRenderCallback, INPUT | ELEMENT_0 | NOT_INSTRUMENT_INPUT,
     sizeof(AURenderCallbackStruct), true},
    {kAudioUnitProperty_HostCallbacks, GLOBAL | ELEMENT_0, sizeof(HostCallbackInfo), true},
    {kAudioUnitProperty_InPlaceProcessing, GLOBAL | ELEMENT_0, sizeof(UInt32), true},
    {kAudioUnitProperty_ParameterStringFromValue, GLOBAL | ELEMENT_0,
     sizeof(AudioUnitParameterStringFromValue), false},
    {kAudioUnitProperty_ParameterIDName, GLOBAL | ELEMENT_0, sizeof(AudioUnitParameterIDName),
     false},
    {kAudioUnitProperty_PresentPreset, GLOBAL | ELEMENT_0, sizeof(AUPreset), true},
    {kAudioUnitProperty_ParameterValueFromString, GLOBAL | ELEMENT_0,
     sizeof(AudioUnitParameterValueFromString), false},
    {kAudioUnitProperty_ShouldAllocateBuffer, INPUT_OR_OUTPUT | ELEMENT_0 | NOT_INSTRUMENT_INPUT,
     sizeof(UInt32), true},
};

struct Found {
    OSStatus status;
    UInt32 size;
    bool writable;
};

constexpr Found refused(OSStatus status) {
    return Found{status, 0, false};
}

bool scope_allowed(unsigned rules, AudioUnitScope scope) {
    const bool global = scope == kAudioUnitScope_Global;
    const bool input = scope == kAudioUnitScope_Input;
    const bool output = scope == kAudioUnitScope_Output;
    if ((rules & GLOBAL) != 0) return global;
    if ((rules & INPUT_OR_OUTPUT) != 0) return input || output;
    if ((rules & INPUT) != 0) return input;
    if ((rules & PLAIN_SCOPES) != 0) return global || input || output;
    return true;
}

Found find(const Instance& unit, AudioUnitPropertyID id, AudioUnitScope scope,
           AudioUnitElement element) {
    const Row* row =
        std::find_if(std::begin(ROWS), std::end(ROWS), [id](const Row& r) { return r.id == id; });
    if (row == std::end(ROWS)) return refused(kAudioUnitErr_InvalidProperty);
    const unsigned rules = row->rules;
    if (!scope_allowed(rules, scope)) return refused(kAudioUnitErr_InvalidScope);
    if ((rules & ELEMENT_0) != 0 && element != 0) return refused(kAudioUnitErr_InvalidElement);
    if ((rules & PARAMETER) != 0) {
        const std::optional<Target> target = unit.decode(element);
        if (!target) return refused(kAudioUnitErr_InvalidParameter);
        if ((rules & CHOICE) != 0 &&
            unit.params->at(target->index).info().kind != ParamKind::Choice) {
            return refused(kAudioUnitErr_InvalidProperty);
        }
    }
    if ((rules & NOT_INSTRUMENT_INPUT) != 0 && unit.instrument && scope == kAudioUnitScope_Input) {
        return refused(kAudioUnitErr_InvalidElement);
    }
    UInt32 size = row->size;
    if (id == kAudioUnitProperty_ParameterList) {
        size = scope == kAudioUnitScope_Global
                   ? static_cast<UInt32>(unit.param_ids().size() * sizeof(AudioUnitParameterID))
                   : 0;
    } else if (id == kAudioUnitProperty_SupportedNumChannels) {
        size = static_cast<UInt32>(unit.channel_infos().size() * sizeof(AUChannelInfo));
    }
    return Found{noErr, size, row->writable};
}

// The host's buffers carry no alignment promise, so values go in and out
// byte by byte.
template <class T>
T take(const void* data) {
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

template <class T>
void put(void* data, const T& value) {
    std::memcpy(data, &value, sizeof value);
}

// Releases a CF object the wrapper made for its own use.
class Owned {
  public:
    explicit Owned(CFTypeRef object) : object_(object) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() {
        if (object_ != nullptr) CFRelease(object_);
    }
    CFTypeRef get() const { return object_; }

  private:
    CFTypeRef object_;
};

CFTypeRef value_at(CFDictionaryRef dictionary, std::string_view key) {
    const Owned name(sys::cf_string(key));
    return CFDictionaryGetValue(dictionary, name.get());
}

std::optional<SInt32> sint32_at(CFDictionaryRef dictionary, std::string_view key) {
    const CFTypeRef value = value_at(dictionary, key);
    if (value == nullptr || CFGetTypeID(value) != CFNumberGetTypeID()) return std::nullopt;
    SInt32 number = 0;
    if (!CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &number)) {
        return std::nullopt;
    }
    return number;
}

// Four-character codes travel as signed 32-bit numbers.
CFNumberRef new_number(UInt32 code) {
    const auto value = static_cast<SInt32>(code);
    return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value);
}

// "Feedback", or "Feedback 2" for channel 1 of a per-channel parameter.
std::string param_name(const ParamInfo& info, const Target& target) {
    std::string name(info.name);
    if (target.per_channel) {
        std::array<char, 16> digits{};
        const auto end =
            std::to_chars(digits.data(), digits.data() + digits.size(), target.channel + 1).ptr;
        name += ' ';
        name.append(digits.data(), end);
    }
    return name;
}

// The longest start of the text of at most `limit` bytes that does not split
// a UTF-8 character.
std::string_view cut_utf8(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return text.substr(0, n);
}

AudioUnitParameterUnit unit_of(const ParamInfo& info) {
    if (info.kind == ParamKind::Choice) return kAudioUnitParameterUnit_Indexed;
    if (info.kind == ParamKind::Toggle) return kAudioUnitParameterUnit_Boolean;
    if (info.unit == "%") return kAudioUnitParameterUnit_Percent;
    if (info.unit == "s") return kAudioUnitParameterUnit_Seconds;
    if (info.unit == "dB") return kAudioUnitParameterUnit_Decibels;
    if (info.unit == "Hz") return kAudioUnitParameterUnit_Hertz;
    if (info.unit == "ms") return kAudioUnitParameterUnit_Milliseconds;
    return kAudioUnitParameterUnit_Generic;
}

AudioUnitParameterOptions flags_of(const ParamInfo& info) {
    AudioUnitParameterOptions flags = kAudioUnitParameterFlag_IsReadable |
                                      kAudioUnitParameterFlag_HasCFNameString |
                                      kAudioUnitParameterFlag_CFNameRelease;
    if (info.kind == ParamKind::Meter) {
        flags |= kAudioUnitParameterFlag_MeterReadOnly;
    } else {
        flags |= kAudioUnitParameterFlag_IsWritable;
    }
    if (info.kind == ParamKind::Choice) flags |= kAudioUnitParameterFlag_ValuesHaveStrings;
    if (info.log) flags |= kAudioUnitParameterFlag_DisplayLogarithmic;
    return flags;
}

AudioUnitParameterInfo parameter_info(const ParamInfo& info, const Target& target) {
    AudioUnitParameterInfo out;
    std::memset(&out, 0, sizeof out);
    const std::string name = param_name(info, target);
    const std::string_view cut = cut_utf8(name, sizeof out.name - 1);
    std::memcpy(out.name, cut.data(), cut.size());
    out.cfNameString = sys::cf_string(name);
    out.unit = unit_of(info);
    out.minValue = info.min;
    out.maxValue = info.max;
    out.defaultValue = info.default_value;
    out.flags = flags_of(info);
    return out;
}

CFArrayRef value_strings(const ParamInfo& info) {
    std::vector<CFTypeRef> strings;
    strings.reserve(info.choices.size());
    for (std::string_view choice : info.choices)
        strings.push_back(sys::cf_string(choice));
    const CFArrayRef array =
        CFArrayCreate(kCFAllocatorDefault, strings.data(), static_cast<CFIndex>(strings.size()),
                      &kCFTypeArrayCallBacks);
    for (CFTypeRef string : strings)
        CFRelease(string);
    return array;
}

std::string name_of(Locked<std::string>& preset_name) {
    std::lock_guard lock(preset_name.mutex);
    return preset_name.value;
}

CFMutableDictionaryRef class_info(Instance& unit) {
    CFMutableDictionaryRef dictionary = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    const auto add = [dictionary](std::string_view key, CFTypeRef value) {
        const Owned name(sys::cf_string(key));
        const Owned owned(value);
        CFDictionarySetValue(dictionary, name.get(), owned.get());
    };
    add("version", new_number(0));
    add("type", new_number(unit.desc.componentType));
    add("subtype", new_number(unit.desc.componentSubType));
    add("manufacturer", new_number(unit.desc.componentManufacturer));
    add("name", sys::cf_string(name_of(unit.preset_name)));
    const std::vector<std::uint8_t> bytes = state::save(*unit.params);
    add("data",
        CFDataCreate(kCFAllocatorDefault, bytes.data(), static_cast<CFIndex>(bytes.size())));
    return dictionary;
}

template <class T>
std::optional<T> read_locked(Locked<std::optional<T>>& field) {
    std::lock_guard lock(field.mutex);
    return field.value;
}

template <class T>
void write_locked(Locked<std::optional<T>>& field, std::optional<T> value) {
    std::lock_guard lock(field.mutex);
    field.value = value;
}

// Fills the data of a property `find` accepted; `size` comes in as the
// caller's room and goes out as the bytes written.
OSStatus read_property(Instance& unit, AudioUnitPropertyID id, AudioUnitScope scope, void* data,
                       UInt32& size) {
    switch (id) {
        case kAudioUnitProperty_ClassInfo:
            put<CFPropertyListRef>(data, class_info(unit));
            break;
        case kAudioUnitProperty_MakeConnection: {
            const std::optional<Connection> connection = read_locked(unit.connection);
            AudioUnitConnection out{};
            if (connection) {
                out.sourceAudioUnit = connection->source;
                out.sourceOutputNumber = connection->output;
            }
            put(data, out);
            break;
        }
        case kAudioUnitProperty_SampleRate:
            put<Float64>(data, unit.sample_rate.load());
            break;
        case kAudioUnitProperty_ParameterList: {
            if (scope != kAudioUnitScope_Global) {
                size = 0;
                return noErr;
            }
            // Read again: the channel count may have moved since the size was
            // reported.
            const std::vector<AudioUnitParameterID> ids = unit.param_ids();
            const auto bytes = static_cast<UInt32>(ids.size() * sizeof(AudioUnitParameterID));
            if (bytes > size) return kAudioUnitErr_InvalidPropertyValue;
            std::memcpy(data, ids.data(), bytes);
            size = bytes;
            return noErr;
        }
        case kAudioUnitProperty_StreamFormat: {
            AudioStreamBasicDescription format{};
            format.mSampleRate = unit.sample_rate.load();
            format.mFormatID = kAudioFormatLinearPCM;
            format.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked |
                                  kAudioFormatFlagIsNonInterleaved;
            format.mBytesPerPacket = 4;
            format.mFramesPerPacket = 1;
            format.mBytesPerFrame = 4;
            format.mChannelsPerFrame = scope == kAudioUnitScope_Input ? unit.input_channels.load()
                                                                      : unit.output_channels.load();
            format.mBitsPerChannel = 32;
            put(data, format);
            break;
        }
        case kAudioUnitProperty_ElementCount:
            put<UInt32>(data, unit.instrument && scope == kAudioUnitScope_Input ? 0 : 1);
            break;
        case kAudioUnitProperty_Latency:
            put<Float64>(data, unit.latency.load() / unit.sample_rate.load());
            break;
        case kAudioUnitProperty_SupportedNumChannels: {
            const std::vector<AUChannelInfo> infos = unit.channel_infos();
            std::memcpy(data, infos.data(), infos.size() * sizeof(AUChannelInfo));
            break;
        }
        case kAudioUnitProperty_MaximumFramesPerSlice:
            put<UInt32>(data, unit.max_frames.load());
            break;
        case kAudioUnitProperty_TailTime:
            put<Float64>(data, unit.tail.load() / unit.sample_rate.load());
            break;
        case kAudioUnitProperty_BypassEffect:
            put<UInt32>(data, unit.bypass.load() ? 1 : 0);
            break;
        case kAudioUnitProperty_LastRenderError:
            put<OSStatus>(data, unit.last_render_error.load());
            break;
        case kAudioUnitProperty_SetRenderCallback: {
            const std::optional<RenderInput> input = read_locked(unit.render_input);
            AURenderCallbackStruct out{};
            if (input) {
                out.inputProc = input->proc;
                out.inputProcRefCon = input->ref_con;
            }
            put(data, out);
            break;
        }
        case kAudioUnitProperty_HostCallbacks:
            put(data, read_locked(unit.host_callbacks).value_or(HostCallbackInfo{}));
            break;
        case kAudioUnitProperty_InPlaceProcessing:
            put<UInt32>(data, unit.instrument ? 0 : 1);
            break;
        case kAudioUnitProperty_PresentPreset: {
            AUPreset preset{};
            preset.presetNumber = unit.preset_number.load();
            preset.presetName = sys::cf_string(name_of(unit.preset_name));
            put(data, preset);
            break;
        }
        case kAudioUnitProperty_ShouldAllocateBuffer:
            put<UInt32>(data, 1);
            break;
        default:
            return kAudioUnitErr_InvalidProperty;
    }
    return noErr;
}

// The properties whose element, or whose data, names a parameter.
OSStatus read_parameter_property(Instance& unit, AudioUnitPropertyID id, AudioUnitElement element,
                                 void* data) {
    switch (id) {
        case kAudioUnitProperty_ParameterInfo:
        case kAudioUnitProperty_ParameterValueStrings: {
            const std::optional<Target> target = unit.decode(element);
            if (!target) return kAudioUnitErr_InvalidParameter;
            const ParamInfo& info = unit.params->at(target->index).info();
            if (id == kAudioUnitProperty_ParameterInfo) {
                put(data, parameter_info(info, *target));
            } else {
                if (info.kind != ParamKind::Choice) return kAudioUnitErr_InvalidProperty;
                put(data, value_strings(info));
            }
            return noErr;
        }
        case kAudioUnitProperty_ParameterStringFromValue: {
            auto request = take<AudioUnitParameterStringFromValue>(data);
            const std::optional<Target> target = unit.decode(request.inParamID);
            if (!target) return kAudioUnitErr_InvalidParameter;
            const Param& param = unit.params->at(target->index);
            float value = 0.0f;
            if (request.inValue != nullptr) {
                value = *request.inValue;
            } else {
                value = target->per_channel ? param.get_ch(target->channel) : param.get();
            }
            request.outString = sys::cf_string(param.info().display(value));
            put(data, request);
            return noErr;
        }
        case kAudioUnitProperty_ParameterIDName: {
            auto request = take<AudioUnitParameterIDName>(data);
            const std::optional<Target> target = unit.decode(request.inID);
            if (!target) return kAudioUnitErr_InvalidParameter;
            const std::string name = param_name(unit.params->at(target->index).info(), *target);
            std::string_view shown = name;
            if (request.inDesiredLength > 0) {
                shown = cut_utf8(name, static_cast<std::size_t>(request.inDesiredLength));
            }
            request.outName = sys::cf_string(shown);
            put(data, request);
            return noErr;
        }
        case kAudioUnitProperty_ParameterValueFromString: {
            auto request = take<AudioUnitParameterValueFromString>(data);
            const std::optional<Target> target = unit.decode(request.inParamID);
            if (!target) return kAudioUnitErr_InvalidParameter;
            const std::optional<std::string> text = sys::string_from_cf(request.inString);
            if (!text) return kAudioUnitErr_InvalidPropertyValue;
            const std::optional<float> value =
                parse_value(unit.params->at(target->index).info(), *text);
            if (!value) return kAudioUnitErr_InvalidPropertyValue;
            request.outValue = *value;
            put(data, request);
            return noErr;
        }
        default:
            return kAudioUnitErr_InvalidProperty;
    }
}

bool is_parameter_property(AudioUnitPropertyID id) {
    return id == kAudioUnitProperty_ParameterInfo ||
           id == kAudioUnitProperty_ParameterValueStrings ||
           id == kAudioUnitProperty_ParameterStringFromValue ||
           id == kAudioUnitProperty_ParameterIDName ||
           id == kAudioUnitProperty_ParameterValueFromString;
}

}  // namespace

std::optional<Format> accept_format(const AudioStreamBasicDescription& format,
                                    std::uint32_t min_channels, std::uint32_t max_channels) {
    constexpr AudioFormatFlags REQUIRED =
        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    const bool samples = format.mFormatID == kAudioFormatLinearPCM &&
                         (format.mFormatFlags & REQUIRED) == REQUIRED &&
                         format.mBitsPerChannel == 32 && format.mBytesPerFrame == 4 &&
                         format.mBytesPerPacket == 4 && format.mFramesPerPacket == 1;
    const bool channels =
        format.mChannelsPerFrame >= min_channels && format.mChannelsPerFrame <= max_channels;
    // Written so that NaN fails too.
    const bool rate = std::isfinite(format.mSampleRate) && format.mSampleRate > 0.0 &&
                      format.mSampleRate <= MAX_SAMPLE_RATE;
    if (!samples || !channels || !rate) return std::nullopt;
    return Format{.channels = format.mChannelsPerFrame, .sample_rate = format.mSampleRate};
}

std::vector<AUChannelInfo> Instance::channel_infos() const {
    std::vector<AUChannelInfo> infos;
    const auto add = [&infos](std::uint32_t in, std::uint32_t out) {
        infos.push_back(AUChannelInfo{static_cast<SInt16>(in), static_cast<SInt16>(out)});
    };
    if (instrument) {
        for (std::uint32_t n = min_channels; n <= std::min<std::uint32_t>(max_channels, 16); ++n)
            add(0, n);
    } else if (min_channels == 1 && max_channels >= MAX_CHANNELS) {
        infos.push_back(AUChannelInfo{-1, -1});
    } else {
        for (std::uint32_t n = min_channels; n <= max_channels; ++n)
            add(n, n);
    }
    return infos;
}

OSStatus Instance::get_property_info(AudioUnitPropertyID id, AudioUnitScope scope,
                                     AudioUnitElement element, UInt32* size,
                                     Boolean* writable) noexcept {
    const Found found = find(*this, id, scope, element);
    if (found.status != noErr) return found.status;
    if (size != nullptr) *size = found.size;
    if (writable != nullptr) *writable = found.writable ? 1 : 0;
    return noErr;
}

OSStatus Instance::get_property(AudioUnitPropertyID id, AudioUnitScope scope,
                                AudioUnitElement element, void* data, UInt32* size) noexcept {
    if (size == nullptr) return kAudio_ParamError;
    const Found found = find(*this, id, scope, element);
    if (found.status != noErr) return found.status;
    if (data == nullptr) {
        *size = found.size;
        return noErr;
    }
    if (*size < found.size) return kAudioUnitErr_InvalidPropertyValue;
    if (is_parameter_property(id)) {
        const OSStatus status = read_parameter_property(*this, id, element, data);
        if (status == noErr) *size = found.size;
        return status;
    }
    UInt32 written = id == kAudioUnitProperty_ParameterList ? *size : found.size;
    const OSStatus status = read_property(*this, id, scope, data, written);
    if (status == noErr) *size = written;
    return status;
}

OSStatus Instance::set_property(AudioUnitPropertyID id, AudioUnitScope scope,
                                AudioUnitElement element, const void* data, UInt32 size) noexcept {
    const Found found = find(*this, id, scope, element);
    if (found.status != noErr) return found.status;
    if (!found.writable) return kAudioUnitErr_PropertyNotWritable;
    if (data == nullptr || size != found.size) return kAudioUnitErr_InvalidPropertyValue;
    switch (id) {
        case kAudioUnitProperty_ClassInfo: {
            // The dictionary stays the host's: read, never released.
            const OSStatus status = apply_class_info(take<CFPropertyListRef>(data));
            if (status != noErr) return status;
            break;
        }
        case kAudioUnitProperty_MakeConnection: {
            const auto connection_in = take<AudioUnitConnection>(data);
            if (connection_in.sourceAudioUnit == nullptr) {
                write_locked<Connection>(connection, std::nullopt);
            } else {
                write_locked(connection, std::optional(Connection{
                                             .source = connection_in.sourceAudioUnit,
                                             .output = connection_in.sourceOutputNumber,
                                         }));
                write_locked<RenderInput>(render_input, std::nullopt);
            }
            break;
        }
        case kAudioUnitProperty_SampleRate: {
            if (is_initialized()) return kAudioUnitErr_Initialized;
            const auto rate = take<Float64>(data);
            if (!(std::isfinite(rate) && rate > 0.0 && rate <= MAX_SAMPLE_RATE)) {
                return kAudioUnitErr_InvalidPropertyValue;
            }
            sample_rate.store(rate);
            notify(kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 0);
            notify(kAudioUnitProperty_SampleRate, kAudioUnitScope_Output, 0);
            notify(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0);
            notify(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0);
            return noErr;
        }
        case kAudioUnitProperty_StreamFormat: {
            if (is_initialized()) return kAudioUnitErr_Initialized;
            const std::optional<Format> format =
                accept_format(take<AudioStreamBasicDescription>(data), min_channels, max_channels);
            if (!format) return kAudioUnitErr_FormatNotSupported;
            bool list_changed = false;
            if (scope == kAudioUnitScope_Input) {
                input_channels.store(format->channels);
            } else {
                output_channels.store(format->channels);
                const std::size_t before = params->channels();
                if (format->channels != before) {
                    params->set_channels(format->channels);
                    list_changed = params->channels() != before;
                }
            }
            sample_rate.store(format->sample_rate);
            notify(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0);
            notify(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0);
            if (list_changed) notify(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0);
            return noErr;
        }
        case kAudioUnitProperty_MaximumFramesPerSlice: {
            if (is_initialized()) return kAudioUnitErr_Initialized;
            const auto frames = take<UInt32>(data);
            if (frames < 1 || frames > MAX_FRAMES_PER_SLICE) {
                return kAudioUnitErr_InvalidPropertyValue;
            }
            max_frames.store(frames);
            break;
        }
        case kAudioUnitProperty_BypassEffect:
            bypass.store(take<UInt32>(data) != 0);
            break;
        case kAudioUnitProperty_LastRenderError:
            last_render_error.store(take<OSStatus>(data));
            break;
        case kAudioUnitProperty_SetRenderCallback: {
            const auto callback = take<AURenderCallbackStruct>(data);
            if (callback.inputProc == nullptr) {
                write_locked<RenderInput>(render_input, std::nullopt);
            } else {
                write_locked(render_input, std::optional(RenderInput{
                                               .proc = callback.inputProc,
                                               .ref_con = callback.inputProcRefCon,
                                           }));
                write_locked<Connection>(connection, std::nullopt);
            }
            break;
        }
        case kAudioUnitProperty_HostCallbacks: {
            // Render asks only for transport and tempo; without either the
            // host has nothing to tell.
            const auto callbacks = take<HostCallbackInfo>(data);
            const bool useful =
                callbacks.beatAndTempoProc != nullptr || callbacks.transportStateProc != nullptr;
            write_locked(host_callbacks, useful ? std::optional(callbacks) : std::nullopt);
            break;
        }
        case kAudioUnitProperty_PresentPreset: {
            // The name stays the host's: read, never released.
            const auto preset = take<AUPreset>(data);
            preset_number.store(preset.presetNumber);
            if (std::optional<std::string> name = sys::string_from_cf(preset.presetName)) {
                std::lock_guard lock(preset_name.mutex);
                preset_name.value = std::move(*name);
            }
            break;
        }
        case kAudioUnitProperty_InPlaceProcessing:
        case kAudioUnitProperty_ShouldAllocateBuffer:
            break;
        default:
            return kAudioUnitErr_PropertyNotWritable;
    }
    notify(id, scope, element);
    return noErr;
}

OSStatus Instance::apply_class_info(CFPropertyListRef info) noexcept {
    if (info == nullptr || CFGetTypeID(info) != CFDictionaryGetTypeID()) {
        return kAudioUnitErr_InvalidPropertyValue;
    }
    const auto dictionary = static_cast<CFDictionaryRef>(info);
    const auto is = [dictionary](std::string_view key, UInt32 code) {
        const std::optional<SInt32> value = sint32_at(dictionary, key);
        return value && static_cast<UInt32>(*value) == code;
    };
    if (!is("type", desc.componentType) || !is("subtype", desc.componentSubType) ||
        !is("manufacturer", desc.componentManufacturer)) {
        return kAudioUnitErr_InvalidPropertyValue;
    }
    if (std::optional<std::string> name = sys::string_from_cf(value_at(dictionary, "name"))) {
        std::lock_guard lock(preset_name.mutex);
        preset_name.value = std::move(*name);
    }
    const CFTypeRef data = value_at(dictionary, "data");
    if (data == nullptr) return noErr;
    if (CFGetTypeID(data) != CFDataGetTypeID()) return kAudioUnitErr_InvalidPropertyValue;
    const auto bytes = static_cast<CFDataRef>(data);
    const CFIndex length = CFDataGetLength(bytes);
    const UInt8* first = CFDataGetBytePtr(bytes);
    if (length < 0 || (first == nullptr && length > 0)) return kAudioUnitErr_InvalidPropertyValue;
    const std::span<const std::uint8_t> block(first, static_cast<std::size_t>(length));
    if (!state::load(*params, block)) return kAudioUnitErr_InvalidPropertyValue;
    return noErr;
}

}  // namespace orba::au
