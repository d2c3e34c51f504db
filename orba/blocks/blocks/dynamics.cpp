#include "orba/blocks/blocks/dynamics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <string_view>

namespace orba::blocks::dynamics {

namespace {

// ln(10) / 20: exp(dB * this) is the gain factor of dB.
constexpr float DB_TO_LN = std::bit_cast<float>(0x3DEBC8E2u);
constexpr float MINUS_TWO_PI = -6.2831855f;
constexpr float DENORMAL = 1e-20f;

constexpr std::string_view MODES[] = {"compressor", "limiter", "gate", "expander"};
constexpr std::string_view OFF_ON[] = {"off", "on"};
constexpr std::string_view DETECTORS[] = {"peak", "rms"};
constexpr std::string_view METERS[] = {"gain_reduction_db"};

constexpr ArgInfo ARGS[] = {
    {.name = "mode",
     .unit = "",
     .choices = MODES,
     .help = "compressor reduces by ratio above the threshold. limiter is a compressor with an "
             "infinite ratio. expander reduces by ratio below the threshold, and gate is the same "
             "with a steep ratio set by range.",
     .min = 0.0f,
     .max = 3.0f,
     .default_value = 0.0f},
    {.name = "threshold_db",
     .unit = "dB",
     .choices = {},
     .help = "The level where the effect starts.",
     .min = -80.0f,
     .max = 0.0f,
     .default_value = -18.0f},
    {.name = "ratio",
     .unit = "",
     .choices = {},
     .help = "For a compressor, the input change for 1 dB of output change above the threshold. "
             "For an expander, the extra reduction below it.",
     .min = 1.0f,
     .max = 100.0f,
     .default_value = 4.0f},
    {.name = "knee_db",
     .unit = "dB",
     .choices = {},
     .help = "The width of the soft transition around the threshold.",
     .min = 0.0f,
     .max = 24.0f,
     .default_value = 6.0f},
    {.name = "attack_ms",
     .unit = "ms",
     .choices = {},
     .help = "How fast the gain reduction builds.",
     .min = 0.01f,
     .max = 200.0f,
     .default_value = 10.0f},
    {.name = "release_ms",
     .unit = "ms",
     .choices = {},
     .help = "How fast the gain comes back.",
     .min = 1.0f,
     .max = 2000.0f,
     .default_value = 120.0f},
    {.name = "makeup_db",
     .unit = "dB",
     .choices = {},
     .help = "Gain after the processing.",
     .min = -24.0f,
     .max = 36.0f,
     .default_value = 0.0f},
    {.name = "auto_makeup",
     .unit = "",
     .choices = OFF_ON,
     .help = "Adds the gain a typical signal loses, estimated from the threshold and ratio.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "detector",
     .unit = "",
     .choices = DETECTORS,
     .help = "How the level is measured. rms follows loudness and is gentler.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "sidechain_hpf_hz",
     .unit = "Hz",
     .choices = {},
     .help = "A high-pass on the detector alone. Near 10 Hz it does nothing.",
     .min = 10.0f,
     .max = 1000.0f,
     .default_value = 10.0f},
    {.name = "link",
     .unit = "",
     .choices = {},
     .help = "0 measures each channel on its own and 1 uses the loudest channel for all of them.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 1.0f},
    {.name = "lookahead_ms",
     .unit = "ms",
     .choices = {},
     .help = "Delays the audio so the detector sees peaks early. Adds this much latency.",
     .min = 0.0f,
     .max = 10.0f,
     .default_value = 0.0f,
     .constant = true},
    {.name = "range_db",
     .unit = "dB",
     .choices = {},
     .help = "The most the gain can be turned down.",
     .min = 0.0f,
     .max = 80.0f,
     .default_value = 80.0f},
};

enum Arg : std::size_t {
    MODE,
    THRESHOLD_DB,
    RATIO,
    KNEE_DB,
    ATTACK_MS,
    RELEASE_MS,
    MAKEUP_DB,
    AUTO_MAKEUP,
    DETECTOR,
    SIDECHAIN_HPF_HZ,
    LINK,
    LOOKAHEAD_MS,
    RANGE_DB,
};

std::unique_ptr<Block> make() {
    return std::make_unique<Dynamics>();
}

}  // namespace

const BlockInfo INFO = {
    .name = "dynamics",
    .help =
        "A dynamics processor. As a compressor or limiter it turns down what rises above the "
        "threshold. As a gate or expander it turns down what falls below it. The detector can be "
        "filtered so bass does not pump the whole mix, and the channels can be linked so the "
        "stereo image holds still. A lookahead adds latency, which the plugin reports to the host.",
    .args = ARGS,
    .meters = METERS,
    .make = make,
};

void Dynamics::configure(std::span<const float> args) {
    lookahead_ms_ = args[LOOKAHEAD_MS];
}

void Dynamics::prepare(std::size_t channels, float sample_rate) {
    lookahead_ = static_cast<std::uint32_t>(std::round(sample_rate * (lookahead_ms_ * 0.001f)));
    gain_db_.assign(channels, 0.0f);
    mean_square_.assign(channels, 0.0f);
    hpf_state_.assign(channels, 0.0f);
    level_.assign(channels, 0.0f);
    // A host may prepare again on the audio thread (a CLAP reset): keep the
    // memory when its shape holds and only clear it.
    const std::size_t length = std::max<std::uint32_t>(lookahead_, 1);
    if (lines_.size() == channels && (channels == 0 || lines_[0].size() == length)) {
        for (auto& line : lines_)
            std::fill(line.begin(), line.end(), 0.0f);
    } else {
        lines_.assign(channels, std::vector<float>(length, 0.0f));
    }
    mode_ = COMPRESSOR;
    position_ = 0;
    sample_rate_ = sample_rate;
    threshold_ = ratio_ = knee_ = attack_ = release_ = makeup_ = hpf_ = link_ = range_ = 0.0f;
    meter_ = 0.0f;
    rms_ = false;
}

void Dynamics::control(std::span<const float> args) {
    mode_ = static_cast<unsigned>(args[MODE]);
    threshold_ = args[THRESHOLD_DB];
    // The limiter's "infinite" ratio is a fixed 1000; a gate is an expander
    // with at least 20:1.
    if (mode_ == LIMITER) {
        ratio_ = 1000.0f;
    } else if (mode_ == GATE) {
        ratio_ = std::max(args[RATIO], 20.0f);
    } else {
        ratio_ = args[RATIO];
    }
    knee_ = args[KNEE_DB];
    attack_ = std::exp(-1.0f / ((args[ATTACK_MS] * 0.001f) * sample_rate_));
    release_ = std::exp(-1.0f / (sample_rate_ * (args[RELEASE_MS] * 0.001f)));
    // A typical signal sits about half the threshold's depth above it, so it
    // loses (1 - 1/ratio) of that; capped at 24 dB.
    float estimate = 0.0f;
    if (mode_ == COMPRESSOR && args[AUTO_MAKEUP] >= 0.5f) {
        estimate = std::min((1.0f - 1.0f / ratio_) * threshold_ * -0.5f, 24.0f);
    }
    makeup_ = estimate + args[MAKEUP_DB];
    rms_ = args[DETECTOR] >= 0.5f;
    // Below 15 Hz the filter would do nothing audible, so it is skipped.
    const float hpf_hz = args[SIDECHAIN_HPF_HZ];
    if (hpf_hz > 15.0f) {
        const float fc = std::clamp(hpf_hz, 1.0f, 0.49f * sample_rate_);
        hpf_ = 1.0f - std::exp(fc * MINUS_TWO_PI / sample_rate_);
    } else {
        hpf_ = 0.0f;
    }
    link_ = args[LINK];
    range_ = args[RANGE_DB];
}

float Dynamics::gain_change(float u) const {
    const float k = knee_ / 2.0f;
    const bool in_knee = knee_ > 0.0f && std::fabs(u) < k;
    if (mode_ == COMPRESSOR || mode_ == LIMITER) {
        if (in_knee) return (1.0f / ratio_ - 1.0f) * ((u + k) * (u + k)) / (2.0f * knee_);
        return u > 0.0f ? (1.0f / ratio_ - 1.0f) * u : 0.0f;
    }
    if (in_knee) return -(ratio_ - 1.0f) * ((k - u) * (k - u)) / (2.0f * knee_);
    return u < 0.0f ? (ratio_ - 1.0f) * u : 0.0f;
}

void Dynamics::process(Frame& frame, std::size_t phase) {
    (void)phase;
    const std::size_t n = frame.frames;
    // A frame wider than the prepared channel count leaves the extra channels
    // alone rather than reading state it does not have.
    const std::size_t channels = std::min(frame.channels, gain_db_.size());
    if (channels == 0) {
        meter_ = -0.0f;
        if (lookahead_ > 0) position_ = static_cast<std::uint32_t>((position_ + n) % lookahead_);
        return;
    }
    // A 10 ms averaging time for the mean square.
    const float m = std::exp(-1.0f / (sample_rate_ * 0.01f));
    for (std::size_t i = 0; i < n; ++i) {
        float loudest = 0.0f;
        for (std::size_t j = 0; j < channels; ++j) {
            float x = frame.channel(j)[i];
            float& s = hpf_state_[j];
            float level;
            if (rms_) {
                if (hpf_ > 0.0f) {
                    s = s + hpf_ * (x - s);
                    x = x - s;
                }
                float& q = mean_square_[j];
                q = q + (1.0f - m) * (x * x - q);
                level = std::sqrt(q);
            } else if (hpf_ > 0.0f) {
                s = s + hpf_ * (x - s);
                level = std::fabs(x - s);
            } else {
                level = std::fabs(x);
            }
            level_[j] = level;
            loudest = std::max(loudest, level);
        }
        float deepest = 0.0f;
        for (std::size_t j = 0; j < channels; ++j) {
            const float v = level_[j] + link_ * (loudest - level_[j]);
            // The 1e-9 floor is -180 dB.
            const float u = 20.0f * std::log10(std::max(v, 1e-9f)) - threshold_;
            const float target = std::clamp(gain_change(u), -range_, 0.0f);
            float& c = gain_db_[j];
            const float coef = target < c ? attack_ : release_;
            c = target + coef * (c - target);

            float* audio = frame.channel(j);
            float y = audio[i];
            if (lookahead_ > 0) {
                float& slot = lines_[j][position_];
                y = slot;
                slot = audio[i];
            }
            audio[i] = y * std::exp((makeup_ + c) * DB_TO_LN);
            deepest = std::min(deepest, c);
        }
        meter_ = -deepest;
        if (lookahead_ > 0 && ++position_ == lookahead_) position_ = 0;
    }
    // A NaN in the level or gain memory would hold the gain at NaN, and an
    // infinite mean square would pin the level, for good: each starts again
    // from rest, so a finite input is measured afresh from the next slice on.
    for (std::size_t j = 0; j < channels; ++j) {
        if (std::fabs(gain_db_[j]) < DENORMAL || !std::isfinite(gain_db_[j])) gain_db_[j] = 0.0f;
        if (std::fabs(mean_square_[j]) < DENORMAL || !std::isfinite(mean_square_[j])) {
            mean_square_[j] = 0.0f;
        }
        if (!std::isfinite(hpf_state_[j])) hpf_state_[j] = 0.0f;
    }
}

float Dynamics::meter(std::size_t index) const {
    return index == 0 ? meter_ : 0.0f;
}

}  // namespace orba::blocks::dynamics
