// orba-graph: checks graph text as the framework compiles it, and lists the
// blocks a graph can name.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "locate.h"
#include "plugins.h"
#include "registry.h"
#include "orba/core/charconv.h"

namespace orba::graph_tool {
namespace {

constexpr std::string_view USAGE =
    "usage: orba-graph check GRAPH.json --params NAME[=VALUE[:MIN:MAX]],... [--rate HZ] "
    "[--strict]\n"
    "       orba-graph check [GRAPH.json] --plugin NAME [--rate HZ] [--strict]\n"
    "       orba-graph blocks [--markdown]\n"
    "\n"
    "check   compiles the graph with these parameter ids, in table order, as the plug-in\n"
    "        would; prints every error and warning with its line, column and byte, then\n"
    "        the compiled tree with each node's latency and tail in samples (worked out\n"
    "        for the given VALUEs, 0 when left out, at --rate, 48000 by default).\n"
    "        It warns when a block argument can leave its range or a delay time can\n"
    "        pass max_ms, trying the ends of each parameter's MIN:MAX, modulators at\n"
    "        -1 and 1, and tempos 20 to 300.\n"
    "        --plugin takes the ids and their defaults from one of the framework's\n"
    "        plug-ins, named by its folder or its name in any case, and without a\n"
    "        GRAPH.json checks that plug-in's own graph.\n"
    "        Exit status: 0 clean, 1 errors, 2 warnings with --strict.\n"
    "blocks  lists every block with its arguments and meters; --markdown gives the page\n"
    "        kept in docs/blocks.md.\n";

void out(FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

int usage_error(std::string_view message) {
    out(stderr, "orba-graph: " + std::string(message) + "\n\n");
    out(stderr, USAGE);
    return 1;
}

bool parse_float(std::string_view text, float& value) {
    const auto [end, error] = orba::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size();
}

// "NAME[=VALUE[:MIN:MAX]]", comma-separated.
bool parse_params(std::string_view list, std::vector<ParamValue>& params) {
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        const std::size_t equals = item.find('=');
        ParamValue p{std::string(item.substr(0, equals)), 0.0f, std::nullopt};
        if (p.name.empty()) return false;
        if (equals != std::string_view::npos) {
            std::string_view value = item.substr(equals + 1);
            const std::size_t colon = value.find(':');
            if (colon != std::string_view::npos) {
                const std::string_view range = value.substr(colon + 1);
                const std::size_t second = range.find(':');
                float min = 0.0f, max = 0.0f;
                if (second == std::string_view::npos ||
                    !parse_float(range.substr(0, second), min) ||
                    !parse_float(range.substr(second + 1), max) || !(min <= max))
                    return false;
                p.range = std::pair{min, max};
                value = value.substr(0, colon);
            }
            if (!parse_float(value, p.value)) return false;
        }
        params.push_back(std::move(p));
    }
    return true;
}

void print(std::string_view file, std::string_view text, std::string_view kind, const Finding& f) {
    if (!f.offset) {
        out(stderr, std::string(file) + ": " + std::string(kind) + ": " + f.message + "\n");
    } else {
        const Spot spot = spot_at(text, *f.offset);
        out(stderr, std::string(file) + ":" + std::to_string(spot.line) + ":" +
                        std::to_string(spot.column) + ": " + std::string(kind) + " (byte " +
                        std::to_string(spot.offset) + "): " + f.message + "\n");
        out(stderr, caret_lines(text, spot) + "\n");
    }
    if (!f.note.empty()) out(stderr, "  note: " + f.note + "\n");
}

int check_command(const std::vector<std::string_view>& args) {
    std::string_view file;
    std::vector<ParamValue> params;
    std::string_view plugin_name;
    bool has_params = false;
    float rate = 48000.0f;
    bool strict = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (a == "--strict") {
            strict = true;
        } else if (a == "--params" || a == "--rate" || a == "--plugin") {
            if (i + 1 == args.size()) return usage_error(std::string(a) + " needs a value");
            const std::string_view v = args[++i];
            if (a == "--params" && !parse_params(v, params)) {
                return usage_error(
                    "--params takes NAME[=VALUE[:MIN:MAX]] items separated by commas");
            }
            has_params = has_params || a == "--params";
            if (a == "--plugin") plugin_name = v;
            if (a == "--rate" && (!parse_float(v, rate) || !(rate >= 8000.0f))) {
                return usage_error("--rate takes a sample rate of 8000 Hz or more");
            }
        } else if (!a.empty() && a[0] == '-') {
            return usage_error("unknown option " + std::string(a));
        } else if (file.empty()) {
            file = a;
        } else {
            return usage_error("check takes one graph file");
        }
    }
    if (has_params && !plugin_name.empty()) {
        return usage_error("--params and --plugin cannot be used together");
    }
    const PluginEntry* plugin = nullptr;
    if (!plugin_name.empty()) {
        plugin = find_plugin(plugin_name);
        if (plugin == nullptr) {
            out(stderr, "orba-graph: there is no plug-in called '" + std::string(plugin_name) +
                            "'. The plug-ins are: " + plugin_names() + "\n");
            return 1;
        }
        for (const ParamInfo& p : plugin->params)
            params.push_back(
                ParamValue{std::string(p.id), p.default_value, std::pair{p.min, p.max}});
    }
    std::string text;
    if (!file.empty()) {
        std::ifstream in{std::string(file), std::ios::binary};
        if (!in) {
            out(stderr, "orba-graph: cannot read " + std::string(file) + "\n");
            return 1;
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else if (plugin != nullptr) {
        file = plugin->folder;
        text = plugin->graph_text;
    } else {
        return usage_error("check needs a graph file or --plugin");
    }

    const Report report = check(text, params, rate);
    for (const Finding& e : report.errors)
        print(file, text, "error", e);
    for (const Finding& w : report.warnings)
        print(file, text, "warning", w);
    out(stdout, report.tree);
    if (!report.errors.empty()) return 1;
    return strict && !report.warnings.empty() ? 2 : 0;
}

int run(const std::vector<std::string_view>& args) {
    if (args.empty()) return usage_error("name a command: check or blocks");
    if (args[0] == "--help" || args[0] == "-h") {
        out(stdout, USAGE);
        return 0;
    }
    if (args[0] == "check") return check_command({args.begin() + 1, args.end()});
    if (args[0] == "blocks") {
        if (args.size() > 2 || (args.size() == 2 && args[1] != "--markdown")) {
            return usage_error("blocks takes only --markdown");
        }
        out(stdout, list_blocks(args.size() == 2));
        return 0;
    }
    return usage_error("unknown command " + std::string(args[0]));
}

}  // namespace
}  // namespace orba::graph_tool

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    return orba::graph_tool::run(args);
}
