// clap-render: renders audio files through a CLAP effect plug-in, loading the
// plug-in library exactly as a DAW does.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "audio_file.h"
#include "demo_input.h"
#include "echoes.h"
#include "host.h"
#include "options.h"
#include "paths.h"
#include "raw_io.h"
#include "render.h"
#include "report.h"
#include "text.h"

#ifndef ORBA_CLAP_RENDER_DEFAULT_PLUGIN
#define ORBA_CLAP_RENDER_DEFAULT_PLUGIN ""
#endif

namespace orba::render {
namespace {

std::atomic<bool> g_cancel{false};

extern "C" void on_signal(int) {
    g_cancel.store(true);
}

void print_line(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
}

std::string pad(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

void print_table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    for (const auto& row : rows) {
        std::string line = " ";
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += " " + (i + 1 < row.size() ? pad(row[i], widths[i]) : row[i]);
        }
        print_line(line);
    }
}

void print_list(const Library& library, const PluginSummary& chosen, const Instance& instance) {
    print_line("Plug-ins in " + library.path() + ":");
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < library.plugins().size(); ++i) {
        const PluginSummary& p = library.plugins()[i];
        std::string features;
        for (const auto& f : p.features)
            features += (features.empty() ? "" : ", ") + f;
        std::string index = &p == &chosen ? "*" : " ";
        index += std::to_string(i);
        rows.push_back({index, p.id,
                        p.name + (p.version.empty() ? "" : " " + p.version) +
                            (p.vendor.empty() ? "" : " by " + p.vendor) +
                            (features.empty() ? "" : " (" + features + ")")});
    }
    print_table(rows);
    print_line("");
    if (!chosen.description.empty()) print_line(instance.name() + ": " + chosen.description);
    print_line("Audio ports of " + instance.name() + ": input " +
               std::to_string(instance.input_channels()) + " channels, output " +
               std::to_string(instance.output_channels()) + " channels by default; it takes " +
               instance.accepted_channels() + " channels");
    print_line("");
    if (instance.params().empty()) {
        print_line(instance.name() + " has no parameters.");
        return;
    }
    print_line("Parameters of " + instance.name() + ":");
    rows = {{"id", "name", "module", "range", "default", "current"}};
    for (const ParamEntry& param : instance.params()) {
        const auto current = instance.current_value(param);
        rows.push_back(
            {std::to_string(param.id), param.name, param.module,
             instance.value_text(param, param.min) + " to " + instance.value_text(param, param.max),
             instance.value_text(param, param.default_value),
             current ? instance.value_text(param, *current) : "?"});
    }
    print_table(rows);
    rows.clear();
    for (const ParamEntry& param : instance.params()) {
        if (std::string help = instance.help(param); !help.empty())
            rows.push_back({param.name, std::move(help)});
    }
    if (rows.empty()) return;
    print_line("");
    print_line("What they do:");
    print_table(rows);
}

// Parameters as the user typed them, the state file and the ramp's starting
// value, applied before activation in that order.
Result<Done> set_up(Instance& instance, const Options& options, RenderSettings& settings) {
    if (options.load_state) {
        auto bytes = read_file(*options.load_state);
        if (!bytes) return fail("cannot load the state: " + bytes.error());
        if (auto loaded = instance.load_state(*bytes); !loaded) {
            return fail(loaded.error() + " in " + in_quotes(*options.load_state));
        }
    }
    std::vector<ParamChange> changes;
    for (const Assignment& set : options.sets) {
        auto param = instance.find_param(set.param);
        if (!param) return std::move(param).take_error();
        auto value = instance.parse_value(**param, set.text);
        if (!value) return std::move(value).take_error();
        changes.push_back({*param, *value, 0});
    }
    if (options.ramp) {
        auto param = instance.find_param(options.ramp->param);
        if (!param) return std::move(param).take_error();
        auto from = instance.parse_value(**param, options.ramp->from);
        if (!from) return std::move(from).take_error();
        auto to = instance.parse_value(**param, options.ramp->to);
        if (!to) return std::move(to).take_error();
        settings.ramp = *param;
        settings.ramp_from = *from;
        settings.ramp_to = *to;
        changes.push_back({*param, *from, 0});
    }
    if (auto applied = instance.apply(changes); !applied) return applied;
    if (options.save_state) {
        auto bytes = instance.save_state();
        if (!bytes) return std::move(bytes).take_error();
        if (auto written = write_file(*options.save_state, *bytes); !written) return written;
    }
    return Done{};
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(file_path(a), file_path(b), ec) && !ec;
}

