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
#include <limits>
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
        targets_valid_ = false;
        phase_ = 0;
    }

    // In place over `frames` samples of each of `channels` buffers.
    void process(float* const* buffers, std::size_t frames) {
        std::size_t index = 0;
        while (index < frames) {
            const std::size_t length = std::min(frames - index, 32 - phase_);
            if (phase_ == 0) control();
            // Non-finite host samples are heard as silence, as in the runtime.
            for (std::size_t c = 0; c < channels_; ++c) {
                float* x = buffers[c] + index;
                for (std::size_t j = 0; j < length; ++j)
                    x[j] = std::fabs(x[j]) <= std::numeric_limits<float>::max() ? x[j] : 0.0f;
            }
            if (pingpong_) {
                run_stereo<true>(buffers, index, length);
            } else if (channels_ == 2) {
                run_stereo<false>(buffers, index, length);
            } else {
                for (std::size_t c = 0; c < channels_; ++c)
                    run_channel(c, buffers[c] + index, length);
            }
            for (std::size_t k = 0; k < LEVELS; ++k) {
                bool poisoned = false;
                for (std::size_t c = 0; c < channels_; ++c) {
                    Line& line = lines_[k * channels_ + c];
                    if (std::fabs(line.damp) < 1e-20f) line.damp = 0.0f;
                    poisoned = poisoned || !std::isfinite(line.damp);
                }
                // A level whose state is no longer finite starts again from
                // silence (in ping-pong, both of its lines).
                for (std::size_t c = 0; poisoned && c < channels_; ++c) {
                    Line& line = lines_[k * channels_ + c];
                    if (pingpong_ || !std::isfinite(line.damp)) {
                        std::fill(line.buffer.begin(), line.buffer.end(), 0.0f);
                        line.damp = 0.0f;
                    }
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

    // Targets are derived from the parameters only when one of them moved;
    // the glides move on every period.
    void control() {
        if (!targets_valid_ || params != derived_from_) derive();
        for (std::size_t k = 0; k < LEVELS; ++k) {
            DelayState& d = delays_[k];
            d.from = d.primed ? d.to : targets_[k];
            d.primed = true;
            d.to = targets_[k];
        }
        if (!gain_.primed) {
            gain_.to_l = left_;
            gain_.to_r = right_;
            gain_.to_m = level_;
            gain_.primed = true;
        }
        gain_.prev_l = gain_.to_l;
        gain_.prev_r = gain_.to_r;
        gain_.prev_m = gain_.to_m;
        gain_.to_l = left_;
        gain_.to_r = right_;
        gain_.to_m = level_;
        mix_from_ = mix_primed_ ? mix_to_ : mix_target_;
        mix_primed_ = true;
        mix_to_ = mix_target_;
    }

    void derive() {
        derived_from_ = params;
        targets_valid_ = true;
        const float time = params[0], ratio = params[1], decay = params[2];
        const float feedback = params[3], damp = params[4], mode = params[5], mix = params[6];
        const float damp_hz = clampf(damp, 200.0f, 20000.0f, 8000.0f);
        const float cutoff = std::min(std::max(damp_hz, 1.0f), 0.49f * sample_rate_);
        const float coef = 1.0f - std::exp(cutoff * -6.2831855f / sample_rate_);
        for (std::size_t k = 0; k < LEVELS; ++k) {
            float time_ms = time;
            if (k == 1) time_ms = time * ratio;
            if (k >= 2) time_ms = time * std::pow(ratio, static_cast<float>(k));
            time_ms = clampf(time_ms, 0.1f, 4000.0f, 250.0f);
            targets_[k] = sample_rate_ * (std::fmin(time_ms, 2000.0f) * 0.001f);
            delays_[k].feedback = clampf(k == 0 ? feedback : feedback * 0.5f, 0.0f, 0.97f, 0.35f);
            delays_[k].coef = coef;
        }
        pingpong_ = std::round(clampf(mode, 0.0f, 1.0f, 0.0f)) >= 0.5f && channels_ == 2;
        level_ = std::exp(clampf(decay, -96.0f, 48.0f, 0.0f) * 0.115129247f);
        left_ = right_ = level_;
        if (channels_ == 2) {
            const float theta = (0.0f + 1.0f) * 0.7853982f;
            left_ = (level_ * 1.4142135f) * std::cos(theta);
            right_ = (level_ * 1.4142135f) * std::sin(theta);
        }
        mix_target_ = std::isnan(mix) || mix > 1.0f ? 1.0f : std::max(mix, 0.0f);
    }

    static float interpolate(float y0, float y1, float y2, float y3, float t) {
        return y1 + t * (0.5f * (y2 - y0) + t * ((y0 - 2.5f * y1 + 2.0f * y2 - 0.5f * y3) +
                                                 t * (1.5f * (y1 - y2) + 0.5f * (y3 - y0))));
    }

    float clamp_delay(float d) const {
        return std::min(std::max(d, 2.0f), static_cast<float>(length_ - 4));
    }

    // Slot of the oldest of the four points read at whole delay `whole` while
    // `write` is the next slot to fill.
    std::size_t oldest(std::size_t write, std::size_t whole) const {
        const std::size_t r = write + length_ - whole - 2;
        return r >= length_ ? r - length_ : r;
    }

    float read_at(const Line& line, std::size_t write, float d) const {
        const auto whole = static_cast<std::size_t>(d);
        const float t = d - static_cast<float>(whole);
        const std::size_t r3 = oldest(write, whole);
        const std::size_t r2 = r3 + 1 == length_ ? 0 : r3 + 1;
        const std::size_t r1 = r2 + 1 == length_ ? 0 : r2 + 1;
        const std::size_t r0 = r1 + 1 == length_ ? 0 : r1 + 1;
        const float* b = line.buffer.data();
        return interpolate(b[r0], b[r1], b[r2], b[r3], t);
    }

    // The delays of one level for the n samples of this period; returns the
    // shortest.
    float delays(std::size_t k, std::size_t n, float* d) const {
        const DelayState& s = delays_[k];
        if (s.from == s.to) {
            const float fixed = clamp_delay(s.from);
            std::fill_n(d, n, fixed);
            return fixed;
        }
        float shortest = static_cast<float>(length_);
        for (std::size_t j = 0; j < n; ++j) {
            const float w = static_cast<float>(phase_ + j + 1) / 32.0f;
            d[j] = clamp_delay(s.from + (s.to - s.from) * w);
            shortest = std::min(shortest, d[j]);
        }
        return shortest;
    }

    // Reads n outputs of a line before anything of this period is written;
    // only valid when every delay is longer than the period.
    void read_block(const Line& line, const float* d, std::size_t n, float* y) const {
        std::size_t j = 0;
        if (d[0] == d[n - 1]) {
            const auto whole = static_cast<std::size_t>(d[0]);
            const float t = d[0] - static_cast<float>(whole);
            const std::size_t first = oldest(line.write, whole);
            const float* p = line.buffer.data() + first;
            const std::size_t run = first + 3 < length_ ? std::min(n, length_ - 3 - first) : 0;
            for (; j < run; ++j)
                y[j] = interpolate(p[j + 3], p[j + 2], p[j + 1], p[j], t);
        }
        std::size_t write = line.write + j;
        if (write >= length_) write -= length_;
        for (; j < n; ++j) {
            y[j] = read_at(line, write, d[j]);
            if (++write == length_) write = 0;
        }
    }

    void write_block(Line& line, const float* into, std::size_t n) const {
        const std::size_t first = std::min(n, length_ - line.write);
        std::copy_n(into, first, line.buffer.data() + line.write);
        std::copy_n(into + first, n - first, line.buffer.data());
        line.write += n;
        if (line.write >= length_) line.write -= length_;
    }

    // One level on one channel in normal mode: out = the delayed signal, the
    // line takes input + feedback x damped repeat.
    void line(std::size_t k, std::size_t c, const float* in, float* out, std::size_t n) {
        const DelayState& s = delays_[k];
        Line& l = lines_[k * channels_ + c];
        float d[32];
        const float shortest = delays(k, n, d);
        if (shortest >= static_cast<float>(n + 1)) {
            float y[32], into[32];
            read_block(l, d, n, y);
            float damp = l.damp;
            for (std::size_t j = 0; j < n; ++j) {
                damp = damp + s.coef * (y[j] - damp);
                into[j] = s.feedback * damp + in[j];
            }
            l.damp = damp;
            write_block(l, into, n);
            std::copy_n(y, n, out);
            return;
        }
        for (std::size_t j = 0; j < n; ++j) {
            const float y = read_at(l, l.write, d[j]);
            l.damp = l.damp + s.coef * (y - l.damp);
            l.buffer[l.write] = s.feedback * l.damp + in[j];
            if (++l.write == length_) l.write = 0;
            out[j] = y;
        }
    }

    // Both lines of a stereo level together, so that the two damping
    // recursions overlap instead of waiting on each other. Ping-pong puts the
    // mono sum into the left line and crosses the damped repeats over.
    template <bool PingPong>
    void level(std::size_t k, const float* const* in, float* const* out, std::size_t n) {
        const DelayState& s = delays_[k];
        Line& l = lines_[k * 2];
        Line& r = lines_[k * 2 + 1];
        float d[32];
        const float shortest = delays(k, n, d);
        auto fed = [&](std::size_t j, float dl, float dr, float& to_l, float& to_r) {
            if constexpr (PingPong) {
                to_l = s.feedback * dr + 0.5f * (in[0][j] + in[1][j]);
                to_r = s.feedback * dl;
            } else {
                to_l = s.feedback * dl + in[0][j];
                to_r = s.feedback * dr + in[1][j];
            }
        };
        if (shortest < static_cast<float>(n + 1)) {
            if constexpr (!PingPong) {
                line(k, 0, in[0], out[0], n);
                line(k, 1, in[1], out[1], n);
                return;
            }
            for (std::size_t j = 0; j < n; ++j) {
                const float yl = read_at(l, l.write, d[j]), yr = read_at(r, r.write, d[j]);
                l.damp = l.damp + s.coef * (yl - l.damp);
                r.damp = r.damp + s.coef * (yr - r.damp);
                fed(j, l.damp, r.damp, l.buffer[l.write], r.buffer[r.write]);
                if (++l.write == length_) l.write = 0;
                if (++r.write == length_) r.write = 0;
                out[0][j] = yl;
                out[1][j] = yr;
            }
            return;
        }
        float yl[32], yr[32], into_l[32], into_r[32];
        read_block(l, d, n, yl);
        read_block(r, d, n, yr);
        float dl = l.damp, dr = r.damp;
        for (std::size_t j = 0; j < n; ++j) {
            dl = dl + s.coef * (yl[j] - dl);
            dr = dr + s.coef * (yr[j] - dr);
            fed(j, dl, dr, into_l[j], into_r[j]);
        }
        l.damp = dl;
        r.damp = dr;
        write_block(l, into_l, n);
        write_block(r, into_r, n);
        std::copy_n(yl, n, out[0]);
        std::copy_n(yr, n, out[1]);
    }

    void gain(std::size_t c, float* x, std::size_t n) const {
        float a = gain_.prev_m, b = gain_.to_m;
        if (channels_ == 2) {
            a = c == 0 ? gain_.prev_l : gain_.prev_r;
            b = c == 0 ? gain_.to_l : gain_.to_r;
        }
        if (a == b) {
            for (std::size_t j = 0; j < n; ++j)
                x[j] = x[j] * b;
            return;
        }
        for (std::size_t j = 0; j < n; ++j) {
            x[j] = x[j] * (a + (b - a) * (static_cast<float>(phase_ + j + 1) / 32.0f));
        }
    }

    void finish(const float* dry, const float* wet, float* out, std::size_t n) const {
        const bool whole_wet = mix_from_ == 1.0f && mix_to_ == 1.0f;
        for (std::size_t j = 0; j < n; ++j) {
            float v = wet[j];
            if (!whole_wet) {
                const float m = mix_from_ + (static_cast<float>(phase_ + j + 1) / 32.0f) *
                                                (mix_to_ - mix_from_);
                v = dry[j] + m * (wet[j] - dry[j]);
            }
            out[j] = std::fabs(v) < 1e-30f ? 0.0f : v;
        }
    }

    // The nested pattern: level k's line is fed by the previous odd level
    // through a decay gain; even levels are the echoes heard.
    void run_channel(std::size_t c, float* x, std::size_t n) {
        float a0[32], y1[32], a2[32], y3[32], a4[32], y5[32], a6[32], wet[32];
        line(0, c, x, a0, n);
        line(1, c, x, y1, n);
        gain(c, y1, n);
        line(2, c, y1, a2, n);
        line(3, c, y1, y3, n);
        gain(c, y3, n);
        line(4, c, y3, a4, n);
        line(5, c, y3, y5, n);
        gain(c, y5, n);
        line(6, c, y5, a6, n);
        for (std::size_t j = 0; j < n; ++j) {
            wet[j] = (0.0f + a0[j]) + ((0.0f + a2[j]) + ((0.0f + a4[j]) + a6[j]));
        }
        finish(x, wet, x, n);
    }

    template <bool PingPong>
    void run_stereo(float* const* buffers, std::size_t index, std::size_t n) {
        float lv[8][32], rv[8][32];
        float* const in[2] = {buffers[0] + index, buffers[1] + index};
        float* const a0[2] = {lv[0], rv[0]};
        float* const y1[2] = {lv[1], rv[1]};
        float* const a2[2] = {lv[2], rv[2]};
        float* const y3[2] = {lv[3], rv[3]};
        float* const a4[2] = {lv[4], rv[4]};
        float* const y5[2] = {lv[5], rv[5]};
        float* const a6[2] = {lv[6], rv[6]};
        float* const wet[2] = {lv[7], rv[7]};
        level<PingPong>(0, in, a0, n);
        level<PingPong>(1, in, y1, n);
        gain(0, y1[0], n);
        gain(1, y1[1], n);
        level<PingPong>(2, y1, a2, n);
        level<PingPong>(3, y1, y3, n);
        gain(0, y3[0], n);
        gain(1, y3[1], n);
        level<PingPong>(4, y3, a4, n);
        level<PingPong>(5, y3, y5, n);
        gain(0, y5[0], n);
        gain(1, y5[1], n);
        level<PingPong>(6, y5, a6, n);
        for (std::size_t c = 0; c < 2; ++c) {
            for (std::size_t j = 0; j < n; ++j) {
                wet[c][j] =
                    (0.0f + a0[c][j]) + ((0.0f + a2[c][j]) + ((0.0f + a4[c][j]) + a6[c][j]));
            }
            finish(in[c], wet[c], in[c], n);
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
    std::array<float, 7> derived_from_{};
    bool targets_valid_ = false;
    std::array<float, LEVELS> targets_{};
    float level_ = 0.0f, left_ = 0.0f, right_ = 0.0f, mix_target_ = 1.0f;
    bool pingpong_ = false;
    std::size_t phase_ = 0;
};

}  // namespace orba::bench
