#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orba::render {

// The loudest sample of every millisecond of a render, per channel, and where
// it fell: enough to find the echoes and to draw the level over time.
class Envelope {
  public:
    Envelope(double sample_rate, std::uint32_t channels);
    void add(std::int64_t frame, std::uint32_t channel, float magnitude);
    // Every level multiplied by `factor`, as when the output is normalised.
    void scale(float factor);

    double sample_rate() const { return rate_; }
    std::uint32_t channels() const { return channels_; }
    std::int64_t window() const { return window_; }
    std::size_t windows() const { return peak_.size() / channels_; }
    float peak(std::size_t w, std::uint32_t c) const { return peak_[w * channels_ + c]; }
    std::int64_t at(std::size_t w, std::uint32_t c) const { return at_[w * channels_ + c]; }

  private:
    double rate_;
    std::uint32_t channels_;
    std::int64_t window_;
    std::vector<float> peak_;
    std::vector<std::int64_t> at_;
};

struct Echo {
    std::int64_t frame = 0;
    double level = 0.0;      // linear
    std::string channel;     // "1", "2", ... or "all" when every channel has it alike
    std::string time_text;   // "250.00 ms"
    std::string level_text;  // "-7.3 dB"
};

// The `count` loudest peaks that stand 5 ms clear of anything louder, above
// -90 dBFS, in time order. A peak every channel has at the same frame and
// level is one echo on "all".
std::vector<Echo> strongest_echoes(const Envelope& envelope, std::size_t count);

// The --echoes table, a heading and one line per echo.
std::string echo_table(const std::vector<Echo>& echoes);

// An SVG picture of the level in dB over time, one line per channel (channels
// alike share one), with the echoes marked and labelled "250.00 ms, -7.3 dB"
// where a label has room.
std::string plot_svg(const Envelope& envelope, const std::vector<Echo>& echoes,
                     const std::string& title);

}  // namespace orba::render
