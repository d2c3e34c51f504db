#include "orba/clap/wrapper.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "orba/core/flush_denormals.h"
#include "orba/core/param_text.h"
#include "orba/core/state.h"

namespace orba::clap {
namespace {

// A host's 64-bit value as a parameter value, rounded to nearest. From half a
// step past the largest float on, rounding gives an infinity (which the
// parameter then limits); converting such a value directly is undefined.
float narrow(double value) noexcept {
    constexpr double OVERFLOW_FROM = 0x1.ffffffp127;
    if (value >= OVERFLOW_FROM) return std::numeric_limits<float>::infinity();
    if (value <= -OVERFLOW_FROM) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

// Copies text into a host's fixed buffer, terminated, cut to fit without
// splitting a UTF-8 character. A capacity of 0 writes nothing.
void write_text(char* out, std::size_t capacity, std::string_view text) noexcept {
    if (capacity == 0) return;
    std::size_t n = std::min(text.size(), capacity - 1);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

std::string with_number(std::string_view text, std::uint32_t number) {
    std::array<char, 16> digits{};
    auto result = std::to_chars(digits.data(), digits.data() + digits.size(), number);
    std::string out(text);
    out.append(digits.data(), result.ptr);
    return out;
}

abi::clap_param_info_flags flags_for(const ParamInfo& info) noexcept {
    switch (info.kind) {
        case ParamKind::Float:
            return abi::CLAP_PARAM_IS_AUTOMATABLE;
        case ParamKind::Choice:
            return abi::CLAP_PARAM_IS_STEPPED | abi::CLAP_PARAM_IS_AUTOMATABLE |
                   abi::CLAP_PARAM_IS_ENUM;
        case ParamKind::Toggle:
            return abi::CLAP_PARAM_IS_STEPPED | abi::CLAP_PARAM_IS_AUTOMATABLE |
                   (info.id == "bypass" ? abi::CLAP_PARAM_IS_BYPASS : 0u);
        case ParamKind::Meter:
            return abi::CLAP_PARAM_IS_READONLY;
    }
    return 0;
}

// Plug-in callbacks.

bool plugin_init(const abi::clap_plugin* plugin) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && w->init();
}

void plugin_destroy(const abi::clap_plugin* plugin) noexcept {
    delete Wrapper::from(plugin);
}

bool plugin_activate(const abi::clap_plugin* plugin, double sample_rate, std::uint32_t,
                     std::uint32_t max_frames_count) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && w->activate(sample_rate, max_frames_count);
}

void plugin_deactivate(const abi::clap_plugin* plugin) noexcept {
    if (Wrapper* w = Wrapper::from(plugin)) w->deactivate();
}

bool plugin_start_processing(const abi::clap_plugin*) noexcept {
    return true;
}

void plugin_stop_processing(const abi::clap_plugin*) noexcept {}

void plugin_reset(const abi::clap_plugin* plugin) noexcept {
    if (Wrapper* w = Wrapper::from(plugin)) w->reset();
}

abi::clap_process_status plugin_process(const abi::clap_plugin* plugin,
                                        const abi::clap_process* process) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr || process == nullptr) return abi::CLAP_PROCESS_ERROR;
    return w->process(*process);
}

void plugin_on_main_thread(const abi::clap_plugin* plugin) noexcept {
    if (Wrapper* w = Wrapper::from(plugin)) w->on_main_thread();
}

// Parameters.

std::uint32_t params_count(const abi::clap_plugin* plugin) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr ? w->params_count() : 0;
}

bool params_get_info(const abi::clap_plugin* plugin, std::uint32_t index,
                     abi::clap_param_info* info) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && info != nullptr && w->param_info(index, *info);
}

bool params_get_value(const abi::clap_plugin* plugin, abi::clap_id id, double* value) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && value != nullptr && w->param_value(id, *value);
}

bool params_value_to_text(const abi::clap_plugin* plugin, abi::clap_id id, double value,
                          char* buffer, std::uint32_t capacity) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && buffer != nullptr && w->value_to_text(id, value, buffer, capacity);
}

bool params_text_to_value(const abi::clap_plugin* plugin, abi::clap_id id, const char* text,
                          double* value) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && text != nullptr && value != nullptr &&
           w->text_to_value(id, text, *value);
}

bool param_help_get(const abi::clap_plugin* plugin, abi::clap_id id, char* out,
                    std::uint32_t capacity) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    if (out == nullptr || capacity == 0) return false;
    if (w == nullptr || !w->param_help(id, out, capacity)) {
        out[0] = '\0';
        return false;
    }
    return true;
}

