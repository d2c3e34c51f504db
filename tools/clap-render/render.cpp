#include "render.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace orba::render {

double Automation::value_at(std::int64_t frame) const {
    if (points.empty()) return 0.0;
    if (frame <= points.front().frame) return points.front().value;
    for (std::size_t i = 1; i < points.size(); ++i) {
        const Point& a = points[i - 1];
        const Point& b = points[i];
        if (frame > b.frame) continue;
        if (b.frame == a.frame) return b.value;
        const double t =
            static_cast<double>(frame - a.frame) / static_cast<double>(b.frame - a.frame);
        return a.value + (b.value - a.value) * t;
    }
    return points.back().value;
}

Result<RenderStats> render(Instance& instance, Source& source, const Sink& sink,
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
    const auto gain = static_cast<float>(settings.gain);
    const double threshold = settings.tail_threshold;
    // Automation moves in steps of one control period of the plug-in, counted
    // from the input's start, so it sounds the same at any block size.
    constexpr std::uint32_t STEP = 32;

    RenderStats stats;
    stats.latency = instance.latency();
    std::int64_t skip = stats.latency;  // output frames that precede the input's first frame
    std::int64_t produced = 0;          // compensated output frames so far, written or held
    std::int64_t last_loud = -1;        // the last of them at or above the threshold
    std::int64_t read_frames = 0;
    // Once the tail is running, quiet frames wait here until a louder one
    // follows, and are dropped if none does.
    bool trim = false;
    std::vector<float> held;

    std::vector<float> in(static_cast<std::size_t>(block) * file_channels);
    std::vector<float> out(static_cast<std::size_t>(block) * out_channels);
    std::int64_t position = 0;

    auto estimate_total = [&](std::int64_t tail) {
        return static_cast<double>(std::max<std::int64_t>(input_frames + tail, 1));
    };
    double expected = estimate_total(settings.tail ? instance.tail().value_or(tail_cap) : 0);

    auto emit = [&](const float* frames, std::int64_t count) -> Result<Done> {
        if (count <= 0) return Done{};
        for (std::int64_t f = 0; f < count; ++f) {
            for (std::uint32_t c = 0; c < out_channels; ++c) {
                const float sample = frames[static_cast<std::size_t>(f) * out_channels + c];
                const double magnitude = std::fabs(static_cast<double>(sample));
                stats.peak = std::max(stats.peak, magnitude);
                if (magnitude > 1.0) ++stats.over;
                stats.sum_squares += magnitude * magnitude;
                if (settings.envelope != nullptr) {
                    settings.envelope->add(stats.frames + f, c, static_cast<float>(magnitude));
                }
            }
        }
        if (auto written = sink(frames, static_cast<std::size_t>(count)); !written) return written;
        stats.samples += static_cast<std::uint64_t>(count) * out_channels;
        stats.frames += count;
        return Done{};
    };

    // Runs one block already sitting in the plug-in's input and passes on what
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
            std::min<std::int64_t>(frames - first, std::max<std::int64_t>(limit - produced, 0));
        for (std::int64_t f = 0; f < count; ++f) {
            bool loud = false;
            for (std::uint32_t c = 0; c < out_channels; ++c) {
                const float sample = instance.output(c)[first + f] * gain;
                out[static_cast<std::size_t>(f) * out_channels + c] = sample;
                loud = loud || std::fabs(static_cast<double>(sample)) >= threshold;
            }
            if (loud) last_loud = produced + f;
        }
        std::int64_t keep = count;
        if (trim) {
            // The input's own length is always kept.
            keep =
                std::clamp<std::int64_t>(std::max(last_loud + 1, read_frames) - produced, 0, count);
            if (keep > 0) {
                if (auto written =
                        emit(held.data(), static_cast<std::int64_t>(held.size() / out_channels));
                    !written) {
                    return written;
                }
                held.clear();
            }
            held.insert(held.end(), out.begin() + static_cast<std::ptrdiff_t>(keep * out_channels),
                        out.begin() + static_cast<std::ptrdiff_t>(count * out_channels));
        }
        if (auto written = emit(out.data(), keep); !written) return written;
        produced += count;
        if (progress) progress(std::min(1.0, static_cast<double>(position) / expected));
        return Done{};
    };

    std::vector<ParamChange> changes;
    for (;;) {
        auto got = source.read(in.data(), block);
        if (!got) return std::move(got).take_error();
        const auto frames = static_cast<std::uint32_t>(*got);
        if (frames == 0) break;
        for (std::uint32_t begin = 0; begin < frames;) {
            std::uint32_t n = frames - begin;
            if (!settings.automations.empty()) {
                n = std::min<std::uint32_t>(
                    n, STEP - static_cast<std::uint32_t>((read_frames + begin) % STEP));
            }
            for (std::uint32_t c = 0; c < in_channels; ++c) {
                float* channel = instance.input(c);
                for (std::uint32_t f = 0; f < n; ++f)
                    channel[f] = in[(begin + f) * file_channels + c];
            }
            changes.clear();
            // The values at the end of the step, even when a host block ends
            // within it.
            const std::int64_t last =
                std::min<std::int64_t>((read_frames + begin) / STEP * STEP + STEP, input_frames) -
                1;
            for (const Automation& automation : settings.automations)
                changes.push_back({automation.param, automation.value_at(last), 0});
            if (auto done = run(n, changes, INT64_MAX); !done) return std::move(done).take_error();
            begin += n;
        }
        read_frames += frames;
    }

    // The tail is asked for now, for the parameter values the input ended with.
    const std::optional<std::uint32_t> reported = instance.tail();
    std::int64_t total = read_frames;
    std::int64_t window = 0;
    // A tail of none is the plug-in's word that its output ends with its input.
    if (settings.tail && reported != 0u) {
        total = read_frames + tail_cap;
        expected =
            estimate_total(reported ? std::min<std::int64_t>(*reported, tail_cap) : tail_cap);
        // Echoes can be spaced as widely as the tail is long; a window of any
        // fixed length would end the render in a gap between two of them.
        if (reported) {
            window = std::max<std::int64_t>(*reported, static_cast<std::int64_t>(std::ceil(rate)));
            trim = true;
        }
    }
    auto rung_out = [&] { return trim && produced - (last_loud + 1) >= window; };
    for (std::uint32_t c = 0; c < in_channels; ++c)
        std::fill_n(instance.input(c), block, 0.0f);
    while (produced < total && (produced < read_frames || !rung_out())) {
        const auto frames =
            static_cast<std::uint32_t>(std::min<std::int64_t>(block, total - produced + skip));
        if (auto done = run(frames, {}, total); !done) return std::move(done).take_error();
    }
    // Cut at --tail-max or not, quiet frames held to the end are dropped: a
    // long reported tail must not pad the render with silence up to the cap.
    stats.tail_cut = settings.tail && reported != 0u && !rung_out();
    stats.tail_frames = stats.frames - read_frames;
    return stats;
}

}  // namespace orba::render
