#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace orba {

// The slice length of the whole runtime: audio runs in slices of at most this
// many frames, and block arguments are refreshed once per this many samples.
inline constexpr std::size_t SLICE = 32;

using SliceArray = std::array<float, SLICE>;

// The audio a block processes in place: one fixed 32-float array per channel.
// The arrays are allocated at prepare; `frames` leading samples are valid.
struct Frame {
    std::vector<SliceArray> data;
    std::size_t channels = 0;
    std::size_t frames = 0;

    // Replaces the storage with `count` zeroed arrays (prepare time only).
    void resize(std::size_t count) {
        data.assign(count, SliceArray{});
        channels = count;
        frames = 0;
    }
    float* channel(std::size_t c) { return data[c].data(); }
    const float* channel(std::size_t c) const { return data[c].data(); }
};

}  // namespace orba
