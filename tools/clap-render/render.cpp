#include "render.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace orba::render {

Result<RenderStats> render(Instance& instance, Source& source, AudioWriter& writer,
                           const RenderSettings& settings, const Progress& progress,
                           const std::atomic<bool>& cancel) {
    const double rate = source.sample_rate();
    const std::uint32_t file_channels = source.channels();
    const std::uint32_t in_channels = std::min(instance.input_channels(), file_channels);
    const std::uint32_t out_channels = instance.output_channels();
    const std::uint32_t block = settings.block;
    const std::int64_t input_frames = std::max<std::int64_t>(source.frames(), 0);
    const auto tail_cap = static_cast<std::int64_t>(std::floor(settings.tail_max_seconds * rate));
    const Transport transport{settings.bpm, rate};

    RenderStats stats;
    stats.latency = instance.latency();
    std::int64_t skip = stats.latency;  // output frames that precede the input's first frame

    // Below -120 dBFS on every channel for one control period of the plug-in's
    // parameters, the tail has rung out.
    constexpr double QUIET = 1e-6;
    constexpr std::int64_t QUIET_FRAMES = 32;
    constexpr std::uint32_t RAMP_STEP = 32;
    std::int64_t quiet_run = 0;
    bool stop_when_quiet = false;
    // Whether every output frame so far was its input frame unchanged. Such a
    // render has its wet signal off (a mix at 0): its tail is held back while
    // it stays silence, and dropped if it stays silence to the end.
    bool unchanged =
        stats.latency == 0 && in_channels == file_channels && out_channels == file_channels;
    bool holding = false;
    std::int64_t held = 0;

    std::vector<float> in(static_cast<std::size_t>(block) * file_channels);
    std::vector<float> out(static_cast<std::size_t>(block) * out_channels);
    std::int64_t position = 0;

    auto estimate_total = [&](std::int64_t tail) {
        return static_cast<double>(std::max<std::int64_t>(input_frames + tail, 1));
    };
    double expected = estimate_total(settings.tail ? instance.tail().value_or(tail_cap) : 0);

    // Runs one block already sitting in the plug-in's input and writes what
    // falls within [0, limit) of the compensated output.
    auto run = [&](std::uint32_t frames, std::span<const ParamChange> changes,
                   std::int64_t limit) -> Result<Done> {
        if (cancel.load()) return fail("interrupted");
        if (auto done = instance.process(frames, position, transport, changes); !done) {
            return std::move(done).take_error();
        }
        instance.run_callbacks();
        position += frames;
        const std::int64_t first = std::min<std::int64_t>(skip, frames);
        skip -= first;
        std::int64_t count =
            std::min<std::int64_t>(frames - first, std::max<std::int64_t>(limit - stats.frames, 0));
        for (std::int64_t f = 0; f < count; ++f) {
            bool quiet = true;
            for (std::uint32_t c = 0; c < out_channels; ++c) {
                const float sample = instance.output(c)[first + f];
                out[static_cast<std::size_t>(f) * out_channels + c] = sample;
                const double magnitude = std::fabs(static_cast<double>(sample));
                stats.peak = std::max(stats.peak, magnitude);
                if (magnitude > 1.0) ++stats.over;
                stats.sum_squares += magnitude * magnitude;
                quiet = quiet && magnitude < QUIET;
            }
            quiet_run = quiet ? quiet_run + 1 : 0;
            if (stop_when_quiet && quiet_run >= QUIET_FRAMES) {
                count = f + 1;
                break;
            }
        }
        stats.samples += static_cast<std::uint64_t>(count) * out_channels;
        if (holding) {
            const auto end = out.begin() + static_cast<std::ptrdiff_t>(count * out_channels);
            if (std::all_of(out.begin(), end, [](float s) { return s == 0.0f; })) {
                held += count;
                stats.frames += count;
                count = 0;
            } else {
                holding = false;
                const std::vector<float> silence(static_cast<std::size_t>(block) * out_channels);
                for (std::int64_t n = 0; n < held; n += block) {
                    const auto frames =
                        static_cast<std::size_t>(std::min<std::int64_t>(block, held - n));
                    if (auto written = writer.write(silence.data(), frames); !written) {
                        return std::move(written).take_error();
                    }
                }
            }
        }
        if (count > 0) {
            for (std::int64_t f = 0; settings.envelope != nullptr && f < count; ++f) {
                for (std::uint32_t c = 0; c < out_channels; ++c) {
                    settings.envelope->add(
                        stats.frames + f, c,
                        std::fabs(out[static_cast<std::size_t>(f) * out_channels + c]));
                }
            }
            if (auto written = writer.write(out.data(), static_cast<std::size_t>(count));
                !written) {
                return std::move(written).take_error();
            }
            stats.frames += count;
        }
        if (progress) progress(std::min(1.0, static_cast<double>(position) / expected));
        return Done{};
    };

    std::vector<ParamChange> changes;
    std::int64_t read_frames = 0;
    for (;;) {
        auto got = source.read(in.data(), block);
        if (!got) return std::move(got).take_error();
        const auto frames = static_cast<std::uint32_t>(*got);
        if (frames == 0) break;
        // A ramp moves in steps of one control period of the plug-in, counted
        // from the input's start, so it sounds the same at any block size.
        const std::uint32_t step = RAMP_STEP;
        for (std::uint32_t begin = 0; begin < frames;) {
            std::uint32_t n = frames - begin;
            if (settings.ramp != nullptr) {
                n = std::min<std::uint32_t>(
                    n, step - static_cast<std::uint32_t>((read_frames + begin) % step));
            }
            for (std::uint32_t c = 0; c < in_channels; ++c) {
                float* channel = instance.input(c);
                for (std::uint32_t f = 0; f < n; ++f)
                    channel[f] = in[(begin + f) * file_channels + c];
            }
            changes.clear();
            if (settings.ramp != nullptr) {
                // The value at the end of the step, even when a host block
                // ends within it.
                const std::int64_t last =
                    std::min<std::int64_t>((read_frames + begin) / step * step + step,
                                           input_frames) -
                    1;
                const double t = input_frames > 1 ? static_cast<double>(last) /
                                                        static_cast<double>(input_frames - 1)
                                                  : 1.0;
                const double value =
                    settings.ramp_from + (settings.ramp_to - settings.ramp_from) * std::min(t, 1.0);
                changes.push_back({settings.ramp, value, 0});
            }
            if (auto done = run(n, changes, INT64_MAX); !done) return std::move(done).take_error();
            for (std::uint32_t f = 0; unchanged && f < n; ++f) {
                for (std::uint32_t c = 0; c < file_channels; ++c) {
                    unchanged =
                        unchanged && instance.output(c)[f] == in[(begin + f) * file_channels + c];
                }
            }
            begin += n;
        }
        read_frames += frames;
    }

    // The tail is asked for now, for the parameter values the input ended with.
    std::int64_t tail = 0;
    const std::optional<std::uint32_t> reported = instance.tail();
    if (settings.tail) {
        tail = reported ? std::min<std::int64_t>(*reported, tail_cap) : tail_cap;
        stats.tail_cut = !reported || *reported > tail_cap;
    }
    std::int64_t total = read_frames + tail;
    expected = estimate_total(tail);
    // An endless tail is the plug-in's promise to ring on, silent or not.
    holding = unchanged && reported;
    for (std::uint32_t c = 0; c < in_channels; ++c)
        std::fill_n(instance.input(c), block, 0.0f);
    while (stats.frames < total) {
        const auto frames =
            static_cast<std::uint32_t>(std::min<std::int64_t>(block, total - stats.frames + skip));
        if (auto done = run(frames, {}, total); !done) return std::move(done).take_error();
    }
    // The reported tail is whole frames and an echo can fall between two, its
    // interpolation and damping later still: ring on until quiet, up to the cap.
    if (settings.tail && tail > 0 && !holding && !stats.tail_cut) {
        stop_when_quiet = true;
        total = read_frames + tail_cap;
        while (stats.frames < total && quiet_run < QUIET_FRAMES) {
            const auto frames = static_cast<std::uint32_t>(
                std::min<std::int64_t>(block, total - stats.frames + skip));
            if (auto done = run(frames, {}, total); !done) return std::move(done).take_error();
        }
        stats.tail_cut = quiet_run < QUIET_FRAMES;
    }
    if (holding) {
        stats.frames -= held;
        stats.samples -= static_cast<std::uint64_t>(held) * out_channels;
        stats.tail_cut = false;
    }
    stats.tail_frames = stats.frames - read_frames;
    return stats;
}

}  // namespace orba::render
