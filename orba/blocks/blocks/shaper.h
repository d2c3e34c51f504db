#pragma once

#include <cstddef>
#include <span>

#include "orba/blocks/block.h"

namespace orba::blocks::shaper {

extern const BlockInfo INFO;

// A memoryless waveshaper: drive, bias, curve, then the curve's value at the
// bias alone is taken off so silence stays silence. Drive and output glide
// across the control period.
class Shaper final : public Block {
  public:
    enum Curve : unsigned { TANH = 0, HARD = 1, SOFTCLIP = 2, FOLD = 3, TUBE = 4 };

    // The curve by index; any index above TUBE is the tube curve.
    static float curve_value(unsigned curve, float w);

    void prepare(std::size_t channels, float sample_rate) override;
    void control(std::span<const float> args) override;
    void process(Frame& frame, std::size_t phase) override;

  private:
    unsigned curve_ = 0;
    float prev_drive_ = 0.0f;
    float drive_ = 0.0f;
    float prev_output_ = 0.0f;
    float output_ = 0.0f;
    float bias_ = 0.0f;
    float dc_ = 0.0f;
    bool primed_ = false;
};

}  // namespace orba::blocks::shaper
