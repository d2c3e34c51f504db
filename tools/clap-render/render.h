#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "audio_file.h"
#include "echoes.h"
#include "host.h"
#include "orba/core/result.h"

namespace orba::render {

// One parameter moved along straight lines between points, in frames of the
// input; held at the first point's value before it and at the last one's after.
struct Automation {
    const ParamEntry* param = nullptr;
    struct Point {
        std::int64_t frame = 0;
        double value = 0.0;
    };
    std::vector<Point> points;

    double value_at(std::int64_t frame) const;
};

struct RenderSettings {
    std::uint32_t block = 512;
    bool tail = true;
    double tail_max_seconds = 60.0;
    // The level below which the tail counts as rung out, linear.
    double tail_threshold = 1e-6;
    double bpm = 120.0;
    // Applied to every output sample before anything is measured or written.
    double gain = 1.0;
    std::vector<Automation> automations;
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
// Takes interleaved frames of the output in order.
using Sink = std::function<Result<Done>(const float*, std::size_t)>;

// Runs the active instance over the whole source and then over silence for
// the plug-in's tail, writing the main output. The tail ends once the output
// has stayed below the threshold for a window as long as the plug-in's
// reported tail, and at least a second, so that no echo the plug-in can still
// produce falls after it; the quiet frames after the last sound above the
// threshold are then dropped, never cutting into the input's length. A plug-in
// reporting an endless tail rings on to --tail-max, silent or not.
//
// Automated parameters take their starting values before the first block (the
// caller applies them). While any moves, blocks are split every 32 frames of
// input, and each piece starts with the values at its last frame, so the last
// frames of input run at the end values.
Result<RenderStats> render(Instance& instance, Source& source, const Sink& sink,
                           const RenderSettings& settings, const Progress& progress,
                           const std::atomic<bool>& cancel);

}  // namespace orba::render