void params_flush(const abi::clap_plugin* plugin, const abi::clap_input_events* in,
                  const abi::clap_output_events*) noexcept {
    if (Wrapper* w = Wrapper::from(plugin)) w->flush(in);
}

// State.

bool state_save(const abi::clap_plugin* plugin, const abi::clap_ostream* stream) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && stream != nullptr && stream->write != nullptr && w->save(*stream);
}

bool state_load(const abi::clap_plugin* plugin, const abi::clap_istream* stream) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && stream != nullptr && stream->read != nullptr && w->load(*stream);
}

// Latency and tail.

std::uint32_t latency_get(const abi::clap_plugin* plugin) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr ? w->latency() : 0;
}

std::uint32_t tail_get(const abi::clap_plugin* plugin) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr ? w->tail() : 0;
}

// Audio ports: one main port each way, both with the instance's channel count.

std::uint32_t ports_count(const abi::clap_plugin*, bool) noexcept {
    return 1;
}

bool ports_get(const abi::clap_plugin* plugin, std::uint32_t index, bool,
               abi::clap_audio_port_info* info) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && info != nullptr && w->port_info(index, *info);
}

// Configurable audio ports.

std::span<const abi::clap_audio_port_configuration_request> request_list(
    const abi::clap_audio_port_configuration_request* requests, std::uint32_t count) noexcept {
    if (requests == nullptr) return {};
    return {requests, count};
}

bool configurable_can_apply(const abi::clap_plugin* plugin,
                            const abi::clap_audio_port_configuration_request* requests,
                            std::uint32_t count) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && w->can_apply(request_list(requests, count));
}

bool configurable_apply(const abi::clap_plugin* plugin,
                        const abi::clap_audio_port_configuration_request* requests,
                        std::uint32_t count) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && w->apply(request_list(requests, count));
}

}  // namespace

const abi::clap_plugin_params PARAMS = {
    .count = params_count,
    .get_info = params_get_info,
    .get_value = params_get_value,
    .value_to_text = params_value_to_text,
    .text_to_value = params_text_to_value,
    .flush = params_flush,
};

const abi::orba_clap_plugin_param_help PARAM_HELP = {.get = param_help_get};

const abi::clap_plugin_state STATE = {
    .save = state_save,
    .load = state_load,
};

const abi::clap_plugin_latency LATENCY = {.get = latency_get};

const abi::clap_plugin_tail TAIL = {.get = tail_get};

const abi::clap_plugin_audio_ports AUDIO_PORTS = {
    .count = ports_count,
    .get = ports_get,
};

const abi::clap_plugin_configurable_audio_ports CONFIGURABLE_PORTS = {
    .can_apply_configuration = configurable_can_apply,
    .apply_configuration = configurable_apply,
};

const void* plugin_get_extension(const abi::clap_plugin*, const char* id) noexcept {
    if (abi::is_id(id, abi::CLAP_EXT_STATE)) return &STATE;
    if (abi::is_id(id, abi::CLAP_EXT_PARAMS)) return &PARAMS;
    if (abi::is_id(id, abi::CLAP_EXT_LATENCY)) return &LATENCY;
    if (abi::is_id(id, abi::CLAP_EXT_TAIL)) return &TAIL;
    if (abi::is_id(id, abi::CLAP_EXT_AUDIO_PORTS)) return &AUDIO_PORTS;
    if (abi::is_id(id, abi::CLAP_EXT_CONFIGURABLE_AUDIO_PORTS) ||
        abi::is_id(id, abi::CLAP_EXT_CONFIGURABLE_AUDIO_PORTS_COMPAT)) {
        return &CONFIGURABLE_PORTS;
    }
    if (abi::is_id(id, abi::ORBA_EXT_PARAM_HELP)) return &PARAM_HELP;
    return nullptr;
}

std::string c_string(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\0') out += c;
    }
    return out;
}

Descriptor::Descriptor(const Config& config) {
    // Reserved up front: the pointers below must not move with a reallocation.
    strings.reserve(7 + config.features.size());
    for (std::string_view text : {config.id, config.name, config.vendor, config.url, config.version,
                                  config.description, std::string_view{}}) {
        strings.push_back(c_string(text));
    }
    for (std::string_view feature : config.features)
        strings.push_back(c_string(feature));
    features.reserve(config.features.size() + 1);
    for (std::size_t i = 7; i < strings.size(); ++i)
        features.push_back(strings[i].c_str());
    features.push_back(nullptr);
    raw.clap_version = abi::CLAP_VERSION;
    raw.id = strings[0].c_str();
    raw.name = strings[1].c_str();
    raw.vendor = strings[2].c_str();
    raw.url = strings[3].c_str();
    raw.version = strings[4].c_str();
    raw.description = strings[5].c_str();
    raw.manual_url = strings[6].c_str();
    raw.support_url = strings[6].c_str();
    raw.features = features.data();
}

