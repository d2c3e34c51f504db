// clap-render: renders audio files through a CLAP effect plug-in, loading the
// plug-in library exactly as a DAW does.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
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

// What set_up() leaves for the render: the automations in frames of the input
// and the state to save, taken before the first block.
struct Prepared {
    std::vector<Automation> automations;
    std::optional<std::vector<std::uint8_t>> state;
};

// Parameters as the user typed them, the state file and the automations'
// starting values, applied before activation in that order. `rate` and
// `frames` place the automations' points in the input.
Result<Prepared> set_up(Instance& instance, const Options& options, double rate,
                        std::int64_t frames) {
    if (options.load_state) {
        auto bytes = read_file(*options.load_state);
        if (!bytes) return fail("cannot load the state: " + bytes.error());
        if (auto loaded = instance.load_state(*bytes); !loaded) {
            return fail(loaded.error() + " in " + in_quotes(*options.load_state));
        }
    }
    Prepared prepared;
    std::vector<ParamChange> changes;
    // Which option named each parameter, so that two never fight over one.
    std::vector<std::pair<const ParamEntry*, std::string_view>> named;
    auto find = [&](const std::string& key, std::string_view option) -> Result<const ParamEntry*> {
        auto param = instance.find_param(key);
        if (!param) return param;
        for (const auto& [other, by] : named) {
            if (other != *param || (by == "--set" && option == "--set")) continue;
            return fail(by == option
                            ? std::string(option) + " names " + in_quotes((*param)->name) +
                                  " twice; give each parameter one"
                            : std::string(by) + " and " + std::string(option) + " both name " +
                                  in_quotes((*param)->name) + "; give it one or the other");
        }
        named.emplace_back(*param, option);
        return param;
    };
    for (const Assignment& set : options.sets) {
        auto param = find(set.param, "--set");
        if (!param) return std::move(param).take_error();
        auto value = instance.parse_value(**param, set.text);
        if (!value) return std::move(value).take_error();
        changes.push_back({*param, *value, 0});
    }
    for (const Ramp& ramp : options.ramps) {
        auto param = find(ramp.param, "--ramp");
        if (!param) return std::move(param).take_error();
        auto from = instance.parse_value(**param, ramp.from);
        if (!from) return std::move(from).take_error();
        auto to = instance.parse_value(**param, ramp.to);
        if (!to) return std::move(to).take_error();
        Automation automation{*param, {}};
        if (frames > 1) automation.points.push_back({0, *from});
        automation.points.push_back({std::max<std::int64_t>(frames - 1, 0), *to});
        prepared.automations.push_back(std::move(automation));
    }
    for (const AutomationSpec& spec : options.automations) {
        auto param = find(spec.param, "--automate");
        if (!param) return std::move(param).take_error();
        Automation automation{*param, {}};
        for (const AutomationSpec::Point& point : spec.points) {
            auto value = instance.parse_value(**param, point.value);
            if (!value) return std::move(value).take_error();
            automation.points.push_back(
                {static_cast<std::int64_t>(std::llround(point.seconds * rate)), *value});
        }
        prepared.automations.push_back(std::move(automation));
    }
    for (const Automation& automation : prepared.automations)
        changes.push_back({automation.param, automation.value_at(0), 0});
    if (auto applied = instance.apply(changes); !applied) return std::move(applied).take_error();
    if (options.save_state) {
        auto bytes = instance.save_state();
        if (!bytes) return std::move(bytes).take_error();
        prepared.state = std::move(*bytes);
    }
    return prepared;
}

// Where a name leads once links are followed: the file itself, for one that
// exists, or its place in a folder. None for what is no file, such as a
// device, which two outputs may share.
std::optional<std::filesystem::path> place_of(const std::string& path) {
    namespace fs = std::filesystem;
    if (path == "-") return std::nullopt;
    auto target = resolve_output(path);
    const fs::path at = file_path(target ? target->path : path);
    std::error_code ec;
    const auto status = fs::status(at, ec);
    if (fs::exists(status) && !fs::is_regular_file(status)) return std::nullopt;
    fs::path canonical = fs::weakly_canonical(at, ec);
    if (ec) canonical = fs::absolute(at, ec);
    return canonical;
}

