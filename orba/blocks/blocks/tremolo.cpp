#include "orba/blocks/blocks/tremolo.h"

#include <cmath>
#include <memory>
#include <string_view>

namespace orba::blocks::tremolo {

namespace {

constexpr double MINUS_TWO_PI = -6.283185307179586;
constexpr float PERIOD_STEP = 0.03125f;  // 1 / 32, one control period

constexpr std::string_view SHAPES[] = {"sine", "triangle"};

constexpr ArgInfo ARGS[] = {
    {.name = "rate_hz",
     .unit = "Hz",
     .choices = {},
     .help = "The speed.",
     .min = 0.05f,
     .max = 40.0f,
     .default_value = 4.0f},
    {.name = "depth",
     .unit = "",
     .choices = {},
     .help = "0 does nothing. 1 takes the level all the way down at the bottom of each cycle.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.5f},
    {.name = "shape",
     .unit = "",
     .choices = SHAPES,
     .help = "The wave.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "stereo_phase",
     .unit = "deg",
     .choices = {},
     .help = "How far each channel's cycle is offset from the one before. 180 with two channels is "
             "an auto-pan.",
     .min = 0.0f,
     .max = 180.0f,
     .default_value = 0.0f},
};

std::unique_ptr<Block> make() {
    return std::make_unique<Tremolo>();
}

}  // namespace

const BlockInfo INFO = {
    .name = "tremolo",
    .help =
        "Varies the level with a low-frequency oscillator. With the channels half a cycle apart it "
        "is an auto-pan.",
    .args = ARGS,
    .meters = {},
    .make = make,
};

void Tremolo::prepare(std::size_t channels, float sample_rate) {
    (void)channels;
    *this = Tremolo{};
    sample_rate_ = sample_rate;
}

void Tremolo::control(std::span<const float> args) {
    increment_ = static_cast<double>(args[0]) / static_cast<double>(sample_rate_);
    if (primed_) {
        prev_depth_ = depth_;
    } else {
        prev_depth_ = args[1];
        primed_ = true;
    }
    depth_ = args[1];
    triangle_ = args[2] >= 0.5f;
    channel_offset_ = static_cast<double>(args[3]) / 360.0;
}

void Tremolo::process(Frame& frame, std::size_t phase) {
    const std::size_t n = frame.frames;
    for (std::size_t c = 0; c < frame.channels; ++c) {
        float* x = frame.channel(c);
        const double start = static_cast<double>(c) * channel_offset_;
        for (std::size_t j = 0; j < n; ++j) {
            const double q = start + (lfo_phase_ + increment_ * static_cast<double>(j));
            const double phi = q - std::trunc(q);
            const float d = prev_depth_ + (depth_ - prev_depth_) *
                                              (static_cast<float>(phase + j + 1) * PERIOD_STEP);
            float gain;
            if (triangle_) {
                // 0 at the start of the cycle, 1 half way: the level dips to 1 - d at
                // phi = 0.
                const auto t = static_cast<float>(1.0 - 4.0 * std::fabs(phi - 0.5));
                gain = 1.0f + (-0.5f * d) * (1.0f - t);
            } else {
                // One sin per channel per sample; the lowest level, 1 - d, is at phi =
                // 0.75.
                const auto s = static_cast<float>(std::sin(MINUS_TWO_PI * phi));
                gain = 1.0f + (-0.5f * d) * (s + 1.0f);
            }
            x[j] *= gain;
        }
    }
    const double next = lfo_phase_ + increment_ * static_cast<double>(n);
    lfo_phase_ = next - std::floor(next);
}

}  // namespace orba::blocks::tremolo
