#include "orba/au/wrapper.h"

#include <algorithm>

namespace orba::au {
namespace {

// The selector functions hosts reach through Lookup. Each has exactly Apple's
// fixed prototype (a variadic definition would read garbage on arm64, where
// variadic arguments travel on the stack), finds the instance and forwards.

OSStatus initialize(void* self) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->initialize() : kAudio_ParamError;
}

OSStatus uninitialize(void* self) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->uninitialize() : kAudio_ParamError;
}

OSStatus get_property_info(void* self, AudioUnitPropertyID id, AudioUnitScope scope,
                           AudioUnitElement element, UInt32* size, Boolean* writable) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->get_property_info(id, scope, element, size, writable)
                           : kAudio_ParamError;
}

OSStatus get_property(void* self, AudioUnitPropertyID id, AudioUnitScope scope,
                      AudioUnitElement element, void* data, UInt32* size) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->get_property(id, scope, element, data, size)
                           : kAudio_ParamError;
}

OSStatus set_property(void* self, AudioUnitPropertyID id, AudioUnitScope scope,
                      AudioUnitElement element, const void* data, UInt32 size) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->set_property(id, scope, element, data, size)
                           : kAudio_ParamError;
}

OSStatus get_parameter(void* self, AudioUnitParameterID id, AudioUnitScope scope,
                       AudioUnitElement element, AudioUnitParameterValue* value) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->get_parameter(id, scope, element, value) : kAudio_ParamError;
}

OSStatus set_parameter(void* self, AudioUnitParameterID id, AudioUnitScope scope,
                       AudioUnitElement element, AudioUnitParameterValue value, UInt32 offset) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->set_parameter(id, scope, element, value, offset)
                           : kAudio_ParamError;
}

OSStatus reset(void* self, AudioUnitScope, AudioUnitElement) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->reset() : kAudio_ParamError;
}

OSStatus add_property_listener(void* self, AudioUnitPropertyID id,
                               AudioUnitPropertyListenerProc proc, void* user_data) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->add_property_listener(id, proc, user_data) : kAudio_ParamError;
}

OSStatus remove_property_listener(void* self, AudioUnitPropertyID id,
                                  AudioUnitPropertyListenerProc proc) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->remove_property_listener(id, proc) : kAudio_ParamError;
}

OSStatus render(void* self, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time_stamp,
                UInt32 bus, UInt32 frames, AudioBufferList* data) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->render(flags, time_stamp, bus, frames, data)
                           : kAudio_ParamError;
}

OSStatus add_render_notify(void* self, AURenderCallback proc, void* ref_con) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->add_render_notify(proc, ref_con) : kAudio_ParamError;
}

OSStatus remove_render_notify(void* self, AURenderCallback proc, void* ref_con) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->remove_render_notify(proc, ref_con) : kAudio_ParamError;
}

OSStatus schedule_parameters(void* self, const AudioUnitParameterEvent* events, UInt32 count) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->schedule_parameters(events, count) : kAudio_ParamError;
}

OSStatus remove_property_listener_with_user_data(void* self, AudioUnitPropertyID id,
                                                 AudioUnitPropertyListenerProc proc,
                                                 void* user_data) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->remove_property_listener_with_user_data(id, proc, user_data)
                           : kAudio_ParamError;
}

OSStatus midi_event(void* self, UInt32 status, UInt32 data1, UInt32 data2, UInt32 offset) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->midi_event(status, data1, data2, offset) : kAudio_ParamError;
}

OSStatus sysex(void* self, const UInt8* data, UInt32 length) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->sysex(data, length) : kAudio_ParamError;
}

template <class F>
AudioComponentMethod method(F* function) noexcept {
    return reinterpret_cast<AudioComponentMethod>(function);
}

}  // namespace

AudioComponentPlugInInterface* Instance::create(const AudioComponentDescription& desc,
                                                std::unique_ptr<Inner> inner) {
    auto* instance = new Instance(desc, std::move(inner));
    return &instance->interface;
}

// The interface record is the instance's first member, so the two addresses
// are one.
Instance* Instance::from(void* self) noexcept {
    return static_cast<Instance*>(self);
}

