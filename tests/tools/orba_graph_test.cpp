#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "orba/blocks/graph.h"
#include "orba/blocks/graph_plugin.h"
#include "varnel-delay/dsp.h"
#include "varnel-delay/varnel_delay.h"

namespace tidal_tremolo {
extern const orba::GraphPluginInfo INFO;
}

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// CTest runs each test in a process of its own, several at once.
std::filesystem::path scratch(const std::string& name) {
    return std::filesystem::path(testing::TempDir()) /
           ("orba-graph-" + std::to_string(getpid()) + "-" + name);
}

std::filesystem::path write_graph(const std::string& text) {
    static int count = 0;
    const std::filesystem::path path = scratch(std::to_string(++count) + ".json");
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// Runs the built orba-graph as a shell would, keeping both streams apart.
Outcome orba_graph(const std::string& args) {
    const std::filesystem::path err = scratch("stderr.txt");
    const std::string command = ORBA_TOOL_EMULATOR + std::string(" '") + ORBA_GRAPH + "' " + args +
                                " 2>'" + err.string() + "'";
    Outcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = read_file(err);
    return run;
}

Outcome check(const std::string& graph, const std::string& params, const std::string& more = "") {
    const std::filesystem::path path = write_graph(graph);
    return orba_graph("check '" + path.string() + "' --params '" + params + "' " + more);
}

// What follows the file name in the first report line, and the caret line.
struct Shown {
    std::string head;
    std::string caret;
};

Shown first_report(const Outcome& run) {
    std::istringstream lines(run.err);
    std::string head, source, caret;
    std::getline(lines, head);
    std::getline(lines, source);
    std::getline(lines, caret);
    const std::size_t colon = head.find(".json");
    return Shown{colon == std::string::npos ? head : head.substr(colon + 5), caret};
}

TEST(OrbaGraphCheck, EachErrorShowsLineColumnByteAndACaretUnderTheSpot) {
    const struct {
        const char* graph;
        const char* head;  // ":LINE:COLUMN: error (byte N): " and the message's start
    } cases[] = {
        {"{\"chain\": [\n  {\"block\": \"gain\" \"args\": {}}\n]}",
         ":2:20: error (byte 31): the graph is not valid JSON: expected a comma or } at byte 31"},
        {"{\"chain\": [{\"block\": \"gain\", \"gian\": 1}]}",
         ":1:30: error (byte 29): graph.chain[0] has an unknown key 'gian'"},
        {"{\"chain\": [{\"block\": \"filtr\"}]}",
         ":1:22: error (byte 21): graph.chain[0]: there is no block called 'filtr'"},
        {"{\"block\": \"tremolo\",\n \"args\": {\"rate_hz\": 2, \"dept\": 1}}",
         ":2:25: error (byte 45): graph: the block 'tremolo' has no argument 'dept'"},
        {"{\"block\": \"gain\", \"args\": {\"gain_db\": \"level * 2 + levl\"}}",
         ":1:52: error (byte 51): graph: gain.gain_db: 'levl' is not a parameter"},
        {"{\"block\": \"gain\", \"args\": {\"gain_db\": 60}}",
         ":1:39: error (byte 38): graph: gain.gain_db is 60, outside the range -96 to 48 dB"},
        {"{\"parallel\": [{\"node\": {\"block\": \"gain\"}},\n"
         "  {\"node\": {\"block\": \"delay\", \"args\": {\"mode\": \"twice\"}}}]}",
         ":2:49: error (byte 91): graph.parallel[1]: delay.mode: 'twice' is not one of"},
        {"{\"parallel\": [{\"node\": {\"block\": \"gain\"}, \"gain_db\": \"loud\"}]}",
         ":1:55: error (byte 54): graph.parallel[0] gain_db: 'loud' is not a parameter"},
        {"{\"parallel\": [{\"node\": {\"block\": \"gain\", \"mix\": 2}}]}",
         ":1:49: error (byte 48): graph.parallel[0] mix is 2, outside the range 0 to 1"},
        {"{\"modulators\": [{\"id\": \"lfo\", \"shape\": \"sqare\"}], \"block\": \"gain\"}",
         ":1:40: error (byte 39): modulator 'lfo' has the shape 'sqare'"},
        {"{\"modulators\": [{\"id\": \"a\"}, {\"id\": \"a\"}], \"block\": \"gain\"}",
         ":1:37: error (byte 36): two modulators are called 'a'"},
        {"{\"block\": \"dynamics\", \"meters\": {\"gr\": \"level\"}}",
         ":1:34: error (byte 33): graph: the block 'dynamics' has no meter 'gr'"},
        // Syntax errors: where the text goes wrong, or its end when it stops short.
        {R"({"block": "gain", "args": {"gain_db": "level * (2 +"}})",
         ":1:52: error (byte 51): graph: gain.gain_db: the expression ends where"},
        {R"j({"block": "gain", "args": {"gain_db": "min(level 2)"}})j",
         ":1:50: error (byte 49): graph: gain.gain_db: the call to 'min' needs"},
        {R"({"block": "gain", "args": {"gain_db": "level 2"}})",
         ":1:46: error (byte 45): graph: gain.gain_db: unexpected '2'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.graph);
        const Outcome run = check(c.graph, "level");
        EXPECT_EQ(run.status, 1);
        const Shown shown = first_report(run);
        EXPECT_EQ(shown.head.substr(0, std::string(c.head).size()), c.head) << run.err;
        const std::size_t column = std::stoul(shown.head.substr(shown.head.find(':', 1) + 1));
        EXPECT_EQ(shown.caret, std::string(column - 1, ' ') + "^");
        EXPECT_EQ(run.out, "") << "no tree for a graph that does not compile";
    }
}

TEST(OrbaGraphCheck, ReportsEveryErrorOfAGraphInTheOrderOfTheText) {
    const Outcome run = check(R"({
  "modulators": [{"id": "lfo", "rate": "speedy"}],
  "chain": [
    {"block": "tremolo", "args": {"rate_hz": 2, "dept": 1, "depth": 3}},
    {"block": "filtr"},
    {"parallel": [{"node": {"block": "gain", "args": {"gain_db": "levl"}}, "gain_db": "x"},
                  {"node": {"block": "gain"}, "gain_db": -200}]}
  ]
})",
                              "level");
    EXPECT_EQ(run.status, 1);
    std::vector<std::string> places;
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(".json:");
        if (at != std::string::npos)
            places.push_back(line.substr(at + 6, line.find(':', at + 6) - at - 6));
    }
    EXPECT_EQ(places, (std::vector<std::string>{"2", "4", "4", "5", "6", "6", "7"})) << run.err;
}

