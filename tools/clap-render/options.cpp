#include "options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "orba/core/charconv.h"

#include "paths.h"
#include "text.h"

namespace orba::render {
namespace {

std::optional<double> read_double(std::string_view text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = orba::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<std::uint32_t> read_count(std::string_view text) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

// Splits "NAME=REST" at the first '='; both sides must be non-empty.
std::optional<std::pair<std::string, std::string>> split_assignment(std::string_view text) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos || eq == 0 || eq + 1 == text.size()) return std::nullopt;
    return std::pair{std::string(text.substr(0, eq)), std::string(text.substr(eq + 1))};
}

// "1.5", "1.5s" or "1500ms", in seconds.
std::optional<double> read_time(std::string_view text) {
    double scale = 1.0;
    if (text.ends_with("ms")) {
        text.remove_suffix(2);
        scale = 0.001;
    } else if (text.ends_with("s")) {
        text.remove_suffix(1);
    }
    const auto value = read_double(text);
    if (!value || *value < 0.0) return std::nullopt;
    return *value * scale;
}

// "TIME:VALUE,TIME:VALUE,..." with times that never go back.
std::optional<std::vector<AutomationSpec::Point>> read_points(std::string_view text) {
    std::vector<AutomationSpec::Point> points;
    while (!text.empty()) {
        const auto comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        const auto colon = item.find(':');
        if (colon == std::string_view::npos || colon + 1 == item.size()) return std::nullopt;
        const auto time = read_time(item.substr(0, colon));
        if (!time || (!points.empty() && *time < points.back().seconds)) return std::nullopt;
        points.push_back({*time, std::string(item.substr(colon + 1))});
        if (comma != std::string_view::npos && text.empty()) return std::nullopt;
    }
    if (points.empty()) return std::nullopt;
    return points;
}

std::string lower_extension(const std::string& path) {
    std::string ext = path_text(file_path(path).extension());
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

}  // namespace

Result<Options> parse_options(const std::vector<std::string_view>& args,
                              std::string_view default_plugin) {
    Options options;
    options.plugin_path = std::string(default_plugin);
    std::vector<std::string_view> positional;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        // "--name=value" is the same as "--name value".
        std::optional<std::string_view> attached;
        if (arg.starts_with("--")) {
            if (const auto eq = arg.find('='); eq != std::string_view::npos) {
                attached = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
            }
        }
        // "-j4" is the same as "-j 4".
        if (arg.starts_with("-j") && arg.size() > 2) {
            attached = arg.substr(2);
            arg = arg.substr(0, 2);
        }
        auto value = [&]() -> std::optional<std::string_view> {
            if (attached) return attached;
            if (i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };
        auto flag = [&](bool& target) -> std::optional<Error> {
            if (attached) return fail("option " + std::string(arg) + " takes no value");
            target = true;
            return std::nullopt;
        };
        std::optional<Error> error;

        if (arg == "-h" || arg == "--help") {
            error = flag(options.help);
        } else if (arg == "--list") {
            error = flag(options.list);
        } else if (arg == "--impulse") {
            error = flag(options.impulse);
        } else if (arg == "--float") {
            error = flag(options.float_output);
        } else if (arg == "--no-tail") {
            error = flag(options.no_tail);
        } else if (arg == "--no-clobber") {
            error = flag(options.no_clobber);
        } else if (arg == "--echoes") {
            error = flag(options.echoes);
        } else if (arg == "-q" || arg == "--quiet") {
            error = flag(options.quiet);
        } else if (arg == "--") {
            for (++i; i < args.size(); ++i)
                positional.push_back(args[i]);
        } else if (arg.starts_with("-") && arg.size() > 1) {
            static constexpr std::string_view WITH_VALUE[] = {
                "--plugin",     "--plugin-id",      "-o",         "--output",
                "--set",        "--ramp",           "--block",    "--tail-max",
                "--bpm",        "--rate",           "--channels", "--save-state",
                "--load-state", "--plot",           "--automate", "--gain",
                "--normalize",  "--tail-threshold", "--out-dir",  "-j",
                "--jobs"};
            if (std::find(std::begin(WITH_VALUE), std::end(WITH_VALUE), arg) ==
                std::end(WITH_VALUE)) {
                return fail("unknown option " + in_quotes(arg) + " (see --help)");
            }
            const auto v = value();
            if (!v) return fail("option " + std::string(arg) + " needs a value");
            if (arg == "--plugin") {
                options.plugin_path = std::string(*v);
            } else if (arg == "--plugin-id") {
                options.plugin_id = std::string(*v);
            } else if (arg == "-o" || arg == "--output") {
                options.output = std::string(*v);
            } else if (arg == "--set") {
                const auto pair = split_assignment(*v);
                if (!pair) return fail("--set wants NAME=VALUE, not " + in_quotes(*v));
                options.sets.push_back({pair->first, pair->second});
            } else if (arg == "--ramp") {
                const auto pair = split_assignment(*v);
                const auto colon = pair ? pair->second.find(':') : std::string::npos;
                if (!pair || colon == std::string::npos || colon == 0 ||
                    colon + 1 == pair->second.size()) {
                    return fail("--ramp wants NAME=FROM:TO, not " + in_quotes(*v));
                }
                options.ramps.push_back(Ramp{pair->first, pair->second.substr(0, colon),
                                             pair->second.substr(colon + 1)});
            } else if (arg == "--automate") {
                const auto pair = split_assignment(*v);
                const auto points = pair ? read_points(pair->second) : std::nullopt;
                if (!points) {
                    return fail(
                        "--automate wants NAME=TIME:VALUE,TIME:VALUE,... with times in s or ms "
                        "that never go back, not " +
                        in_quotes(*v));
                }
                options.automations.push_back({pair->first, *points});
            } else if (arg == "--gain" || arg == "--normalize" || arg == "--tail-threshold") {
                const auto db = read_double(*v);
                const bool peak = arg == "--normalize";
                const double low = arg == "--gain" ? -120.0 : -200.0;
                const double high = arg == "--gain" ? 60.0 : peak ? 0.0 : -20.0;
                if (!db || *db < low || *db > high) {
                    return fail(std::string(arg) + " wants " + (peak ? "dBFS" : "dB") + " from " +
                                fixed(low, 0) + " to " + fixed(high, 0) + ", not " + in_quotes(*v));
                }
                if (arg == "--gain") options.gain_db = *db;
                if (peak) options.normalize_dbfs = *db;
                if (arg == "--tail-threshold") options.tail_threshold_db = *db;
            } else if (arg == "--block") {
                const auto n = read_count(*v);
                if (!n || *n < 1 || *n > 65536) {
                    return fail("--block wants a whole number of frames from 1 to 65536, not " +
                                in_quotes(*v));
                }
                options.block = *n;
            } else if (arg == "--tail-max") {
                const auto s = read_double(*v);
                if (!s || *s < 0.0 || *s > 3600.0) {
                    return fail("--tail-max wants seconds from 0 to 3600, not " + in_quotes(*v));
                }
                options.tail_max_seconds = *s;
            } else if (arg == "--bpm") {
                const auto b = read_double(*v);
                if (!b || *b < 1.0 || *b > 999.0) {
                    return fail("--bpm wants a tempo from 1 to 999, not " + in_quotes(*v));
                }
                options.bpm = *b;
                options.bpm_given = true;
            } else if (arg == "--rate") {
                const auto r = read_double(*v);
                if (!r || *r < 1.0 || *r > 1536000.0 || *r != std::floor(*r)) {
                    return fail("--rate wants a whole number of hertz, not " + in_quotes(*v));
                }
                options.rate = *r;
            } else if (arg == "--channels") {
                const auto n = read_count(*v);
                if (!n || *n < 1 || *n > 1024) {
                    return fail("--channels wants a count from 1 to 1024, not " + in_quotes(*v));
                }
                options.channels = *n;
            } else if (arg == "--out-dir") {
                options.out_dir = std::string(*v);
            } else if (arg == "-j" || arg == "--jobs") {
                const auto n = read_count(*v);
                if (!n || *n < 1 || *n > 256) {
                    return fail(std::string(arg) +
                                " wants a count of renders at once from 1 to 256, not " +
                                in_quotes(*v));
                }
                options.jobs = *n;
            } else if (arg == "--save-state") {
                options.save_state = std::string(*v);
            } else if (arg == "--load-state") {
                options.load_state = std::string(*v);
            } else if (arg == "--plot") {
                options.plot = std::string(*v);
            } else {
                return fail("unknown option " + in_quotes(arg) + " (see --help)");
            }
        } else {
            positional.push_back(arg);
        }
        if (error) return std::move(*error);
    }

    if (options.help) return options;
    if (options.out_dir) {
        if (positional.empty()) return fail("--out-dir wants the input files to render into it");
        if (options.output) return fail("--out-dir names every output; leave out --output");
        if (options.plot || options.save_state || options.echoes || options.list ||
            options.impulse) {
            return fail(
                "--out-dir renders each input the same way; --plot, --save-state, --echoes, "
                "--list and --impulse are for one render");
        }
        for (std::string_view input : positional) {
            if (input == "-") return fail("--out-dir renders files, not standard input");
            options.inputs.emplace_back(input);
        }
        if (options.plugin_path.empty()) {
            return fail("no plug-in library given (use --plugin PATH)");
        }
        return options;
    }
    if (options.jobs) return fail("-j sets how many files render at once; it needs --out-dir");
    if (positional.size() > 2) return fail("too many file names: " + in_quotes(positional[2]));
    if (!positional.empty()) options.input = std::string(positional[0]);
    if (positional.size() == 2) {
        if (options.output) return fail("the output is named twice (--output and a second file)");
        options.output = std::string(positional[1]);
    }
    if (options.plugin_path.empty()) return fail("no plug-in library given (use --plugin PATH)");
    if (options.input && options.impulse) {
        return fail("--impulse renders a generated impulse, so it takes no input file");
    }
    if (options.input && (options.rate || options.channels)) {
        return fail("--rate and --channels shape the generated input; a file brings its own");
    }
    if (options.save_state == "-" && options.output == "-") {
        return fail("the state and the audio cannot both go to standard output");
    }
    if (options.plot && (*options.plot == "-" || options.plot == options.output)) {
        return fail("--plot wants a file of its own for the picture, not " +
                    in_quotes(*options.plot));
    }
    if (options.plot) {
        if (const std::string ext = lower_extension(*options.plot); !ext.empty() && ext != ".svg") {
            return fail("--plot draws SVG, so it wants a .svg file, not " +
                        in_quotes(*options.plot));
        }
    }
    if (options.gain_db && options.normalize_dbfs) {
        return fail("--gain and --normalize both set the output's level; give one of them");
    }
    if (options.list &&
        (options.output || options.input || options.impulse || options.plot || options.echoes)) {
        return fail("--list renders nothing, so it takes no input or output");
    }
    return options;
}

std::string default_output(const Options& options) {
    if (!options.input) return options.impulse ? "impulse.wav" : "demo.wav";
    if (*options.input == "-") return "-";
    const std::filesystem::path path = file_path(*options.input);
    std::filesystem::path name = path.stem();
    name += "-rendered";
    name += path.extension();
    return path_text(path.parent_path() / name);
}

std::string usage(std::string_view default_plugin) {
    std::string text =
        "usage: clap-render [options] [INPUT [OUTPUT]]\n"
        "       clap-render [options] --out-dir DIR INPUT...\n"
        "\n"
        "Renders an audio file (WAV, FLAC, AIFF, CAF, W64, RF64, AU, Ogg, MP3) through a CLAP\n"
        "effect plug-in. Without INPUT it renders a built-in demo (plucks and a click, 48000 Hz\n"
        "stereo).\n"
        "\n"
        "  --plugin PATH        the .clap library to load";
    if (!default_plugin.empty()) {
        text += "\n                       (default: " + std::string(default_plugin) + ")";
    }
    text +=
        "\n"
        "  --plugin-id ID       which plug-in of the library, by id or index (default: the "
        "first)\n"
        "  --list               list the library's plug-ins and the chosen one's parameters\n"
        "  -o, --output PATH    where the render goes (default: INPUT-rendered.EXT, or "
        "demo.wav)\n"
        "  --no-clobber         keep an output that exists already, rendering nothing\n"
        "  --out-dir DIR        render every INPUT given into DIR under its own name\n"
        "  -j, --jobs N         with --out-dir, how many files render at once (default: one\n"
        "                       per processor)\n"
        "  --set NAME=VALUE     set a parameter as typed, e.g. time=250ms, mode=PingPong or\n"
        "                       note=1/8; NAME is the parameter's id, name or module/name\n"
        "  --ramp NAME=FROM:TO  move a parameter linearly from FROM to TO over the input\n"
        "  --automate NAME=TIME:VALUE,TIME:VALUE,...\n"
        "                       move a parameter along lines through the points, times in\n"
        "                       s or ms (e.g. mix=0:0,2s:50%,2500ms:0); --ramp and --automate\n"
        "                       may be given for several parameters, one each\n"
        "  --gain DB            change the output's level by DB (default 0)\n"
        "  --normalize DBFS     scale the whole output so that its peak is DBFS\n"
        "  --block N            frames per process call (default 512)\n"
        "  --float              write 32-bit float samples, which never clip (WAV unless\n"
        "                       OUTPUT names AIFF or CAF)\n"
        "  --tail-max SECONDS   longest tail rendered after the input (default 60)\n"
        "  --tail-threshold DB  the level the tail must stay below to end (default -120)\n"
        "  --no-tail            stop at the end of the input\n"
        "  --bpm BPM            the transport's tempo (default 120)\n"
        "  --load-state FILE    restore the plug-in's state from FILE before rendering\n"
        "  --save-state FILE    save the plug-in's state, as the render starts, to FILE\n"
        "  --impulse            render the impulse response instead of the demo\n"
        "  --plot FILE.svg      draw the output's level over time, echoes labelled\n"
        "  --echoes             list the strongest echoes: time, level, channel\n"
        "  --rate HZ            sample rate of the demo or impulse (default 48000)\n"
        "  --channels N         channel count of the demo or impulse (default 2)\n"
        "  -q, --quiet          no progress bar\n"
        "  -h, --help           this text\n";
    return text;
}

}  // namespace orba::render
