#pragma once

// Our own declarations of the part of the CLAP 1.2 C ABI that Orba uses, as
// plug-in and as host. They live in orba::clap::abi so that a translation unit
// may also include the published headers: nothing here is declared at global
// scope, and no name here is one the published headers define as a macro.
// Member order, types, sizes and offsets are binding (a host built against the
// published headers reads these structs byte for byte); the assertions at the
// end pin them for 64-bit targets and for both 32-bit layouts.

#include <cstddef>
#include <cstdint>

// The C calling convention of every function pointer in the interface. Only
// 32-bit x86 Windows has more than one; everywhere else this is the default.
#if defined(_WIN32) || defined(__CYGWIN__)
#define ORBA_CLAP_ABI __cdecl
#else
#define ORBA_CLAP_ABI
#endif

// Placed on the one exported symbol, `clap_entry`. The libraries build with
// hidden visibility, so nothing else leaves them.
#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(__GNUC__)
#define ORBA_CLAP_EXPORT __attribute__((dllexport))
#else
#define ORBA_CLAP_EXPORT __declspec(dllexport)
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define ORBA_CLAP_EXPORT __attribute__((visibility("default")))
#else
#define ORBA_CLAP_EXPORT
#endif

namespace orba::clap::abi {

using clap_id = std::uint32_t;
using clap_beattime = std::int64_t;
using clap_sectime = std::int64_t;
using clap_process_status = std::int32_t;
using clap_note_expression = std::int32_t;
using clap_param_info_flags = std::uint32_t;
using clap_param_rescan_flags = std::uint32_t;
using clap_param_clear_flags = std::uint32_t;

extern "C" {

struct clap_version {
    std::uint32_t major;
    std::uint32_t minor;
    std::uint32_t revision;
};
using clap_version_t = clap_version;

struct clap_plugin_descriptor {
    clap_version_t clap_version;
    const char* id;
    const char* name;
    const char* vendor;
    const char* url;
    const char* manual_url;
    const char* support_url;
    const char* version;
    const char* description;
    const char* const* features;  // null-terminated
};

struct clap_host;
struct clap_plugin;
struct clap_process;
struct clap_input_events;
struct clap_output_events;
struct clap_param_info;
struct clap_istream;
struct clap_ostream;
struct clap_audio_port_info;
struct clap_audio_port_configuration_request;

struct clap_plugin_entry {
    clap_version_t clap_version;
    bool(ORBA_CLAP_ABI* init)(const char* plugin_path);
    void(ORBA_CLAP_ABI* deinit)();
    const void*(ORBA_CLAP_ABI* get_factory)(const char* factory_id);
};

struct clap_plugin_factory {
    std::uint32_t(ORBA_CLAP_ABI* get_plugin_count)(const clap_plugin_factory* factory);
    const clap_plugin_descriptor*(ORBA_CLAP_ABI* get_plugin_descriptor)(
        const clap_plugin_factory* factory, std::uint32_t index);
    const clap_plugin*(ORBA_CLAP_ABI* create_plugin)(const clap_plugin_factory* factory,
                                                     const clap_host* host, const char* plugin_id);
};

struct clap_plugin {
    const clap_plugin_descriptor* desc;
    void* plugin_data;
    bool(ORBA_CLAP_ABI* init)(const clap_plugin* plugin);
    void(ORBA_CLAP_ABI* destroy)(const clap_plugin* plugin);
    bool(ORBA_CLAP_ABI* activate)(const clap_plugin* plugin, double sample_rate,
                                  std::uint32_t min_frames_count, std::uint32_t max_frames_count);
    void(ORBA_CLAP_ABI* deactivate)(const clap_plugin* plugin);
    bool(ORBA_CLAP_ABI* start_processing)(const clap_plugin* plugin);
    void(ORBA_CLAP_ABI* stop_processing)(const clap_plugin* plugin);
    void(ORBA_CLAP_ABI* reset)(const clap_plugin* plugin);
    clap_process_status(ORBA_CLAP_ABI* process)(const clap_plugin* plugin,
                                                const clap_process* process);
    const void*(ORBA_CLAP_ABI* get_extension)(const clap_plugin* plugin, const char* id);
    void(ORBA_CLAP_ABI* on_main_thread)(const clap_plugin* plugin);
};

struct clap_host {
    clap_version_t clap_version;
    void* host_data;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version;
    const void*(ORBA_CLAP_ABI* get_extension)(const clap_host* host, const char* extension_id);
    void(ORBA_CLAP_ABI* request_restart)(const clap_host* host);
    void(ORBA_CLAP_ABI* request_process)(const clap_host* host);
    void(ORBA_CLAP_ABI* request_callback)(const clap_host* host);
};

struct clap_event_header {
    std::uint32_t size;  // of the whole event, header included
    std::uint32_t time;  // sample offset within the block
    std::uint16_t space_id;
    std::uint16_t type;
    std::uint32_t flags;
};

struct clap_event_note {
    clap_event_header header;
    std::int32_t note_id;
    std::int16_t port_index;
    std::int16_t channel;
    std::int16_t key;
    double velocity;
};

struct clap_event_note_expression {
    clap_event_header header;
    clap_note_expression expression_id;
    std::int32_t note_id;
    std::int16_t port_index;
    std::int16_t channel;
    std::int16_t key;
    double value;
};

struct clap_event_param_value {
    clap_event_header header;
    clap_id param_id;
    void* cookie;
    std::int32_t note_id;
    std::int16_t port_index;
    std::int16_t channel;
    std::int16_t key;
    double value;
};

struct clap_event_param_mod {
    clap_event_header header;
    clap_id param_id;
    void* cookie;
    std::int32_t note_id;
    std::int16_t port_index;
    std::int16_t channel;
    std::int16_t key;
    double amount;
};

struct clap_event_param_gesture {
    clap_event_header header;
    clap_id param_id;
};

struct clap_event_transport {
    clap_event_header header;
    std::uint32_t flags;
    clap_beattime song_pos_beats;
    clap_sectime song_pos_seconds;
    double tempo;
    double tempo_inc;
    clap_beattime loop_start_beats;
    clap_beattime loop_end_beats;
    clap_sectime loop_start_seconds;
    clap_sectime loop_end_seconds;
    clap_beattime bar_start;
    std::int32_t bar_number;
    std::uint16_t tsig_num;
    std::uint16_t tsig_denom;
};

struct clap_event_midi {
    clap_event_header header;
    std::uint16_t port_index;
    std::uint8_t data[3];
};

struct clap_event_midi_sysex {
    clap_event_header header;
    std::uint16_t port_index;
    const std::uint8_t* buffer;
    std::uint32_t size;
};

struct clap_event_midi2 {
    clap_event_header header;
    std::uint16_t port_index;
    std::uint32_t data[4];
};

struct clap_input_events {
    void* ctx;
    std::uint32_t(ORBA_CLAP_ABI* size)(const clap_input_events* list);
    const clap_event_header*(ORBA_CLAP_ABI* get)(const clap_input_events* list,
                                                 std::uint32_t index);
};

struct clap_output_events {
    void* ctx;
    bool(ORBA_CLAP_ABI* try_push)(const clap_output_events* list, const clap_event_header* event);
};

struct clap_audio_buffer {
    float** data32;
    double** data64;
    std::uint32_t channel_count;
    std::uint32_t latency;
    std::uint64_t constant_mask;
};

struct clap_process {
    std::int64_t steady_time;  // -1 when the host has none
    std::uint32_t frames_count;
    const clap_event_transport* transport;  // null for a free-running host
    const clap_audio_buffer* audio_inputs;
    clap_audio_buffer* audio_outputs;
    std::uint32_t audio_inputs_count;
    std::uint32_t audio_outputs_count;
    const clap_input_events* in_events;
    const clap_output_events* out_events;
};

struct clap_param_info {
    clap_id id;
    clap_param_info_flags flags;
    void* cookie;
    char name[256];
    char module[1024];
    double min_value;
    double max_value;
    double default_value;
};

struct clap_plugin_params {
    std::uint32_t(ORBA_CLAP_ABI* count)(const clap_plugin* plugin);
    bool(ORBA_CLAP_ABI* get_info)(const clap_plugin* plugin, std::uint32_t param_index,
                                  clap_param_info* param_info);
    bool(ORBA_CLAP_ABI* get_value)(const clap_plugin* plugin, clap_id param_id, double* out_value);
    bool(ORBA_CLAP_ABI* value_to_text)(const clap_plugin* plugin, clap_id param_id, double value,
                                       char* out_buffer, std::uint32_t out_buffer_capacity);
    bool(ORBA_CLAP_ABI* text_to_value)(const clap_plugin* plugin, clap_id param_id,
                                       const char* param_value_text, double* out_value);
    void(ORBA_CLAP_ABI* flush)(const clap_plugin* plugin, const clap_input_events* in,
                               const clap_output_events* out);
};

struct clap_host_params {
    void(ORBA_CLAP_ABI* rescan)(const clap_host* host, clap_param_rescan_flags flags);
    void(ORBA_CLAP_ABI* clear)(const clap_host* host, clap_id param_id,
                               clap_param_clear_flags flags);
    void(ORBA_CLAP_ABI* request_flush)(const clap_host* host);
};

struct clap_istream {
    void* ctx;
    // Bytes read, 0 at the end of the stream, negative on error.
    std::int64_t(ORBA_CLAP_ABI* read)(const clap_istream* stream, void* buffer, std::uint64_t size);
};

struct clap_ostream {
    void* ctx;
    // Bytes written, negative on error.
    std::int64_t(ORBA_CLAP_ABI* write)(const clap_ostream* stream, const void* buffer,
                                       std::uint64_t size);
};

struct clap_plugin_state {
    bool(ORBA_CLAP_ABI* save)(const clap_plugin* plugin, const clap_ostream* stream);
    bool(ORBA_CLAP_ABI* load)(const clap_plugin* plugin, const clap_istream* stream);
};

struct clap_host_state {
    void(ORBA_CLAP_ABI* mark_dirty)(const clap_host* host);
};

struct clap_plugin_latency {
    std::uint32_t(ORBA_CLAP_ABI* get)(const clap_plugin* plugin);
};

struct clap_host_latency {
    void(ORBA_CLAP_ABI* changed)(const clap_host* host);
};

struct clap_plugin_tail {
    std::uint32_t(ORBA_CLAP_ABI* get)(const clap_plugin* plugin);
};

struct clap_host_tail {
    void(ORBA_CLAP_ABI* changed)(const clap_host* host);
};

struct clap_audio_port_info {
    clap_id id;
    char name[256];
    std::uint32_t flags;
    std::uint32_t channel_count;
    const char* port_type;  // null or empty: unspecified
    clap_id in_place_pair;
};

struct clap_plugin_audio_ports {
    std::uint32_t(ORBA_CLAP_ABI* count)(const clap_plugin* plugin, bool is_input);
    bool(ORBA_CLAP_ABI* get)(const clap_plugin* plugin, std::uint32_t index, bool is_input,
                             clap_audio_port_info* info);
};

struct clap_host_audio_ports {
    bool(ORBA_CLAP_ABI* is_rescan_flag_supported)(const clap_host* host, std::uint32_t flag);
    void(ORBA_CLAP_ABI* rescan)(const clap_host* host, std::uint32_t flags);
};

struct clap_audio_port_configuration_request {
    bool is_input;
    std::uint32_t port_index;
    std::uint32_t channel_count;
    const char* port_type;
    const void* port_details;
};

struct clap_plugin_configurable_audio_ports {
    bool(ORBA_CLAP_ABI* can_apply_configuration)(
        const clap_plugin* plugin, const clap_audio_port_configuration_request* requests,
        std::uint32_t request_count);
    bool(ORBA_CLAP_ABI* apply_configuration)(const clap_plugin* plugin,
                                             const clap_audio_port_configuration_request* requests,
                                             std::uint32_t request_count);
};

}  // extern "C"

inline constexpr clap_version CLAP_VERSION{1, 2, 10};

// Hosts of any 1.x release are compatible; 0.x were development versions.
constexpr bool clap_version_is_compatible(clap_version v) {
    return v.major >= 1;
}

inline constexpr clap_id CLAP_INVALID_ID = UINT32_MAX;
inline constexpr std::int64_t CLAP_BEATTIME_FACTOR = std::int64_t{1} << 31;
inline constexpr std::int64_t CLAP_SECTIME_FACTOR = std::int64_t{1} << 31;
inline constexpr std::size_t CLAP_NAME_SIZE = 256;
inline constexpr std::size_t CLAP_PATH_SIZE = 1024;

inline constexpr char CLAP_PLUGIN_FACTORY_ID[] = "clap.plugin-factory";

inline constexpr char CLAP_EXT_PARAMS[] = "clap.params";
inline constexpr char CLAP_EXT_STATE[] = "clap.state";
inline constexpr char CLAP_EXT_LATENCY[] = "clap.latency";
inline constexpr char CLAP_EXT_TAIL[] = "clap.tail";
inline constexpr char CLAP_EXT_AUDIO_PORTS[] = "clap.audio-ports";
inline constexpr char CLAP_EXT_CONFIGURABLE_AUDIO_PORTS[] = "clap.configurable-audio-ports/1";
inline constexpr char CLAP_EXT_CONFIGURABLE_AUDIO_PORTS_COMPAT[] =
    "clap.configurable-audio-ports.draft1";

inline constexpr char CLAP_PORT_MONO[] = "mono";
inline constexpr char CLAP_PORT_STEREO[] = "stereo";

inline constexpr char FEATURE_AUDIO_EFFECT[] = "audio-effect";
inline constexpr char FEATURE_INSTRUMENT[] = "instrument";
inline constexpr char FEATURE_DELAY[] = "delay";

inline constexpr clap_process_status CLAP_PROCESS_ERROR = 0;
inline constexpr clap_process_status CLAP_PROCESS_CONTINUE = 1;
inline constexpr clap_process_status CLAP_PROCESS_CONTINUE_IF_NOT_QUIET = 2;
inline constexpr clap_process_status CLAP_PROCESS_TAIL = 3;
inline constexpr clap_process_status CLAP_PROCESS_SLEEP = 4;

inline constexpr std::uint16_t CLAP_CORE_EVENT_SPACE_ID = 0;

inline constexpr std::uint32_t CLAP_EVENT_IS_LIVE = 1u << 0;
inline constexpr std::uint32_t CLAP_EVENT_DONT_RECORD = 1u << 1;

inline constexpr std::uint16_t CLAP_EVENT_NOTE_ON = 0;
inline constexpr std::uint16_t CLAP_EVENT_NOTE_OFF = 1;
inline constexpr std::uint16_t CLAP_EVENT_NOTE_CHOKE = 2;
inline constexpr std::uint16_t CLAP_EVENT_NOTE_END = 3;
inline constexpr std::uint16_t CLAP_EVENT_NOTE_EXPRESSION = 4;
inline constexpr std::uint16_t CLAP_EVENT_PARAM_VALUE = 5;
inline constexpr std::uint16_t CLAP_EVENT_PARAM_MOD = 6;
inline constexpr std::uint16_t CLAP_EVENT_PARAM_GESTURE_BEGIN = 7;
inline constexpr std::uint16_t CLAP_EVENT_PARAM_GESTURE_END = 8;
inline constexpr std::uint16_t CLAP_EVENT_TRANSPORT = 9;
inline constexpr std::uint16_t CLAP_EVENT_MIDI = 10;
inline constexpr std::uint16_t CLAP_EVENT_MIDI_SYSEX = 11;
inline constexpr std::uint16_t CLAP_EVENT_MIDI2 = 12;

inline constexpr std::uint32_t CLAP_TRANSPORT_HAS_TEMPO = 1u << 0;
inline constexpr std::uint32_t CLAP_TRANSPORT_HAS_BEATS_TIMELINE = 1u << 1;
inline constexpr std::uint32_t CLAP_TRANSPORT_HAS_SECONDS_TIMELINE = 1u << 2;
inline constexpr std::uint32_t CLAP_TRANSPORT_HAS_TIME_SIGNATURE = 1u << 3;
inline constexpr std::uint32_t CLAP_TRANSPORT_IS_PLAYING = 1u << 4;
inline constexpr std::uint32_t CLAP_TRANSPORT_IS_RECORDING = 1u << 5;
inline constexpr std::uint32_t CLAP_TRANSPORT_IS_LOOP_ACTIVE = 1u << 6;
inline constexpr std::uint32_t CLAP_TRANSPORT_IS_WITHIN_PRE_ROLL = 1u << 7;

inline constexpr clap_param_info_flags CLAP_PARAM_IS_STEPPED = 1u << 0;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_PERIODIC = 1u << 1;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_HIDDEN = 1u << 2;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_READONLY = 1u << 3;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_BYPASS = 1u << 4;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_AUTOMATABLE = 1u << 5;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_AUTOMATABLE_PER_NOTE_ID = 1u << 6;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_AUTOMATABLE_PER_KEY = 1u << 7;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_AUTOMATABLE_PER_CHANNEL = 1u << 8;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_AUTOMATABLE_PER_PORT = 1u << 9;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_MODULATABLE = 1u << 10;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_MODULATABLE_PER_NOTE_ID = 1u << 11;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_MODULATABLE_PER_KEY = 1u << 12;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_MODULATABLE_PER_CHANNEL = 1u << 13;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_MODULATABLE_PER_PORT = 1u << 14;
inline constexpr clap_param_info_flags CLAP_PARAM_REQUIRES_PROCESS = 1u << 15;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_ENUM = 1u << 16;

inline constexpr clap_param_rescan_flags CLAP_PARAM_RESCAN_VALUES = 1u << 0;
inline constexpr clap_param_rescan_flags CLAP_PARAM_RESCAN_TEXT = 1u << 1;
inline constexpr clap_param_rescan_flags CLAP_PARAM_RESCAN_INFO = 1u << 2;
inline constexpr clap_param_rescan_flags CLAP_PARAM_RESCAN_ALL = 1u << 3;

inline constexpr clap_param_clear_flags CLAP_PARAM_CLEAR_ALL = 1u << 0;
inline constexpr clap_param_clear_flags CLAP_PARAM_CLEAR_AUTOMATIONS = 1u << 1;
inline constexpr clap_param_clear_flags CLAP_PARAM_CLEAR_MODULATIONS = 1u << 2;

inline constexpr std::uint32_t CLAP_AUDIO_PORT_IS_MAIN = 1u << 0;
inline constexpr std::uint32_t CLAP_AUDIO_PORT_SUPPORTS_64BITS = 1u << 1;
inline constexpr std::uint32_t CLAP_AUDIO_PORT_PREFERS_64BITS = 1u << 2;
inline constexpr std::uint32_t CLAP_AUDIO_PORT_REQUIRES_COMMON_SAMPLE_SIZE = 1u << 3;

inline constexpr std::uint32_t CLAP_AUDIO_PORTS_RESCAN_NAMES = 1u << 0;
inline constexpr std::uint32_t CLAP_AUDIO_PORTS_RESCAN_FLAGS = 1u << 1;
inline constexpr std::uint32_t CLAP_AUDIO_PORTS_RESCAN_CHANNEL_COUNT = 1u << 2;
inline constexpr std::uint32_t CLAP_AUDIO_PORTS_RESCAN_PORT_TYPE = 1u << 3;
inline constexpr std::uint32_t CLAP_AUDIO_PORTS_RESCAN_IN_PLACE_PAIR = 1u << 4;
inline constexpr std::uint32_t CLAP_AUDIO_PORTS_RESCAN_LIST = 1u << 5;

// True when `id` (a C string from the other side, possibly null) is exactly
// the identifier `stored`, terminator included. The walk stops at the first
// difference, so it never reads past the end of the shorter of the two.
template <std::size_t N>
constexpr bool is_id(const char* id, const char (&stored)[N]) noexcept {
    if (id == nullptr) return false;
    for (std::size_t i = 0; i < N; ++i) {
        if (id[i] != stored[i]) return false;
    }
    return true;
}

namespace layout {

// Offsets and sizes differ in three groups: every 64-bit target; 32-bit
// targets that align 8-byte members to 8 (Windows x86, ARM32); and the i386
// System V ABI, which aligns double and int64_t members to 4 only.
#if defined(__i386__) && !defined(_WIN32) && !defined(__CYGWIN__)
inline constexpr int GROUP = 2;
#else
inline constexpr int GROUP = sizeof(void*) == 8 ? 0 : 1;
#endif

constexpr std::size_t pick(std::size_t b64, std::size_t b32, std::size_t b32i) {
    return GROUP == 0 ? b64 : GROUP == 1 ? b32 : b32i;
}

}  // namespace layout

#define ORBA_CLAP_PIN(type, b64, b32, b32i, a64, a32, a32i)                             \
    static_assert(sizeof(type) == ::orba::clap::abi::layout::pick(b64, b32, b32i) &&    \
                      alignof(type) == ::orba::clap::abi::layout::pick(a64, a32, a32i), \
                  #type " size or alignment")
#define ORBA_CLAP_AT(type, member, b64, b32, b32i)                                           \
    static_assert(offsetof(type, member) == ::orba::clap::abi::layout::pick(b64, b32, b32i), \
                  #type "." #member " offset")

ORBA_CLAP_PIN(clap_version, 12, 12, 12, 4, 4, 4);
ORBA_CLAP_AT(clap_version, minor, 4, 4, 4);
ORBA_CLAP_AT(clap_version, revision, 8, 8, 8);

ORBA_CLAP_PIN(clap_plugin_entry, 40, 24, 24, 8, 4, 4);
ORBA_CLAP_AT(clap_plugin_entry, init, 16, 12, 12);
ORBA_CLAP_AT(clap_plugin_entry, deinit, 24, 16, 16);
ORBA_CLAP_AT(clap_plugin_entry, get_factory, 32, 20, 20);

ORBA_CLAP_PIN(clap_plugin_factory, 24, 12, 12, 8, 4, 4);
ORBA_CLAP_AT(clap_plugin_factory, get_plugin_descriptor, 8, 4, 4);
ORBA_CLAP_AT(clap_plugin_factory, create_plugin, 16, 8, 8);

ORBA_CLAP_PIN(clap_plugin_descriptor, 88, 48, 48, 8, 4, 4);
ORBA_CLAP_AT(clap_plugin_descriptor, id, 16, 12, 12);
ORBA_CLAP_AT(clap_plugin_descriptor, name, 24, 16, 16);
ORBA_CLAP_AT(clap_plugin_descriptor, vendor, 32, 20, 20);
ORBA_CLAP_AT(clap_plugin_descriptor, url, 40, 24, 24);
ORBA_CLAP_AT(clap_plugin_descriptor, manual_url, 48, 28, 28);
ORBA_CLAP_AT(clap_plugin_descriptor, support_url, 56, 32, 32);
ORBA_CLAP_AT(clap_plugin_descriptor, version, 64, 36, 36);
ORBA_CLAP_AT(clap_plugin_descriptor, description, 72, 40, 40);
ORBA_CLAP_AT(clap_plugin_descriptor, features, 80, 44, 44);

ORBA_CLAP_PIN(clap_plugin, 96, 48, 48, 8, 4, 4);
ORBA_CLAP_AT(clap_plugin, plugin_data, 8, 4, 4);
ORBA_CLAP_AT(clap_plugin, init, 16, 8, 8);
ORBA_CLAP_AT(clap_plugin, destroy, 24, 12, 12);
ORBA_CLAP_AT(clap_plugin, activate, 32, 16, 16);
ORBA_CLAP_AT(clap_plugin, deactivate, 40, 20, 20);
ORBA_CLAP_AT(clap_plugin, start_processing, 48, 24, 24);
ORBA_CLAP_AT(clap_plugin, stop_processing, 56, 28, 28);
ORBA_CLAP_AT(clap_plugin, reset, 64, 32, 32);
ORBA_CLAP_AT(clap_plugin, process, 72, 36, 36);
ORBA_CLAP_AT(clap_plugin, get_extension, 80, 40, 40);
ORBA_CLAP_AT(clap_plugin, on_main_thread, 88, 44, 44);

ORBA_CLAP_PIN(clap_host, 88, 48, 48, 8, 4, 4);
ORBA_CLAP_AT(clap_host, host_data, 16, 12, 12);
ORBA_CLAP_AT(clap_host, name, 24, 16, 16);
ORBA_CLAP_AT(clap_host, vendor, 32, 20, 20);
ORBA_CLAP_AT(clap_host, url, 40, 24, 24);
ORBA_CLAP_AT(clap_host, version, 48, 28, 28);
ORBA_CLAP_AT(clap_host, get_extension, 56, 32, 32);
ORBA_CLAP_AT(clap_host, request_restart, 64, 36, 36);
ORBA_CLAP_AT(clap_host, request_process, 72, 40, 40);
ORBA_CLAP_AT(clap_host, request_callback, 80, 44, 44);

ORBA_CLAP_PIN(clap_process, 64, 40, 40, 8, 8, 4);
ORBA_CLAP_AT(clap_process, frames_count, 8, 8, 8);
ORBA_CLAP_AT(clap_process, transport, 16, 12, 12);
ORBA_CLAP_AT(clap_process, audio_inputs, 24, 16, 16);
ORBA_CLAP_AT(clap_process, audio_outputs, 32, 20, 20);
ORBA_CLAP_AT(clap_process, audio_inputs_count, 40, 24, 24);
ORBA_CLAP_AT(clap_process, audio_outputs_count, 44, 28, 28);
ORBA_CLAP_AT(clap_process, in_events, 48, 32, 32);
ORBA_CLAP_AT(clap_process, out_events, 56, 36, 36);

ORBA_CLAP_PIN(clap_audio_buffer, 32, 24, 24, 8, 8, 4);
ORBA_CLAP_AT(clap_audio_buffer, data64, 8, 4, 4);
ORBA_CLAP_AT(clap_audio_buffer, channel_count, 16, 8, 8);
ORBA_CLAP_AT(clap_audio_buffer, latency, 20, 12, 12);
ORBA_CLAP_AT(clap_audio_buffer, constant_mask, 24, 16, 16);

ORBA_CLAP_PIN(clap_event_header, 16, 16, 16, 4, 4, 4);
ORBA_CLAP_AT(clap_event_header, time, 4, 4, 4);
ORBA_CLAP_AT(clap_event_header, space_id, 8, 8, 8);
ORBA_CLAP_AT(clap_event_header, type, 10, 10, 10);
ORBA_CLAP_AT(clap_event_header, flags, 12, 12, 12);

ORBA_CLAP_PIN(clap_event_note, 40, 40, 36, 8, 8, 4);
ORBA_CLAP_AT(clap_event_note, note_id, 16, 16, 16);
ORBA_CLAP_AT(clap_event_note, port_index, 20, 20, 20);
ORBA_CLAP_AT(clap_event_note, channel, 22, 22, 22);
ORBA_CLAP_AT(clap_event_note, key, 24, 24, 24);
ORBA_CLAP_AT(clap_event_note, velocity, 32, 32, 28);

ORBA_CLAP_PIN(clap_event_note_expression, 40, 40, 40, 8, 8, 4);
ORBA_CLAP_AT(clap_event_note_expression, expression_id, 16, 16, 16);
ORBA_CLAP_AT(clap_event_note_expression, note_id, 20, 20, 20);
ORBA_CLAP_AT(clap_event_note_expression, port_index, 24, 24, 24);
ORBA_CLAP_AT(clap_event_note_expression, channel, 26, 26, 26);
ORBA_CLAP_AT(clap_event_note_expression, key, 28, 28, 28);
ORBA_CLAP_AT(clap_event_note_expression, value, 32, 32, 32);

ORBA_CLAP_PIN(clap_event_param_value, 56, 48, 44, 8, 8, 4);
ORBA_CLAP_AT(clap_event_param_value, param_id, 16, 16, 16);
ORBA_CLAP_AT(clap_event_param_value, cookie, 24, 20, 20);
ORBA_CLAP_AT(clap_event_param_value, note_id, 32, 24, 24);
ORBA_CLAP_AT(clap_event_param_value, port_index, 36, 28, 28);
ORBA_CLAP_AT(clap_event_param_value, channel, 38, 30, 30);
ORBA_CLAP_AT(clap_event_param_value, key, 40, 32, 32);
ORBA_CLAP_AT(clap_event_param_value, value, 48, 40, 36);

ORBA_CLAP_PIN(clap_event_param_mod, 56, 48, 44, 8, 8, 4);
ORBA_CLAP_AT(clap_event_param_mod, param_id, 16, 16, 16);
ORBA_CLAP_AT(clap_event_param_mod, cookie, 24, 20, 20);
ORBA_CLAP_AT(clap_event_param_mod, note_id, 32, 24, 24);
ORBA_CLAP_AT(clap_event_param_mod, port_index, 36, 28, 28);
ORBA_CLAP_AT(clap_event_param_mod, channel, 38, 30, 30);
ORBA_CLAP_AT(clap_event_param_mod, key, 40, 32, 32);
ORBA_CLAP_AT(clap_event_param_mod, amount, 48, 40, 36);

ORBA_CLAP_PIN(clap_event_param_gesture, 20, 20, 20, 4, 4, 4);
ORBA_CLAP_AT(clap_event_param_gesture, param_id, 16, 16, 16);

ORBA_CLAP_PIN(clap_event_transport, 104, 104, 100, 8, 8, 4);
ORBA_CLAP_AT(clap_event_transport, flags, 16, 16, 16);
ORBA_CLAP_AT(clap_event_transport, song_pos_beats, 24, 24, 20);
ORBA_CLAP_AT(clap_event_transport, song_pos_seconds, 32, 32, 28);
ORBA_CLAP_AT(clap_event_transport, tempo, 40, 40, 36);
ORBA_CLAP_AT(clap_event_transport, tempo_inc, 48, 48, 44);
ORBA_CLAP_AT(clap_event_transport, loop_start_beats, 56, 56, 52);
ORBA_CLAP_AT(clap_event_transport, loop_end_beats, 64, 64, 60);
ORBA_CLAP_AT(clap_event_transport, loop_start_seconds, 72, 72, 68);
ORBA_CLAP_AT(clap_event_transport, loop_end_seconds, 80, 80, 76);
ORBA_CLAP_AT(clap_event_transport, bar_start, 88, 88, 84);
ORBA_CLAP_AT(clap_event_transport, bar_number, 96, 96, 92);
ORBA_CLAP_AT(clap_event_transport, tsig_num, 100, 100, 96);
ORBA_CLAP_AT(clap_event_transport, tsig_denom, 102, 102, 98);

ORBA_CLAP_PIN(clap_event_midi, 24, 24, 24, 4, 4, 4);
ORBA_CLAP_AT(clap_event_midi, port_index, 16, 16, 16);
ORBA_CLAP_AT(clap_event_midi, data, 18, 18, 18);

ORBA_CLAP_PIN(clap_event_midi_sysex, 40, 28, 28, 8, 4, 4);
ORBA_CLAP_AT(clap_event_midi_sysex, port_index, 16, 16, 16);
ORBA_CLAP_AT(clap_event_midi_sysex, buffer, 24, 20, 20);
ORBA_CLAP_AT(clap_event_midi_sysex, size, 32, 24, 24);

ORBA_CLAP_PIN(clap_event_midi2, 36, 36, 36, 4, 4, 4);
ORBA_CLAP_AT(clap_event_midi2, port_index, 16, 16, 16);
ORBA_CLAP_AT(clap_event_midi2, data, 20, 20, 20);

ORBA_CLAP_PIN(clap_input_events, 24, 12, 12, 8, 4, 4);
ORBA_CLAP_AT(clap_input_events, size, 8, 4, 4);
ORBA_CLAP_AT(clap_input_events, get, 16, 8, 8);

ORBA_CLAP_PIN(clap_output_events, 16, 8, 8, 8, 4, 4);
ORBA_CLAP_AT(clap_output_events, try_push, 8, 4, 4);

ORBA_CLAP_PIN(clap_param_info, 1320, 1320, 1316, 8, 8, 4);
ORBA_CLAP_AT(clap_param_info, flags, 4, 4, 4);
ORBA_CLAP_AT(clap_param_info, cookie, 8, 8, 8);
ORBA_CLAP_AT(clap_param_info, name, 16, 12, 12);
ORBA_CLAP_AT(clap_param_info, module, 272, 268, 268);
ORBA_CLAP_AT(clap_param_info, min_value, 1296, 1296, 1292);
ORBA_CLAP_AT(clap_param_info, max_value, 1304, 1304, 1300);
ORBA_CLAP_AT(clap_param_info, default_value, 1312, 1312, 1308);

ORBA_CLAP_PIN(clap_plugin_params, 48, 24, 24, 8, 4, 4);
ORBA_CLAP_AT(clap_plugin_params, get_info, 8, 4, 4);
ORBA_CLAP_AT(clap_plugin_params, get_value, 16, 8, 8);
ORBA_CLAP_AT(clap_plugin_params, value_to_text, 24, 12, 12);
ORBA_CLAP_AT(clap_plugin_params, text_to_value, 32, 16, 16);
ORBA_CLAP_AT(clap_plugin_params, flush, 40, 20, 20);

ORBA_CLAP_PIN(clap_host_params, 24, 12, 12, 8, 4, 4);
ORBA_CLAP_AT(clap_host_params, clear, 8, 4, 4);
ORBA_CLAP_AT(clap_host_params, request_flush, 16, 8, 8);

ORBA_CLAP_PIN(clap_plugin_state, 16, 8, 8, 8, 4, 4);
ORBA_CLAP_AT(clap_plugin_state, load, 8, 4, 4);
ORBA_CLAP_PIN(clap_host_state, 8, 4, 4, 8, 4, 4);

ORBA_CLAP_PIN(clap_istream, 16, 8, 8, 8, 4, 4);
ORBA_CLAP_AT(clap_istream, read, 8, 4, 4);
ORBA_CLAP_PIN(clap_ostream, 16, 8, 8, 8, 4, 4);
ORBA_CLAP_AT(clap_ostream, write, 8, 4, 4);

ORBA_CLAP_PIN(clap_plugin_latency, 8, 4, 4, 8, 4, 4);
ORBA_CLAP_PIN(clap_host_latency, 8, 4, 4, 8, 4, 4);
ORBA_CLAP_PIN(clap_plugin_tail, 8, 4, 4, 8, 4, 4);
ORBA_CLAP_PIN(clap_host_tail, 8, 4, 4, 8, 4, 4);

ORBA_CLAP_PIN(clap_audio_port_info, 288, 276, 276, 8, 4, 4);
ORBA_CLAP_AT(clap_audio_port_info, name, 4, 4, 4);
ORBA_CLAP_AT(clap_audio_port_info, flags, 260, 260, 260);
ORBA_CLAP_AT(clap_audio_port_info, channel_count, 264, 264, 264);
ORBA_CLAP_AT(clap_audio_port_info, port_type, 272, 268, 268);
ORBA_CLAP_AT(clap_audio_port_info, in_place_pair, 280, 272, 272);

ORBA_CLAP_PIN(clap_plugin_audio_ports, 16, 8, 8, 8, 4, 4);
ORBA_CLAP_AT(clap_plugin_audio_ports, get, 8, 4, 4);
ORBA_CLAP_PIN(clap_host_audio_ports, 16, 8, 8, 8, 4, 4);
ORBA_CLAP_AT(clap_host_audio_ports, rescan, 8, 4, 4);

ORBA_CLAP_PIN(clap_audio_port_configuration_request, 32, 20, 20, 8, 4, 4);
ORBA_CLAP_AT(clap_audio_port_configuration_request, port_index, 4, 4, 4);
ORBA_CLAP_AT(clap_audio_port_configuration_request, channel_count, 8, 8, 8);
ORBA_CLAP_AT(clap_audio_port_configuration_request, port_type, 16, 12, 12);
ORBA_CLAP_AT(clap_audio_port_configuration_request, port_details, 24, 16, 16);

ORBA_CLAP_PIN(clap_plugin_configurable_audio_ports, 16, 8, 8, 8, 4, 4);
ORBA_CLAP_AT(clap_plugin_configurable_audio_ports, apply_configuration, 8, 4, 4);

#undef ORBA_CLAP_PIN
#undef ORBA_CLAP_AT

static_assert(sizeof(CLAP_PLUGIN_FACTORY_ID) == 20 && sizeof(CLAP_EXT_PARAMS) == 12 &&
              sizeof(CLAP_EXT_STATE) == 11 && sizeof(CLAP_EXT_LATENCY) == 13 &&
              sizeof(CLAP_EXT_TAIL) == 10 && sizeof(CLAP_EXT_AUDIO_PORTS) == 17 &&
              sizeof(CLAP_EXT_CONFIGURABLE_AUDIO_PORTS) == 32 &&
              sizeof(CLAP_EXT_CONFIGURABLE_AUDIO_PORTS_COMPAT) == 37);
static_assert(CLAP_PARAM_IS_ENUM == 0x10000 && CLAP_PARAM_RESCAN_ALL == 8 &&
              CLAP_TRANSPORT_IS_PLAYING == 0x10 && CLAP_SECTIME_FACTOR == 2147483648);

}  // namespace orba::clap::abi