TEST(OrbaGraphCheck, WarnsAboutWhatCompilesButIsAlmostSurelyAMistake) {
    const struct {
        const char* graph;
        const char* params;
        const char* warning;  // the whole report line after the file name
    } cases[] = {
        {R"({"block": "tremolo", "args": {"rate_hz": "rate / 1000"}})", "rate",
         ":1:43: warning (byte 42): the parameter 'rate' is hidden by the built-in name 'rate' "
         "(the sample rate in Hz): an expression naming it reads the built-in. Give the "
         "parameter another id"},
        {R"({"block": "delay", "args": {"time_ms": "sync(1) + bpm"}})", "bpm",
         ":1:51: warning (byte 50): the parameter 'bpm' is hidden by the built-in name 'bpm' "
         "(the host's tempo): an expression naming it reads the built-in. Give the parameter "
         "another id"},
        {R"({"block": "gain", "args": {"gain_db": "level"}})", "level,spare",
         ": warning: the parameter 'spare' is never read"},
        {R"({"modulators": [{"id": "wobble"}], "block": "gain"})", "",
         ":1:24: warning (byte 23): the modulator 'wobble' is never used"},
        {R"({"modulators": [{"id": "me", "rate": "1 + me"}], "block": "gain"})", "",
         ":1:24: warning (byte 23): the modulator 'me' is never used"},
        {R"({"chain": [{"block": "gain"}, {"block": "gain", "bypass": true}]})", "",
         ":1:59: warning (byte 58): graph.chain[1] bypass is the constant 1, so the node never "
         "runs"},
        {R"({"block": "gain", "mix": 0})", "",
         ":1:26: warning (byte 25): graph mix is the constant 0, so only the dry signal passes"},
        {R"({"parallel": [{"node": {"block": "gain"}}, {"node": {"block": "gain"}, "gain_db": -96}]})",
         "",
         ":1:83: warning (byte 82): graph.parallel[1] gain_db is the constant -96, so the "
         "branch is silent"},
        {R"({"block": "gain", "args": {"gain_db": "level * 10"}})", "level=0:-6:6",
         ":1:39: warning (byte 38): graph: gain.gain_db reaches 60 (with 'level' 6), outside the "
         "range -96 to 48 dB, so the block holds it at 48"},
        {R"({"modulators": [{"id": "lfo"}], "block": "filter", "args": {"freq": "1000 + 2000 * lfo"}})",
         "",
         ":1:69: warning (byte 68): graph: filter.freq falls to -1000 (with 'lfo' -1), outside "
         "the range 10 to 24000 Hz, so the block holds it at 10"},
        {R"({"block": "gain", "args": {"gain_db": "level ^ 0.5"}})", "level=1:-1:1",
         ":1:39: warning (byte 38): graph: gain.gain_db is not a number (with 'level' -1), so the "
         "block takes 0 dB instead"},
        {R"j({"block": "delay", "args": {"time_ms": "sync(1)"}})j", "",
         ":1:40: warning (byte 39): graph: delay.time_ms reaches 3000 (at tempo 20), past the 2000 "
         "ms the line holds (max_ms), so the delay stops at 2000 ms. Raise delay.max_ms to 3000 "
         "or more"},
        {R"({"block": "delay", "args": {"time_ms": 2500, "max_ms": 1000}})", "",
         ":1:40: warning (byte 39): graph: delay.time_ms reaches 2500, past the 1000 ms the line "
         "holds (max_ms), so the delay stops at 1000 ms. Raise delay.max_ms to 2500 or more"},
        {R"({"chain": [{"modulators": [{"id": "lfo"}], "block": "gain"}]})", "",
         ":1:13: warning (byte 12): graph.chain[0] has modulators, which only the root object "
         "can have, so they are ignored. Move them to the root"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.graph);
        const Outcome run = check(c.graph, c.params);
        EXPECT_EQ(run.status, 0);
        std::string line = run.err.substr(0, run.err.find('\n'));
        line = line.substr(line.find(".json") + 5);
        EXPECT_EQ(line, c.warning);
        EXPECT_FALSE(run.out.empty()) << "the tree is still printed";
        EXPECT_EQ(check(c.graph, c.params, "--strict").status, 2);
    }
}

