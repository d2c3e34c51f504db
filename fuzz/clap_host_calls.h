#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "fuzz/clap_host.h"
#include "fuzz/input.h"

// The CLAP wrapper under a fuzzed sequence of host calls: activation at any
// rate and block size, processing with random events, transports and channel
// layouts, flushes, state saved and loaded through streams that cut, fail or
// overfill, port configuration, main-thread callbacks and queries. Calls keep
// to the order the ABI requires of a host (process only while processing);
// everything else the host passes is arbitrary. The clap_host target drives a
// fresh probe for each input; the targets for the shipped plug-ins keep one
// instance for the whole run (see KeptClapPlugin).
namespace orba::fuzz::clap_calls {

namespace abi = orba::clap::abi;

constexpr std::size_t MAX_EVENTS = 16;
constexpr std::uint32_t MAX_FRAMES = 1024;

// Room for the largest event the wrapper may read.
union EventStorage {
    abi::clap_event_header header;
    abi::clap_event_param_value param;
    abi::clap_event_transport transport;
    abi::clap_event_midi_sysex sysex;
    abi::clap_event_note_expression expression;
};

constexpr std::uint16_t EVENT_TYPES[] = {
    abi::CLAP_EVENT_PARAM_VALUE, abi::CLAP_EVENT_PARAM_VALUE, abi::CLAP_EVENT_PARAM_MOD,
    abi::CLAP_EVENT_PARAM_GESTURE_BEGIN, abi::CLAP_EVENT_TRANSPORT, abi::CLAP_EVENT_MIDI,
    abi::CLAP_EVENT_MIDI_SYSEX, abi::CLAP_EVENT_NOTE_ON, abi::CLAP_EVENT_NOTE_EXPRESSION, 99};

const std::uint8_t SYSEX[] = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};

class Events {
  public:
    explicit Events(Input& in, std::uint32_t count_hint) {
        const std::size_t count = std::min<std::size_t>(in.byte() % (MAX_EVENTS + 1), MAX_EVENTS);
        for (std::size_t i = 0; i < count; ++i) {
            EventStorage& e = storage_[i];
            std::memset(&e, 0, sizeof e);
            const std::uint16_t type = in.pick(EVENT_TYPES);
            if (type == abi::CLAP_EVENT_PARAM_VALUE || type == abi::CLAP_EVENT_PARAM_MOD) {
                e.param.param_id = in.flag() ? in.raw<abi::clap_id>()
                                             : (in.byte() % 16) * 128 + in.byte() % 3;
                e.param.value = in.flag() ? in.raw<double>() : in.byte() / 8.0;
                e.param.cookie = nullptr;
            } else if (type == abi::CLAP_EVENT_TRANSPORT) {
                e.transport.flags = in.byte();
                e.transport.tempo = in.raw<double>();
                e.transport.song_pos_seconds = in.raw<std::int64_t>();
            } else if (type == abi::CLAP_EVENT_MIDI_SYSEX) {
                e.sysex.buffer = SYSEX;
                e.sysex.size = sizeof SYSEX;
            }
            e.header.type = type;
            e.header.space_id = in.flag() ? abi::CLAP_CORE_EVENT_SPACE_ID : in.raw<std::uint16_t>();
            // Mostly the true size; now and then a short one the wrapper must refuse.
            const auto full = static_cast<std::uint32_t>(sizeof(EventStorage));
            e.header.size = in.flag() ? full : std::min<std::uint32_t>(in.byte(), full);
            if (type == abi::CLAP_EVENT_PARAM_VALUE && !in.flag()) {
                e.header.size = sizeof(abi::clap_event_param_value);
            }
            e.header.time = in.flag() ? in.raw<std::uint32_t>() : in.below(count_hint + 1);
            e.header.flags = in.byte();
        }
        count_ = static_cast<std::uint32_t>(count);
        list_.ctx = this;
        list_.size = [](const abi::clap_input_events* list) {
            return static_cast<const Events*>(list->ctx)->count_;
        };
        list_.get = [](const abi::clap_input_events* list,
                       std::uint32_t index) -> const abi::clap_event_header* {
            const auto* self = static_cast<const Events*>(list->ctx);
            return index < self->count_ ? &self->storage_[index].header : nullptr;
        };
    }
    Events(const Events&) = delete;
    Events& operator=(const Events&) = delete;

    const abi::clap_input_events* list() const { return &list_; }

  private:
    std::array<EventStorage, MAX_EVENTS> storage_{};
    std::uint32_t count_ = 0;
    abi::clap_input_events list_{};
};

