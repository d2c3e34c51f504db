#include "orba/blocks/blocks/stereo.h"

#include <bit>
#include <cmath>
#include <memory>
#include <string_view>
#include <utility>

namespace orba::blocks::stereo {

namespace {

// ln(10) / 20: exp(dB * this) is the gain factor of dB.
constexpr float DB_TO_LN = std::bit_cast<float>(0x3DEBC8E2u);
constexpr float PERIOD_STEP = 0.03125f;  // 1 / 32, one control period

constexpr std::string_view MODES[] = {"width", "encode", "decode", "mono", "swap"};

constexpr ArgInfo ARGS[] = {
    {.name = "mode",
     .unit = "",
     .choices = MODES,
     .help = "width scales mid and side. encode puts mid in channel 0 and side in channel 1. "
             "decode reverses it. mono sums to the middle. swap exchanges left and right.",
     .min = 0.0f,
     .max = 4.0f,
     .default_value = 0.0f},
    {.name = "width",
     .unit = "",
     .choices = {},
     .help = "Side level multiplier for width mode. 0 is mono, 1 is unchanged, 2 is twice as wide.",
     .min = 0.0f,
     .max = 2.0f,
     .default_value = 1.0f},
    {.name = "mid_db",
     .unit = "dB",
     .choices = {},
     .help = "Mid level for width mode.",
     .min = -24.0f,
     .max = 24.0f,
     .default_value = 0.0f},
    {.name = "side_db",
     .unit = "dB",
     .choices = {},
     .help = "Side level for width mode.",
     .min = -24.0f,
     .max = 24.0f,
     .default_value = 0.0f},
};

std::unique_ptr<Block> make() {
    return std::make_unique<Stereo>();
}

}  // namespace

const BlockInfo INFO = {
    .name = "stereo",
    .help =
        "Mid/side work on a two-channel signal. width changes the level of the side signal and "
        "mid_db and side_db change each one's level. encode turns left and right into mid and "
        "side, so a filter or compressor on one channel, with the node's `only` option, works on "
        "the mid or the side alone. decode turns them back. With any other channel count the block "
        "does nothing.",
    .args = ARGS,
    .meters = {},
    .make = make,
};

void Stereo::prepare(std::size_t channels, float sample_rate) {
    (void)sample_rate;
    *this = Stereo{};
    two_channels_ = channels == 2;
}

void Stereo::control(std::span<const float> args) {
    mode_ = static_cast<unsigned>(args[0]);
    const float mid = std::exp(args[2] * DB_TO_LN);
    const float side = args[1] * std::exp(args[3] * DB_TO_LN);
    if (primed_) {
        prev_mid_ = mid_;
        prev_side_ = side_;
    } else {
        prev_mid_ = mid;
        prev_side_ = side;
        primed_ = true;
    }
    mid_ = mid;
    side_ = side;
}

void Stereo::process(Frame& frame, std::size_t phase) {
    if (!two_channels_ || frame.channels != 2) return;
    float* left = frame.channel(0);
    float* right = frame.channel(1);
    const std::size_t n = frame.frames;
    switch (mode_) {
        case WIDTH:
            for (std::size_t j = 0; j < n; ++j) {
                const float g = static_cast<float>(phase + j + 1) * PERIOD_STEP;
                const float l = left[j];
                const float r = right[j];
                const float mid = (prev_mid_ + (mid_ - prev_mid_) * g) * ((l + r) * 0.5f);
                const float side = (prev_side_ + (side_ - prev_side_) * g) * ((l - r) * 0.5f);
                left[j] = mid + side;
                right[j] = mid - side;
            }
            break;
        case ENCODE:
            for (std::size_t j = 0; j < n; ++j) {
                const float l = left[j];
                const float r = right[j];
                left[j] = (l + r) * 0.5f;
                right[j] = (l - r) * 0.5f;
            }
            break;
        case DECODE:
            for (std::size_t j = 0; j < n; ++j) {
                const float m = left[j];
                const float s = right[j];
                left[j] = m + s;
                right[j] = m - s;
            }
            break;
        case MONO:
            for (std::size_t j = 0; j < n; ++j) {
                const float m = (left[j] + right[j]) * 0.5f;
                left[j] = m;
                right[j] = m;
            }
            break;
        default:
            for (std::size_t j = 0; j < n; ++j)
                std::swap(left[j], right[j]);
            break;
    }
}

}  // namespace orba::blocks::stereo
