#include "orba/blocks/blocks/onepole.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace orba::blocks::onepole {

namespace {

constexpr std::string_view TYPES[] = {"lowpass", "highpass"};

constexpr ArgInfo ARGS[] = {
    {.name = "type",
     .unit = "",
     .choices = TYPES,
     .help = "Low-pass or high-pass.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "freq",
     .unit = "Hz",
     .choices = {},
     .help = "The corner frequency, where the response is 3 dB down.",
     .min = 1.0f,
     .max = 24000.0f,
     .default_value = 1000.0f},
};

// 5 ms, written as the f32 product 5 * 0.001 (0.0050000004).
constexpr float TIME_CONSTANT = 5.0f * 0.001f;

}  // namespace

constinit const BlockInfo INFO = {
    .name = "onepole",
    .help =
        "A first-order filter with a gentle 6 dB per octave slope. Use it "
        "for tone controls, "
        "for DC removal with a high-pass near 5 Hz, and wherever a sharper "
        "filter would sound "
        "harsh.",
    .args = ARGS,
    .meters = {},
    .make = make,
};

std::unique_ptr<Block> make() {
    return std::make_unique<OnePole>();
}

void OnePole::prepare(std::size_t channels, float sample_rate) {
    states_.assign(channels, 0.0f);
    log_freq_ = {};
    sample_rate_ = sample_rate;
    smoothing_ = biquad::smoothing_coefficient(sample_rate, TIME_CONSTANT);
    coefficient_ = 0.0f;
    highpass_ = false;
}

void OnePole::control(std::span<const float> args) {
    const float v = log_freq_.step(std::log2(args[1]), smoothing_);
    const float f = std::min(std::max(std::exp2(v), 1.0f), 0.49f * sample_rate_);
    coefficient_ = 1.0f - std::exp(f * -6.2831855f / sample_rate_);
    highpass_ = args[0] >= 0.5f;
}

void OnePole::process(Frame& frame, std::size_t /*phase*/) {
    const std::size_t channels = std::min(frame.channels, states_.size());
    const float a = coefficient_;
    for (std::size_t ch = 0; ch < channels; ++ch) {
        float* data = frame.channel(ch);
        float s = states_[ch];
        if (highpass_) {
            for (std::size_t j = 0; j < frame.frames; ++j) {
                const float x = data[j];
                s = s + a * (x - s);
                data[j] = x - s;
            }
        } else {
            for (std::size_t j = 0; j < frame.frames; ++j) {
                s = s + a * (data[j] - s);
                data[j] = s;
            }
        }
        // A non-finite state would never leave the recursion: it starts again
        // from silence, so a finite input gives a finite output from the next
        // slice on.
        states_[ch] = std::fabs(s) < 1e-20f || !std::isfinite(s) ? 0.0f : s;
    }
}

}  // namespace orba::blocks::onepole