bool same_place(const std::string& a, const std::string& b) {
    const auto pa = place_of(a);
    const auto pb = place_of(b);
    if (!pa || !pb) return false;
    std::error_code ec;
    // Hard links, and names that differ only in case where the file system
    // ignores it.
    if (std::filesystem::equivalent(*pa, *pb, ec) && !ec) return true;
    return *pa == *pb;
}

// Every file a render writes, checked before anything is rendered: none may
// be the input or another of them, and each must be writable.
Result<Done> check_outputs(const Options& options, const std::string& output) {
    struct Named {
        std::string option;
        std::string what;
        std::string path;
    };
    std::vector<Named> outputs{{"the output", "the output", output}};
    if (options.plot) outputs.push_back({"--plot", "the plot", *options.plot});
    if (options.save_state) outputs.push_back({"--save-state", "the state", *options.save_state});
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const Named& named = outputs[i];
        if (named.path != "-") {
            if (auto writable = check_writable(named.path); !writable) return writable;
        }
        const std::string label = named.option + " " + in_quotes(named.path);
        if (options.input && same_place(*options.input, named.path)) {
            return fail(label + " would overwrite the input");
        }
        if (options.load_state && named.option != "--save-state" &&
            same_place(*options.load_state, named.path)) {
            return fail(label + " would overwrite the state it loads");
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (same_place(outputs[j].path, named.path)) {
                return fail(label + " would overwrite " + outputs[j].what);
            }
        }
    }
    return Done{};
}

