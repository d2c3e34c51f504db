#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "orba/blocks/block.h"
#include "orba/blocks/frame.h"

namespace orba::blocks::biquad {

// Registered as "filter": a second-order filter with eight responses, and
// steeper low-pass and high-pass slopes made of cascaded Butterworth sections.
// Arguments: type, freq, q, gain_db, slope.
extern const BlockInfo INFO;

std::unique_ptr<Block> make();

// Response numbers as the "type" argument gives them.
enum Response : unsigned {
    LOWPASS = 0,
    HIGHPASS = 1,
    BANDPASS = 2,
    NOTCH = 3,
    PEAK = 4,
    LOWSHELF = 5,
    HIGHSHELF = 6,
    ALLPASS = 7,
};

// One biquad section, normalised so that a0 = 1. The default is pass-through.
struct Coeffs {
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
};

// The Audio EQ Cookbook section for `response` (0..7, higher counts as 7),
// computed in f64. The frequency is held to [5 Hz, 0.49 * sample_rate] and Q
// raised to at least 0.05; gain_db only matters for peak and the shelves.
Coeffs design(unsigned response, float freq, float q, float gain_db, float sample_rate);

// The per-period step of a smoothed control: k = 1 - exp(-32 / (sample_rate *
// seconds)), a time constant of `seconds` at any sample rate, computed in f32.
float smoothing_coefficient(float sample_rate, float seconds);

// A control that moves once per control period, v += k * (target - v). The
// first step after a reset lands on the target, so a freshly prepared block
// never glides up from zero.
struct Smoothed {
    float value = 0.0f;
    bool primed = false;

    float step(float target, float k) {
        if (primed) {
            value = value + k * (target - value);
        } else {
            value = target;
            primed = true;
        }
        return value;
    }
};

// Runs `count` samples of `data` through one section in transposed direct
// form II; `state` holds its (s1, s2).
void run_section(const Coeffs& c, float* state, float* data, std::size_t count);

// The end-of-slice guard for one channel's section states: values below 1e-20
// in magnitude become 0, and when any value is no longer finite every value
// becomes 0. A finite input then gives a finite output from the next slice on,
// and states that stay finite are left exactly as they are.
void settle(std::span<float> state);

class Filter final : public Block {
  public:
    static constexpr std::size_t MAX_SECTIONS = 4;

    void prepare(std::size_t channels, float sample_rate) override;
    void control(std::span<const float> args) override;
    void process(Frame& frame, std::size_t phase) override;

    // The sections in force for the current control period.
    std::span<const Coeffs> sections() const { return {sections_.data(), active_}; }

  private:
    // s1, s2 of each section in turn.
    using State = std::array<float, 2 * MAX_SECTIONS>;

    std::vector<State> states_;
    std::array<Coeffs, MAX_SECTIONS> sections_{};
    std::size_t active_ = 1;
    Smoothed log_freq_;  // log2 Hz
    Smoothed log_q_;     // log2 Q
    Smoothed gain_db_;
    float sample_rate_ = 0.0f;
    float smoothing_ = 0.0f;
};

}  // namespace orba::blocks::biquad