struct Output {
    abi::clap_output_events list{};
    bool accept = true;
    Output() {
        list.ctx = this;
        list.try_push = [](const abi::clap_output_events* l, const abi::clap_event_header*) {
            return static_cast<const Output*>(l->ctx)->accept;
        };
    }
};

// One audio port as the host lays it out: channel pointers into its own
// memory, any of them possibly null, inputs possibly the outputs themselves.
struct Port {
    std::vector<std::vector<float>> samples;
    std::vector<float*> pointers;
    abi::clap_audio_buffer buffer{};

    void make(Input& in, std::uint32_t channels, std::uint32_t frames, const Port* in_place) {
        samples.assign(channels, std::vector<float>(frames));
        pointers.assign(channels, nullptr);
        for (std::uint32_t c = 0; c < channels; ++c) {
            for (float& s : samples[c])
                s = static_cast<float>(static_cast<std::int8_t>(in.byte())) / 64.0f;
            if (!samples[c].empty() && in.byte() % 16 == 0) samples[c][0] = in.raw<float>();
            const bool shared = in_place != nullptr && c < in_place->pointers.size();
            pointers[c] = shared ? in_place->pointers[c] : samples[c].data();
            if (in.byte() % 32 == 0) pointers[c] = nullptr;
        }
        buffer.data32 = in.byte() % 32 == 0 ? nullptr : pointers.data();
        buffer.data64 = nullptr;
        buffer.channel_count = channels;
        buffer.latency = 0;
        buffer.constant_mask = 0;
    }
};

// The channel count a process call lays out: usually the configured one.
std::uint32_t channels_for(Input& in, std::uint32_t configured) {
    return in.byte() % 4 != 0 ? configured : in.byte() % 6;
}

constexpr double RATES[] = {44100.0, 48000.0, 8000.0, 96000.0, 192000.0, 1.0, 0.0, -48000.0,
                            768000.0, 768000.5, std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::infinity()};

struct Stream {
    std::span<const std::uint8_t> bytes;
    std::size_t pos = 0;
    std::int64_t fail_at = -1;  // which call fails, if any
    std::uint32_t chunk = 1;    // the most bytes one call moves
    std::int64_t calls = 0;
    bool overfill = false;      // report more than asked once
    std::vector<std::uint8_t> written;
};

std::int64_t stream_read(const abi::clap_istream* s, void* buffer, std::uint64_t size) {
    auto* self = static_cast<Stream*>(s->ctx);
    if (self->calls++ == self->fail_at) return -1;
    if (self->overfill) {
        self->overfill = false;
        return static_cast<std::int64_t>(size + 1);
    }
    const std::size_t n =
        std::min<std::size_t>({self->chunk, static_cast<std::size_t>(size), self->bytes.size() - self->pos});
    if (n > 0) std::memcpy(buffer, self->bytes.data() + self->pos, n);
    self->pos += n;
    return static_cast<std::int64_t>(n);
}

std::int64_t stream_write(const abi::clap_ostream* s, const void* buffer, std::uint64_t size) {
    auto* self = static_cast<Stream*>(s->ctx);
    if (self->calls++ == self->fail_at) return -1;
    const std::size_t n = std::min<std::size_t>(self->chunk, static_cast<std::size_t>(size));
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    self->written.insert(self->written.end(), bytes, bytes + n);
    return static_cast<std::int64_t>(n);
}

const char* const PORT_TYPES[] = {nullptr, abi::CLAP_PORT_MONO, abi::CLAP_PORT_STEREO, "", "surround"};

}  // namespace orba::fuzz::clap_calls

