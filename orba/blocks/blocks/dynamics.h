#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "orba/blocks/block.h"

namespace orba::blocks::dynamics {

extern const BlockInfo INFO;

// Feed-forward compressor, limiter, gate and expander. The gain computer works
// in dB with a quadratic soft knee; the reduction is smoothed with separate
// attack and release; an optional lookahead delays the audio and is reported
// as latency.
class Dynamics final : public Block {
  public:
    enum Mode : unsigned { COMPRESSOR = 0, LIMITER = 1, GATE = 2, EXPANDER = 3 };

    void configure(std::span<const float> args) override;
    void prepare(std::size_t channels, float sample_rate) override;
    void control(std::span<const float> args) override;
    void process(Frame& frame, std::size_t phase) override;
    std::uint32_t latency() const override { return lookahead_; }
    // Index 0: the current gain reduction as a positive number of dB.
    float meter(std::size_t index) const override;

  private:
    float gain_change(float overshoot_db) const;

    std::vector<float> gain_db_;  // smoothed gain change per channel, never above 0
    std::vector<float> mean_square_;
    std::vector<float> hpf_state_;  // low-pass memory of the detector filter
    std::vector<float> level_;
    std::vector<std::vector<float>> lines_;  // lookahead, max(lookahead_, 1) samples each
    unsigned mode_ = COMPRESSOR;
    std::uint32_t lookahead_ = 0;
    std::uint32_t position_ = 0;
    float sample_rate_ = 0.0f;
    float threshold_ = 0.0f;
    float ratio_ = 0.0f;
    float knee_ = 0.0f;
    float attack_ = 0.0f;
    float release_ = 0.0f;
    float makeup_ = 0.0f;
    float hpf_ = 0.0f;  // 0 turns the detector filter off
    float link_ = 0.0f;
    float range_ = 0.0f;
    float meter_ = 0.0f;
    float lookahead_ms_ = 0.0f;
    bool rms_ = false;
};

}  // namespace orba::blocks::dynamics
