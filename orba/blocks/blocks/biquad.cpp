#include "orba/blocks/blocks/biquad.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string_view>

namespace orba::blocks::biquad {

namespace {

constexpr std::string_view TYPES[] = {"lowpass", "highpass", "bandpass",  "notch",
                                      "peak",    "lowshelf", "highshelf", "allpass"};
constexpr std::string_view SLOPES[] = {"12", "24", "36", "48"};

constexpr ArgInfo ARGS[] = {
    {.name = "type",
     .unit = "",
     .choices = TYPES,
     .help = "Which response.",
     .min = 0.0f,
     .max = 7.0f,
     .default_value = 0.0f},
    {.name = "freq",
     .unit = "Hz",
     .choices = {},
     .help = "Cutoff, centre or corner frequency.",
     .min = 10.0f,
     .max = 24000.0f,
     .default_value = 1000.0f},
    {.name = "q",
     .unit = "",
     .choices = {},
     .help = "Resonance or bandwidth. For a steep low-pass or high-pass the "
             "Butterworth values "
             "are used instead.",
     .min = 0.1f,
     .max = 40.0f,
     .default_value = 0.70710677f},
    {.name = "gain_db",
     .unit = "dB",
     .choices = {},
     .help = "Boost or cut for peak, lowshelf and highshelf. The other types "
             "ignore it.",
     .min = -36.0f,
     .max = 36.0f,
     .default_value = 0.0f},
    {.name = "slope",
     .unit = "",
     .choices = SLOPES,
     .help = "Decibels per octave for lowpass and highpass. The other types "
             "ignore it.",
     .min = 0.0f,
     .max = 3.0f,
     .default_value = 0.0f},
};

// 5 ms, written as the f32 product 5 * 0.001 (0.0050000004).
constexpr float TIME_CONSTANT = 5.0f * 0.001f;

// Truncates a normalised choice value to a whole number no larger than `max`.
unsigned whole(float value, unsigned max) {
    if (!(value > 0.0f)) return 0;
    return value >= static_cast<float>(max) ? max : static_cast<unsigned>(value);
}

}  // namespace

constinit const BlockInfo INFO = {
    .name = "filter",
    .help =
        "A second-order filter: low-pass, high-pass, band-pass, notch, "
        "peaking bell, low "
        "shelf, high shelf or all-pass. A low-pass or high-pass can have a "
        "steeper slope, made "
        "of cascaded Butterworth sections. Frequency, Q and gain glide, so "
        "sweeping them does "
        "not click.",
    .args = ARGS,
    .meters = {},
    .make = make,
};

std::unique_ptr<Block> make() {
    return std::make_unique<Filter>();
}

float smoothing_coefficient(float sample_rate, float seconds) {
    return 1.0f - std::exp(-32.0f / (sample_rate * seconds));
}

Coeffs design(unsigned response, float freq, float q, float gain_db, float sample_rate) {
    const double rate = sample_rate;
    const double f = std::min(static_cast<double>(std::max(freq, 5.0f)), 0.49 * rate);
    const double w0 = 2.0 * std::numbers::pi * f / rate;
    const double c = std::cos(w0);
    const double sn = std::sin(w0);
    const double alpha = sn / (2.0 * std::max(static_cast<double>(q), 0.05));
    const double a = std::pow(10.0, static_cast<double>(gain_db) / 40.0);

    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a0 = 1.0, a1 = 0.0, a2 = 0.0;
    switch (std::min(response, 7u)) {
        case LOWPASS:
            b0 = (1.0 - c) / 2.0;
            b1 = 1.0 - c;
            b2 = (1.0 - c) / 2.0;
            a0 = 1.0 + alpha;
            a1 = -2.0 * c;
            a2 = 1.0 - alpha;
            break;
        case HIGHPASS:
            b0 = (1.0 + c) / 2.0;
            b1 = -(1.0 + c);
            b2 = (1.0 + c) / 2.0;
            a0 = 1.0 + alpha;
            a1 = -2.0 * c;
            a2 = 1.0 - alpha;
            break;
        case BANDPASS:  // 0 dB at the centre
            b0 = alpha;
            b1 = 0.0;
            b2 = -alpha;
            a0 = 1.0 + alpha;
            a1 = -2.0 * c;
            a2 = 1.0 - alpha;
            break;
        case NOTCH:
            b0 = 1.0;
            b1 = -2.0 * c;
            b2 = 1.0;
            a0 = 1.0 + alpha;
            a1 = -2.0 * c;
            a2 = 1.0 - alpha;
            break;
        case PEAK:
            b0 = 1.0 + alpha * a;
            b1 = -2.0 * c;
            b2 = 1.0 - alpha * a;
            a0 = 1.0 + alpha / a;
            a1 = -2.0 * c;
            a2 = 1.0 - alpha / a;
            break;
        case LOWSHELF: {
            const double r = 2.0 * std::sqrt(a) * alpha;
            b0 = a * ((a + 1.0) - (a - 1.0) * c + r);
            b1 = 2.0 * a * ((a - 1.0) - (a + 1.0) * c);
            b2 = a * ((a + 1.0) - (a - 1.0) * c - r);
            a0 = (a + 1.0) + (a - 1.0) * c + r;
            a1 = -2.0 * ((a - 1.0) + (a + 1.0) * c);
            a2 = (a + 1.0) + (a - 1.0) * c - r;
            break;
        }
        case HIGHSHELF: {
            const double r = 2.0 * std::sqrt(a) * alpha;
            b0 = a * ((a + 1.0) + (a - 1.0) * c + r);
            b1 = -2.0 * a * ((a - 1.0) + (a + 1.0) * c);
            b2 = a * ((a + 1.0) + (a - 1.0) * c - r);
            a0 = (a + 1.0) - (a - 1.0) * c + r;
            a1 = 2.0 * ((a - 1.0) - (a + 1.0) * c);
            a2 = (a + 1.0) - (a - 1.0) * c - r;
            break;
        }
        default:  // ALLPASS
            b0 = 1.0 - alpha;
            b1 = -2.0 * c;
            b2 = 1.0 + alpha;
            a0 = 1.0 + alpha;
            a1 = -2.0 * c;
            a2 = 1.0 - alpha;
            break;
    }
    return {static_cast<float>(b0 / a0), static_cast<float>(b1 / a0), static_cast<float>(b2 / a0),
            static_cast<float>(a1 / a0), static_cast<float>(a2 / a0)};
}

void run_section(const Coeffs& c, float* state, float* data, std::size_t count) {
    float s1 = state[0];
    float s2 = state[1];
    for (std::size_t j = 0; j < count; ++j) {
        const float x = data[j];
        const float y = c.b0 * x + s1;
        s1 = s2 + (c.b1 * x - c.a1 * y);
        s2 = c.b2 * x - c.a2 * y;
        data[j] = y;
    }
    state[0] = s1;
    state[1] = s2;
}

void settle(std::span<float> state) {
    bool finite = true;
    for (float& v : state) {
        if (std::fabs(v) < 1e-20f) v = 0.0f;
        finite = finite && std::isfinite(v);
    }
    // An infinity or NaN in a recursion never leaves it on its own.
    if (!finite) std::fill(state.begin(), state.end(), 0.0f);
}

void Filter::prepare(std::size_t channels, float sample_rate) {
    states_.assign(channels, State{});
    smoothing_ = smoothing_coefficient(sample_rate, TIME_CONSTANT);
    sections_.fill(Coeffs{});
    active_ = 1;
    log_freq_ = {};
    log_q_ = {};
    gain_db_ = {};
    sample_rate_ = sample_rate;
}

void Filter::control(std::span<const float> args) {
    const unsigned kind = whole(args[0], 7);
    const float freq = std::exp2(log_freq_.step(std::log2(args[1]), smoothing_));
    const float q = std::exp2(log_q_.step(std::log2(args[2]), smoothing_));
    const float gain_db = gain_db_.step(args[3], smoothing_);
    const unsigned slope = whole(args[4], 3);

    if ((kind == LOWPASS || kind == HIGHPASS) && slope > 0) {
        // Butterworth poles of an order-2n filter, paired into n sections:
        // Q_k = 1 / (2 sin((2k + 1) pi / 4n)).
        const unsigned n = slope + 1;
        const float m = 4.0f * static_cast<float>(n);
        for (unsigned k = 0; k < n; ++k) {
            const float angle = static_cast<float>(2 * k + 1) * 3.1415927f / m;
            const float section_q = 1.0f / (2.0f * std::sin(angle));
            sections_[k] = design(kind, freq, section_q, 0.0f, sample_rate_);
        }
        active_ = n;
    } else {
        sections_[0] = design(kind, freq, q, gain_db, sample_rate_);
        active_ = 1;
    }
}

void Filter::process(Frame& frame, std::size_t /*phase*/) {
    const std::size_t channels = std::min(frame.channels, states_.size());
    for (std::size_t ch = 0; ch < channels; ++ch) {
        State& state = states_[ch];
        // Section by section over the whole slice: the same arithmetic as
        // sample by sample, with each section's state kept in registers.
        for (std::size_t s = 0; s < active_; ++s) {
            run_section(sections_[s], &state[2 * s], frame.channel(ch), frame.frames);
        }
        settle(state);
    }
}

}  // namespace orba::blocks::biquad