// The outputs that exist already, for --no-clobber; a device or standard
// output is never one.
std::vector<std::string> existing_outputs(const Options& options, const std::string& output) {
    std::vector<std::string> found;
    for (const std::optional<std::string>& path :
         {std::optional<std::string>(output), options.plot, options.save_state}) {
        if (!path || *path == "-") continue;
        std::error_code ec;
        if (std::filesystem::is_regular_file(file_path(*path), ec)) found.push_back(*path);
    }
    return found;
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
        constexpr std::uint32_t BLOCK = 512;
        if (!plugin.configure(2) || !set_up(plugin, probe, 48000.0, 96000) ||
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

// One line to standard error, after the program's name: a warning, or why a
// render failed. Written in one call, so lines of renders running at once
// never mix.
void message(const std::string& text) {
    std::fputs(("clap-render: " + text + "\n").c_str(), stderr);
}

Result<Done> render_file(const Library& library, const PluginSummary& chosen,
                         const Options& options);

Result<Done> run(const Options& options) {
    auto library = Library::open(options.plugin_path);
    if (!library) return std::move(library).take_error();
    auto chosen = (*library)->find(options.plugin_id);
    if (!chosen) return std::move(chosen).take_error();
    if (!options.list) return render_file(**library, **chosen, options);

    auto instance = Instance::create(**library, **chosen);
    if (!instance) return std::move(instance).take_error();
    auto ready = set_up(**instance, options, 48000.0, 0);
    if (!ready) return std::move(ready).take_error();
    if (ready->state) {
        if (auto written = write_file(*options.save_state, *ready->state); !written) return written;
    }
    print_list(**library, **chosen, **instance);
    if (const auto tempo = reads_tempo(**library, **chosen, options); tempo) {
        print_line("");
        print_line((*instance)->name() +
                   (*tempo ? " follows the tempo (--bpm)."
                           : " does not read the tempo, so --bpm changes nothing."));
    }
    return Done{};
}

// Every input of a batch rendered into the folder, several at once. Each
// render has its own plug-in instance on its own worker thread, which is that
// instance's main and audio thread alike. The exit status.
int run_batch(const Options& options) {
    namespace fs = std::filesystem;
    auto fail_with = [](const std::string& text) {
        message(text);
        return 1;
    };
    const std::string& folder = *options.out_dir;
    std::error_code ec;
    if (!fs::is_directory(file_path(folder), ec)) {
        return fail_with("the output folder " + in_quotes(folder) + " does not exist");
    }
    std::vector<Options> jobs;
    for (const std::string& input : options.inputs) {
        Options job = options;
        job.out_dir.reset();
        job.inputs.clear();
        job.quiet = true;
        job.input = input;
        job.output = path_text(file_path(folder) / file_path(input).filename());
        for (const Options& other : jobs) {
            if (other.output == job.output) {
                return fail_with(in_quotes(*other.input) + " and " + in_quotes(input) +
                                 " would both be written to " + in_quotes(*job.output));
            }
        }
        jobs.push_back(std::move(job));
    }
    auto library = Library::open(options.plugin_path);
    if (!library) return fail_with(library.error());
    auto chosen = (*library)->find(options.plugin_id);
    if (!chosen) return fail_with(chosen.error());

    const std::size_t workers = std::min<std::size_t>(
        jobs.size(), options.jobs.value_or(std::max(1u, std::thread::hardware_concurrency())));
    std::atomic<std::size_t> next{0};
    std::vector<std::string> failed(jobs.size());
    std::vector<char> done(jobs.size(), 0);
    auto work = [&] {
        for (std::size_t i = next++; i < jobs.size() && !g_cancel.load(); i = next++) {
            auto rendered = render_file(**library, **chosen, jobs[i]);
            if (!rendered) {
                message(*jobs[i].input + ": " + rendered.error());
                failed[i] = *jobs[i].input;
            }
            done[i] = 1;
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t t = 1; t < workers; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads)
        thread.join();

    std::size_t failures = 0;
    std::string names;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (done[i] != 0 && failed[i].empty()) continue;
        ++failures;
        names += (names.empty() ? "" : ", ") + in_quotes(*jobs[i].input);
    }
    const std::string count = std::to_string(jobs.size()) + (jobs.size() == 1 ? " file" : " files");
    if (failures > 0) {
        return fail_with(std::to_string(failures) + " of " + count + " not rendered: " + names);
    }
    print_line(count + " rendered into " + in_quotes(folder));
    return 0;
}

Result<Done> render_file(const Library& library, const PluginSummary& chosen,
                         const Options& options) {
    RenderSettings settings;
    settings.block = options.block;
    settings.tail = !options.no_tail;
    settings.tail_max_seconds = options.tail_max_seconds;
    settings.tail_threshold = std::pow(10.0, options.tail_threshold_db / 20.0);
    settings.bpm = options.bpm;
    settings.gain = std::pow(10.0, options.gain_db.value_or(0.0) / 20.0);

    // Every output is checked before the input is read, which may be a pipe.
    const std::string output = options.output.value_or(default_output(options));
    if (auto folder = check_output_folder(output); !folder) return folder;
    if (output == "-" && ::isatty(STDOUT_FILENO) != 0) {
        return fail("standard output is a terminal, not a place for audio (name a file with -o)");
    }
    if (auto checked = check_outputs(options, output); !checked) return checked;
    if (options.no_clobber) {
        if (const auto kept = existing_outputs(options, output); !kept.empty()) {
            std::string names;
            for (const std::string& name : kept)
                names += (names.empty() ? "" : ", ") + in_quotes(name);
            message("kept " + names + ", which exist" + (kept.size() == 1 ? "s" : "") +
                    " already (--no-clobber); rendered nothing");
            return Done{};
        }
    }
    // Messages go to standard error while standard output carries data.
    const bool data_on_stdout = output == "-" || options.save_state == "-";
    std::FILE* const report = data_on_stdout ? stderr : stdout;

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

    auto instance = Instance::create(library, chosen);
    if (!instance) return std::move(instance).take_error();
    Instance& plugin = **instance;
    if (auto configured = plugin.configure(source->channels()); !configured) return configured;
    auto prepared = set_up(plugin, options, source->sample_rate(), source->frames());
    if (!prepared) return std::move(prepared).take_error();
    settings.automations = std::move(prepared->automations);
    if (auto active = plugin.activate(source->sample_rate(), settings.block); !active)
        return active;
    if (options.bpm_given && reads_tempo(library, chosen, options) == false) {
        message("warning: " + plugin.name() + " does not read the tempo, so --bpm changes nothing");
    }
    // Ping-pong bounces between a left and a right; any other count gets
    // something else.
    for (const ParamEntry& param : plugin.params()) {
        const auto value = plugin.current_value(param);
        if (value && name_key(plugin.value_text(param, *value)).starts_with("ping") &&
            source->channels() != 2) {
            message("warning: " + param.name + " is " + plugin.value_text(param, *value) +
                    ", which bounces between two channels; this input has " +
                    std::to_string(source->channels()));
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

    // Normalising needs the whole render's peak before the first sample is
    // written, so the render waits in memory.
    std::vector<float> rendered;
    const Sink sink = options.normalize_dbfs
                          ? Sink([&rendered, out_channels](const float* frames, std::size_t n) {
                                rendered.insert(rendered.end(), frames, frames + n * out_channels);
                                return Result<Done>(Done{});
                            })
                          : Sink([&writer](const float* frames, std::size_t n) {
                                return (*writer)->write(frames, n);
                            });
    ProgressBar bar(!options.quiet && ::isatty(STDERR_FILENO) != 0);
    auto stats = render(
        plugin, *source, sink, settings, [&bar](double fraction) { bar.update(fraction); },
        g_cancel);
    bar.finish();
    if (!stats) return std::move(stats).take_error();
    if (options.normalize_dbfs) {
        const double scale =
            stats->peak > 0.0 ? std::pow(10.0, *options.normalize_dbfs / 20.0) / stats->peak : 1.0;
        const auto factor = static_cast<float>(scale);
        stats->peak = 0.0;
        stats->over = 0;
        stats->sum_squares = 0.0;
        for (float& sample : rendered) {
            sample *= factor;
            const double magnitude = std::fabs(static_cast<double>(sample));
            stats->peak = std::max(stats->peak, magnitude);
            if (magnitude > 1.0) ++stats->over;
            stats->sum_squares += magnitude * magnitude;
        }
        if (envelope) envelope->scale(factor);
        if (auto written = (*writer)->write(rendered.data(), rendered.size() / out_channels);
            !written) {
            return written;
        }
    }
    if (auto finished = (*writer)->finish(); !finished) return finished;

    // The picture and the state are written before any output is put in place,
    // so that a failure among them leaves none behind.
    std::vector<std::unique_ptr<StagedFile>> staged;
    std::vector<Echo> echoes;
    if (envelope) echoes = strongest_echoes(*envelope, 12);
    if (options.plot) {
        const std::string what = options.input
                                     ? in_quotes(*options.input)
                                     : (options.impulse ? "the impulse response" : "the demo");
        const std::string svg =
            plot_svg(*envelope, echoes, plugin.name() + ": level of " + what + " over time");
        auto file = StagedFile::create(*options.plot, {svg.begin(), svg.end()});
        if (!file) return std::move(file).take_error();
        staged.push_back(std::move(*file));
    }
    if (prepared->state) {
        auto file = StagedFile::create(*options.save_state, *prepared->state);
        if (!file) return std::move(file).take_error();
        staged.push_back(std::move(*file));
    }
    for (auto& file : staged) {
        if (auto published = file->publish(); !published) return published;
    }
    if (auto committed = (*writer)->commit(); !committed) return committed;

    const std::string line =
        summary_line(output == "-" ? "standard output" : output, *stats, source->sample_rate(),
                     out_channels, format_name(*format));
    std::fputs((line + "\n").c_str(), report);
    if (options.echoes) {
        const std::string table = "Strongest echoes:\n" + echo_table(echoes);
        std::fputs(table.c_str(), report);
    }
    if (is_integer_format(*format) && stats->over > 0) {
        message(clipping_warning(*stats, format_name(*format)));
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
        message(options.error());
        return 2;
    }
    if (options->help) {
        std::fputs(usage(ORBA_CLAP_RENDER_DEFAULT_PLUGIN).c_str(), stdout);
        return 0;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    if (options->out_dir) return run_batch(*options);
    auto done = run(*options);
    if (!done) {
        message(done.error());
        return 1;
    }
    return 0;
}
