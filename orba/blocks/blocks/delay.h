#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "orba/blocks/block.h"
#include "orba/blocks/frame.h"

namespace orba::blocks::delay {

// Catmull-Rom through y1 (t = 0) and y2 (t = 1); y0 is the newer neighbour,
// y3 the older one. A loop reads its line with the same operations, so the
// two stay alike to the bit.
inline float interpolate(float y0, float y1, float y2, float y3, float t) {
    return y1 + t * (0.5f * (y2 - y0) + t * ((y0 - 2.5f * y1 + 2.0f * y2 - 0.5f * y3) +
                                             t * (1.5f * (y1 - y2) + 0.5f * (y3 - y0))));
}

// Registered as "delay": a modulated delay line with a damped feedback path
// and an optional ping-pong mode. Arguments: time_ms, feedback, damp_hz, mode,
// mod_depth_ms, mod_rate_hz, max_ms (constant).
extern const BlockInfo INFO;

std::unique_ptr<Block> make();

// The slots a line needs to hold delays up to `max_ms` at `sample_rate`.
std::size_t line_length(float sample_rate, float max_ms);

struct Slice;  // what one slice of the block needs besides its lines and audio

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

    // As process, but when no read of the slice reaches a sample written in
    // it, only the reads run: the output is in `frame` at once, and the
    // damping recursions and line writes wait for `settle`, which runs those
    // of several delays side by side. A shorter delay runs the whole slice
    // here. Every bit comes out as process gives it.
    void read_ahead(Frame& frame, std::size_t phase);

    std::span<const Line> lines() const { return lines_; }

  private:
    friend void settle(std::span<Delay* const> delays);
    void process_normal(Frame& frame, std::size_t phase);
    void process_pingpong(Frame& frame, std::size_t phase);
    Slice slice(std::size_t frames, std::size_t phase) const;
    void write_ahead();
    void advance_lfo(std::size_t frames);
    void end_slice(std::size_t frames);

    std::vector<Line> lines_;
    // What read_ahead keeps for settle, per line: the output read (which
    // settle turns into the damping state after each sample) and the input.
    std::vector<SliceArray> held_;
    std::vector<SliceArray> input_;
    std::size_t pending_ = 0;     // frames read ahead and not yet settled
    std::size_t ahead_ = 0;       // lines read ahead
    // Samples written to each line since prepare, up to its length: writes
    // start at slot 0 and move on one slot at a time, so only these slots
    // can be other than zero.
    std::size_t written_ = 0;
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

// Runs the damping recursions and line writes that read_ahead left in every
// delay of `delays`, lines of different delays side by side: each recursion
// waits on its own previous sample, so one alone leaves the processor idle.
// Delays with nothing pending are skipped.
void settle(std::span<Delay* const> delays);

}  // namespace orba::blocks::delay
