#include "orba/blocks/blocks/harmonic_eq.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace orba::blocks::harmonic_eq {

namespace {

constexpr ArgInfo level(std::string_view name, float range, std::string_view help) {
    return {.name = name,
            .unit = "dB",
            .choices = {},
            .help = help,
            .min = -range,
            .max = range,
            .default_value = 0.0f};
}

constexpr ArgInfo ARGS[] = {
    {.name = "fundamental_hz",
     .unit = "Hz",
     .choices = {},
     .help = "The pitch. Use note(n) for a MIDI note, or 50 or 60 to treat "
             "mains hum.",
     .min = 20.0f,
     .max = 2000.0f,
     .default_value = 110.0f},
    {.name = "harmonics",
     .unit = "",
     .choices = {},
     .help = "How many harmonics, counted from the first one affected.",
     .min = 1.0f,
     .max = 32.0f,
     .default_value = 8.0f},
    {.name = "first",
     .unit = "",
     .choices = {},
     .help = "The lowest harmonic number affected. 2 leaves the fundamental alone.",
     .min = 1.0f,
     .max = 32.0f,
     .default_value = 1.0f},
    level("gain_db", 24.0f, "Boost or cut for every band."),
    level("tilt_db_oct", 12.0f,
          "Extra gain per doubling of the harmonic number. Positive brightens "
          "the overtones."),
    level("odd_db", 24.0f, "Extra gain on the odd harmonics: 1, 3, 5 and so on."),
    level("even_db", 24.0f, "Extra gain on the even harmonics: 2, 4, 6 and so on."),
    {.name = "bandwidth",
     .unit = "",
     .choices = {},
     .help = "Each band's width as a fraction of the fundamental. Small is "
             "narrow and surgical.",
     .min = 0.02f,
     .max = 1.0f,
     .default_value = 0.25f},
    {.name = "stretch",
     .unit = "",
     .choices = {},
     .help = "Inharmonicity. Band k sits at k times the fundamental times "
             "sqrt(1 + stretch * k * "
             "k).",
     .min = 0.0f,
     .max = 0.02f,
     .default_value = 0.0f},
    level("trim_1_db", 24.0f, "Extra gain on harmonic 1."),
    level("trim_2_db", 24.0f, "Extra gain on harmonic 2."),
    level("trim_3_db", 24.0f, "Extra gain on harmonic 3."),
    level("trim_4_db", 24.0f, "Extra gain on harmonic 4."),
    level("trim_5_db", 24.0f, "Extra gain on harmonic 5."),
    level("trim_6_db", 24.0f, "Extra gain on harmonic 6."),
    level("trim_7_db", 24.0f, "Extra gain on harmonic 7."),
    level("trim_8_db", 24.0f, "Extra gain on harmonic 8."),
};

// 8 ms, stepped once per 32-sample control period.
constexpr float TIME_CONSTANT = 0.008f;

// A band whose gain lies within this many dB of zero is left out.
constexpr float SILENT_DB = 0.02f;

// Rounds a normalised count to a whole number in [1, 32], halves away from
// zero.
int harmonic_number(float value) {
    if (!(value >= 1.0f)) return 1;
    if (value >= 32.0f) return 32;
    return static_cast<int>(std::round(value));
}

}  // namespace

constinit const BlockInfo INFO = {
    .name = "harmonic_eq",
    .help =
        "A parametric equalizer with its bands on the harmonics of one "
        "fundamental. Band k "
        "sits at k times the fundamental and has the gain base + tilt * "
        "log2(k) + (odd or even "
        "lift) + the trim for harmonic k, if there is one. Bandwidth is a "
        "fraction of the "
        "fundamental, so the bands cover the spectrum evenly and a narrow "
        "setting rings like a "
        "comb. Harmonics above 45% of the sample rate are left out.",
    .args = ARGS,
    .meters = {},
    .make = make,
};

std::unique_ptr<Block> make() {
    return std::make_unique<HarmonicEq>();
}

void HarmonicEq::prepare(std::size_t channels, float sample_rate) {
    states_.assign(channels, State{});
    active_.fill(false);
    bands_.fill(biquad::Coeffs{});
    active_count_ = 0;
    log_fundamental_ = {};
    gain_db_ = {};
    tilt_db_oct_ = {};
    odd_db_ = {};
    even_db_ = {};
    log_bandwidth_ = {};
    stretch_ = {};
    trims_.fill(biquad::Smoothed{});
    sample_rate_ = sample_rate;
    smoothing_ = biquad::smoothing_coefficient(sample_rate, TIME_CONSTANT);
}

void HarmonicEq::control(std::span<const float> args) {
    const float k = smoothing_;
    const float f0 = std::exp2(log_fundamental_.step(std::log2(args[0]), k));
    const float gain_db = gain_db_.step(args[3], k);
    const float tilt = tilt_db_oct_.step(args[4], k);
    const float odd_db = odd_db_.step(args[5], k);
    const float even_db = even_db_.step(args[6], k);
    const float bw = std::exp2(log_bandwidth_.step(std::log2(args[7]), k));
    const float stretch = stretch_.step(args[8], k);
    std::array<float, TRIMS> trims{};
    for (std::size_t t = 0; t < TRIMS; ++t)
        trims[t] = trims_[t].step(args[9 + t], k);

    active_.fill(false);
    active_count_ = 0;

    const int first = harmonic_number(args[2]);
    const int last = std::min(first + harmonic_number(args[1]) - 1, static_cast<int>(BANDS));
    const float limit = sample_rate_ * 0.45f;
    // Every band is f0 * bw hertz wide, so Q grows with the harmonic number.
    const float width_hz = f0 * bw;
    for (int h = first; h <= last; ++h) {
        const float n = static_cast<float>(h);
        const float fk = f0 * n * std::sqrt(stretch * n * n + 1.0f);
        if (fk >= limit) break;
        float gk = ((h & 1) ? odd_db : even_db) + (gain_db + tilt * std::log2(n));
        if (h <= static_cast<int>(TRIMS)) gk = gk + trims[h - 1];
        if (std::fabs(gk) < SILENT_DB) continue;
        const float q = std::clamp(fk / width_hz, 0.5f, 300.0f);
        gk = std::clamp(gk, -36.0f, 36.0f);
        const std::size_t i = static_cast<std::size_t>(h - 1);
        bands_[i] = biquad::design(biquad::PEAK, fk, q, gk, sample_rate_);
        active_[i] = true;
        order_[active_count_++] = static_cast<std::uint8_t>(i);
    }
}

void HarmonicEq::process(Frame& frame, std::size_t /*phase*/) {
    const std::size_t channels = std::min(frame.channels, states_.size());
    for (std::size_t ch = 0; ch < channels; ++ch) {
        State& state = states_[ch];
        // An inactive band rests, so it starts from silence when it returns.
        for (std::size_t i = 0; i < BANDS; ++i) {
            if (!active_[i]) {
                state[2 * i] = 0.0f;
                state[2 * i + 1] = 0.0f;
            }
        }
        // Band by band over the whole slice: the same arithmetic as sample by
        // sample through the chain, at one state pair in registers at a time.
        for (std::size_t a = 0; a < active_count_; ++a) {
            const std::size_t i = order_[a];
            biquad::run_section(bands_[i], &state[2 * i], frame.channel(ch), frame.frames);
        }
        biquad::settle(state);
    }
}

}  // namespace orba::blocks::harmonic_eq