TEST(OrbaGraphCheck, NotesWhatAnExpressionErrorIsAboutBesideTheCompilersMessage) {
    const struct {
        const char* expression;
        const char* note;
    } cases[] = {
        {"hpf(level)", "  note: the functions are min, max, clamp, abs, pow, exp, ln,"},
        {"levl", "  note: the built-in names are rate, bpm and pi"},
        {"level +", "  note: the expression is not well formed at the caret"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression);
        const Outcome run =
            check(std::string(R"({"block": "gain", "args": {"gain_db": ")") + c.expression + "\"}}",
                  "level");
        EXPECT_NE(run.err.find(". The names available are: level\n"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.note), std::string::npos) << run.err;
    }
}

std::string params_of(std::span<const orba::ParamInfo> table) {
    std::string out;
    for (const orba::ParamInfo& p : table) {
        if (!out.empty()) out += ',';
        out += std::string(p.id) + '=' + orba::format_f32(p.default_value);
    }
    return out;
}

TEST(OrbaGraphCheck, BothExamplePluginsAreCleanEvenWhenStrict) {
    EXPECT_EQ(check(std::string(orba::varnel::GRAPH_TEXT), params_of(orba::VarnelDelay::PARAMS),
                    "--strict")
                  .status,
              0);
    const Outcome run = check(std::string(tidal_tremolo::INFO.graph),
                              params_of(tidal_tremolo::INFO.params), "--strict");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    // The plug-in compiles the very bytes of the file beside its table.
    EXPECT_EQ(read_file(ORBA_SOURCE_DIR "/plugins/tidal-tremolo/tidal_tremolo.json"),
              tidal_tremolo::INFO.graph);
}

