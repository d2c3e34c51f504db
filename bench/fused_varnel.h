#pragma once

// A hand-fused Varnel Delay: the same nested pattern as the plug-in's graph,
// written as straight loops over seven delay lines with no graph, no frames
// and no expression trees. It exists to measure what the framework costs, and
// a test holds it to the plug-in's output bit for bit, so every f32 operation
// below follows the order the blocks and the runtime use.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orba::bench {

class FusedVarnel {
  public:
    static constexpr std::size_t LEVELS = 7;

    // Parameter values in the plug-in's order: time, ratio, decay_db,
    // feedback, damp, mode, mix (already normalised, as the ParamSet holds them).
    std::array<float, 7> params{400.0f, 0.618f, -4.0f, 0.3f, 6000.0f, 0.0f, 0.35f};

    void prepare(float sample_rate, std::size_t channels) {
        sample_rate_ = sample_rate;
        channels_ = channels;
        const auto length =
            static_cast<std::size_t>(static_cast<std::uint32_t>(sample_rate * (2000.0f * 0.001f))) +
            24;
        length_ = length;
        lines_.assign(LEVELS * channels, Line{});
        for (auto& line : lines_)
            line.buffer.assign(length, 0.0f);
        for (auto& d : delays_)
            d = DelayState{};
        gain_ = GainState{};
        mix_from_ = mix_to_ = 1.0f;
        mix_primed_ = false;
        phase_ = 0;
        dry_.assign(channels, 0.0f);
    }

    // In place over `frames` samples of each of `channels` buffers.
    void process(float* const* buffers, std::size_t frames) {
        std::size_t index = 0;
        while (index < frames) {
            const std::size_t length = std::min(frames - index, 32 - phase_);
            if (phase_ == 0) control();
            if (pingpong_) {
                run_pingpong(buffers, index, length);
            } else {
                for (std::size_t c = 0; c < channels_; ++c)
                    run_channel(c, buffers[c] + index, length);
            }
            for (std::size_t k = 0; k < LEVELS; ++k) {
                for (std::size_t c = 0; c < channels_; ++c) {
                    Line& line = lines_[k * channels_ + c];
                    if (std::fabs(line.damp) < 1e-20f) line.damp = 0.0f;
                }
            }
            phase_ = (phase_ + length) % 32;
            index += length;
        }
    }

  private:
    struct Line {
        std::vector<float> buffer;
        std::size_t write = 0;
        float damp = 0.0f;
    };
    struct DelayState {
        float from = 0.0f, to = 0.0f, feedback = 0.0f, coef = 0.0f;
        bool primed = false;
    };
    struct GainState {
        float prev_l = 0, prev_r = 0, prev_m = 0, to_l = 0, to_r = 0, to_m = 0;
        bool primed = false;
    };

    static float clampf(float v, float lo, float hi, float fallback) {
        if (std::isnan(v)) return fallback;
        return std::min(std::max(v, lo), hi);
    }

    void control() {
        const float time = params[0], ratio = params[1], decay = params[2];
        const float feedback = params[3], damp = params[4], mode = params[5], mix = params[6];
        for (std::size_t k = 0; k < LEVELS; ++k) {
            float time_ms = time;
            if (k == 1) time_ms = time * ratio;
            if (k >= 2) time_ms = time * std::pow(ratio, static_cast<float>(k));
            time_ms = clampf(time_ms, 0.1f, 4000.0f, 250.0f);
            const float fb = clampf(k == 0 ? feedback : feedback * 0.5f, 0.0f, 0.97f, 0.35f);
            const float damp_hz = clampf(damp, 200.0f, 20000.0f, 8000.0f);
            DelayState& d = delays_[k];
            const float target = sample_rate_ * (std::fmin(time_ms, 2000.0f) * 0.001f);
            d.from = d.primed ? d.to : target;
            d.primed = true;
            d.to = target;
            d.feedback = fb;
            const float cutoff = std::min(std::max(damp_hz, 1.0f), 0.49f * sample_rate_);
            d.coef = 1.0f - std::exp(cutoff * -6.2831855f / sample_rate_);
        }
        pingpong_ = std::round(clampf(mode, 0.0f, 1.0f, 0.0f)) >= 0.5f && channels_ == 2;

        const float g = std::exp(clampf(decay, -96.0f, 48.0f, 0.0f) * 0.115129247f);
        float left = g, right = g;
        if (channels_ == 2) {
            const float theta = (0.0f + 1.0f) * 0.7853982f;
            left = (g * 1.4142135f) * std::cos(theta);
            right = (g * 1.4142135f) * std::sin(theta);
        }
        if (!gain_.primed) {
            gain_.to_l = left;
            gain_.to_r = right;
            gain_.to_m = g;
            gain_.primed = true;
        }
        gain_.prev_l = gain_.to_l;
        gain_.prev_r = gain_.to_r;
        gain_.prev_m = gain_.to_m;
        gain_.to_l = left;
        gain_.to_r = right;
        gain_.to_m = g;

        const float mix_target = std::isnan(mix) || mix > 1.0f ? 1.0f : std::max(mix, 0.0f);
        mix_from_ = mix_primed_ ? mix_to_ : mix_target;
        mix_primed_ = true;
        mix_to_ = mix_target;
    }

