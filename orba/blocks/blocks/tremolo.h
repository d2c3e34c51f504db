#pragma once

#include <cstddef>
#include <span>

#include "orba/blocks/block.h"

namespace orba::blocks::tremolo {

extern const BlockInfo INFO;

// Level modulation by a sine or triangle LFO. Each channel's LFO runs a set
// fraction of a cycle ahead of the previous channel's; half a cycle apart on
// two channels makes an auto-pan. The depth glides across the control period.
class Tremolo final : public Block {
  public:
    void prepare(std::size_t channels, float sample_rate) override;
    void control(std::span<const float> args) override;
    void process(Frame& frame, std::size_t phase) override;

  private:
    double increment_ = 0.0;  // cycles per sample
    float prev_depth_ = 0.0f;
    float depth_ = 0.0f;
    double channel_offset_ = 0.0;  // cycles from one channel's LFO to the next
    double lfo_phase_ = 0.0;       // cycles, in [0, 1)
    float sample_rate_ = 0.0f;
    bool triangle_ = false;
    bool primed_ = false;
};

}  // namespace orba::blocks::tremolo
