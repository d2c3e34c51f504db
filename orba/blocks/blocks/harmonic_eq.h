#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "orba/blocks/block.h"
#include "orba/blocks/blocks/biquad.h"
#include "orba/blocks/frame.h"

namespace orba::blocks::harmonic_eq {

// Registered as "harmonic_eq": up to 32 peaking bands in series on the
// harmonics of one fundamental. Arguments: fundamental_hz, harmonics, first,
// gain_db, tilt_db_oct, odd_db, even_db, bandwidth, stretch, trim_1_db to
// trim_8_db.
extern const BlockInfo INFO;

std::unique_ptr<Block> make();

class HarmonicEq final : public Block {
  public:
    static constexpr std::size_t BANDS = 32;
    static constexpr std::size_t TRIMS = 8;

    void prepare(std::size_t channels, float sample_rate) override;
    void control(std::span<const float> args) override;
    void process(Frame& frame, std::size_t phase) override;

    // Harmonic numbers are 1..32.
    bool active(std::size_t harmonic) const { return active_[harmonic - 1]; }
    const biquad::Coeffs& band(std::size_t harmonic) const { return bands_[harmonic - 1]; }

  private:
    // (s1, s2) of every band in turn.
    using State = std::array<float, 2 * BANDS>;

    std::vector<State> states_;
    std::array<bool, BANDS> active_{};
    std::array<biquad::Coeffs, BANDS> bands_{};
    // Indices of the active bands in ascending order, rebuilt by control.
    std::array<std::uint8_t, BANDS> order_{};
    std::size_t active_count_ = 0;

    biquad::Smoothed log_fundamental_;  // log2 Hz
    biquad::Smoothed gain_db_;
    biquad::Smoothed tilt_db_oct_;
    biquad::Smoothed odd_db_;
    biquad::Smoothed even_db_;
    biquad::Smoothed log_bandwidth_;  // log2 of the fraction of the fundamental
    biquad::Smoothed stretch_;
    std::array<biquad::Smoothed, TRIMS> trims_{};
    float sample_rate_ = 0.0f;
    float smoothing_ = 0.0f;
};

}  // namespace orba::blocks::harmonic_eq