Instance::Instance(const AudioComponentDescription& description, std::unique_ptr<Inner> plugin)
    : interface{.Open = au_open, .Close = au_close, .Lookup = au_lookup, .reserved = nullptr},
      desc(description),
      inner(std::move(plugin)) {
    const ChannelBounds bounds =
        channel_bounds(inner->layout(), BoundsSource::FirstInputElseFirstOutput);
    min_channels = bounds.min;
    max_channels = bounds.max;
    const std::uint32_t channels = starting_channels(bounds);
    input_channels.store(channels);
    output_channels.store(channels);
    params = inner->params();
    params->set_channels(channels);
    latency.store(inner->latency());
    tail.store(inner->tail());
    instrument = inner->is_instrument();
    preset_name.value = DEFAULT_PRESET_NAME;
    slices.reserve(MAX_CHANNELS);
    midi_queue.value.reserve(MIDI_QUEUE_CAPACITY);
}

OSStatus Instance::open(AudioComponentInstance instance) noexcept {
    component.store(instance, std::memory_order_release);
    return noErr;
}

OSStatus Instance::initialize() noexcept {
    if (is_initialized()) return noErr;
    const std::uint32_t outputs = output_channels.load();
    if (!instrument && input_channels.load() != outputs) return kAudioUnitErr_FormatNotSupported;
    if (outputs < min_channels || outputs > max_channels) return kAudioUnitErr_FormatNotSupported;
    buffers.assign(outputs, std::vector<float>(max_frames.load(), 0.0f));
    prepare();
    initialized.store(true, std::memory_order_release);
    return noErr;
}

OSStatus Instance::uninitialize() noexcept {
    initialized.store(false, std::memory_order_release);
    return noErr;
}

OSStatus Instance::reset() noexcept {
    if (is_initialized()) prepare();
    return noErr;
}

void Instance::prepare() noexcept {
    const std::uint32_t channels = output_channels.load();
    params->set_channels(channels);
    inner->prepare(ProcessSetup{
        .max_frames = max_frames.load(),
        .sample_rate = static_cast<float>(sample_rate.load()),
        .channels = channels,
    });
    latency.store(inner->latency(), std::memory_order_release);
    tail.store(inner->tail(), std::memory_order_release);
}

OSStatus au_open(void* self, AudioComponentInstance instance) {
    Instance* unit = Instance::from(self);
    return unit != nullptr ? unit->open(instance) : kAudio_ParamError;
}

OSStatus au_close(void* self) {
    delete Instance::from(self);
    return noErr;
}

AudioComponentMethod au_lookup(SInt16 selector) {
    switch (selector) {
        case kAudioUnitInitializeSelect:
            return method(initialize);
        case kAudioUnitUninitializeSelect:
            return method(uninitialize);
        case kAudioUnitGetPropertyInfoSelect:
            return method(get_property_info);
        case kAudioUnitGetPropertySelect:
            return method(get_property);
        case kAudioUnitSetPropertySelect:
            return method(set_property);
        case kAudioUnitGetParameterSelect:
            return method(get_parameter);
        case kAudioUnitSetParameterSelect:
            return method(set_parameter);
        case kAudioUnitResetSelect:
            return method(reset);
        case kAudioUnitAddPropertyListenerSelect:
            return method(add_property_listener);
        case kAudioUnitRemovePropertyListenerSelect:
            return method(remove_property_listener);
        case kAudioUnitRenderSelect:
            return method(render);
        case kAudioUnitAddRenderNotifySelect:
            return method(add_render_notify);
        case kAudioUnitRemoveRenderNotifySelect:
            return method(remove_render_notify);
        case kAudioUnitScheduleParametersSelect:
            return method(schedule_parameters);
        case kAudioUnitRemovePropertyListenerWithUserDataSelect:
            return method(remove_property_listener_with_user_data);
        case kMusicDeviceMIDIEventSelect:
            return method(midi_event);
        case kMusicDeviceSysExSelect:
            return method(sysex);
        default:
            return nullptr;
    }
}

}  // namespace orba::au
