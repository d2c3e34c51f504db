#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orba/core/result.h"

namespace orba::render {

// One `--set NAME=VALUE`: both halves as the user typed them.
struct Assignment {
    std::string param;
    std::string text;
};

// One `--ramp NAME=FROM:TO`.
struct Ramp {
    std::string param;
    std::string from;
    std::string to;
};

// One `--automate NAME=TIME:VALUE,...`: the times read, the values as typed.
struct AutomationSpec {
    std::string param;
    struct Point {
        double seconds = 0.0;
        std::string value;
    };
    std::vector<Point> points;
};

struct Options {
    std::string plugin_path;            // the shared library to load
    std::string plugin_id;              // empty: the library's first plug-in
    std::optional<std::string> input;   // none: the built-in demo or the impulse
    std::optional<std::string> output;  // none: named after the input
    bool list = false;
    bool impulse = false;
    bool float_output = false;
    bool no_tail = false;
    bool quiet = false;
    bool help = false;
    std::uint32_t block = 512;
    double tail_max_seconds = 60.0;
    double bpm = 120.0;
    bool bpm_given = false;
    // Only for the generated inputs; a file brings its own.
    std::optional<double> rate;
    std::optional<std::uint32_t> channels;
    std::vector<Assignment> sets;
    std::vector<Ramp> ramps;
    std::vector<AutomationSpec> automations;
    double tail_threshold_db = -120.0;
    std::optional<double> gain_db;         // added to the output's level
    std::optional<double> normalize_dbfs;  // the output's peak after the render
    bool no_clobber = false;
    // A batch: every input rendered into this folder under its own name, by
    // `jobs` workers at once (none: one per processor).
    std::optional<std::string> out_dir;
    std::vector<std::string> inputs;
    std::optional<std::uint32_t> jobs;
    std::optional<std::string> save_state;
    std::optional<std::string> load_state;
    std::optional<std::string> plot;  // an SVG picture of the output's level
    bool echoes = false;              // print the strongest echoes
};

// Reads the arguments after the program name. `default_plugin` is the library
// used without --plugin (empty when the build knew none).
Result<Options> parse_options(const std::vector<std::string_view>& args,
                              std::string_view default_plugin);

// The --help text.
std::string usage(std::string_view default_plugin);

// Where a render goes when no output was named: beside the input as
// "<stem>-rendered<ext>", or "demo.wav" / "impulse.wav" in the working folder;
// standard output ("-") for standard input.
std::string default_output(const Options& options);

}  // namespace orba::render
