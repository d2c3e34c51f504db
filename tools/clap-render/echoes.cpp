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

void Envelope::scale(float factor) {
    for (float& peak : peak_)
        peak *= factor;
}

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
    constexpr double LEFT = 76.0;
    constexpr double RIGHT = 20.0;
    constexpr double TOP = 40.0;
    constexpr double BOTTOM = 50.0;
    constexpr double PLOT_W = WIDTH - LEFT - RIGHT;
    constexpr double PLOT_H = HEIGHT - TOP - BOTTOM;
    constexpr double ROW = 14.0;    // one line of 11-pixel text
    constexpr double CHAR_W = 6.5;  // a generous width of one of its characters
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
    svg += "<text x=\"16\" y=\"" + num(TOP + PLOT_H / 2) +
           "\" text-anchor=\"middle\" transform=\"rotate(-90 16 " + num(TOP + PLOT_H / 2) +
           ")\">level (dBFS)</text>\n";

    // Channels with the same level throughout are drawn once, as one line.
    std::vector<std::vector<std::uint32_t>> groups;
    for (std::uint32_t c = 0; c < envelope.channels(); ++c) {
        auto same = std::find_if(groups.begin(), groups.end(), [&](const auto& group) {
            for (std::size_t w = 0; w < envelope.windows(); ++w) {
                if (envelope.peak(w, group.front()) != envelope.peak(w, c)) return false;
            }
            return true;
        });
        if (same == groups.end()) {
            groups.push_back({c});
        } else {
            same->push_back(c);
        }
    }
    auto group_name = [](const std::vector<std::uint32_t>& group) {
        if (group.size() == 1) return "channel " + std::to_string(group.front() + 1);
        // Runs of consecutive channels are written "1-4".
        std::string text = "channels ";
        for (std::size_t i = 0; i < group.size();) {
            std::size_t j = i;
            while (j + 1 < group.size() && group[j + 1] == group[j] + 1)
                ++j;
            if (i > 0) text += ", ";
            text += std::to_string(group[i] + 1);
            if (j > i) text += (j == i + 1 ? ", " : "-") + std::to_string(group[j] + 1);
            i = j + 1;
        }
        return text;
    };

    // One line per group, at most one point per pixel column (its loudest).
    const std::size_t columns = static_cast<std::size_t>(PLOT_W);
    const std::size_t per = std::max<std::size_t>(1, (envelope.windows() + columns - 1) / columns);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const std::uint32_t c = groups[g].front();
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
               std::string(COLOURS[g % 8]) + "\" points=\"" + points + "\"/>\n";
    }

    // Boxes already taken inside the plot, which no label may overlap.
    struct Box {
        double x0, y0, x1, y1;
        bool overlaps(const Box& o) const {
            return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1;
        }
    };
    std::vector<Box> taken;
    // The legend fills the top right corner, as many rows as fit; a last row
    // counts the rest.
    const auto rows_fit = static_cast<std::size_t>((PLOT_H - 8) / ROW);
    const std::size_t shown = groups.size() <= rows_fit ? groups.size() : rows_fit - 1;
    double legend_w = 0.0;
    std::vector<std::string> legend;
    for (std::size_t g = 0; g < shown; ++g)
        legend.push_back(group_name(groups[g]));
    if (shown < groups.size()) {
        legend.push_back("and " + std::to_string(groups.size() - shown) + " more");
    }
    for (const std::string& text : legend)
        legend_w = std::max(legend_w, CHAR_W * static_cast<double>(text.size()));
    const double legend_x = LEFT + PLOT_W - 8 - legend_w;
    for (std::size_t i = 0; i < legend.size(); ++i) {
        const std::string colour = i < shown ? COLOURS[i % 8] : "#444";
        svg += "<text class=\"legend\" x=\"" + num(legend_x) + "\" y=\"" +
               num(TOP + ROW * static_cast<double>(i + 1)) + "\" fill=\"" + colour + "\">" +
               escape(legend[i]) + "</text>\n";
    }
    if (!legend.empty()) {
        taken.push_back(
            {legend_x - 4, TOP, LEFT + PLOT_W, TOP + 4 + ROW * static_cast<double>(legend.size())});
    }

    // The loudest echoes are labelled first; a label that would cover another,
    // the legend or the plot's edge in every place tried is left out.
    std::vector<const Echo*> by_level;
    for (const Echo& e : echoes)
        by_level.push_back(&e);
    std::stable_sort(by_level.begin(), by_level.end(),
                     [](const Echo* a, const Echo* b) { return a->level > b->level; });
    for (const Echo* e : by_level) {
        const double x = x_of(static_cast<double>(e->frame) / envelope.sample_rate());
        const double y = y_of(to_db(e->level));
        svg += "<circle cx=\"" + num(x) + "\" cy=\"" + num(y) + "\" r=\"3\" fill=\"black\"/>\n";
        taken.push_back({x - 3, y - 3, x + 3, y + 3});
    }
    for (const Echo* e : by_level) {
        const double x = x_of(static_cast<double>(e->frame) / envelope.sample_rate());
        const double y = y_of(to_db(e->level));
        const std::string text = e->time_text + ", " + e->level_text;
        const double w = CHAR_W * static_cast<double>(text.size());
        // Beside the mark, to the right before the left, above before below.
        const std::pair<double, double> places[] = {{5.0, -6.0},      {5.0, 15.0},
                                                    {-5.0 - w, -6.0}, {-5.0 - w, 15.0},
                                                    {5.0, -20.0},     {-5.0 - w, -20.0}};
        for (const auto& [dx, dy] : places) {
            const Box box{x + dx, y + dy - 11.0, x + dx + w, y + dy + 3.0};
            const bool inside = box.x0 >= LEFT + 2 && box.x1 <= LEFT + PLOT_W - 2 &&
                                box.y0 >= TOP + 2 && box.y1 <= TOP + PLOT_H - 2;
            if (!inside || std::any_of(taken.begin(), taken.end(), [&](const Box& other) {
                    return other.overlaps(box) && !(other.x0 == x - 3 && other.y0 == y - 3);
                })) {
                continue;
            }
            svg += "<text class=\"echo\" x=\"" + num(box.x0) + "\" y=\"" + num(y + dy) + "\">" +
                   escape(text) + "</text>\n";
            taken.push_back(box);
            break;
        }
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace orba::render
