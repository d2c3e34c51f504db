#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "orba/blocks/block.h"
#include "orba/blocks/frame.h"

namespace orba {
struct Node;
}

namespace orba::blocks::loop {

// Registered as "loop" and "loop_end": a feedback loop around the blocks that
// stand between the two in one chain. "loop" holds the delay line and sends
// its return down the chain; "loop_end" writes what arrives, through
// feedback, back into the line, and passes it on. Arguments of "loop":
// time_ms, feedback, mode, max_ms (constant); "loop_end" has none.
extern const BlockInfo INFO;
extern const BlockInfo END_INFO;

std::unique_ptr<Block> make();
std::unique_ptr<Block> make_end();

// The shortest loop in samples: the line is read a whole slice ahead of its
// writes, and the interpolation needs one point newer than the delay.
inline constexpr float SHORTEST = static_cast<float>(SLICE) + 1.0f;

class Loop final : public Block {
  public:
    void configure(std::span<const float> args) override;
    void prepare(std::size_t channels, float sample_rate) override;
    void control(std::span<const float> args) override;
    void process(Frame& frame, std::size_t phase) override;
    std::uint32_t tail(std::span<const float> args, float sample_rate) const override;

    // The end of the loop: `frame` is what came back through the blocks in
    // the loop; it goes into the line with the input kept at the start.
    void close(const Frame& frame);

    std::span<const std::vector<float>> lines() const { return lines_; }

  private:
    std::vector<std::vector<float>> lines_;  // one per channel
    std::size_t write_ = 0;                  // the slot the next sample goes to
    std::size_t written_ = 0;                // slots written since prepare, up to a line
    Frame input_;                            // the slice's input, until close
    float glide_start_ = 0.0f;               // samples
    float glide_target_ = 0.0f;              // samples
    float sample_rate_ = 0.0f;
    float max_ms_ = 0.0f;
    float feedback_ = 0.0f;
    bool pingpong_ = false;
    bool primed_ = false;
};

class LoopEnd final : public Block {
  public:
    void prepare(std::size_t, float) override {}
    void control(std::span<const float>) override {}
    void process(Frame& frame, std::size_t) override {
        if (loop_ != nullptr) loop_->close(frame);
    }
    void attach(Loop* loop) { loop_ = loop; }

  private:
    Loop* loop_ = nullptr;
};

// Pairs every "loop" with the first unpaired "loop_end" after it in the same
// chain, innermost first, across the compiled tree whose root stands at
// `path`. The message names the first loop block that has no partner there.
std::optional<std::string> pair(Node& root, const std::string& path);

}  // namespace orba::blocks::loop
