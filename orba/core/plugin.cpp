#include "orba/core/plugin.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orba {

namespace {

std::uint32_t limit_count(std::uint32_t n) {
    return std::clamp<std::uint32_t>(n, 1, MAX_CHANNELS);
}

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace

float effective_tempo(const ProcessContext& context) noexcept {
    if (!context.tempo) return DEFAULT_TEMPO;
    // Narrowed first, so a tempo that only overflows f32 also falls back.
    const auto tempo = static_cast<float>(*context.tempo);
    return std::isfinite(tempo) && tempo >= 20.0f ? tempo : DEFAULT_TEMPO;
}

void silence_non_finite(Buffers buffers) noexcept {
    constexpr float LARGEST = std::numeric_limits<float>::max();
    // NaN fails the comparison too; one compare and select per sample, which
    // the compiler vectorises.
    for (const std::span<float> buffer : buffers) {
        for (float& x : buffer)
            x = std::fabs(x) <= LARGEST ? x : 0.0f;
    }
}

ChannelBounds channel_bounds(const Channels& channels) noexcept {
    return std::visit(Overloaded{
                          [](const Channels::Fixed& f) {
                              const auto n = limit_count(f.count);
                              return ChannelBounds{n, n};
                          },
                          [](const Channels::Range& r) {
                              const auto lo = limit_count(r.min);
                              return ChannelBounds{lo, std::max(std::min(r.max, MAX_CHANNELS), lo)};
                          },
                          [](const Channels::Any&) {
                              return ChannelBounds{1, MAX_CHANNELS};
                          },
                      },
                      channels.rule);
}

ChannelBounds channel_bounds(const Layout& layout, BoundsSource source) noexcept {
    if (!layout.inputs.empty()) return channel_bounds(layout.inputs.front().channels);
    if (source == BoundsSource::FirstInputElseFirstOutput && !layout.outputs.empty()) {
        return channel_bounds(layout.outputs.front().channels);
    }
    return ChannelBounds{1, MAX_CHANNELS};
}

std::uint32_t starting_channels(ChannelBounds bounds) noexcept {
    return std::clamp<std::uint32_t>(2, bounds.min, std::max(bounds.min, bounds.max));
}

}  // namespace orba
