#include "echoes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "text.h"

namespace orba::render {
namespace {

constexpr double FLOOR_DB = -90.0;
constexpr std::size_t CLEARANCE = 5;  // windows, of a millisecond each

double to_db(double level) {
    return level > 0.0 ? 20.0 * std::log10(level) : -std::numeric_limits<double>::infinity();
}

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '"') {
            out += "&quot;";
        } else {
            out += c;
        }
    }
    return out;
}

// Peaks of one channel: louder than everything within the clearance before
// them, and at least as loud as everything within it after.
std::vector<std::pair<std::int64_t, double>> channel_peaks(const Envelope& e, std::uint32_t c) {
    std::vector<std::pair<std::int64_t, double>> peaks;
    const std::size_t n = e.windows();
    for (std::size_t w = 0; w < n; ++w) {
        const float p = e.peak(w, c);
        if (to_db(p) < FLOOR_DB) continue;
        bool peak = true;
        for (std::size_t j = w > CLEARANCE ? w - CLEARANCE : 0;
             peak && j < std::min(n, w + CLEARANCE + 1); ++j) {
            if (j < w) peak = e.peak(j, c) < p;
            if (j > w) peak = e.peak(j, c) <= p;
        }
        if (peak) peaks.emplace_back(e.at(w, c), p);
    }
    return peaks;
}

}  // namespace

Envelope::Envelope(double sample_rate, std::uint32_t channels)
    : rate_(sample_rate),
      channels_(std::max<std::uint32_t>(channels, 1)),
      window_(std::max<std::int64_t>(1, std::llround(sample_rate / 1000.0))) {}

void Envelope::add(std::int64_t frame, std::uint32_t channel, float magnitude) {
    const auto w = static_cast<std::size_t>(frame / window_);
    if (peak_.size() <= (w + 1) * channels_) {
        peak_.resize((w + 1) * channels_, 0.0f);
        at_.resize((w + 1) * channels_, 0);
    }
    const std::size_t i = w * channels_ + channel;
    if (magnitude > peak_[i]) {
        peak_[i] = magnitude;
        at_[i] = frame;
    }
}

std::vector<Echo> strongest_echoes(const Envelope& envelope, std::size_t count) {
    struct Found {
        std::int64_t frame;
        double level;
        std::uint32_t channel;
    };
    std::vector<Found> found;
    for (std::uint32_t c = 0; c < envelope.channels(); ++c) {
        for (const auto& [frame, level] : channel_peaks(envelope, c))
            found.push_back({frame, level, c});
    }
    std::vector<Echo> echoes;
    std::vector<bool> used(found.size(), false);
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (used[i]) continue;
        std::uint32_t alike = 1;
        for (std::size_t j = i + 1; j < found.size(); ++j) {
            if (!used[j] && found[j].frame == found[i].frame && found[j].level == found[i].level) {
                used[j] = true;
                ++alike;
            }
        }
        Echo echo;
        echo.frame = found[i].frame;
        echo.level = found[i].level;
        echo.channel = alike == envelope.channels() && alike > 1
                           ? "all"
                           : std::to_string(found[i].channel + 1);
        echo.time_text =
            fixed(static_cast<double>(echo.frame) * 1000.0 / envelope.sample_rate(), 2) + " ms";
        echo.level_text = fixed(to_db(echo.level), 1) + " dB";
        echoes.push_back(std::move(echo));
    }
    std::stable_sort(echoes.begin(), echoes.end(),
                     [](const Echo& a, const Echo& b) { return a.level > b.level; });
    if (echoes.size() > count) echoes.resize(count);
    std::stable_sort(echoes.begin(), echoes.end(), [](const Echo& a, const Echo& b) {
        return a.frame != b.frame ? a.frame < b.frame : a.channel < b.channel;
    });
    return echoes;
}

std::string echo_table(const std::vector<Echo>& echoes) {
    if (echoes.empty()) return "No echoes above -90 dBFS.\n";
    std::size_t time_width = 4;
    std::size_t level_width = 5;
    for (const Echo& e : echoes) {
        time_width = std::max(time_width, e.time_text.size());
        level_width = std::max(level_width, e.level_text.size());
    }
    auto row = [&](const std::string& time, const std::string& level, const std::string& channel) {
        std::string line(2 + time_width - time.size(), ' ');
        line += time;
        line.append(2 + level_width - level.size(), ' ');
        line += level;
        line += "  ";
        line += channel;
        line += '\n';
        return line;
    };
    std::string text = row("time", "level", "channel");
    for (const Echo& e : echoes)
        text += row(e.time_text, e.level_text, e.channel);
    return text;
}

