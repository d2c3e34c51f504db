#include "orba/au/wrapper.h"

#include <cmath>
#include <mutex>

#include "orba/core/param_text.h"

namespace orba::au {

std::optional<Target> Instance::decode(AudioUnitParameterID id) const noexcept {
    const std::size_t index = id / 128;
    const std::uint32_t channel = id % 128;
    if (index >= params->size()) return std::nullopt;
    if (params->at(index).info().per_channel) {
        if (channel >= output_channels.load(std::memory_order_relaxed)) return std::nullopt;
        return Target{.index = index, .channel = channel, .per_channel = true};
    }
    if (channel != 0) return std::nullopt;
    return Target{.index = index};
}

std::vector<AudioUnitParameterID> Instance::param_ids() const {
    const std::uint32_t channels = output_channels.load(std::memory_order_relaxed);
    std::vector<AudioUnitParameterID> ids;
    for (std::size_t index = 0; index < params->size(); ++index) {
        const auto first = static_cast<AudioUnitParameterID>(index * 128);
        const std::uint32_t count = params->at(index).info().per_channel ? channels : 1;
        for (std::uint32_t channel = 0; channel < count; ++channel)
            ids.push_back(first + channel);
    }
    return ids;
}

std::optional<float> Instance::get_value(AudioUnitParameterID id) const noexcept {
    const std::optional<Target> target = decode(id);
    if (!target) return std::nullopt;
    const Param& param = params->at(target->index);
    return target->per_channel ? param.get_ch(target->channel) : param.get();
}

void Instance::write_value(const Target& target, float value) noexcept {
    Param& param = params->at(target.index);
    if (param.info().kind == ParamKind::Meter) return;
    if (target.per_channel) {
        param.set_ch(target.channel, value);
    } else {
        param.set(value);
    }
}

OSStatus Instance::get_parameter(AudioUnitParameterID id, AudioUnitScope scope,
                                 AudioUnitElement element,
                                 AudioUnitParameterValue* value) noexcept {
    if (scope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
    if (element != 0) return kAudioUnitErr_InvalidElement;
    const std::optional<float> current = get_value(id);
    if (!current) return kAudioUnitErr_InvalidParameter;
    if (value == nullptr) return kAudio_ParamError;
    *value = *current;
    return noErr;
}

OSStatus Instance::set_parameter(AudioUnitParameterID id, AudioUnitScope scope,
                                 AudioUnitElement element, AudioUnitParameterValue value,
                                 UInt32) noexcept {
    if (scope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
    if (element != 0) return kAudioUnitErr_InvalidElement;
    if (!std::isfinite(value)) return kAudioUnitErr_InvalidParameter;
    const std::optional<Target> target = decode(id);
    if (!target || params->at(target->index).info().kind == ParamKind::Meter) {
        return kAudioUnitErr_InvalidParameter;
    }
    write_value(*target, value);
    return noErr;
}

// The events before a refused one are queued all the same, in one go, so a
// render never applies part of what the host scheduled together.
OSStatus Instance::schedule_parameters(const AudioUnitParameterEvent* events,
                                       UInt32 count) noexcept {
    if (events == nullptr && count > 0) return kAudio_ParamError;
    OSStatus status = noErr;
    std::vector<PendingChange> accepted;
    for (UInt32 i = 0; i < count && status == noErr; ++i) {
        const AudioUnitParameterEvent& event = events[i];
        float value = 0.0f;
        if (event.scope != kAudioUnitScope_Global) {
            status = kAudioUnitErr_InvalidScope;
        } else if (event.element != 0) {
            status = kAudioUnitErr_InvalidElement;
        } else if (!decode(event.parameter)) {
            status = kAudioUnitErr_InvalidParameter;
        } else if (event.eventType == kParameterEvent_Immediate) {
            value = event.eventValues.immediate.value;
        } else if (event.eventType == kParameterEvent_Ramped) {
            value = event.eventValues.ramp.endValue;
        } else {
            status = kAudioUnitErr_InvalidPropertyValue;
        }
        if (status == noErr && !std::isfinite(value)) status = kAudioUnitErr_InvalidParameter;
        if (status == noErr) accepted.push_back(PendingChange{event.parameter, value});
    }
    if (!accepted.empty()) {
        std::lock_guard lock(pending.mutex);
        pending.value.insert(pending.value.end(), accepted.begin(), accepted.end());
    }
    return status;
}

OSStatus Instance::add_property_listener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                         void* user_data) noexcept {
    std::lock_guard lock(listeners.mutex);
    listeners.value.push_back(Listener{.proc = proc, .user_data = user_data, .id = id});
    return noErr;
}

OSStatus Instance::remove_property_listener(AudioUnitPropertyID id,
                                            AudioUnitPropertyListenerProc proc) noexcept {
    std::lock_guard lock(listeners.mutex);
    std::erase_if(listeners.value, [&](const Listener& l) { return l.id == id && l.proc == proc; });
    return noErr;
}

OSStatus Instance::remove_property_listener_with_user_data(AudioUnitPropertyID id,
                                                           AudioUnitPropertyListenerProc proc,
                                                           void* user_data) noexcept {
    std::lock_guard lock(listeners.mutex);
    std::erase_if(listeners.value, [&](const Listener& l) {
        return l.id == id && l.proc == proc && l.user_data == user_data;
    });
    return noErr;
}

// Listeners run on a copy taken under the lock: one may add or remove
// listeners, or call back into the unit, while the others are still due.
void Instance::notify(AudioUnitPropertyID id, AudioUnitScope scope,
                      AudioUnitElement element) noexcept {
    std::vector<Listener> due;
    {
        std::lock_guard lock(listeners.mutex);
        for (const Listener& listener : listeners.value) {
            if (listener.id == id) due.push_back(listener);
        }
    }
    const AudioComponentInstance unit = component.load(std::memory_order_acquire);
    for (const Listener& listener : due) {
        if (listener.proc != nullptr) listener.proc(listener.user_data, unit, id, scope, element);
    }
}

std::optional<float> parse_value(const ParamInfo& info, std::string_view text) {
    return parse_param_text_f32(info, text);
}

}  // namespace orba::au