namespace orba::fuzz {

// Up to 64 host calls read from `in`; the plug-in ends neither processing
// nor active. A valid sample rate activates at `rate_scale` times itself.
inline void host_calls(Input& in, const ClapPlugin& plugin, double rate_scale = 1.0) {
    using namespace clap_calls;
    const abi::clap_plugin* p = plugin.get();
    const auto* params = plugin.extension<abi::clap_plugin_params>(abi::CLAP_EXT_PARAMS);
    const auto* state = plugin.extension<abi::clap_plugin_state>(abi::CLAP_EXT_STATE);
    const auto* latency = plugin.extension<abi::clap_plugin_latency>(abi::CLAP_EXT_LATENCY);
    const auto* tail = plugin.extension<abi::clap_plugin_tail>(abi::CLAP_EXT_TAIL);
    const auto* ports = plugin.extension<abi::clap_plugin_audio_ports>(abi::CLAP_EXT_AUDIO_PORTS);
    const auto* configurable = plugin.extension<abi::clap_plugin_configurable_audio_ports>(
        abi::CLAP_EXT_CONFIGURABLE_AUDIO_PORTS);
    orba::clap::Wrapper& wrapper = *orba::clap::Wrapper::from(p);

    bool active = false;
    bool processing = false;
    for (int step = 0; step < 64 && !in.empty(); ++step) {
        switch (in.byte() % 12) {
            case 0: {
                double rate = in.flag() ? in.raw<double>() : in.pick(RATES);
                if (rate > 0.0 && rate <= orba::MAX_SAMPLE_RATE) rate *= rate_scale;
                const std::uint32_t min_frames = in.raw<std::uint32_t>();
                const std::uint32_t max_frames =
                    in.flag() ? in.raw<std::uint32_t>() : in.below(MAX_FRAMES + 1);
                const bool ok = p->activate(p, rate, min_frames, max_frames);
                if (ok && active) __builtin_trap();
                active = active || ok;
                break;
            }
            case 1:
                if (processing) p->stop_processing(p);
                processing = false;
                p->deactivate(p);
                active = false;
                break;
            case 2:
                if (active && !processing) processing = p->start_processing(p);
                else if (processing) {
                    p->stop_processing(p);
                    processing = false;
                }
                break;
            case 3:
                p->reset(p);
                break;
            case 4: {
                if (!processing) break;
                const std::uint32_t frames = in.below(MAX_FRAMES + 1);
                const Events events(in, frames);
                Output out;
                out.accept = in.flag();
                Port input, output;
                const std::uint32_t out_channels = channels_for(in, wrapper.channels());
                output.make(in, out_channels, frames, nullptr);
                input.make(in, channels_for(in, wrapper.channels()), frames,
                           in.flag() ? &output : nullptr);
                abi::clap_event_transport transport{};
                const bool has_transport = in.flag();
                if (has_transport) {
                    transport.flags = in.byte();
                    transport.tempo = in.flag() ? in.raw<double>() : 60.0 + in.byte();
                    transport.song_pos_seconds = in.raw<std::int64_t>();
                    transport.song_pos_beats = in.raw<std::int64_t>();
                }
                abi::clap_process process{};
                process.steady_time = in.flag() ? in.raw<std::int64_t>() : -1;
                process.frames_count = frames;
                process.transport = has_transport ? &transport : nullptr;
                process.audio_inputs = in.flag() ? &input.buffer : nullptr;
                process.audio_inputs_count = process.audio_inputs != nullptr ? in.byte() % 3 : 0;
                if (process.audio_inputs_count > 1) process.audio_inputs_count = 1;
                process.audio_outputs = in.byte() % 16 != 0 ? &output.buffer : nullptr;
                process.audio_outputs_count = process.audio_outputs != nullptr ? 1 : 0;
                process.in_events = in.byte() % 16 != 0 ? events.list() : nullptr;
                process.out_events = &out.list;
                const abi::clap_process_status status = p->process(p, &process);
                if (status > abi::CLAP_PROCESS_SLEEP) __builtin_trap();
                break;
            }
            case 5: {
                if (processing) break;
                const Events events(in, 0);
                Output out;
                params->flush(p, in.byte() % 16 != 0 ? events.list() : nullptr, &out.list);
                break;
            }
            case 6: {
                Stream stream;
                stream.chunk = 1 + in.below(8192);
                stream.fail_at = in.flag() ? in.byte() % 8 : -1;
                const abi::clap_ostream os{.ctx = &stream, .write = stream_write};
                const bool saved = state->save(p, &os);
                if (saved && stream.fail_at >= 0 && stream.calls > stream.fail_at) __builtin_trap();
                if (!saved || in.flag()) break;
                // What was saved loads back, through any chunking.
                Stream back;
                back.bytes = stream.written;
                back.chunk = 1 + in.below(8192);
                const abi::clap_istream is{.ctx = &back, .read = stream_read};
                if (!state->load(p, &is)) __builtin_trap();
                break;
            }
            case 7: {
                Stream stream;
                stream.bytes = in.bytes(4096);
                stream.chunk = 1 + in.below(8192);
                stream.fail_at = in.byte() % 4 == 0 ? in.byte() % 8 : -1;
                stream.overfill = in.byte() % 16 == 0;
                const abi::clap_istream is{.ctx = &stream, .read = stream_read};
                (void)state->load(p, &is);
                break;
            }
            case 8: {
                std::array<abi::clap_audio_port_configuration_request, 4> requests{};
                const std::uint32_t count = in.byte() % (requests.size() + 1);
                for (std::uint32_t i = 0; i < count; ++i) {
                    requests[i].is_input = in.flag();
                    requests[i].port_index = in.byte() % 4 == 0 ? in.raw<std::uint32_t>() : 0;
                    requests[i].channel_count =
                        in.byte() % 4 == 0 ? in.raw<std::uint32_t>() : in.byte() % 9;
                    requests[i].port_type = in.pick(PORT_TYPES);
                    requests[i].port_details = nullptr;
                }
                const bool can = configurable->can_apply_configuration(p, requests.data(), count);
                if (!active) {
                    const bool applied =
                        configurable->apply_configuration(p, requests.data(), count);
                    if (applied != can) __builtin_trap();
                }
                break;
            }
            case 9:
                p->on_main_thread(p);
                break;
            case 10: {
                const std::uint32_t count = params->count(p);
                abi::clap_param_info info{};
                const std::uint32_t index = in.flag() ? in.raw<std::uint32_t>() : in.below(count + 1);
                if (params->get_info(p, index, &info) != (index < count)) __builtin_trap();
                double value = 0.0;
                const abi::clap_id id = index < count ? info.id : in.raw<abi::clap_id>();
                if (params->get_value(p, id, &value) && index < count &&
                    !(value >= info.min_value && value <= info.max_value)) {
                    __builtin_trap();
                }
                break;
            }
            default: {
                (void)latency->get(p);
                (void)tail->get(p);
                for (const bool is_input : {true, false}) {
                    const std::uint32_t count = ports->count(p, is_input);
                    for (std::uint32_t i = 0; i <= count; ++i) {
                        abi::clap_audio_port_info info{};
                        const bool ok = ports->get(p, i, is_input, &info);
                        if (ok != (i < count)) __builtin_trap();
                        if (ok && info.channel_count != wrapper.channels()) __builtin_trap();
                    }
                }
                break;
            }
        }
    }
    if (processing) p->stop_processing(p);
    if (active) p->deactivate(p);
}

// One instance of a shipped plug-in for the whole fuzzing process. Building
// and preparing one costs far more than an input's calls, so between inputs
// it is brought back to where it started instead: inactive, on its first
// channel count, with its default state loaded and its processing reset.
// Memory it keeps from one input to the next is not a leak; run it with
// -detect_leaks=0, which leaves LeakSanitizer's check at exit, or libFuzzer
// scans the heap after most inputs.
class KeptClapPlugin {
  public:
    explicit KeptClapPlugin(ClapKind kind) : host_(true), plugin_(kind, &host_.host) {
        channels_ = clap::Wrapper::from(plugin_.get())->channels();
        Stream saved;
        const abi::clap_ostream os{.ctx = &saved, .write = clap_calls::stream_write};
        saved.chunk = 1 << 16;
        if (!plugin_.extension<abi::clap_plugin_state>(abi::CLAP_EXT_STATE)->save(plugin_.get(), &os))
            __builtin_trap();
        defaults_ = std::move(saved.written);
    }