const abi::clap_plugin_descriptor* Registry::descriptor() {
    std::call_once(once_, [this] { descriptor_ = std::make_unique<Descriptor>(*config_); });
    return &descriptor_->raw;
}

bool entry_init(Registry& registry, const char*) noexcept {
    registry.descriptor();
    return true;
}

const void* entry_get_factory(const abi::clap_plugin_factory& factory,
                              const char* factory_id) noexcept {
    return abi::is_id(factory_id, abi::CLAP_PLUGIN_FACTORY_ID) ? &factory : nullptr;
}

const abi::clap_plugin_descriptor* factory_descriptor(Registry& registry,
                                                      std::uint32_t index) noexcept {
    return index == 0 ? registry.descriptor() : nullptr;
}

bool accepts(const Registry& registry, const abi::clap_host* host, const char* plugin_id) noexcept {
    return host != nullptr && plugin_id != nullptr &&
           abi::clap_version_is_compatible(host->clap_version) &&
           std::string_view(plugin_id) == registry.config().id;
}

const abi::clap_plugin* Wrapper::create(const abi::clap_plugin_descriptor* descriptor,
                                        const abi::clap_host* host, std::unique_ptr<Inner> inner) {
    auto* wrapper = new Wrapper(descriptor, host, std::move(inner));
    return &wrapper->plugin_;
}

Wrapper* Wrapper::from(const abi::clap_plugin* plugin) noexcept {
    return plugin != nullptr ? static_cast<Wrapper*>(plugin->plugin_data) : nullptr;
}

Wrapper::Wrapper(const abi::clap_plugin_descriptor* descriptor, const abi::clap_host* host,
                 std::unique_ptr<Inner> inner)
    : plugin_{
          .desc = descriptor,
          .plugin_data = this,
          .init = plugin_init,
          .destroy = plugin_destroy,
          .activate = plugin_activate,
          .deactivate = plugin_deactivate,
          .start_processing = plugin_start_processing,
          .stop_processing = plugin_stop_processing,
          .reset = plugin_reset,
          .process = plugin_process,
          .get_extension = plugin_get_extension,
          .on_main_thread = plugin_on_main_thread,
      },
      host_(host),
      inner_(std::move(inner)) {
    const ChannelBounds bounds = channel_bounds(inner_->layout(), BoundsSource::FirstInput);
    min_channels_ = bounds.min;
    max_channels_ = bounds.max;
    channels_ = starting_channels(bounds);
    params_ = inner_->params();
    params_->set_channels(channels_);
    const std::uint32_t latency = inner_->latency();
    latency_.store(latency);
    latency_reported_.store(latency);
    tail_.store(inner_->tail());
    buffers_.reserve(MAX_CHANNELS);
}

Wrapper::~Wrapper() = default;

bool Wrapper::init() noexcept {
    if (host_ != nullptr && host_->get_extension != nullptr) {
        host_params_ = static_cast<const abi::clap_host_params*>(
            host_->get_extension(host_, abi::CLAP_EXT_PARAMS));
        host_latency_ = static_cast<const abi::clap_host_latency*>(
            host_->get_extension(host_, abi::CLAP_EXT_LATENCY));
    }
    return true;
}

bool Wrapper::activate(double sample_rate, std::uint32_t max_frames) noexcept {
    if (active()) return false;
    // Written so that NaN fails too.
    if (!(sample_rate > 0.0 && sample_rate <= MAX_SAMPLE_RATE)) return false;
    sample_rate_ = sample_rate;
    max_frames_ = std::max<std::uint32_t>(max_frames, 1);
    prepare();
    // Activation is the one time a host may be told that the latency moved:
    // what changed since it last heard, while active or not, is told now.
    const std::uint32_t latency = latency_.load(std::memory_order_acquire);
    if (latency_reported_.exchange(latency, std::memory_order_acq_rel) != latency &&
        host_ != nullptr && host_latency_ != nullptr && host_latency_->changed != nullptr) {
        host_latency_->changed(host_);
    }
    restart_requested_ = false;
    active_.store(true, std::memory_order_release);
    return true;
}