TEST(OrbaGraphCheck, PrintsVarnelDelaysTreeWithEachNodesLatencyAndTail) {
    const Outcome run = check(std::string(orba::varnel::GRAPH_TEXT),
                              params_of(orba::VarnelDelay::PARAMS), "--rate 48000");
    ASSERT_EQ(run.status, 0) << run.err;
    const char* delay = R"(delay time_ms="time*ratio^)";
    const char* args = R"(" feedback="feedback*0.5" damp_hz="damp" mode="mode")";
    const std::string want =
        std::string("chain mix=\"mix\"  (latency 0, tail 115200)\n") +
        "  [0] parallel  (latency 0, tail 115200)\n"
        "    [0] delay time_ms=\"time\" feedback=\"feedback\" damp_hz=\"damp\" mode=\"mode\"  "
        "(latency 0, tail 115200)\n"
        "    [1] chain  (latency 0, tail 76793)\n"
        "      [0] delay time_ms=\"time*ratio" +
        args +
        "  (latency 0, tail 47462)\n"
        "      [1] gain gain_db=\"decay_db\"  (latency 0, tail 0)\n"
        "      [2] parallel  (latency 0, tail 29331)\n"
        "        [0] " +
        delay + "2" + args +
        "  (latency 0, tail 29331)\n"
        "        [1] chain  (latency 0, tail 29329)\n"
        "          [0] " +
        delay + "3" + args +
        "  (latency 0, tail 18127)\n"
        "          [1] gain gain_db=\"decay_db\"  (latency 0, tail 0)\n"
        "          [2] parallel  (latency 0, tail 11202)\n"
        "            [0] " +
        delay + "4" + args +
        "  (latency 0, tail 11202)\n"
        "            [1] chain  (latency 0, tail 11201)\n"
        "              [0] " +
        delay + "5" + args +
        "  (latency 0, tail 6923)\n"
        "              [1] gain gain_db=\"decay_db\"  (latency 0, tail 0)\n"
        "              [2] " +
        delay + "6" + args + "  (latency 0, tail 4278)\n";
    EXPECT_EQ(run.out, want);

    // The root's tail is the one the plug-in itself reports to hosts.
    orba::VarnelDelay plugin;
    plugin.params()->set_channels(2);
    plugin.prepare(orba::ProcessSetup{.max_frames = 512, .sample_rate = 48000.0f, .channels = 2});
    EXPECT_NE(run.out.find("tail " + std::to_string(plugin.tail_samples()) + ")\n"),
              std::string::npos);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')),
              "chain mix=\"mix\"  (latency 0, tail " + std::to_string(plugin.tail_samples()) + ")");
}

TEST(OrbaGraphCheck, APluginGivesItsIdsAndDefaultsAndWithoutAFileItsOwnGraph) {
    const std::string varnel = check(std::string(orba::varnel::GRAPH_TEXT),
                                     params_of(orba::VarnelDelay::PARAMS))
                                   .out;
    const std::string tremolo = check(std::string(tidal_tremolo::INFO.graph),
                                      params_of(tidal_tremolo::INFO.params))
                                    .out;
    ASSERT_FALSE(varnel.empty());
    ASSERT_FALSE(tremolo.empty());
    const std::string reads_decay =
        write_graph(R"({"block": "gain", "args": {"gain_db": "decay_db"}})").string();
    const std::string misspelt =
        write_graph(R"({"block": "gain", "args": {"gain_db": "decay"}})").string();
    const struct {
        std::string args;
        int status;
        std::string out;
        std::string err;  // a part of standard error; empty when there must be none
    } cases[] = {
        {"check --plugin varnel-delay --strict", 0, varnel, ""},
        {"check --plugin 'Varnel Delay' --strict", 0, varnel, ""},
        {"check --plugin TIDAL-tremolo --strict", 0, tremolo, ""},
        {"check '" + reads_decay + "' --plugin varnel-delay", 0,
         "gain gain_db=\"decay_db\"  (latency 0, tail 0)\n", "the parameter 'time' is never read"},
        {"check '" + misspelt + "' --plugin varnel-delay", 1, "", "'decay' is not a parameter"},
        {"check --plugin reverb", 1, "",
         "there is no plug-in called 'reverb'. The plug-ins are: "},
        {"check --plugin reverb", 1, "", "varnel-delay (Varnel Delay)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const Outcome run = orba_graph(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, c.out);
        if (c.err.empty())
            EXPECT_EQ(run.err, "");
        else
            EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    }
}

TEST(OrbaGraphBlocks, TheCommittedReferenceIsWhatTheCheckerPrints) {
    const Outcome run = orba_graph("blocks --markdown");
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(read_file(ORBA_SOURCE_DIR "/docs/blocks.md"), run.out)
        << "regenerate it: orba-graph blocks --markdown > docs/blocks.md";
}

TEST(OrbaGraphUsage, RefusesWhatItCannotRunWithStatusOne) {
    const struct {
        const char* args;
        int status;
    } cases[] = {
        {"", 1},
        {"--help", 0},
        {"blocks", 0},
        {"blocks --html", 1},
        {"lint x.json", 1},
        {"check", 1},
        {"check /nonexistent/graph.json --params a", 1},
        {"check x.json --params a=loud", 1},
        {"check x.json --params a=1:5:2", 1},
        {"check x.json --rate 10", 1},
        {"check x.json --fast", 1},
        {"check --plugin", 1},
        {"check x.json --params a --plugin varnel-delay", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(orba_graph(c.args).status, c.status);
    }
}

}  // namespace
