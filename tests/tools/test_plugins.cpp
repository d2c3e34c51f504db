// A CLAP library of small plug-ins whose behaviour a test can predict exactly,
// for driving clap-render through the cases Varnel Delay never shows: a
// latency, an endless tail, fixed ports, refusals at every stage, and a
// plug-in that only works once the host has run its main-thread callback.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "orba/clap/abi.h"
#include "orba/clap/param_help.h"
#include "orba/core/charconv.h"

namespace {

namespace abi = orba::clap::abi;

enum Kind {
    GAIN,
    LATENCY,
    ENDLESS,
    CALLBACK,
    FIXED,
    NO_CREATE,
    NO_INIT,
    MIDWAY,
    TRANSPORT,
    OFFSET,
    KIND_COUNT
};

constexpr const char* IDS[KIND_COUNT] = {
    "test.gain",      "test.latency", "test.endless",      "test.callback",  "test.fixed",
    "test.no-create", "test.no-init", "test.fails-midway", "test.transport", "test.offset"};
constexpr const char* FEATURES[] = {"audio-effect", nullptr};

constexpr abi::clap_id GAIN_ID = 7;
constexpr abi::clap_id PEAK_ID = 8;
constexpr abi::clap_id OFFSET_ID = 9;  // OFFSET's second automatable parameter
constexpr std::uint32_t LATENCY_FRAMES = 100;
constexpr std::uint32_t LATENCY_TAIL = 250;
constexpr std::uint32_t MAX_CHANNELS = 8;
constexpr std::int64_t MIDWAY_FRAME = 4096;  // where MIDWAY starts failing
constexpr char STATE_MAGIC[4] = {'G', 'A', 'I', 'N'};

abi::clap_plugin_descriptor make_descriptor(Kind kind) {
    abi::clap_plugin_descriptor d{};
    d.clap_version = abi::CLAP_VERSION;
    d.id = IDS[kind];
    d.name = IDS[kind];
    d.vendor = "Tests";
    d.url = d.manual_url = d.support_url = d.description = "";
    d.version = "1";
    d.features = FEATURES;
    return d;
}

const abi::clap_plugin_descriptor DESCRIPTORS[KIND_COUNT] = {
    make_descriptor(GAIN),     make_descriptor(LATENCY), make_descriptor(ENDLESS),
    make_descriptor(CALLBACK), make_descriptor(FIXED),   make_descriptor(NO_CREATE),
    make_descriptor(NO_INIT),  make_descriptor(MIDWAY),  make_descriptor(TRANSPORT),
    make_descriptor(OFFSET)};

struct Plugin {
    abi::clap_plugin clap{};
    const abi::clap_host* host = nullptr;
    Kind kind = GAIN;
    std::uint32_t channels = 2;
    double gain = 1.0;
    double offset = 0.0;  // added to every output sample
    bool called_back = false;
    std::vector<std::vector<float>> delay;  // LATENCY: one ring per channel
    std::size_t delay_pos = 0;
};

Plugin& self(const abi::clap_plugin* p) {
    return *static_cast<Plugin*>(p->plugin_data);
}

bool ORBA_CLAP_ABI plugin_init(const abi::clap_plugin* p) {
    return self(p).kind != NO_INIT;
}
void ORBA_CLAP_ABI plugin_destroy(const abi::clap_plugin* p) {
    delete &self(p);
}

bool ORBA_CLAP_ABI plugin_activate(const abi::clap_plugin* p, double rate, std::uint32_t,
                                   std::uint32_t) {
    Plugin& plugin = self(p);
    if (plugin.kind == FIXED && rate != 44100.0) return false;
    plugin.delay.assign(plugin.channels, std::vector<float>(LATENCY_FRAMES, 0.0f));
    plugin.delay_pos = 0;
    return true;
}
void ORBA_CLAP_ABI plugin_deactivate(const abi::clap_plugin*) {}
bool ORBA_CLAP_ABI plugin_start(const abi::clap_plugin*) {
    return true;
}
void ORBA_CLAP_ABI plugin_stop(const abi::clap_plugin*) {}
void ORBA_CLAP_ABI plugin_reset(const abi::clap_plugin*) {}

void apply_event(Plugin& plugin, const abi::clap_event_header* header) {
    if (header->space_id != abi::CLAP_CORE_EVENT_SPACE_ID ||
        header->type != abi::CLAP_EVENT_PARAM_VALUE) {
        return;
    }
    const auto* event = reinterpret_cast<const abi::clap_event_param_value*>(header);
    if (event->param_id == GAIN_ID) plugin.gain = event->value;
    if (event->param_id == OFFSET_ID) plugin.offset = event->value;
}

// TRANSPORT writes what the host told it about time, the same value on every
// frame of a block: song position in beats, in seconds, the tempo and the
// steady time, on channels 0 to 3; all zero when the transport is not playing.
abi::clap_process_status write_transport(const abi::clap_process* process) {
    const abi::clap_event_transport* t = process->transport;
    const bool playing = t != nullptr && (t->flags & abi::CLAP_TRANSPORT_IS_PLAYING) != 0;
    const double factor = static_cast<double>(abi::CLAP_BEATTIME_FACTOR);
    const double values[4] = {
        playing ? static_cast<double>(t->song_pos_beats) / factor : 0.0,
        playing ? static_cast<double>(t->song_pos_seconds) / factor : 0.0,
        playing ? t->tempo : 0.0,
        playing ? static_cast<double>(process->steady_time) : 0.0,
    };
    const abi::clap_audio_buffer& out = process->audio_outputs[0];
    for (std::uint32_t c = 0; c < out.channel_count; ++c) {
        std::fill_n(out.data32[c], process->frames_count,
                    c < 4 ? static_cast<float>(values[c]) : 0.0f);
    }
    return abi::CLAP_PROCESS_CONTINUE;
}

// Gain changes land at their event's frame, so a ramp shows block by block.
abi::clap_process_status ORBA_CLAP_ABI plugin_process(const abi::clap_plugin* p,
                                                      const abi::clap_process* process) {
    Plugin& plugin = self(p);
    if (plugin.kind == CALLBACK && !plugin.called_back) plugin.host->request_callback(plugin.host);
    if (plugin.kind == MIDWAY && process->steady_time >= MIDWAY_FRAME)
        return abi::CLAP_PROCESS_ERROR;
    const abi::clap_input_events* events = process->in_events;
    const std::uint32_t count = events->size(events);
    std::uint32_t next = 0;
    const abi::clap_audio_buffer& in = process->audio_inputs[0];
    abi::clap_audio_buffer& out = process->audio_outputs[0];
    if (in.channel_count != plugin.channels || out.channel_count != plugin.channels) {
        return abi::CLAP_PROCESS_ERROR;
    }
    if (plugin.kind == TRANSPORT) return write_transport(process);
    for (std::uint32_t f = 0; f < process->frames_count; ++f) {
        while (next < count && events->get(events, next)->time <= f) {
            apply_event(plugin, events->get(events, next++));
        }
        const float gain =
            plugin.kind == CALLBACK && !plugin.called_back ? 0.0f : static_cast<float>(plugin.gain);
        for (std::uint32_t c = 0; c < plugin.channels; ++c) {
            float sample = in.data32[c][f] * gain + static_cast<float>(plugin.offset);
            if (plugin.kind == LATENCY) std::swap(sample, plugin.delay[c][plugin.delay_pos]);
            out.data32[c][f] = sample;
        }
        if (plugin.kind == LATENCY) plugin.delay_pos = (plugin.delay_pos + 1) % LATENCY_FRAMES;
    }
    return abi::CLAP_PROCESS_CONTINUE;
}

std::uint32_t ORBA_CLAP_ABI params_count(const abi::clap_plugin* p) {
    return self(p).kind == OFFSET ? 3 : 2;
}

bool ORBA_CLAP_ABI params_get_info(const abi::clap_plugin*, std::uint32_t index,
                                   abi::clap_param_info* info) {
    if (index > 2 || info == nullptr) return false;
    *info = {};
    std::strcpy(info->module, "Level");
    if (index == 0) {
        info->id = GAIN_ID;
        info->flags = abi::CLAP_PARAM_IS_AUTOMATABLE;
        std::strcpy(info->name, "Gain");
        info->min_value = 0.0;
        info->max_value = 1.0;
        info->default_value = 1.0;
    } else if (index == 2) {
        info->id = OFFSET_ID;
        info->flags = abi::CLAP_PARAM_IS_AUTOMATABLE;
        std::strcpy(info->name, "Offset");
        info->max_value = 1.0;
    } else {
        info->id = PEAK_ID;
        info->flags = abi::CLAP_PARAM_IS_READONLY;
        std::strcpy(info->name, "Peak");
        info->max_value = 1.0;
    }
    return true;
}

bool ORBA_CLAP_ABI params_get_value(const abi::clap_plugin* p, abi::clap_id id, double* value) {
    if (id != GAIN_ID && id != PEAK_ID && id != OFFSET_ID) return false;
    *value = id == GAIN_ID ? self(p).gain : id == OFFSET_ID ? self(p).offset : 0.0;
    return true;
}

bool ORBA_CLAP_ABI params_value_to_text(const abi::clap_plugin*, abi::clap_id, double value,
                                        char* out, std::uint32_t capacity) {
    char buffer[64];
    auto [end, ec] = orba::to_chars(buffer, buffer + 63, value, std::chars_format::fixed, 3);
    *end = '\0';
    if (capacity == 0 || ec != std::errc()) return false;
    std::strncpy(out, buffer, capacity - 1);
    out[capacity - 1] = '\0';
    return true;
}

bool ORBA_CLAP_ABI params_text_to_value(const abi::clap_plugin*, abi::clap_id, const char* text,
                                        double* value) {
    const char* end = text + std::strlen(text);
    auto [ptr, ec] = orba::from_chars(text, end, *value);
    return ec == std::errc() && ptr == end;
}

void ORBA_CLAP_ABI params_flush(const abi::clap_plugin* p, const abi::clap_input_events* in,
                                const abi::clap_output_events*) {
    for (std::uint32_t i = 0; i < in->size(in); ++i)
        apply_event(self(p), in->get(in, i));
}

const abi::clap_plugin_params PARAMS = {params_count,         params_get_info,
                                        params_get_value,     params_value_to_text,
                                        params_text_to_value, params_flush};

bool ORBA_CLAP_ABI state_save(const abi::clap_plugin* p, const abi::clap_ostream* stream) {
    std::uint8_t bytes[12];
    std::memcpy(bytes, STATE_MAGIC, 4);
    std::memcpy(bytes + 4, &self(p).gain, 8);
    return stream->write(stream, bytes, sizeof bytes) == sizeof bytes;
}

bool ORBA_CLAP_ABI state_load(const abi::clap_plugin* p, const abi::clap_istream* stream) {
    std::uint8_t bytes[13];
    std::int64_t total = 0;
    for (std::int64_t got = 1; got > 0 && total < 13; total += got) {
        got = stream->read(stream, bytes + total, static_cast<std::uint64_t>(13 - total));
        if (got < 0) return false;
    }
    if (total != 12 || std::memcmp(bytes, STATE_MAGIC, 4) != 0) return false;
    std::memcpy(&self(p).gain, bytes + 4, 8);
    return true;
}

const abi::clap_plugin_state STATE = {state_save, state_load};

std::uint32_t ORBA_CLAP_ABI latency_get(const abi::clap_plugin* p) {
    return self(p).kind == LATENCY ? LATENCY_FRAMES : 0;
}
const abi::clap_plugin_latency LATENCY_EXT = {latency_get};

std::uint32_t ORBA_CLAP_ABI tail_get(const abi::clap_plugin* p) {
    switch (self(p).kind) {
        case LATENCY:
            return LATENCY_TAIL;
        case ENDLESS:
            return UINT32_MAX;
        default:
            return 0;
    }
}
const abi::clap_plugin_tail TAIL = {tail_get};

std::uint32_t ORBA_CLAP_ABI ports_count(const abi::clap_plugin*, bool) {
    return 1;
}
bool ORBA_CLAP_ABI ports_get(const abi::clap_plugin* p, std::uint32_t index, bool,
                             abi::clap_audio_port_info* info) {
    if (index != 0) return false;
    *info = {};
    std::strcpy(info->name, "Main");
    info->flags = abi::CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = self(p).channels;
    info->in_place_pair = abi::CLAP_INVALID_ID;
    return true;
}
const abi::clap_plugin_audio_ports PORTS = {ports_count, ports_get};

bool ORBA_CLAP_ABI can_apply(const abi::clap_plugin*,
                             const abi::clap_audio_port_configuration_request* requests,
                             std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        if (requests[i].port_index != 0 || requests[i].channel_count < 1 ||
            requests[i].channel_count > MAX_CHANNELS ||
            requests[i].channel_count != requests[0].channel_count) {
            return false;
        }
    }
    return count > 0;
}
bool ORBA_CLAP_ABI apply(const abi::clap_plugin* p,
                         const abi::clap_audio_port_configuration_request* requests,
                         std::uint32_t count) {
    if (!can_apply(p, requests, count)) return false;
    self(p).channels = requests[0].channel_count;
    return true;
}
const abi::clap_plugin_configurable_audio_ports CONFIGURABLE = {can_apply, apply};

