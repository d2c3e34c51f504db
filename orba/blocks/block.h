#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "orba/blocks/frame.h"

namespace orba {

// One argument of a block as graph text names it. Values reach the block in
// the order of its table.
struct ArgInfo {
    std::string_view name{};
    std::string_view unit{};                      // may be empty
    std::span<const std::string_view> choices{};  // names of 0, 1, 2 ...; may be empty
    std::string_view help{};
    float min = 0.0f;
    float max = 0.0f;
    float default_value = 0.0f;  // also replaces a value that is not a number
    bool constant = false;       // fixed at build time, handed over through configure
};

class Block;

// A block type's constant description, `INFO` in the block's own file.
struct BlockInfo {
    std::string_view name{};
    std::string_view help{};
    std::span<const ArgInfo> args{};
    std::span<const std::string_view> meters{};
    std::unique_ptr<Block> (*make)() = nullptr;
};

// A DSP unit a graph can contain. Blocks never see parameters, expressions or
// JSON: they get plain numbers in the order of their argument table.
// Everything but configure and prepare runs on the audio thread and must not
// allocate, lock or block.
class Block {
public:
    virtual ~Block() = default;

    // Once, after make, with the values as compiled (constants as written,
    // defaults for everything else). Blocks read their constant arguments here.
    virtual void configure(std::span<const float> args) { (void)args; }
    // Allocates and resets per-channel state; channels >= 1, sample_rate >= 8000.
    virtual void prepare(std::size_t channels, float sample_rate) = 0;
    // Once per 32-sample control period, values normalised.
    virtual void control(std::span<const float> args) = 0;
    // In place over frame.frames samples of each channel; `phase` is the slice's
    // position in the control period (0..31).
    virtual void process(Frame& frame, std::size_t phase) = 0;
    virtual std::uint32_t latency() const { return 0; }
    virtual std::uint32_t tail(std::span<const float> args, float sample_rate) const {
        (void)args;
        (void)sample_rate;
        return 0;
    }
    virtual float meter(std::size_t index) const {
        (void)index;
        return 0.0f;
    }
};

}  // namespace orba