// Whether the plug-in's output follows the tempo: an impulse on a steady
// level and two seconds after it, at 60 and at 180 BPM, with the user's
// settings. The impulse shows echoes, the level what moves a level, such as
// a tremolo, which treats a lone impulse alike at any rate. Unknown (none)
// when the plug-in cannot run so.
std::optional<bool> reads_tempo(const Library& library, const PluginSummary& chosen,
                                const Options& options) {
    Options probe = options;
    probe.save_state.reset();
    std::vector<float> outputs[2];
    for (int run = 0; run < 2; ++run) {
        auto instance = Instance::create(library, chosen);
        if (!instance) return std::nullopt;
        Instance& plugin = **instance;
        RenderSettings ignored;
        constexpr std::uint32_t BLOCK = 512;
        if (!plugin.configure(2) || !set_up(plugin, probe, ignored) ||
            !plugin.activate(48000.0, BLOCK)) {
            return std::nullopt;
        }
        const Transport transport{run == 0 ? 60.0 : 180.0, 48000.0};
        for (std::int64_t position = 0; position < 96000; position += BLOCK) {
            for (std::uint32_t c = 0; c < plugin.input_channels(); ++c) {
                std::fill_n(plugin.input(c), BLOCK, 0.25f);
                if (position == 0) plugin.input(c)[0] = 1.0f;
            }
            if (!plugin.process(BLOCK, position, transport, {})) return std::nullopt;
            plugin.run_callbacks();
            for (std::uint32_t c = 0; c < plugin.output_channels(); ++c)
                outputs[run].insert(outputs[run].end(), plugin.output(c), plugin.output(c) + BLOCK);
        }
    }
    return outputs[0] != outputs[1];
}

