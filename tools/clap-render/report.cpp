#include "report.h"

#include <cmath>
#include <cstdio>

#include "text.h"

namespace orba::render {

ProgressBar::ProgressBar(bool enabled) : enabled_(enabled), start_(Clock::now()), last_(start_) {}

void ProgressBar::update(double fraction) {
    if (!enabled_) return;
    const auto now = Clock::now();
    if (now - start_ < std::chrono::seconds(1)) return;
    if (drawn_ && now - last_ < std::chrono::milliseconds(100) && fraction < 1.0) return;
    last_ = now;
    constexpr int WIDTH = 40;
    const int filled = static_cast<int>(fraction * WIDTH);
    std::string line = "\r[";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(WIDTH - filled), '.');
    line += "] " + fixed(fraction * 100.0, 0) + "%";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::finish() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

std::string dbfs(double level) {
    if (!(level > 0.0)) return "-inf dBFS";
    return fixed(20.0 * std::log10(level), 1) + " dBFS";
}

std::string summary_line(const std::string& path, const RenderStats& stats, double sample_rate,
                         std::uint32_t channels, const std::string& format) {
    const double rms =
        stats.samples > 0 ? std::sqrt(stats.sum_squares / static_cast<double>(stats.samples)) : 0.0;
    std::string line = path + ": " + fixed(static_cast<double>(stats.frames) / sample_rate, 2) +
                       " s, " + fixed(sample_rate, 0) + " Hz, " + std::to_string(channels) +
                       (channels == 1 ? " channel" : " channels") + ", peak " + dbfs(stats.peak) +
                       ", RMS " + dbfs(rms) + ", tail " +
                       fixed(static_cast<double>(stats.tail_frames) / sample_rate, 2) + " s";
    if (stats.tail_cut) line += " (cut at --tail-max)";
    line += ", " + format;
    if (stats.latency > 0) {
        line += ", latency of " + std::to_string(stats.latency) + " frames compensated";
    }
    return line;
}

std::string clipping_warning(const RenderStats& stats, const std::string& format) {
    if (stats.over == 0) return "";
    return "warning: " + std::to_string(stats.over) +
           (stats.over == 1 ? " sample was" : " samples were") + " clipped at full scale in " +
           format + " (peak " + dbfs(stats.peak) + "); --float keeps them";
}

}  // namespace orba::render
