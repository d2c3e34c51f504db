#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "audio_file.h"
#include "echoes.h"
#include "host.h"
#include "orba/core/result.h"

namespace orba::render {

struct RenderSettings {
    std::uint32_t block = 512;
    bool tail = true;
    double tail_max_seconds = 60.0;
    double bpm = 120.0;
    // One parameter moved linearly over the input, or none.
    const ParamEntry* ramp = nullptr;
    double ramp_from = 0.0;
    double ramp_to = 0.0;
    // Fed every frame written, when a picture or the echoes are asked for.
    Envelope* envelope = nullptr;
};

struct RenderStats {
    std::int64_t frames = 0;       // written to the output
    std::int64_t tail_frames = 0;  // of those, after the end of the input
    bool tail_cut = false;         // the plug-in's tail was longer than allowed
    std::uint32_t latency = 0;     // compensated: the output lines up with the input
    double peak = 0.0;
    std::uint64_t over = 0;  // samples beyond full scale
    double sum_squares = 0.0;
    std::uint64_t samples = 0;
};

// Called between blocks with the share of the render done so far.
using Progress = std::function<void(double)>;

// Runs the active instance over the whole source and then over silence for the
// plug-in's tail and on until the output has been below -120 dBFS for 32
// frames (all within --tail-max), writing the main output. An output that is
// its input unchanged, and silence after it, gets no tail.
//
// The ramp's parameter takes its starting value before the first block (the
// caller applies it). While it ramps, blocks are split every 32 frames of
// input, and each piece starts with the value the ramp has at its last frame,
// so the last frames of input run at the end value.
Result<RenderStats> render(Instance& instance, Source& source, AudioWriter& writer,
                           const RenderSettings& settings, const Progress& progress,
                           const std::atomic<bool>& cancel);

}  // namespace orba::render
