#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "orba/blocks/block.h"
#include "orba/blocks/frame.h"

namespace orba::blocks::delay {

// Registered as "delay": a modulated delay line with a damped feedback path
// and an optional ping-pong mode. Arguments: time_ms, feedback, damp_hz, mode,
// mod_depth_ms, mod_rate_hz, max_ms (constant).
extern const BlockInfo INFO;

std::unique_ptr<Block> make();

// One channel's delay memory. `write` is the slot the next sample goes to, so
// a delay of 1 is the sample written last.
struct Line {
    std::vector<float> buffer;
    std::size_t write = 0;
    float damping = 0.0f;  // one-pole low-pass memory of the feedback path

    explicit Line(std::size_t length) : buffer(length, 0.0f) {}
};

class Delay final : public Block {
  public:
    void configure(std::span<const float> args) override;
    void prepare(std::size_t channels, float sample_rate) override;
    void control(std::span<const float> args) override;
    void process(Frame& frame, std::size_t phase) override;
    std::uint32_t tail(std::span<const float> args, float sample_rate) const override;

    std::span<const Line> lines() const { return lines_; }

  private:
    void process_normal(Frame& frame, std::size_t phase);
    void process_pingpong(Frame& frame, std::size_t phase);

    std::vector<Line> lines_;
    float glide_start_ = 0.0f;    // samples
    float glide_target_ = 0.0f;   // samples
    double lfo_increment_ = 0.0;  // cycles per sample
    double lfo_phase_ = 0.0;      // cycles, [0, 1)
    float sample_rate_ = 0.0f;
    float max_ms_ = 0.0f;
    float feedback_ = 0.0f;
    float damping_ = 0.0f;  // feedback low-pass coefficient
    float cutoff_ = -1.0f;  // the frequency damping_ was computed for; -1 for none
    float depth_ = 0.0f;    // modulation depth in samples
    bool pingpong_ = false;
    bool primed_ = false;
};

}  // namespace orba::blocks::delay
