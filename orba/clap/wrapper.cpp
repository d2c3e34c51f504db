#include "orba/clap/wrapper.h"

#include <algorithm>
#include <cstring>

namespace orba::clap {
namespace {

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

}  // namespace

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

void write_text(char* out, std::size_t capacity, std::string_view text) noexcept {
    if (capacity == 0) return;
    std::size_t n = std::min(text.size(), capacity - 1);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
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

}  // namespace orba::clap
