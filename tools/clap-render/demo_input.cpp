#include "demo_input.h"

#include <algorithm>
#include <cmath>

namespace orba::render {
namespace {

struct Pluck {
    double start_s;
    double frequency_hz;
    double pan;  // 0 left ... 1 right
    double level;
};

constexpr Pluck PLUCKS[] = {
    {0.00, 220.00, 0.30, 1.0}, {0.45, 329.63, 0.70, 0.8}, {0.90, 277.18, 0.45, 0.8},
    {1.35, 440.00, 0.60, 0.7}, {2.10, 164.81, 0.50, 1.0}, {2.55, 246.94, 0.35, 0.7},
};
constexpr double CLICK_S = 3.2;
constexpr double LENGTH_S = 4.0;
constexpr double PEAK = 0.5;  // -6 dBFS

// A channel's share of a source at `pan`: equal-power between the two sides,
// with even channels on the left and odd ones on the right.
double pan_gain(double pan, std::uint32_t channel, std::uint32_t channels) {
    if (channels == 1) return 1.0;
    const double angle = pan * 1.5707963267948966;
    return channel % 2 == 0 ? std::cos(angle) : std::sin(angle);
}

}  // namespace

std::vector<float> demo_input(double sample_rate, std::uint32_t channels) {
    const auto frames = static_cast<std::size_t>(LENGTH_S * sample_rate);
    std::vector<double> mix(frames * channels, 0.0);
    std::uint32_t noise = 0x9E3779B9u;
    auto next_noise = [&noise] {
        noise = noise * 1664525u + 1013904223u;  // a fixed LCG keeps the demo reproducible
        return static_cast<double>(noise >> 8) / 8388608.0 - 1.0;
    };

    // Karplus-Strong: a noise burst circulating in a delay line of one period,
    // averaged with its neighbour on each pass so the highs die first.
    for (const Pluck& pluck : PLUCKS) {
        const auto period =
            std::max<std::size_t>(2, static_cast<std::size_t>(sample_rate / pluck.frequency_hz));
        std::vector<double> line(period);
        for (double& s : line)
            s = next_noise();
        const auto start = static_cast<std::size_t>(pluck.start_s * sample_rate);
        const auto length = static_cast<std::size_t>(1.6 * sample_rate);
        std::size_t index = 0;
        for (std::size_t n = 0; n < length && start + n < frames; ++n) {
            const std::size_t next = (index + 1) % period;
            const double out = line[index];
            line[index] = 0.5 * (line[index] + line[next]) * 0.996;
            index = next;
            // A 5 ms fade-out at the end keeps the cut silent.
            const double fade =
                std::min(1.0, static_cast<double>(length - n) / (0.005 * sample_rate));
            for (std::uint32_t c = 0; c < channels; ++c) {
                mix[(start + n) * channels + c] +=
                    out * pluck.level * fade * pan_gain(pluck.pan, c, channels);
            }
        }
    }

    // The click: one full-scale sample followed by a 2 ms decaying ring, the
    // clearest way to hear each echo's position.
    const auto click = static_cast<std::size_t>(CLICK_S * sample_rate);
    const auto ring = static_cast<std::size_t>(0.002 * sample_rate);
    double peak = 0.0;
    for (double s : mix)
        peak = std::max(peak, std::fabs(s));
    const double click_level = std::max(peak, 1e-9);
    for (std::size_t n = 0; n <= ring && click + n < frames; ++n) {
        const double value = click_level *
                             std::exp(-static_cast<double>(n) / (0.0003 * sample_rate)) *
                             (n % 2 == 0 ? 1.0 : -0.6);
        for (std::uint32_t c = 0; c < channels; ++c)
            mix[(click + n) * channels + c] += value;
    }

    peak = 0.0;
    for (double s : mix)
        peak = std::max(peak, std::fabs(s));
    const double scale = peak > 0.0 ? PEAK / peak : 0.0;
    std::vector<float> samples(mix.size());
    std::transform(mix.begin(), mix.end(), samples.begin(),
                   [scale](double s) { return static_cast<float>(s * scale); });
    return samples;
}

std::vector<float> impulse_input(std::uint32_t channels) {
    return std::vector<float>(channels, 1.0f);
}

}  // namespace orba::render