std::string plot_svg(const Envelope& envelope, const std::vector<Echo>& echoes,
                     const std::string& title) {
    constexpr double WIDTH = 900.0;
    constexpr double HEIGHT = 420.0;
    constexpr double LEFT = 60.0;
    constexpr double RIGHT = 20.0;
    constexpr double TOP = 40.0;
    constexpr double BOTTOM = 50.0;
    constexpr double PLOT_W = WIDTH - LEFT - RIGHT;
    constexpr double PLOT_H = HEIGHT - TOP - BOTTOM;
    constexpr const char* COLOURS[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                       "#ff7f0e", "#8c564b", "#e377c2", "#17becf"};

    const double seconds =
        std::max(static_cast<double>(envelope.windows()) * static_cast<double>(envelope.window()) /
                     envelope.sample_rate(),
                 0.001);
    double top_db = 0.0;
    for (std::size_t w = 0; w < envelope.windows(); ++w) {
        for (std::uint32_t c = 0; c < envelope.channels(); ++c)
            top_db = std::max(top_db, std::ceil(to_db(envelope.peak(w, c)) / 6.0) * 6.0);
    }
    const double bottom_db = FLOOR_DB;
    auto x_of = [&](double s) { return LEFT + PLOT_W * s / seconds; };
    auto y_of = [&](double db) {
        const double clamped = std::clamp(db, bottom_db, top_db);
        return TOP + PLOT_H * (top_db - clamped) / (top_db - bottom_db);
    };
    auto num = [](double v) { return fixed(v, 1); };

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(WIDTH) + "\" height=\"" +
           num(HEIGHT) + "\" viewBox=\"0 0 " + num(WIDTH) + " " + num(HEIGHT) +
           "\" font-family=\"sans-serif\" font-size=\"11\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + num(LEFT) + "\" y=\"24\" font-size=\"14\">" + escape(title) + "</text>\n";
    // The grid: every 12 dB, and at a round step of time.
    for (double db = top_db; db >= bottom_db; db -= 12.0) {
        svg += "<line x1=\"" + num(LEFT) + "\" x2=\"" + num(LEFT + PLOT_W) + "\" y1=\"" +
               num(y_of(db)) + "\" y2=\"" + num(y_of(db)) + "\" stroke=\"#ddd\"/>\n";
        svg += "<text x=\"" + num(LEFT - 6) + "\" y=\"" + num(y_of(db) + 4) +
               "\" text-anchor=\"end\">" + fixed(db, 0) + " dB</text>\n";
    }
    double step = 0.001;
    for (const double s :
         {0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 60.0}) {
        if (seconds / step > 10.0) step = s;
    }
    for (double s = 0.0; s <= seconds + 1e-9; s += step) {
        svg += "<line x1=\"" + num(x_of(s)) + "\" x2=\"" + num(x_of(s)) + "\" y1=\"" + num(TOP) +
               "\" y2=\"" + num(TOP + PLOT_H) + "\" stroke=\"#eee\"/>\n";
        svg += "<text x=\"" + num(x_of(s)) + "\" y=\"" + num(TOP + PLOT_H + 16) +
               "\" text-anchor=\"middle\">" +
               fixed(s, step < 0.01  ? 3
                        : step < 0.1 ? 2
                        : step < 1.0 ? 1
                                     : 0) +
               " s</text>\n";
    }
    svg += "<rect x=\"" + num(LEFT) + "\" y=\"" + num(TOP) + "\" width=\"" + num(PLOT_W) +
           "\" height=\"" + num(PLOT_H) + "\" fill=\"none\" stroke=\"#888\"/>\n";
    svg += "<text x=\"" + num(LEFT + PLOT_W / 2) + "\" y=\"" + num(HEIGHT - 10) +
           "\" text-anchor=\"middle\">time</text>\n";

    // One line per channel, at most one point per pixel column (its loudest).
    const std::size_t columns = static_cast<std::size_t>(PLOT_W);
    const std::size_t per = std::max<std::size_t>(1, (envelope.windows() + columns - 1) / columns);
    for (std::uint32_t c = 0; c < envelope.channels(); ++c) {
        std::string points;
        for (std::size_t w = 0; w < envelope.windows(); w += per) {
            float p = 0.0f;
            for (std::size_t j = w; j < std::min(envelope.windows(), w + per); ++j)
                p = std::max(p, envelope.peak(j, c));
            const double s = static_cast<double>(w) * static_cast<double>(envelope.window()) /
                             envelope.sample_rate();
            if (!points.empty()) points += ' ';
            points += num(x_of(s));
            points += ',';
            points += num(y_of(to_db(p)));
        }
        svg += "<polyline class=\"channel\" fill=\"none\" stroke-width=\"1\" stroke=\"" +
               std::string(COLOURS[c % 8]) + "\" points=\"" + points + "\"/>\n";
        svg += "<text x=\"" + num(LEFT + PLOT_W - 70) + "\" y=\"" + num(TOP + 14 + 14.0 * c) +
               "\" fill=\"" + COLOURS[c % 8] + "\">channel " + std::to_string(c + 1) + "</text>\n";
    }
    for (const Echo& e : echoes) {
        const double x = x_of(static_cast<double>(e.frame) / envelope.sample_rate());
        const double y = y_of(to_db(e.level));
        svg += "<circle cx=\"" + num(x) + "\" cy=\"" + num(y) + "\" r=\"3\" fill=\"black\"/>\n";
        svg += "<text class=\"echo\" x=\"" + num(x + 4) + "\" y=\"" + num(y - 6) +
               "\" transform=\"rotate(-30 " + num(x + 4) + " " + num(y - 6) + ")\">" +
               escape(e.time_text + ", " + e.level_text) + "</text>\n";
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace orba::render