// test.latency offers help texts: one too long for a first guess at its
// size ("gain " 1000 times, then "end"), and none for Peak.
bool ORBA_CLAP_ABI help_get(const abi::clap_plugin*, abi::clap_id id, char* out,
                            std::uint32_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = '\0';
    if (id != GAIN_ID) return false;
    std::string text;
    for (int i = 0; i < 1000; ++i)
        text += "gain ";
    text += "end";
    const std::size_t n = std::min<std::size_t>(text.size(), capacity - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return true;
}
const abi::orba_clap_plugin_param_help HELP = {help_get};

const void* ORBA_CLAP_ABI plugin_get_extension(const abi::clap_plugin* p, const char* id) {
    if (abi::is_id(id, abi::CLAP_EXT_PARAMS)) return &PARAMS;
    if (abi::is_id(id, abi::CLAP_EXT_STATE)) return &STATE;
    if (abi::is_id(id, abi::CLAP_EXT_LATENCY)) return &LATENCY_EXT;
    if (abi::is_id(id, abi::CLAP_EXT_TAIL)) return &TAIL;
    if (abi::is_id(id, abi::CLAP_EXT_AUDIO_PORTS)) return &PORTS;
    if (abi::is_id(id, abi::CLAP_EXT_CONFIGURABLE_AUDIO_PORTS) && self(p).kind != FIXED) {
        return &CONFIGURABLE;
    }
    if (abi::is_id(id, abi::ORBA_EXT_PARAM_HELP) && self(p).kind == LATENCY) return &HELP;
    return nullptr;
}

void ORBA_CLAP_ABI plugin_on_main_thread(const abi::clap_plugin* p) {
    self(p).called_back = true;
}

std::uint32_t ORBA_CLAP_ABI factory_count(const abi::clap_plugin_factory*) {
    return KIND_COUNT;
}

const abi::clap_plugin_descriptor* ORBA_CLAP_ABI factory_descriptor(const abi::clap_plugin_factory*,
                                                                    std::uint32_t index) {
    return index < KIND_COUNT ? &DESCRIPTORS[index] : nullptr;
}

const abi::clap_plugin* ORBA_CLAP_ABI factory_create(const abi::clap_plugin_factory*,
                                                     const abi::clap_host* host, const char* id) {
    for (int k = 0; k < KIND_COUNT; ++k) {
        if (id == nullptr || std::strcmp(id, IDS[k]) != 0) continue;
        if (k == NO_CREATE) return nullptr;
        auto* plugin = new Plugin();
        plugin->host = host;
        plugin->kind = static_cast<Kind>(k);
        plugin->clap = {&DESCRIPTORS[k],      plugin,
                        plugin_init,          plugin_destroy,
                        plugin_activate,      plugin_deactivate,
                        plugin_start,         plugin_stop,
                        plugin_reset,         plugin_process,
                        plugin_get_extension, plugin_on_main_thread};
        return &plugin->clap;
    }
    return nullptr;
}

const abi::clap_plugin_factory FACTORY = {factory_count, factory_descriptor, factory_create};

bool ORBA_CLAP_ABI entry_init(const char*) {
    return true;
}
void ORBA_CLAP_ABI entry_deinit() {}
const void* ORBA_CLAP_ABI entry_get_factory(const char* id) {
    return abi::is_id(id, abi::CLAP_PLUGIN_FACTORY_ID) ? &FACTORY : nullptr;
}

}  // namespace

extern "C" ORBA_CLAP_EXPORT const orba::clap::abi::clap_plugin_entry clap_entry = {
    orba::clap::abi::CLAP_VERSION, entry_init, entry_deinit, entry_get_factory};
