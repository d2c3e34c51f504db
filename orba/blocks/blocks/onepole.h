#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "orba/blocks/block.h"
#include "orba/blocks/blocks/biquad.h"
#include "orba/blocks/frame.h"

namespace orba::blocks::onepole {

// Registered as "onepole": a first-order low-pass or high-pass, 6 dB per
// octave. Arguments: type, freq.
extern const BlockInfo INFO;

std::unique_ptr<Block> make();

class OnePole final : public Block {
  public:
    void prepare(std::size_t channels, float sample_rate) override;
    void control(std::span<const float> args) override;
    void process(Frame& frame, std::size_t phase) override;

    // The low-pass coefficient in force, 1 - exp(-2 pi f / sample_rate).
    float coefficient() const { return coefficient_; }

  private:
    std::vector<float> states_;  // low-pass memory per channel
    biquad::Smoothed log_freq_;  // log2 Hz
    float sample_rate_ = 0.0f;
    float smoothing_ = 0.0f;
    float coefficient_ = 0.0f;
    bool highpass_ = false;
};

}  // namespace orba::blocks::onepole
