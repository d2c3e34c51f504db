#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <span>

#include "orba/blocks/block.h"
#include "orba/blocks/frame.h"

namespace orba::blocks::gain {

// Registered as "gain": level, polarity and, on two channels, constant-power
// pan. Arguments: gain_db, pan, invert.
extern const BlockInfo INFO;

std::unique_ptr<Block> make();

class Gain final : public Block {
  public:
    void prepare(std::size_t channels, float sample_rate) override;
    void control(std::span<const float> args) override;
    void process(Frame& frame, std::size_t phase) override;

  private:
    std::size_t channels_ = 0;
    // Linear gains at the start (previous) and end (target) of the period.
    float previous_left_ = 0.0f;
    float previous_right_ = 0.0f;
    float previous_mono_ = 0.0f;
    float target_left_ = 0.0f;
    float target_right_ = 0.0f;
    float target_mono_ = 0.0f;
    bool primed_ = false;
    // The last decibels and pan seen, with what they gave: automation rarely
    // moves them, and exp, cos and sin per tick are most of the block's cost.
    // NaN never compares equal, so the first control always computes.
    float seen_db_ = std::numeric_limits<float>::quiet_NaN();
    float seen_pan_ = std::numeric_limits<float>::quiet_NaN();
    float level_ = 0.0f;
    float cos_ = 0.0f;
    float sin_ = 0.0f;
};

}  // namespace orba::blocks::gain
