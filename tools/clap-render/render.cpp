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
        const std::int64_t count =
            std::min<std::int64_t>(frames - first, std::max<std::int64_t>(limit - stats.frames, 0));
        for (std::int64_t f = 0; f < count; ++f) {
            for (std::uint32_t c = 0; c < out_channels; ++c) {
                const float sample = instance.output(c)[first + f];
                out[static_cast<std::size_t>(f) * out_channels + c] = sample;
                const double magnitude = std::fabs(static_cast<double>(sample));
                stats.peak = std::max(stats.peak, magnitude);
                stats.sum_squares += magnitude * magnitude;
            }
        }
        stats.samples += static_cast<std::uint64_t>(count) * out_channels;
        if (count > 0) {
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
        for (std::uint32_t c = 0; c < in_channels; ++c) {
            float* channel = instance.input(c);
            for (std::uint32_t f = 0; f < frames; ++f)
                channel[f] = in[f * file_channels + c];
        }
        changes.clear();
        if (settings.ramp != nullptr) {
            const std::int64_t last = read_frames + frames - 1;
            const double t = input_frames > 1
                                 ? static_cast<double>(last) / static_cast<double>(input_frames - 1)
                                 : 1.0;
            const double value =
                settings.ramp_from + (settings.ramp_to - settings.ramp_from) * std::min(t, 1.0);
            changes.push_back({settings.ramp, value, 0});
        }
        read_frames += frames;
        if (auto done = run(frames, changes, INT64_MAX); !done) return std::move(done).take_error();
    }

    // The tail is asked for now, for the parameter values the input ended with.
    std::int64_t tail = 0;
    if (settings.tail) {
        const std::optional<std::uint32_t> reported = instance.tail();
        tail = reported ? std::min<std::int64_t>(*reported, tail_cap) : tail_cap;
        stats.tail_cut = !reported || *reported > tail_cap;
    }
    const std::int64_t total = read_frames + tail;
    expected = estimate_total(tail);
    for (std::uint32_t c = 0; c < in_channels; ++c)
        std::fill_n(instance.input(c), block, 0.0f);
    while (stats.frames < total) {
        const auto frames =
            static_cast<std::uint32_t>(std::min<std::int64_t>(block, total - stats.frames + skip));
        if (auto done = run(frames, {}, total); !done) return std::move(done).take_error();
    }
    stats.tail_frames = stats.frames - read_frames;
    return stats;
}

}  // namespace orba::render