// A reset may move the latency while active; the main thread then asks for a
// restart, as for any other change while active.
void Wrapper::reset() noexcept {
    if (active() && prepare()) request_callback();
}

bool Wrapper::prepare() noexcept {
    params_->set_channels(channels_);
    inner_->prepare(ProcessSetup{
        .max_frames = max_frames_,
        .sample_rate = static_cast<float>(sample_rate_),
        .channels = channels_,
    });
    tail_.store(inner_->tail(), std::memory_order_release);
    const std::uint32_t latency = inner_->latency();
    return latency_.exchange(latency, std::memory_order_acq_rel) != latency;
}

void Wrapper::request_callback() const noexcept {
    if (host_ != nullptr && host_->request_callback != nullptr) host_->request_callback(host_);
}

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

// While active a host may not be told that the latency moved; it is asked,
// once, to deactivate and activate again, and the activation tells it.
void Wrapper::on_main_thread() noexcept {
    if (params_changed_.exchange(false, std::memory_order_acq_rel)) params_->notify();
    if (!active() || restart_requested_) return;
    const std::uint32_t latency = latency_.load(std::memory_order_acquire);
    if (latency != latency_reported_.load(std::memory_order_acquire) && host_ != nullptr &&
        host_latency_ != nullptr && host_->request_restart != nullptr) {
        host_->request_restart(host_);
        restart_requested_ = true;
    }
}

bool Wrapper::decode(abi::clap_id id, Target& target) const noexcept {
    const std::size_t index = id / 128;
    const std::uint32_t channel = id % 128;
    if (index >= params_->size()) return false;
    const bool valid = params_->at(index).info().per_channel ? channel < channels_ : channel == 0;
    if (!valid) return false;
    target = Target{index, channel};
    return true;
}

bool Wrapper::apply_events(const abi::clap_input_events* events) noexcept {
    if (events == nullptr || events->size == nullptr || events->get == nullptr) return false;
    bool wrote = false;
    const std::uint32_t count = events->size(events);
    for (std::uint32_t i = 0; i < count; ++i) {
        const abi::clap_event_header* header = events->get(events, i);
        if (header == nullptr || header->space_id != abi::CLAP_CORE_EVENT_SPACE_ID ||
            header->type != abi::CLAP_EVENT_PARAM_VALUE ||
            header->size < sizeof(abi::clap_event_param_value)) {
            continue;
        }
        abi::clap_event_param_value event;
        std::memcpy(&event, header, sizeof event);
        Target target;
        if (!std::isfinite(event.value) || !decode(event.param_id, target)) continue;
        Param& param = params_->at(target.index);
        if (param.info().kind == ParamKind::Meter) continue;
        if (param.info().per_channel) {
            param.set_ch(target.channel, narrow(event.value));
        } else {
            param.set(narrow(event.value));
        }
        wrote = true;
    }
    return wrote;
}

std::uint32_t Wrapper::params_count() const noexcept {
    std::uint32_t count = 0;
    for (const Param& param : params_->params())
        count += param.info().per_channel ? channels_ : 1;
    return count;
}

bool Wrapper::param_info(std::uint32_t index, abi::clap_param_info& out) const noexcept {
    std::uint32_t first = 0;
    for (std::size_t p = 0; p < params_->size(); ++p) {
        const ParamInfo& info = params_->at(p).info();
        const std::uint32_t entries = info.per_channel ? channels_ : 1;
        if (index >= first + entries) {
            first += entries;
            continue;
        }
        const std::uint32_t channel = index - first;
        out.id = static_cast<abi::clap_id>(p * 128 + channel);
        out.flags = flags_for(info);
        out.cookie = nullptr;
        if (info.per_channel) {
            const std::string name = with_number(std::string(info.name) + " ", channel + 1);
            const std::string module =
                with_number(info.group.empty() ? std::string("Channel ")
                                               : std::string(info.group) + "/Channel ",
                            channel + 1);
            write_text(out.name, sizeof out.name, name);
            write_text(out.module, sizeof out.module, module);
        } else {
            write_text(out.name, sizeof out.name, info.name);
            write_text(out.module, sizeof out.module, info.group);
        }
        out.min_value = info.min;
        out.max_value = info.max;
        out.default_value = info.default_value;
        return true;
    }
    return false;
}

bool Wrapper::param_value(abi::clap_id id, double& value) const noexcept {
    Target target;
    if (!decode(id, target)) return false;
    const Param& param = params_->at(target.index);
    value = param.info().per_channel ? param.get_ch(target.channel) : param.get();
    return true;
}