    float read(const Line& line, float delay) const {
        const float d = std::min(std::max(delay, 2.0f), static_cast<float>(length_ - 4));
        const float fl = std::floor(d);
        const auto i = static_cast<std::int64_t>(fl);
        const float t = d - fl;
        const auto len = static_cast<std::int64_t>(length_);
        const auto w = static_cast<std::int64_t>(line.write);
        auto at = [&](std::int64_t k) {
            return line.buffer[static_cast<std::size_t>(((k % len) + len) % len)];
        };
        const float y0 = at(w - i + 1), y1 = at(w - i), y2 = at(w - i - 1), y3 = at(w - i - 2);
        return y1 + t * (0.5f * (y2 - y0) + t * ((y0 - 2.5f * y1 + 2.0f * y2 - 0.5f * y3) +
                                                 t * (1.5f * (y1 - y2) + 0.5f * (y3 - y0))));
    }

    // One delay line, normal mode: read, damp the repeat, write input + feedback.
    float tick(std::size_t k, std::size_t c, float in, float w) {
        const DelayState& d = delays_[k];
        Line& line = lines_[k * channels_ + c];
        const float glide = d.from + (d.to - d.from) * w;
        const float y = read(line, glide);
        line.damp = line.damp + d.coef * (y - line.damp);
        line.buffer[line.write] = d.feedback * line.damp + in;
        if (++line.write == length_) line.write = 0;
        return y;
    }

    float gain(std::size_t c, float x, float w) const {
        float a = gain_.prev_m, b = gain_.to_m;
        if (channels_ == 2) {
            a = c == 0 ? gain_.prev_l : gain_.prev_r;
            b = c == 0 ? gain_.to_l : gain_.to_r;
        }
        return a == b ? x * b : x * (a + (b - a) * w);
    }

    float finish(float dry, float wet, float w) const {
        const float m = mix_from_ + w * (mix_to_ - mix_from_);
        float out = wet;
        if (!(mix_from_ == 1.0f && mix_to_ == 1.0f)) out = dry + m * (wet - dry);
        return std::fabs(out) < 1e-30f ? 0.0f : out;
    }

    void run_channel(std::size_t c, float* x, std::size_t n) {
        for (std::size_t j = 0; j < n; ++j) {
            const float w = static_cast<float>(phase_ + j + 1) / 32.0f;
            const float in = x[j];
            const float a0 = tick(0, c, in, w);
            const float y1 = gain(c, tick(1, c, in, w), w);
            const float a2 = tick(2, c, y1, w);
            const float y3 = gain(c, tick(3, c, y1, w), w);
            const float a4 = tick(4, c, y3, w);
            const float a6 = tick(6, c, gain(c, tick(5, c, y3, w), w), w);
            const float wet = (0.0f + a0) + ((0.0f + a2) + ((0.0f + a4) + a6));
            x[j] = finish(in, wet, w);
        }
    }

    // Two lines per level; the mono sum enters on the left, the lines swap
    // their damped repeats.
    std::array<float, 2> tick2(std::size_t k, std::array<float, 2> in, float w) {
        const DelayState& d = delays_[k];
        Line& l = lines_[k * 2];
        Line& r = lines_[k * 2 + 1];
        const float glide = d.from + (d.to - d.from) * w;
        const float yl = read(l, glide), yr = read(r, glide);
        l.damp = l.damp + d.coef * (yl - l.damp);
        r.damp = r.damp + d.coef * (yr - r.damp);
        l.buffer[l.write] = d.feedback * r.damp + 0.5f * (in[0] + in[1]);
        r.buffer[r.write] = d.feedback * l.damp;
        if (++l.write == length_) l.write = 0;
        if (++r.write == length_) r.write = 0;
        return {yl, yr};
    }

    std::array<float, 2> gain2(std::array<float, 2> x, float w) const {
        return {gain(0, x[0], w), gain(1, x[1], w)};
    }

    void run_pingpong(float* const* buffers, std::size_t index, std::size_t n) {
        for (std::size_t j = 0; j < n; ++j) {
            const float w = static_cast<float>(phase_ + j + 1) / 32.0f;
            const std::array<float, 2> in{buffers[0][index + j], buffers[1][index + j]};
            const auto a0 = tick2(0, in, w);
            const auto y1 = gain2(tick2(1, in, w), w);
            const auto a2 = tick2(2, y1, w);
            const auto y3 = gain2(tick2(3, y1, w), w);
            const auto a4 = tick2(4, y3, w);
            const auto a6 = tick2(6, gain2(tick2(5, y3, w), w), w);
            for (std::size_t c = 0; c < 2; ++c) {
                const float wet = (0.0f + a0[c]) + ((0.0f + a2[c]) + ((0.0f + a4[c]) + a6[c]));
                buffers[c][index + j] = finish(in[c], wet, w);
            }
        }
    }

    float sample_rate_ = 48000.0f;
    std::size_t channels_ = 2;
    std::size_t length_ = 0;
    std::vector<Line> lines_;
    std::array<DelayState, LEVELS> delays_{};
    GainState gain_{};
    float mix_from_ = 1.0f, mix_to_ = 1.0f;
    bool mix_primed_ = false;
    bool pingpong_ = false;
    std::size_t phase_ = 0;
    std::vector<float> dry_;
};

}  // namespace orba::bench
