#include "orba/core/param.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>
#include <utility>

#include "orba/core/charconv.h"
#include "orba/core/fatal.h"

namespace orba {

static_assert(std::atomic<std::uint32_t>::is_always_lock_free,
              "parameter slots must be lock-free single words");
static_assert(std::atomic<std::size_t>::is_always_lock_free);

std::string ParamInfo::display(float value) const {
    if (formatter != nullptr) return formatter(value);
    switch (kind) {
        case ParamKind::Choice: {
            if (choices.empty()) return {};
            const float last = static_cast<float>(choices.size() - 1);
            // Compared as floats before the conversion so a huge value or NaN
            // never reaches an out-of-range integer conversion.
            const float rounded = value > 0.0f ? std::round(value) : 0.0f;
            const auto index =
                rounded < last ? static_cast<std::size_t>(rounded) : choices.size() - 1;
            return std::string(choices[index]);
        }
        case ParamKind::Toggle:
            return value >= 0.5f ? "On" : "Off";
        case ParamKind::Float:
        case ParamKind::Meter:
            break;
    }
    // to_chars with a precision rounds the exact binary value, ties to even,
    // and never consults the locale. 3.4e38 needs 39 digits plus ".00" and a sign.
    char buffer[64];
    const auto [end, error] = orba::to_chars(
        buffer, buffer + sizeof buffer, static_cast<double>(value), std::chars_format::fixed, 2);
    std::string text(buffer, error == std::errc{} ? end : buffer);
    if (!unit.empty()) {
        text += ' ';
        text += unit;
    }
    return text;
}

struct Param::Owned {
    std::string id, name, help, unit, group;
    std::vector<std::string> choice_names;
    std::vector<std::string_view> choice_views;
    ParamInfo info;
};

Param::Param() = default;
Param::Param(Param&&) noexcept = default;
Param& Param::operator=(Param&&) noexcept = default;
Param::~Param() = default;

namespace {

std::optional<std::string_view> check(const ParamInfo& info) {
    // Written as negated comparisons so that a NaN anywhere fails.
    if (!(info.min < info.max)) return ": min must be below max";
    if (!(info.min <= info.default_value && info.default_value <= info.max)) {
        return ": default outside range";
    }
    if (info.log && !(info.min > 0.0f)) return ": a log curve needs min above zero";
    if (info.kind == ParamKind::Choice) {
        if (info.choices.size() < 2) return ": a choice needs two or more names";
        if (!(info.min == 0.0f && info.max == static_cast<float>(info.choices.size() - 1))) {
            return ": a choice runs from 0 to its last index";
        }
    }
    if (info.kind == ParamKind::Toggle && !(info.min == 0.0f && info.max == 1.0f)) {
        return ": a toggle runs from 0 to 1";
    }
    return std::nullopt;
}

std::size_t ceiling(std::size_t max_channels) {
    return std::clamp<std::size_t>(max_channels, 1, MAX_CHANNELS);
}

}  // namespace

Result<Param> Param::create(const ParamInfo& info, std::size_t max_channels) {
    if (const auto problem = check(info)) return fail(std::string(info.id) + std::string(*problem));

    Param param;
    param.owned_ = std::make_unique<Owned>();
    Owned& owned = *param.owned_;
    owned.id = info.id;
    owned.name = info.name;
    owned.help = info.help;
    owned.unit = info.unit;
    owned.group = info.group;
    owned.choice_names.assign(info.choices.begin(), info.choices.end());
    owned.choice_views.assign(owned.choice_names.begin(), owned.choice_names.end());
    owned.info = info;
    owned.info.id = owned.id;
    owned.info.name = owned.name;
    owned.info.help = owned.help;
    owned.info.unit = owned.unit;
    owned.info.group = owned.group;
    owned.info.choices = owned.choice_views;
    param.info_ = &owned.info;

    const std::size_t ceil = ceiling(max_channels);
    param.slot_count_ = info.per_channel && ceil > 1 ? ceil : 1;
    param.slots_ = std::make_unique<std::atomic<std::uint32_t>[]>(param.slot_count_);
    for (std::size_t i = 0; i < param.slot_count_; ++i)
        param.store(i, info.default_value);
    return param;
}

float Param::load(std::size_t slot) const noexcept {
    return std::bit_cast<float>(slots_[slot].load(std::memory_order_relaxed));
}

void Param::store(std::size_t slot, float value) noexcept {
    slots_[slot].store(std::bit_cast<std::uint32_t>(value), std::memory_order_relaxed);
}

float Param::normalise(float value) const noexcept {
    const ParamInfo& i = *info_;
    if (std::isnan(value)) return i.default_value;
    value = std::clamp(value, i.min, i.max);
    if (i.kind == ParamKind::Choice || i.kind == ParamKind::Toggle) value = std::round(value);
    return value;
}

float Param::set(float value) noexcept {
    value = normalise(value);
    for (std::size_t i = 0; i < slot_count_; ++i)
        store(i, value);
    return value;
}

float Param::set_ch(std::size_t channel, float value) noexcept {
    value = normalise(value);
    store(slot_of(channel), value);
    return value;
}

Result<std::shared_ptr<ParamSet>> ParamSet::with_channels(std::span<const ParamInfo> table,
                                                          std::size_t max_channels) {
    std::vector<Param> params;
    params.reserve(table.size());
    for (const ParamInfo& info : table) {
        auto param = Param::create(info, max_channels);
        if (!param) return std::move(param).take_error();
        params.push_back(std::move(param).value());
    }
    for (std::size_t i = 1; i < params.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (params[i].info().id == params[j].info().id) {
                return fail("duplicate parameter id " + std::string(params[i].info().id));
            }
        }
    }
    return std::make_shared<ParamSet>(Token{}, std::move(params), ceiling(max_channels));
}

ParamSet::ParamSet(Token, std::vector<Param> params, std::size_t max_channels)
    : params_(std::move(params)), max_channels_(max_channels) {}

Param& ParamSet::at(std::size_t index) {
    if (index >= params_.size()) fatal("parameter index beyond the parameter count");
    return params_[index];
}

const Param& ParamSet::at(std::size_t index) const {
    if (index >= params_.size()) fatal("parameter index beyond the parameter count");
    return params_[index];
}

void ParamSet::set_channels(std::size_t n) noexcept {
    channels_.store(std::clamp<std::size_t>(n, 1, max_channels_), std::memory_order_relaxed);
}

bool ParamSet::install_listener(std::function<void(ParamSet&)> listener) {
    bool installed = false;
    std::call_once(listener_once_, [&] {
        listener_ = std::move(listener);
        has_listener_.store(true, std::memory_order_release);
        installed = true;
    });
    return installed;
}

void ParamSet::notify() {
    if (has_listener_.load(std::memory_order_acquire) && listener_) listener_(*this);
}

}  // namespace orba