    void run(Input& in) {
        host_.offer = in.flag();  // read as clap_host reads it, so corpora carry over
        host_calls(in, plugin_, RATE_SCALE);
        const abi::clap_plugin* p = plugin_.get();
        clap::Wrapper& wrapper = *clap::Wrapper::from(p);
        const abi::clap_audio_port_configuration_request request{
            .is_input = true, .port_index = 0, .channel_count = channels_, .port_type = nullptr,
            .port_details = nullptr};
        Stream stream;
        stream.bytes = defaults_;
        stream.chunk = 1 << 16;
        const abi::clap_istream is{.ctx = &stream, .read = clap_calls::stream_read};
        if (wrapper.active() || !wrapper.apply({&request, 1}) || wrapper.channels() != channels_ ||
            !plugin_.extension<abi::clap_plugin_state>(abi::CLAP_EXT_STATE)->load(p, &is)) {
            __builtin_trap();
        }
        p->reset(p);
    }

  private:
    using Stream = clap_calls::Stream;
    // A delay line's length follows the rate, and Varnel Delay clears seven
    // of them on every activation and reset: at the rates hosts use that
    // would take most of an input's time. An eighth keeps every path the
    // rate decides (the wrapper's checks see the rate as the input gave it).
    static constexpr double RATE_SCALE = 0.125;
    ClapHost host_;
    ClapPlugin plugin_;
    std::uint32_t channels_ = 0;
    std::vector<std::uint8_t> defaults_;
};

}  // namespace orba::fuzz
