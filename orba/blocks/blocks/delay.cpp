#include "orba/blocks/blocks/delay.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace orba::blocks::delay {
namespace {

enum : std::size_t { TIME_MS, FEEDBACK, DAMP_HZ, MODE, MOD_DEPTH_MS, MOD_RATE_HZ, MAX_MS };

constexpr std::string_view MODES[] = {"normal", "pingpong"};

constexpr ArgInfo ARGS[] = {
    {.name = "time_ms",
     .unit = "ms",
     .help = "The delay. Bind it to sync(beats) to lock it to the tempo.",
     .min = 0.1f,
     .max = 4000.0f,
     .default_value = 250.0f},
    {.name = "feedback",
     .help =
         "How much of the output returns to the input. It stays below 1 so the echoes die away.",
     .min = 0.0f,
     .max = 0.97f,
     .default_value = 0.35f},
    {.name = "damp_hz",
     .unit = "Hz",
     .help = "A low-pass in the feedback path, so each repeat is darker.",
     .min = 200.0f,
     .max = 20000.0f,
     .default_value = 8000.0f},
    {.name = "mode",
     .choices = MODES,
     .help = "pingpong bounces the echoes between left and right when there are two channels.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "mod_depth_ms",
     .unit = "ms",
     .help = "How far the delay time swings from an LFO.",
     .min = 0.0f,
     .max = 20.0f,
     .default_value = 0.0f},
    {.name = "mod_rate_hz",
     .unit = "Hz",
     .help = "The speed of that swing.",
     .min = 0.02f,
     .max = 20.0f,
     .default_value = 0.5f},
    {.name = "max_ms",
     .unit = "ms",
     .help = "The longest delay the line can hold. Sets the memory used.",
     .min = 10.0f,
     .max = 4000.0f,
     .default_value = 2000.0f,
     .constant = true},
};

constexpr double TWO_PI = 6.283185307179586;

}  // namespace

struct Slice {
    std::size_t frames;
    std::size_t phase;
    float glide_start;
    float glide_step;  // glide target - glide start
    double lfo_start[2];
    double lfo_increment;
    float depth;
    float feedback;
    float damping;
    bool fixed;      // the delay does not move within the slice
    bool modulated;  // the LFO term is not zero
};