Result<Done> run(const Options& options) {
    auto library = Library::open(options.plugin_path);
    if (!library) return std::move(library).take_error();
    auto chosen = (*library)->find(options.plugin_id);
    if (!chosen) return std::move(chosen).take_error();

    RenderSettings settings;
    settings.block = options.block;
    settings.tail = !options.no_tail;
    settings.tail_max_seconds = options.tail_max_seconds;
    settings.bpm = options.bpm;

    if (options.list) {
        auto instance = Instance::create(**library, **chosen);
        if (!instance) return std::move(instance).take_error();
        if (auto ready = set_up(**instance, options, settings); !ready) return ready;
        print_list(**library, **chosen, **instance);
        if (const auto tempo = reads_tempo(**library, **chosen, options); tempo) {
            print_line("");
            print_line((*instance)->name() +
                       (*tempo ? " follows the tempo (--bpm)."
                               : " does not read the tempo, so --bpm changes nothing."));
        }
        return Done{};
    }

    std::unique_ptr<Source> source;
    if (options.input) {
        auto opened = open_audio(*options.input);
        if (!opened) return std::move(opened).take_error();
        source = std::move(*opened);
    } else {
        const double rate = options.rate.value_or(48000.0);
        const std::uint32_t channels = options.channels.value_or(2);
        source = memory_source(
            options.impulse ? impulse_input(channels) : demo_input(rate, channels), rate, channels);
    }
    const std::string output = options.output.value_or(default_output(options));
    if (auto folder = check_output_folder(output); !folder) return folder;
    if (output == "-" && ::isatty(STDOUT_FILENO) != 0) {
        return fail("standard output is a terminal, not a place for audio (name a file with -o)");
    }
    if (options.input && *options.input != "-" && output != "-" &&
        same_file(*options.input, output)) {
        return fail("the output " + in_quotes(output) + " would overwrite the input");
    }

    auto instance = Instance::create(**library, **chosen);
    if (!instance) return std::move(instance).take_error();
    Instance& plugin = **instance;
    if (auto configured = plugin.configure(source->channels()); !configured) return configured;
    if (auto ready = set_up(plugin, options, settings); !ready) return ready;
    if (auto active = plugin.activate(source->sample_rate(), settings.block); !active)
        return active;
    if (options.bpm_given && reads_tempo(**library, **chosen, options) == false) {
        std::fputs(("clap-render: warning: " + plugin.name() +
                    " does not read the tempo, so --bpm changes nothing\n")
                       .c_str(),
                   stderr);
    }
    // Ping-pong bounces between a left and a right; any other count gets
    // something else.
    for (const ParamEntry& param : plugin.params()) {
        const auto value = plugin.current_value(param);
        if (value && name_key(plugin.value_text(param, *value)).starts_with("ping") &&
            source->channels() != 2) {
            std::fputs(
                ("clap-render: warning: " + param.name + " is " + plugin.value_text(param, *value) +
                 ", which bounces between two channels; this input has " +
                 std::to_string(source->channels()) + "\n")
                    .c_str(),
                stderr);
        }
    }

    const std::uint32_t out_channels = plugin.output_channels();
    auto format = output_format(source->format(), output, options.float_output,
                                source->sample_rate(), out_channels);
    if (!format) return std::move(format).take_error();
    auto writer = AudioWriter::create(output, *format, source->sample_rate(), out_channels);
    if (!writer) return std::move(writer).take_error();

    std::optional<Envelope> envelope;
    if (options.plot || options.echoes) {
        envelope.emplace(source->sample_rate(), out_channels);
        settings.envelope = &*envelope;
    }

    ProgressBar bar(!options.quiet && ::isatty(STDERR_FILENO) != 0);
    auto stats = render(
        plugin, *source, **writer, settings, [&bar](double fraction) { bar.update(fraction); },
        g_cancel);
    bar.finish();
    if (!stats) return std::move(stats).take_error();
    if (auto committed = (*writer)->commit(); !committed) return committed;
    const std::string line =
        summary_line(output == "-" ? "standard output" : output, *stats, source->sample_rate(),
                     out_channels, format_name(*format));
    // Standard output may be carrying the audio itself.
    if (output == "-") {
        std::fputs((line + "\n").c_str(), stderr);
    } else {
        print_line(line);
    }
    if (envelope) {
        const auto echoes = strongest_echoes(*envelope, 12);
        if (options.echoes) {
            const std::string table = "Strongest echoes:\n" + echo_table(echoes);
            std::fputs(table.c_str(), output == "-" ? stderr : stdout);
        }
        if (options.plot) {
            const std::string what = options.input
                                         ? in_quotes(*options.input)
                                         : (options.impulse ? "the impulse response" : "the demo");
            const std::string svg =
                plot_svg(*envelope, echoes, plugin.name() + ": level of " + what + " over time");
            if (auto written = write_file(*options.plot, {svg.begin(), svg.end()}); !written) {
                return written;
            }
        }
    }
    if (is_integer_format(*format) && stats->over > 0) {
        std::fputs(
            ("clap-render: " + clipping_warning(*stats, format_name(*format)) + "\n").c_str(),
            stderr);
    }
    return Done{};
}

}  // namespace
}  // namespace orba::render

int main(int argc, char** argv) {
    using namespace orba::render;
    use_binary_standard_streams();
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    auto options = parse_options(args, ORBA_CLAP_RENDER_DEFAULT_PLUGIN);
    if (!options) {
        std::fputs(("clap-render: " + options.error() + "\n").c_str(), stderr);
        return 2;
    }
    if (options->help) {
        std::fputs(usage(ORBA_CLAP_RENDER_DEFAULT_PLUGIN).c_str(), stdout);
        return 0;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    auto done = run(*options);
    if (!done) {
        std::fputs(("clap-render: " + done.error() + "\n").c_str(), stderr);
        return 1;
    }
    return 0;
}
