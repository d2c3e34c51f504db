#include "orba/au/wrapper.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "orba/core/flush_denormals.h"

namespace orba::au {
namespace {

// Render reads the notifying thread's id, which must not take a hidden lock.
static_assert(std::atomic<std::thread::id>::is_always_lock_free);

// The stored value, or nothing when another thread holds the lock right now:
// render never waits for the host's other threads.
template <class T>
std::optional<T> try_read(Locked<std::optional<T>>& locked) noexcept {
    std::unique_lock lock(locked.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return std::nullopt;
    return locked.value;
}

// Changes the host scheduled since the last render, in the order it sent
// them. While a host thread is adding some, they wait for the next render.
void apply_pending(Instance& unit) noexcept {
    std::unique_lock lock(unit.pending.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return;
    for (const PendingChange& change : unit.pending.value) {
        // The channel count may have shrunk since the change was scheduled.
        if (const std::optional<Target> target = unit.decode(change.id)) {
            unit.write_value(*target, change.value);
        }
    }
    unit.pending.value.clear();
}

// Hosts write every output of these callbacks, whether or not it was asked
// for, so each gets real storage; what a callback leaves unwritten reads 0.
void read_transport(Instance& unit, ProcessContext& context) noexcept {
    const std::optional<HostCallbackInfo> host = try_read(unit.host_callbacks);
    if (!host) return;
    if (host->transportStateProc != nullptr) {
        Boolean playing = 0;
        Boolean changed = 0;
        Float64 sample = 0.0;
        Boolean cycling = 0;
        Float64 cycle_start = 0.0;
        Float64 cycle_end = 0.0;
        if (host->transportStateProc(host->hostUserData, &playing, &changed, &sample, &cycling,
                                     &cycle_start, &cycle_end) == noErr) {
            context.playing = playing != 0;
            context.position = sample;
        }
    }
    if (host->beatAndTempoProc != nullptr) {
        Float64 beat = 0.0;
        Float64 tempo = 0.0;
        if (host->beatAndTempoProc(host->hostUserData, &beat, &tempo) == noErr && tempo > 0.0) {
            context.tempo = tempo;
        }
    }
}

// Queued events all land in this block, none past its last frame.
void deliver_midi(Instance& unit, UInt32 frames) noexcept {
    std::unique_lock lock(unit.midi_queue.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return;
    const std::uint32_t last = frames == 0 ? 0 : frames - 1;
    for (const MidiEvent& event : unit.midi_queue.value) {
        unit.inner->midi(event.status, event.data1, event.data2, std::min(event.offset, last));
    }
    unit.midi_queue.value.clear();
}

}  // namespace

OSStatus Instance::render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time_stamp,
                          UInt32 bus, UInt32 frames, AudioBufferList* data) noexcept {
    if (!is_initialized()) return kAudioUnitErr_Uninitialized;
    if (bus != 0) return kAudioUnitErr_InvalidElement;
    if (frames > max_frames.load(std::memory_order_acquire)) {
        return kAudioUnitErr_TooManyFramesToProcess;
    }
    if (data == nullptr) return kAudio_ParamError;

    // Past the argument checks a refusal is kept for the host to ask about.
    const auto fail = [this](OSStatus status) noexcept {
        last_render_error.store(status, std::memory_order_release);
        return status;
    };
    AudioUnitRenderActionFlags no_flags = 0;
    if (flags == nullptr) flags = &no_flags;
    // Also covers the host's input callback and the connected unit, which
    // run on this thread inside the call.
    FlushDenormals flush_denormals;

    const std::uint32_t n = output_channels.load(std::memory_order_acquire);
    if (n > MAX_CHANNELS || n != data->mNumberBuffers) {
        return fail(kAudioUnitErr_FormatNotSupported);
    }
    // The list declares room for one buffer and really holds mNumberBuffers.
    AudioBuffer* const channels = data->mBuffers;
    // frames is at most MAX_FRAMES_PER_SLICE, so the byte count fits.
    const auto bytes = static_cast<UInt32>(frames * sizeof(float));

    for (std::uint32_t i = 0; i < n; ++i) {
        AudioBuffer& buffer = channels[i];
        if (buffer.mData == nullptr) {
            if (i >= buffers.size() || buffers[i].size() < frames) {
                return fail(kAudioUnitErr_Uninitialized);
            }
            buffer.mData = buffers[i].data();
        }
        buffer.mNumberChannels = 1;
        buffer.mDataByteSize = bytes;
    }

    run_notifies(kAudioUnitRenderAction_PreRender, *flags, time_stamp, frames, data);

    // Copied out, so no lock is held while the host's code runs.
    const std::optional<Connection> source = try_read(connection);
    const std::optional<RenderInput> input = try_read(render_input);

    // The input arrives in the buffers that carry the output back.
    if (instrument) {
        for (std::uint32_t i = 0; i < n; ++i) {
            std::fill_n(static_cast<float*>(channels[i].mData), frames, 0.0f);
        }
    } else if (source && source->source != nullptr) {
        const OSStatus status =
            AudioUnitRender(source->source, flags, time_stamp, source->output, frames, data);
        if (status != noErr) return fail(status);
    } else if (input && input->proc != nullptr) {
        const OSStatus status = input->proc(input->ref_con, flags, time_stamp, 0, frames, data);
        if (status != noErr) return fail(status);
    } else {
        return fail(kAudioUnitErr_NoConnection);
    }

    apply_pending(*this);

    // The source may have swapped in buffers of its own.
    slices.clear();
    for (std::uint32_t i = 0; i < n; ++i) {
        AudioBuffer& buffer = channels[i];
        if (buffer.mData == nullptr) {
            slices.clear();
            return fail(kAudio_ParamError);
        }
        buffer.mDataByteSize = bytes;
        slices.push_back(std::span<float>(static_cast<float*>(buffer.mData), frames));
    }

    if (!bypass.load(std::memory_order_acquire)) {
        ProcessContext context;
        context.sample_rate = static_cast<float>(sample_rate.load(std::memory_order_acquire));
        if (time_stamp != nullptr && (time_stamp->mFlags & kAudioTimeStampSampleTimeValid) != 0) {
            context.position = time_stamp->mSampleTime;
        }
        read_transport(*this, context);
        if (instrument) deliver_midi(*this, frames);

        inner->process(slices, context);
        tail.store(inner->tail(), std::memory_order_release);
        latency.store(inner->latency(), std::memory_order_release);
    }
    // Also while bypassed: the host's own input then passes straight back.
    silence_non_finite(slices);

    slices.clear();
    *flags &= ~static_cast<AudioUnitRenderActionFlags>(kAudioUnitRenderAction_OutputIsSilence);
    run_notifies(kAudioUnitRenderAction_PostRender, *flags, time_stamp, frames, data);
    return noErr;
}

// The list stays locked while its procs run: once RemoveRenderNotify returns
// on another thread, the host may free the ref-con, so no pass may still be
// holding a copy of the entry.
void Instance::run_notifies(AudioUnitRenderActionFlags flag, AudioUnitRenderActionFlags& flags,
                            const AudioTimeStamp* time_stamp, UInt32 frames,
                            AudioBufferList* data) noexcept {
    const std::thread::id self = std::this_thread::get_id();
    // A notify that renders this unit again finds the list in use.
    if (notifying.load(std::memory_order_relaxed) == self) return;
    std::unique_lock lock(notifies.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return;
    notifying.store(self, std::memory_order_relaxed);

    // Entries a proc adds are called from the next pass on; entries it
    // removes are only marked, so the indices hold until the pass ends.
    const std::size_t count = notifies.value.size();
    for (std::size_t i = 0; i < count; ++i) {
        const Notify entry = notifies.value[i];
        if (entry.proc == nullptr) continue;
        flags |= flag;
        entry.proc(entry.ref_con, &flags, time_stamp, 0, frames, data);
        flags &= ~flag;
    }
    std::erase_if(notifies.value, [](const Notify& entry) { return entry.proc == nullptr; });
    notifying.store(std::thread::id{}, std::memory_order_relaxed);
}

// A notify may add or remove notifies from inside its own call: this thread
// then holds the list already and must not wait for itself.
OSStatus Instance::add_render_notify(AURenderCallback proc, void* ref_con) noexcept {
    if (notifying.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
        notifies.value.push_back(Notify{proc, ref_con});
        return noErr;
    }
    std::lock_guard lock(notifies.mutex);
    notifies.value.push_back(Notify{proc, ref_con});
    return noErr;
}

OSStatus Instance::remove_render_notify(AURenderCallback proc, void* ref_con) noexcept {
    const auto matches = [proc, ref_con](const Notify& entry) {
        return entry.proc == proc && entry.ref_con == ref_con;
    };
    if (notifying.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
        for (Notify& entry : notifies.value) {
            if (matches(entry)) entry.proc = nullptr;
        }
        return noErr;
    }
    std::lock_guard lock(notifies.mutex);
    std::erase_if(notifies.value, matches);
    return noErr;
}

OSStatus Instance::midi_event(UInt32 status, UInt32 data1, UInt32 data2, UInt32 offset) noexcept {
    if (!instrument) return kAudioUnitErr_InvalidProperty;
    std::lock_guard lock(midi_queue.mutex);
    // The storage was reserved up front; past it events are dropped, so
    // queueing never allocates.
    if (midi_queue.value.size() < MIDI_QUEUE_CAPACITY) {
        midi_queue.value.push_back(MidiEvent{static_cast<std::uint8_t>(status & 0xFF),
                                             static_cast<std::uint8_t>(data1 & 0x7F),
                                             static_cast<std::uint8_t>(data2 & 0x7F), offset});
    }
    return noErr;
}

OSStatus Instance::sysex(const UInt8* data, UInt32 length) noexcept {
    (void)data;
    (void)length;
    if (!instrument) return kAudioUnitErr_InvalidProperty;
    return noErr;
}

}  // namespace orba::au
