#pragma once

#include <chrono>
#include <string>

#include "render.h"

namespace orba::render {

// A one-line bar on stderr, drawn only on a terminal and only once a render
// has run for a second, so short renders and pipes stay silent.
class ProgressBar {
  public:
    explicit ProgressBar(bool enabled);
    void update(double fraction);
    // Clears the bar's line, if one was drawn.
    void finish();

  private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    bool drawn_ = false;
    Clock::time_point start_;
    Clock::time_point last_;
};

// 20 log10 of a linear level, "-inf" for silence.
std::string dbfs(double level);

// "out.wav: 6.42 s, 48000 Hz, 2 channels, peak -3.1 dBFS, RMS -19.8 dBFS, tail 2.42 s,
// WAV 24-bit"
std::string summary_line(const std::string& path, const RenderStats& stats, double sample_rate,
                         std::uint32_t channels, const std::string& format);

// The warning for samples clipped in an integer format, or "" when none were.
std::string clipping_warning(const RenderStats& stats, const std::string& format);

}  // namespace orba::render
