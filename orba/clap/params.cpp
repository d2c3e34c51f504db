#include "orba/clap/wrapper.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "orba/core/param_text.h"

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

// Parameter help, our own extension.

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

}  // namespace orba::clap
