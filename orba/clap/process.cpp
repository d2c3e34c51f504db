#include "orba/clap/wrapper.h"

#include <algorithm>
#include <cstring>

#include "orba/core/flush_denormals.h"

namespace orba::clap {
namespace {

// Latency and tail, as the last prepare or process left them.

std::uint32_t latency_get(const abi::clap_plugin* plugin) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr ? w->latency() : 0;
}

std::uint32_t tail_get(const abi::clap_plugin* plugin) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr ? w->tail() : 0;
}

}  // namespace

const abi::clap_plugin_latency LATENCY = {.get = latency_get};

const abi::clap_plugin_tail TAIL = {.get = tail_get};

abi::clap_process_status Wrapper::process(const abi::clap_process& process) noexcept {
    FlushDenormals flush_denormals;

    // Every change of the block lands before any of its audio: no splitting
    // at event times.
    if (apply_events(process.in_events)) {
        params_changed_.store(true, std::memory_order_release);
        request_callback();
    }
    const std::size_t frames = process.frames_count;
    if (frames == 0) return abi::CLAP_PROCESS_CONTINUE;
    if (process.audio_outputs == nullptr || process.audio_outputs_count == 0) {
        return abi::CLAP_PROCESS_CONTINUE;
    }
    const abi::clap_audio_buffer& out = process.audio_outputs[0];
    if (out.data32 == nullptr) return abi::CLAP_PROCESS_ERROR;
    if (out.channel_count < 1 || out.channel_count > MAX_CHANNELS ||
        out.channel_count != channels_) {
        return abi::CLAP_PROCESS_ERROR;
    }
    const abi::clap_audio_buffer* in =
        process.audio_inputs != nullptr && process.audio_inputs_count != 0
            ? &process.audio_inputs[0]
            : nullptr;

    // The plug-in works in place on the host's output buffers.
    buffers_.clear();
    for (std::uint32_t c = 0; c < out.channel_count; ++c) {
        float* target = out.data32[c];
        if (target == nullptr) {
            buffers_.clear();
            return abi::CLAP_PROCESS_ERROR;
        }
        const float* source = nullptr;
        if (in != nullptr && c < in->channel_count && in->data32 != nullptr) source = in->data32[c];
        if (source == nullptr) {
            std::fill_n(target, frames, 0.0f);
        } else if (source != target) {
            std::memmove(target, source, frames * sizeof(float));
        }
        buffers_.emplace_back(target, frames);
    }

    ProcessContext context;
    if (process.steady_time >= 0) context.position = static_cast<double>(process.steady_time);
    context.sample_rate = static_cast<float>(sample_rate_);
    if (const abi::clap_event_transport* transport = process.transport) {
        context.playing = (transport->flags & abi::CLAP_TRANSPORT_IS_PLAYING) != 0;
        if ((transport->flags & abi::CLAP_TRANSPORT_HAS_TEMPO) != 0)
            context.tempo = transport->tempo;
        if ((transport->flags & abi::CLAP_TRANSPORT_HAS_SECONDS_TIMELINE) != 0) {
            context.position = static_cast<double>(transport->song_pos_seconds) /
                               static_cast<double>(abi::CLAP_SECTIME_FACTOR) * sample_rate_;
        }
    }

    inner_->process(buffers_, context);
    silence_non_finite(buffers_);
    buffers_.clear();

    tail_.store(inner_->tail(), std::memory_order_release);
    const std::uint32_t latency = inner_->latency();
    if (latency_.exchange(latency, std::memory_order_acq_rel) != latency) request_callback();
    return abi::CLAP_PROCESS_CONTINUE;
}

}  // namespace orba::clap
