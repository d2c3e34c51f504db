#include "orba/blocks/blocks/gain.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace orba::blocks::gain {
namespace {

enum : std::size_t { GAIN_DB, PAN, INVERT };

constexpr std::string_view SWITCH[] = {"off", "on"};

constexpr ArgInfo ARGS[] = {
    {.name = "gain_db",
     .unit = "dB",
     .help = "Level change.",
     .min = -96.0f,
     .max = 48.0f,
     .default_value = 0.0f},
    {.name = "pan",
     .help = "Balance from -1 (left) to 1 (right), constant power. Only used with exactly two "
             "channels.",
     .min = -1.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "invert",
     .choices = SWITCH,
     .help = "Flips the polarity.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
};

// ln(10) / 20: exp(dB * this) is the amplitude of a level in decibels.
constexpr float DB_TO_LN = std::bit_cast<float>(std::uint32_t{0x3DEBC8E2});

// Multiplies n samples by a gain moving from a to b across the control
// period; with a == b the gain is simply b.
void apply(float* samples, std::size_t n, std::size_t phase, float a, float b) {
    if (a == b) {
        for (std::size_t j = 0; j < n; ++j)
            samples[j] *= b;
        return;
    }
    const float step = b - a;
    for (std::size_t j = 0; j < n; ++j) {
        samples[j] *= a + step * (static_cast<float>(phase + j + 1) / 32.0f);
    }
}

}  // namespace

const BlockInfo INFO = {
    "gain",
    "Changes the level, flips the polarity and pans a stereo signal. A change glides across 32 "
    "samples, so automating it does not click.",
    ARGS,
    {},
    &make,
};

std::unique_ptr<Block> make() {
    return std::make_unique<Gain>();
}

void Gain::prepare(std::size_t channels, float sample_rate) {
    (void)sample_rate;
    channels_ = channels;
    previous_left_ = previous_right_ = previous_mono_ = 0.0f;
    target_left_ = target_right_ = target_mono_ = 0.0f;
    primed_ = false;
}

void Gain::control(std::span<const float> args) {
    if (args.size() < std::size(ARGS)) return;
    if (!(args[GAIN_DB] == seen_db_)) {
        seen_db_ = args[GAIN_DB];
        level_ = std::exp(seen_db_ * DB_TO_LN);
    }
    float g = level_;
    if (args[INVERT] >= 0.5f) g = -g;
    float left = g;
    float right = g;
    if (channels_ == 2) {
        // Constant power: theta runs from 0 to pi/2 across the pan range and
        // cos^2 + sin^2 = 1, scaled by sqrt(2) so the centre keeps the level.
        if (!(args[PAN] == seen_pan_)) {
            seen_pan_ = args[PAN];
            const float theta = (seen_pan_ + 1.0f) * 0.7853982f;
            cos_ = std::cos(theta);
            sin_ = std::sin(theta);
        }
        const float scaled = g * 1.4142135f;
        left = scaled * cos_;
        right = scaled * sin_;
    }
    if (!primed_) {
        target_left_ = left;
        target_right_ = right;
        target_mono_ = g;
        primed_ = true;
    }
    previous_left_ = target_left_;
    previous_right_ = target_right_;
    previous_mono_ = target_mono_;
    target_left_ = left;
    target_right_ = right;
    target_mono_ = g;
}

void Gain::process(Frame& frame, std::size_t phase) {
    const std::size_t n = std::min(frame.frames, SLICE);
    const std::size_t channels = std::min(frame.channels, frame.data.size());
    for (std::size_t c = 0; c < channels; ++c) {
        if (channels_ != 2) {
            apply(frame.channel(c), n, phase, previous_mono_, target_mono_);
        } else if (c == 0) {
            apply(frame.channel(c), n, phase, previous_left_, target_left_);
        } else {
            apply(frame.channel(c), n, phase, previous_right_, target_right_);
        }
    }
}

}  // namespace orba::blocks::gain
