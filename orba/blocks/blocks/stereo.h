#pragma once

#include <cstddef>
#include <span>

#include "orba/blocks/block.h"

namespace orba::blocks::stereo {

extern const BlockInfo INFO;

// Mid/side work on a two-channel signal: width and mid/side levels, encoding
// to and decoding from mid/side, folding to mono, swapping. With any other
// channel count it leaves the audio alone.
class Stereo final : public Block {
  public:
    enum Mode : unsigned { WIDTH = 0, ENCODE = 1, DECODE = 2, MONO = 3, SWAP = 4 };

    void prepare(std::size_t channels, float sample_rate) override;
    void control(std::span<const float> args) override;
    void process(Frame& frame, std::size_t phase) override;

  private:
    unsigned mode_ = WIDTH;
    float prev_mid_ = 0.0f;
    float mid_ = 0.0f;
    float prev_side_ = 0.0f;
    float side_ = 0.0f;
    bool two_channels_ = false;
    bool primed_ = false;
};

}  // namespace orba::blocks::stereo