namespace {

// The delay clamped into the readable range [2, length - 4]; not-a-number
// reads as the shortest delay rather than becoming an index.
inline float clamp_delay(float delay, float longest) {
    const float d = delay > 2.0f ? delay : 2.0f;
    return d < longest ? d : longest;
}

// One line as the kernels see it: the buffer, its length, the write position
// and the damping state.
struct Tap {
    float* buffer;
    std::size_t length;
    std::size_t write;
    float state;
};

// For a delay d >= 2 the whole part is the truncation, and t = d - floor(d).
struct Split {
    std::size_t whole;
    float t;
};

inline Split split(float d) {
    const auto whole = static_cast<std::size_t>(d);
    return {whole, d - static_cast<float>(whole)};
}

// Slot of the oldest of the four points read for a whole delay `whole` while
// slot `write` is about to be written: write - whole - 2, reduced into
// [0, length), for write < length and 2 <= whole <= length - 4.
inline std::size_t oldest_slot(std::size_t write, std::size_t length, std::size_t whole) {
    const std::size_t r = write + length - whole - 2;
    return r >= length ? r - length : r;
}

// The four points from `oldest` on, each index wrapped into the line.
inline float read_around(const float* buffer, std::size_t length, std::size_t oldest, float t) {
    const std::size_t r2 = oldest + 1 == length ? 0 : oldest + 1;
    const std::size_t r1 = r2 + 1 == length ? 0 : r2 + 1;
    const std::size_t r0 = r1 + 1 == length ? 0 : r1 + 1;
    return interpolate(buffer[r0], buffer[r1], buffer[r2], buffer[oldest], t);
}

// Copies n samples into the line from slot `write` on, wrapping at its end,
// and moves `write` past them (n is at most the length).
inline void write_wrapped(float* buffer, std::size_t length, std::size_t& write, const float* from,
                          std::size_t n) {
    const std::size_t first = std::min(n, length - write);
    std::copy_n(from, first, buffer + write);
    std::copy_n(from + first, n - first, buffer);
    write += n;
    if (write >= length) write -= length;
}

// The read for an already clamped delay while slot `write` is next.
inline float read_clamped(const float* buffer, std::size_t length, std::size_t write, float d) {
    const Split at = split(d);
    return read_around(buffer, length, oldest_slot(write, length, at.whole), at.t);
}

// The value fed back into each line for its output (already in the damping
// state) and its input. Normal mode feeds every line its own repeats and
// input; ping-pong crosses the repeats and puts the mono sum on the left only.
template <std::size_t N, bool PingPong>
inline void feed(const float* held, const float* x, float feedback, float* into) {
    if constexpr (PingPong) {
        into[0] = feedback * held[1] + 0.5f * (x[0] + x[1]);
        into[1] = feedback * held[0];
    } else {
        for (std::size_t c = 0; c < N; ++c)
            into[c] = feedback * held[c] + x[c];
    }
}

// The clamped delay of every sample of the slice; returns the shortest. A
// constant glide adds (target - start) * position = 0 to the start, so a
// fixed slice repeats the start; without modulation the LFO term is left out,
// which changes nothing, since depth 0 times a sine is a zero.
template <std::size_t N, bool PingPong>
float delays(const Slice& s, float longest, float (*delay)[SLICE]) {
    const std::size_t n = s.frames;
    if (s.fixed) {
        const float d = clamp_delay(s.glide_start, longest);
        for (std::size_t c = 0; c < N; ++c)
            std::fill_n(delay[c], n, d);
        return d;
    }
    for (std::size_t j = 0; j < n; ++j) {
        const float position = static_cast<float>(s.phase + j + 1) / 32.0f;
        delay[0][j] = clamp_delay(s.glide_start + s.glide_step * position, longest);
    }
    if (!s.modulated) {
        for (std::size_t c = 1; c < N; ++c)
            std::copy_n(delay[0], n, delay[c]);
        // The glide and the clamp are monotonic, so the ends bound the slice.
        return std::min(delay[0][0], delay[0][n - 1]);
    }
    float shortest = longest;
    for (std::size_t j = 0; j < n; ++j) {
        const float position = static_cast<float>(s.phase + j + 1) / 32.0f;
        const float glide = s.glide_start + s.glide_step * position;
        // One sin per channel per sample; ping-pong lines share the first.
        for (std::size_t c = 0; c < (PingPong ? 1 : N); ++c) {
            const double q = s.lfo_start[c] + s.lfo_increment * static_cast<double>(j);
            const auto lfo = static_cast<float>(std::sin(TWO_PI * (q - std::trunc(q))));
            delay[c][j] = clamp_delay(glide + s.depth * lfo, longest);
            shortest = std::min(shortest, delay[c][j]);
        }
        if constexpr (PingPong) delay[1][j] = delay[0][j];
    }
    return shortest;
}

// Sample by sample, each read after the previous write: needed when a delay
// is so short that the slice reads what it has just written.
template <std::size_t N, bool PingPong>
void run_serial(Tap* taps, float* const* io, const Slice& s, const float (*delay)[SLICE]) {
    for (std::size_t j = 0; j < s.frames; ++j) {
        float x[N], held[N], into[N];
        for (std::size_t c = 0; c < N; ++c) {
            x[c] = io[c][j];
            const float y =
                read_clamped(taps[c].buffer, taps[c].length, taps[c].write, delay[c][j]);
            taps[c].state = taps[c].state + s.damping * (y - taps[c].state);
            held[c] = taps[c].state;
            io[c][j] = y;
        }
        feed<N, PingPong>(held, x, s.feedback, into);
        for (std::size_t c = 0; c < N; ++c) {
            taps[c].buffer[taps[c].write] = into[c];
            taps[c].write = taps[c].write + 1 == taps[c].length ? 0 : taps[c].write + 1;
        }
    }
}

// Every delay of the slice is longer than the slice, so no read reaches a
// sample written in it: the reads may run ahead of the damping recursions of
// the lines, and each recursion step writes its line as it goes. A
// whole-numbered delay still goes through the full formula: with t = 0 it
// gives y1 + 0 * P, which is not y1 when y1 is -0 (the sum is +0) or when a
// neighbour is infinite (0 * inf is NaN). `delay` is filled only when the
// delay moves (`s.fixed` false); a fixed one is `fixed_delay`. `Frames` is
// the slice length when it is known at compile time (a full slice), which
// lets the compiler unroll the pipeline; 0 reads it from `s`.
template <std::size_t N, bool PingPong, std::size_t Frames>
void run_staged(Tap* taps, float* const* io, const Slice& s, float (*delay)[SLICE],
                float fixed_delay) {
    const std::size_t n = Frames != 0 ? Frames : s.frames;
    float y[N][SLICE];
    float state[N];
    for (std::size_t c = 0; c < N; ++c)
        state[c] = taps[c].state;

    // What each line takes in is gathered here and stored after the
    // recursion: writing the line directly would leave the compiler unsure
    // whether a write lands on the audio still to be read.
    float into[N][SLICE];
    // One step of every line's damping recursion, which also swaps the input
    // for the output and writes what is fed back: normal mode feeds every line
    // its own repeats and input; ping-pong crosses the repeats and puts the
    // mono sum on the left only.
    auto recurse = [&](std::size_t from, std::size_t to) {
        for (std::size_t j = from; j < to; ++j) {
            float x[N];
            for (std::size_t c = 0; c < N; ++c) {
                x[c] = io[c][j];
                io[c][j] = y[c][j];
                state[c] = state[c] + s.damping * (y[c][j] - state[c]);
            }
            if constexpr (PingPong) {
                into[0][j] = s.feedback * state[1] + 0.5f * (x[0] + x[1]);
                into[1][j] = s.feedback * state[0];
            } else {
                for (std::size_t c = 0; c < N; ++c)
                    into[c][j] = s.feedback * state[c] + x[c];
            }
        }
    };

    // The reads of the next four samples are interleaved with the recursions
    // of the current four and fill the gaps in their latency. A fixed delay
    // whose points lie in one piece of the buffer for the whole slice (rounded
    // up to the block of four) reads them with vector arithmetic.
    constexpr std::size_t B = 4;
    const std::size_t padded = (n + B - 1) / B * B;
    const float* from[N];
    std::size_t write[N];
    bool straight = s.fixed;
    const Split fixed = split(fixed_delay);
    for (std::size_t c = 0; c < N && straight; ++c) {
        const std::size_t oldest = oldest_slot(taps[c].write, taps[c].length, fixed.whole);
        from[c] = taps[c].buffer + oldest;
        straight = oldest + 3 + padded <= taps[c].length;
    }
    auto pipeline = [&](auto fill) {
        fill(0);
        for (std::size_t at = 0; at < n; at += B) {
            if (at + B < n) fill(at + B);
            recurse(at, std::min(at + B, n));
        }
    };
    if (straight) {
        pipeline([&](std::size_t at) {
            for (std::size_t c = 0; c < N; ++c) {
                const float* p = from[c] + at;
                for (std::size_t l = 0; l < B; ++l) {
                    y[c][at + l] = interpolate(p[l + 3], p[l + 2], p[l + 1], p[l], fixed.t);
                }
            }
        });
    } else {
        if (s.fixed) {
            for (std::size_t c = 0; c < N; ++c)
                std::fill_n(delay[c], n, fixed_delay);
        }
        for (std::size_t c = 0; c < N; ++c)
            write[c] = taps[c].write;
        pipeline([&](std::size_t at) {
            for (std::size_t c = 0; c < N; ++c) {
                const Tap& tap = taps[c];
                for (std::size_t j = at; j < std::min(at + B, n); ++j) {
                    y[c][j] = read_clamped(tap.buffer, tap.length, write[c], delay[c][j]);
                    if (++write[c] == tap.length) write[c] = 0;
                }
            }
        });
    }

    for (std::size_t c = 0; c < N; ++c) {
        Tap& tap = taps[c];
        tap.state = state[c];
        write_wrapped(tap.buffer, tap.length, tap.write, into[c], n);
    }
}

template <std::size_t N, bool PingPong>
void run(Tap* taps, float* const* io, const Slice& s) {
    float delay[N][SLICE];
    const float longest = static_cast<float>(taps[0].length - 4);
    // A fixed delay needs no list unless the slice has to run sample by sample.
    const float shortest =
        s.fixed ? clamp_delay(s.glide_start, longest) : delays<N, PingPong>(s, longest, delay);
    if (shortest >= static_cast<float>(s.frames + 1)) {
        if (s.frames == SLICE) {
            run_staged<N, PingPong, SLICE>(taps, io, s, delay, shortest);
        } else {
            run_staged<N, PingPong, 0>(taps, io, s, delay, shortest);
        }
    } else {
        if (s.fixed) delays<N, PingPong>(s, longest, delay);
        run_serial<N, PingPong>(taps, io, s, delay);
    }
}

// A bound no delay of the slice falls below, found without working the
// delays out: f32 rounding keeps the order of sums and products, so a glide
// lies between its first and last values and the LFO term takes at most the
// depth off.
float shortest_bound(const Slice& s, float longest) {
    if (s.fixed) return clamp_delay(s.glide_start, longest);
    const float first = s.glide_start + s.glide_step * (static_cast<float>(s.phase + 1) / 32.0f);
    const float last =
        s.glide_start + s.glide_step * (static_cast<float>(s.phase + s.frames) / 32.0f);
    const float low = first < last ? first : last;
    return clamp_delay(s.modulated ? low - s.depth : low, longest);
}

// The slice's reads on one line, none of them reaching a sample the slice
// writes, into both `y` and `out`. `delay` is read only when the delay moves;
// a fixed one is `fixed`.
void read_line(const Line& line, const Slice& s, const float* delay, float fixed, float* y,
               float* out) {
    const float* buffer = line.buffer.data();
    const std::size_t length = line.buffer.size();
    const std::size_t n = s.frames;
    if (s.fixed) {
        const Split at = split(fixed);
        const std::size_t oldest = oldest_slot(line.write, length, at.whole);
        if (oldest + 3 + n <= length) {
            const float* p = buffer + oldest;
            for (std::size_t j = 0; j < n; ++j) {
                const float v = interpolate(p[j + 3], p[j + 2], p[j + 1], p[j], at.t);
                y[j] = v;
                out[j] = v;
            }
            return;
        }
    }
    std::size_t write = line.write;
    for (std::size_t j = 0; j < n; ++j) {
        const float v = read_clamped(buffer, length, write, s.fixed ? fixed : delay[j]);
        y[j] = v;
        out[j] = v;
        if (++write == length) write = 0;
    }
}

// One line's damping recursion as settle hands it over: `held` comes in as
// the slice's reads and goes out as the state after each of them.
struct Lane {
    float* held;
    float* state;
    float coefficient;
};

// Four f32 lanes: SSE2 on x86-64, NEON on arm64. Each lane does exactly the
// scalar operation.
using Quad = float __attribute__((vector_size(16)));

inline Quad load(const float* p) {
    Quad v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store(float* p, Quad v) {
    std::memcpy(p, &v, sizeof v);
}

// Rows a, b, c, d become the columns.
inline void transpose(Quad& a, Quad& b, Quad& c, Quad& d) {
    const Quad ab_low = __builtin_shufflevector(a, b, 0, 4, 1, 5);
    const Quad ab_high = __builtin_shufflevector(a, b, 2, 6, 3, 7);
    const Quad cd_low = __builtin_shufflevector(c, d, 0, 4, 1, 5);
    const Quad cd_high = __builtin_shufflevector(c, d, 2, 6, 3, 7);
    a = __builtin_shufflevector(ab_low, cd_low, 0, 1, 4, 5);
    b = __builtin_shufflevector(ab_low, cd_low, 2, 3, 6, 7);
    c = __builtin_shufflevector(ab_high, cd_high, 0, 1, 4, 5);
    d = __builtin_shufflevector(ab_high, cd_high, 2, 3, 6, 7);
}

// Padding for a batch that is not a whole number of vectors: lanes that read
// silence and write where nothing reads.
constexpr float SILENCE[SLICE] = {};

// The recursions of 4 * G lines, four to a vector: four samples of four
// lines are turned so that a vector holds one sample of each, go through
// s = s + k * (y - s) one sample after another, and are turned back. The G
// vectors' chains overlap. A slice that is not a whole number of fours ends
// lane by lane. Lanes from `count` on are padding.
template <std::size_t G>
void recurse(const Lane* lanes, std::size_t count, std::size_t n) {
    float sink[SLICE];
    float nowhere = 0.0f;
    Quad s[G], k[G];
    const float* from[G][4];
    float* to[G][4];
    for (std::size_t g = 0; g < G; ++g) {
        for (std::size_t i = 0; i < 4; ++i) {
            const std::size_t l = 4 * g + i;
            s[g][i] = l < count ? *lanes[l].state : 0.0f;
            k[g][i] = l < count ? lanes[l].coefficient : 0.0f;
            from[g][i] = l < count ? lanes[l].held : SILENCE;
            to[g][i] = l < count ? lanes[l].held : sink;
        }
    }
    const std::size_t fours = n / 4 * 4;
    for (std::size_t j = 0; j < fours; j += 4) {
        for (std::size_t g = 0; g < G; ++g) {
            Quad y[4];
            for (std::size_t i = 0; i < 4; ++i)
                y[i] = load(from[g][i] + j);
            transpose(y[0], y[1], y[2], y[3]);
            for (std::size_t i = 0; i < 4; ++i) {
                s[g] = s[g] + k[g] * (y[i] - s[g]);
                y[i] = s[g];
            }
            transpose(y[0], y[1], y[2], y[3]);
            for (std::size_t i = 0; i < 4; ++i)
                store(to[g][i] + j, y[i]);
        }
    }
    for (std::size_t g = 0; g < G; ++g) {
        for (std::size_t i = 0; i < 4; ++i) {
            float state = s[g][i];
            const float coefficient = k[g][i];
            for (std::size_t j = fours; j < n; ++j) {
                state = state + coefficient * (from[g][i][j] - state);
                to[g][i][j] = state;
            }
            *(4 * g + i < count ? lanes[4 * g + i].state : &nowhere) = state;
        }
    }
}

// Four vectors of chains cover the latency of one step of a recursion.
constexpr std::size_t LANES = 16;
// Slices shorter than this run whole.
constexpr std::size_t FEW = 8;

// One batch of at most LANES lines.
void recurse_batch(const Lane* lanes, std::size_t count, std::size_t n) {
    switch ((count + 3) / 4) {
        case 1:
            recurse<1>(lanes, count, n);
            break;
        case 2:
            recurse<2>(lanes, count, n);
            break;
        case 3:
            recurse<3>(lanes, count, n);
            break;
        case 4:
            recurse<4>(lanes, count, n);
            break;
        default:
            break;
    }
}

}  // namespace

std::size_t line_length(float sample_rate, float max_ms) {
    // 24 slots beyond the longest time: the read needs two points past the
    // delay and one before it, and the maximum time stays clear of the clamp.
    const float samples = sample_rate * (max_ms * 0.001f);
    return (samples > 0.0f ? static_cast<std::size_t>(samples) : 0) + 24;
}

const BlockInfo INFO = {
    "delay",
    "A delay line. The block outputs only the delayed signal, so set the node's `mix` to blend it "
    "with the dry sound. For an echo use 100 ms or more with feedback. For a chorus use 10 to 30 "
    "ms with depth and no feedback and a mix of 0.5. For a flanger use 1 to 5 ms with depth and "
    "feedback. For a vibrato use mix 1.",
    ARGS,
    {},
    &make,
};

std::unique_ptr<Block> make() {
    return std::make_unique<Delay>();
}

void Delay::configure(std::span<const float> args) {
    if (args.size() > MAX_MS) max_ms_ = args[MAX_MS];
}

void Delay::prepare(std::size_t channels, float sample_rate) {
    const std::size_t length = line_length(sample_rate, max_ms_);
    // A host may prepare again on the audio thread (a CLAP reset): keep the
    // memory when its shape holds and clear only what was written, which
    // after a short run is a small part of a line many seconds long.
    if (lines_.size() == channels && (channels == 0 || lines_[0].buffer.size() == length)) {
        for (Line& line : lines_) {
            std::fill_n(line.buffer.begin(), std::min(written_, length), 0.0f);
            line.write = 0;
            line.damping = 0.0f;
        }
    } else {
        lines_ = {};
        lines_.reserve(channels);
        for (std::size_t c = 0; c < channels; ++c)
            lines_.emplace_back(length);
    }
    held_.assign(channels, SliceArray{});
    input_.assign(channels, SliceArray{});
    pending_ = 0;
    ahead_ = 0;
    written_ = 0;
    sample_rate_ = sample_rate;
    glide_start_ = 0.0f;
    glide_target_ = 0.0f;
    lfo_increment_ = 0.0;
    lfo_phase_ = 0.0;
    feedback_ = 0.0f;
    damping_ = 0.0f;
    cutoff_ = -1.0f;
    depth_ = 0.0f;
    pingpong_ = false;
    primed_ = false;
}

void Delay::control(std::span<const float> args) {
    if (args.size() < std::size(ARGS)) return;
    const float target = sample_rate_ * (std::fmin(args[TIME_MS], max_ms_) * 0.001f);
    if (primed_) {
        glide_start_ = glide_target_;
    } else {
        glide_start_ = target;
        primed_ = true;
    }
    glide_target_ = target;
    feedback_ = args[FEEDBACK];
    // One-pole coefficient 1 - exp(-2 pi f / sample_rate), f kept below Nyquist.
    const float cutoff = std::min(std::max(args[DAMP_HZ], 1.0f), 0.49f * sample_rate_);
    if (cutoff != cutoff_) {  // one exp per change of the cutoff, not per period
        damping_ = 1.0f - std::exp(cutoff * -6.2831855f / sample_rate_);
        cutoff_ = cutoff;
    }
    depth_ = sample_rate_ * (args[MOD_DEPTH_MS] * 0.001f);
    lfo_increment_ = static_cast<double>(args[MOD_RATE_HZ]) / static_cast<double>(sample_rate_);
    pingpong_ = args[MODE] >= 0.5f && lines_.size() == 2;
}

inline Slice Delay::slice(std::size_t frames, std::size_t phase) const {
    Slice s{};
    s.frames = frames;
    s.phase = phase;
    s.glide_start = glide_start_;
    s.glide_step = glide_target_ - glide_start_;
    s.lfo_increment = lfo_increment_;
    s.depth = depth_;
    s.feedback = feedback_;
    s.damping = damping_;
    s.modulated = depth_ != 0.0f;
    s.fixed = !s.modulated && glide_start_ == glide_target_ && std::isfinite(glide_start_);
    return s;
}

void Delay::process(Frame& frame, std::size_t phase) {
    const std::size_t frames = std::min(frame.frames, SLICE);
    const std::size_t channels = std::min({frame.channels, frame.data.size(), lines_.size()});
    Slice s = slice(frames, phase);

    if (frames > 0 && pingpong_ && channels == 2) {
        Tap taps[2];
        float* io[2] = {frame.channel(0), frame.channel(1)};
        for (std::size_t c = 0; c < 2; ++c) {
            Line& line = lines_[c];
            taps[c] = {line.buffer.data(), line.buffer.size(), line.write, line.damping};
        }
        s.lfo_start[0] = lfo_phase_;
        s.lfo_start[1] = lfo_phase_;
        run<2, true>(taps, io, s);
        for (std::size_t c = 0; c < 2; ++c) {
            lines_[c].write = taps[c].write;
            lines_[c].damping = taps[c].state;
        }
    } else if (frames > 0) {
        // Channels run in pairs so that two independent damping recursions
        // overlap in the pipeline.
        std::size_t c = 0;
        while (c < channels) {
            const std::size_t count = channels - c >= 2 ? 2 : 1;
            Tap taps[2];
            float* io[2] = {frame.channel(c), nullptr};
            for (std::size_t k = 0; k < count; ++k) {
                Line& line = lines_[c + k];
                taps[k] = {line.buffer.data(), line.buffer.size(), line.write, line.damping};
                io[k] = frame.channel(c + k);
                // Each channel's LFO runs a quarter cycle ahead of the previous one.
                s.lfo_start[k] = lfo_phase_ + 0.25 * static_cast<double>(c + k);
            }
            if (count == 2) {
                run<2, false>(taps, io, s);
            } else {
                run<1, false>(taps, io, s);
            }
            for (std::size_t k = 0; k < count; ++k) {
                lines_[c + k].write = taps[k].write;
                lines_[c + k].damping = taps[k].state;
            }
            c += count;
        }
    }

    advance_lfo(frames);
    end_slice(frames);
}

inline void Delay::advance_lfo(std::size_t frames) {
    const double advanced = lfo_phase_ + lfo_increment_ * static_cast<double>(frames);
    lfo_phase_ = advanced - std::trunc(advanced);
}

inline void Delay::end_slice(std::size_t frames) {
    if (!lines_.empty()) written_ = std::min(written_ + frames, lines_[0].buffer.size());
    // A non-finite damping state comes from reading an infinity or NaN out of
    // the line (or from an overflow in the loop), and it would feed itself back
    // for good, so the whole line starts again from silence. Anything
    // non-finite still in a line is read within one line length (making the
    // state non-finite) or overwritten, and none of it lives past the slice in
    // which it reaches the state: once the input is finite and the loop no
    // longer overflows, the output is finite again within one line length plus
    // one slice. Ping-pong lines feed each other, so they are cleared together.
    // A finite state is never touched, so audio that never overflows keeps
    // every bit.
    bool poisoned = false;
    for (Line& line : lines_) {
        if (std::fabs(line.damping) < 1e-20f) line.damping = 0.0f;
        poisoned = poisoned || !std::isfinite(line.damping);
    }
    if (poisoned) {
        for (Line& line : lines_) {
            if (pingpong_ || !std::isfinite(line.damping)) {
                std::fill(line.buffer.begin(), line.buffer.end(), 0.0f);
                line.damping = 0.0f;
            }
        }
    }
}

void Delay::read_ahead(Frame& frame, std::size_t phase) {
    const std::size_t frames = std::min(frame.frames, SLICE);
    const std::size_t channels = std::min({frame.channels, frame.data.size(), lines_.size()});
    // A slice of a few frames leaves settle too little to overlap and runs
    // whole, as does one whose reads reach what it writes.
    if (frames < FEW || channels == 0) {
        process(frame, phase);
        return;
    }
    const Slice s = slice(frames, phase);
    const float longest = static_cast<float>(lines_[0].buffer.size() - 4);
    const float shortest = shortest_bound(s, longest);
    if (!(shortest >= static_cast<float>(frames + 1))) {
        process(frame, phase);
        return;
    }
    const bool pingpong = pingpong_ && channels == 2;
    float delay[SLICE];
    for (std::size_t c = 0; c < channels; ++c) {
        // Ping-pong lines share the first line's delays.
        if (!s.fixed && !(pingpong && c == 1)) {
            Slice line = s;
            line.lfo_start[0] = lfo_phase_ + (pingpong ? 0.0 : 0.25 * static_cast<double>(c));
            delays<1, false>(line, longest, &delay);
        }
        input_[c] = frame.data[c];
        read_line(lines_[c], s, delay, shortest, held_[c].data(), frame.channel(c));
    }
    pending_ = frames;
    ahead_ = channels;
    advance_lfo(frames);
}

// What the lines take in, from the damping states settle left in `held_`:
// normal mode feeds every line its own repeats and input; ping-pong crosses
// the repeats and puts the mono sum on the left only.
void Delay::write_ahead() {
    const std::size_t n = pending_;
    const bool pingpong = pingpong_ && ahead_ == 2;
    for (std::size_t c = 0; c < ahead_; ++c) {
        Line& line = lines_[c];
        const std::size_t length = line.buffer.size();
        // Straight into the line unless the slice wraps around its end.
        float wrapped[SLICE];
        const bool straight = line.write + n <= length;
        float* into = straight ? line.buffer.data() + line.write : wrapped;
        const float* x = input_[c].data();
        if (pingpong && c == 0) {
            const float* other = held_[1].data();
            const float* right = input_[1].data();
            for (std::size_t j = 0; j < n; ++j)
                into[j] = feedback_ * other[j] + 0.5f * (x[j] + right[j]);
        } else if (pingpong) {
            const float* other = held_[0].data();
            for (std::size_t j = 0; j < n; ++j)
                into[j] = feedback_ * other[j];
        } else {
            const float* held = held_[c].data();
            for (std::size_t j = 0; j < n; ++j)
                into[j] = feedback_ * held[j] + x[j];
        }
        if (straight) {
            line.write += n;
            if (line.write == length) line.write = 0;
        } else {
            write_wrapped(line.buffer.data(), length, line.write, wrapped, n);
        }
    }
    pending_ = 0;
    end_slice(n);
}

void settle(std::span<Delay* const> delays) {
    Lane lanes[LANES]{};
    std::size_t count = 0;
    std::size_t frames = 0;
    for (Delay* delay : delays) {
        if (delay->pending_ == 0) continue;
        // Slices of one graph are all of a length; a batch never mixes two.
        if (count > 0 && delay->pending_ != frames) {
            recurse_batch(lanes, count, frames);
            count = 0;
        }
        frames = delay->pending_;
        for (std::size_t c = 0; c < delay->ahead_; ++c) {
            lanes[count++] = {delay->held_[c].data(), &delay->lines_[c].damping, delay->damping_};
            if (count == LANES) {
                recurse_batch(lanes, count, frames);
                count = 0;
            }
        }
    }
    if (count > 0) recurse_batch(lanes, count, frames);
    for (Delay* delay : delays) {
        if (delay->pending_ > 0) delay->write_ahead();
    }
}

std::uint32_t Delay::tail(std::span<const float> args, float sample_rate) const {
    if (args.size() < std::size(ARGS)) return 0;
    const float feedback = args[FEEDBACK];
    float repeats = 1.0f;
    if (feedback > 0.01f) {
        // Repeats until the echo has fallen by 60 dB: ln(0.001) / ln(feedback).
        const float needed = std::ceil(-6.9077554f / std::log(feedback));
        repeats = needed > 1.0f ? (needed < 60.0f ? needed : 60.0f) : 1.0f;
    }
    const float span = sample_rate * (std::fmin(args[TIME_MS], args[MAX_MS]) * 0.001f) +
                       sample_rate * (args[MOD_DEPTH_MS] * 0.001f);
    const float samples = repeats * span;
    if (!(samples > 0.0f)) return 0;
    if (samples >= 4294967296.0f) return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(samples);
}

}  // namespace orba::blocks::delay
