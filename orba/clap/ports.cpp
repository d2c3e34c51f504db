#include "orba/clap/wrapper.h"

#include <algorithm>

namespace orba::clap {
namespace {

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

const abi::clap_plugin_audio_ports AUDIO_PORTS = {
    .count = ports_count,
    .get = ports_get,
};

const abi::clap_plugin_configurable_audio_ports CONFIGURABLE_PORTS = {
    .can_apply_configuration = configurable_can_apply,
    .apply_configuration = configurable_apply,
};

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