bool Wrapper::value_to_text(abi::clap_id id, double value, char* buffer,
                            std::uint32_t capacity) const noexcept {
    Target target;
    if (!decode(id, target)) return false;
    write_text(buffer, capacity, params_->at(target.index).info().display(narrow(value)));
    return true;
}

bool Wrapper::text_to_value(abi::clap_id id, const char* text, double& value) const noexcept {
    Target target;
    if (!decode(id, target)) return false;
    const std::optional<double> parsed = parse_param_text(params_->at(target.index).info(), text);
    if (!parsed) return false;
    value = *parsed;
    return true;
}

bool Wrapper::param_help(abi::clap_id id, char* out, std::uint32_t capacity) const noexcept {
    Target target;
    if (!decode(id, target)) return false;
    write_text(out, capacity, params_->at(target.index).info().help);
    return true;
}

// Outside processing the flush runs on the main thread and can tell the
// listener at once; while active it comes on the audio thread, so the news
// waits for the main-thread callback.
void Wrapper::flush(const abi::clap_input_events* events) noexcept {
    if (!apply_events(events)) return;
    if (!active()) {
        params_->notify();
        return;
    }
    params_changed_.store(true, std::memory_order_release);
    request_callback();
}

bool Wrapper::save(const abi::clap_ostream& stream) const noexcept {
    const std::vector<std::uint8_t> bytes = state::save(*params_);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const std::size_t remaining = bytes.size() - written;
        const std::int64_t n = stream.write(&stream, bytes.data() + written, remaining);
        if (n <= 0) return false;
        written += std::min(static_cast<std::size_t>(n), remaining);
    }
    return true;
}

// Reads the whole stream before anything is applied, so a stream that fails
// half way changes nothing.
bool Wrapper::load(const abi::clap_istream& stream) noexcept {
    constexpr std::size_t CHUNK = 4096;
    std::vector<std::uint8_t> bytes;
    std::array<std::uint8_t, CHUNK> chunk;
    for (;;) {
        const std::int64_t n = stream.read(&stream, chunk.data(), chunk.size());
        if (n == 0) break;
        // A count above the request would make us read past our own buffer.
        if (n < 0 || static_cast<std::uint64_t>(n) > CHUNK) return false;
        const auto count = static_cast<std::size_t>(n);
        if (bytes.size() + count > MAX_STATE_BYTES) return false;
        bytes.insert(bytes.end(), chunk.begin(),
                     chunk.begin() + static_cast<std::ptrdiff_t>(count));
    }
    if (!state::load(*params_, bytes)) return false;
    if (host_ != nullptr && host_params_ != nullptr && host_params_->rescan != nullptr) {
        host_params_->rescan(host_, abi::CLAP_PARAM_RESCAN_VALUES);
    }
    return true;
}

bool Wrapper::port_info(std::uint32_t index, abi::clap_audio_port_info& info) const noexcept {
    if (index != 0) return false;
    info.id = 0;
    write_text(info.name, sizeof info.name, "Main");
    info.flags = abi::CLAP_AUDIO_PORT_IS_MAIN;
    info.channel_count = channels_;
    info.port_type = channels_ == 1   ? abi::CLAP_PORT_MONO
                     : channels_ == 2 ? abi::CLAP_PORT_STEREO
                                      : nullptr;
    info.in_place_pair = 0;
    return true;
}

// Input and output requests are judged alike: the instance runs one channel
// count both ways.
bool Wrapper::can_apply(
    std::span<const abi::clap_audio_port_configuration_request> requests) const noexcept {
    if (requests.empty() || active()) return false;
    const std::uint32_t count = requests[0].channel_count;
    if (count < min_channels_ || count > max_channels_) return false;
    return std::all_of(requests.begin(), requests.end(), [count](const auto& request) {
        return request.port_index == 0 && request.channel_count == count;
    });
}

bool Wrapper::apply(std::span<const abi::clap_audio_port_configuration_request> requests) noexcept {
    if (!can_apply(requests)) return false;
    channels_ = requests[0].channel_count;
    params_->set_channels(channels_);
    // Per-channel parameters come and go with the channel count.
    if (host_ != nullptr && host_params_ != nullptr && host_params_->rescan != nullptr) {
        host_params_->rescan(host_, abi::CLAP_PARAM_RESCAN_ALL);
    }
    return true;
}

}  // namespace orba::clap
