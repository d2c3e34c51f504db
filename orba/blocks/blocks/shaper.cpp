#include "orba/blocks/blocks/shaper.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <string_view>

namespace orba::blocks::shaper {

namespace {

// ln(10) / 20: exp(dB * this) is the gain factor of dB.
constexpr float DB_TO_LN = std::bit_cast<float>(0x3DEBC8E2u);
constexpr float HALF_PI = 1.5707964f;
constexpr float PERIOD_STEP = 0.03125f;  // 1 / 32, one control period

constexpr std::string_view CURVES[] = {"tanh", "hard", "softclip", "fold", "tube"};

constexpr ArgInfo ARGS[] = {
    {.name = "curve",
     .unit = "",
     .choices = CURVES,
     .help = "tanh rounds the peaks smoothly. hard cuts them flat. softclip is a gentle cubic "
             "knee. fold wraps the peaks back on themselves. tube is asymmetric, saturating one "
             "half harder than the other.",
     .min = 0.0f,
     .max = 4.0f,
     .default_value = 0.0f},
    {.name = "drive_db",
     .unit = "dB",
     .choices = {},
     .help = "Gain before the curve.",
     .min = -24.0f,
     .max = 48.0f,
     .default_value = 0.0f},
    {.name = "bias",
     .unit = "",
     .choices = {},
     .help =
         "Moves the signal off centre before the curve. The constant this adds is removed after.",
     .min = -1.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "output_db",
     .unit = "dB",
     .choices = {},
     .help = "Gain after the curve.",
     .min = -48.0f,
     .max = 24.0f,
     .default_value = 0.0f},
};

std::unique_ptr<Block> make() {
    return std::make_unique<Shaper>();
}

}  // namespace

const BlockInfo INFO = {
    .name = "shaper",
    .help =
        "Pushes the signal through a curve. Drive sets how hard, and every curve adds harmonics. "
        "Bias moves the signal off centre before the curve, which adds even harmonics. It does not "
        "oversample yet, so very high drive can alias. Follow it with a low-pass to tame the top.",
    .args = ARGS,
    .meters = {},
    .make = make,
};

namespace {

template <unsigned C>
float shape(float w) {
    if constexpr (C == Shaper::TANH) {
        return std::tanh(w);
    } else if constexpr (C == Shaper::HARD) {
        return std::clamp(w, -1.0f, 1.0f);
    } else if constexpr (C == Shaper::SOFTCLIP) {
        // 1.5 (w - w^3 / 3): meets +-1 at w = +-1 with zero slope.
        if (w >= 1.0f) return 1.0f;
        if (w <= -1.0f) return -1.0f;
        return 1.5f * (w + (w * (w * w)) / -3.0f);
    } else if constexpr (C == Shaper::FOLD) {
        return std::sin(w * HALF_PI);
    } else {
        // Slope 1 at zero on both sides; the positive half saturates at 1,
        // the negative half at -0.8.
        if (w >= 0.0f) return 1.0f - std::exp(-w);
        return -0.8f * (1.0f - std::exp(1.25f * w));
    }
}

struct Glide {
    float bias, dc, prev_drive, drive, prev_output, output;
};

// The curve is chosen once per call so the sample loop has no branch on it.
template <unsigned C>
void run(Frame& frame, std::size_t phase, const Glide& g) {
    for (std::size_t c = 0; c < frame.channels; ++c) {
        float* x = frame.channel(c);
        for (std::size_t j = 0; j < frame.frames; ++j) {
            const float pos = static_cast<float>(phase + j + 1) * PERIOD_STEP;
            const float w = g.bias + x[j] * (g.prev_drive + (g.drive - g.prev_drive) * pos);
            const float out = g.prev_output + (g.output - g.prev_output) * pos;
            x[j] = out * (shape<C>(w) - g.dc);
        }
    }
}

}  // namespace

float Shaper::curve_value(unsigned curve, float w) {
    switch (curve) {
        case TANH:
            return shape<TANH>(w);
        case HARD:
            return shape<HARD>(w);
        case SOFTCLIP:
            return shape<SOFTCLIP>(w);
        case FOLD:
            return shape<FOLD>(w);
        default:
            return shape<TUBE>(w);
    }
}

void Shaper::prepare(std::size_t channels, float sample_rate) {
    (void)channels;
    (void)sample_rate;
    *this = Shaper{};
}

void Shaper::control(std::span<const float> args) {
    curve_ = static_cast<unsigned>(args[0]);
    bias_ = args[2];
    dc_ = curve_value(curve_, bias_);
    const float drive = std::exp(args[1] * DB_TO_LN);
    const float output = std::exp(args[3] * DB_TO_LN);
    if (primed_) {
        prev_drive_ = drive_;
        prev_output_ = output_;
    } else {
        prev_drive_ = drive;
        prev_output_ = output;
        primed_ = true;
    }
    drive_ = drive;
    output_ = output;
}

void Shaper::process(Frame& frame, std::size_t phase) {
    const Glide g{bias_, dc_, prev_drive_, drive_, prev_output_, output_};
    switch (curve_) {
        case TANH:
            run<TANH>(frame, phase, g);
            break;
        case HARD:
            run<HARD>(frame, phase, g);
            break;
        case SOFTCLIP:
            run<SOFTCLIP>(frame, phase, g);
            break;
        case FOLD:
            run<FOLD>(frame, phase, g);
            break;
        default:
            run<TUBE>(frame, phase, g);
            break;
    }
}

}  // namespace orba::blocks::shaper
