#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orba::graph_tool {

// One parameter the graph may read, with the value the tail is worked out
// for and, when known, its range, whose ends the argument checks try.
struct ParamValue {
    std::string name;
    float value = 0.0f;
    std::optional<std::pair<float, float>> range;
};

// An error or a warning, with the byte offset it is about when it has one,
// and the checker's own hint, when it has one, beside the message.
struct Finding {
    std::string message;
    std::optional<std::size_t> offset;
    std::string note;
};

struct Report {
    std::vector<Finding> errors;
    std::vector<Finding> warnings;
    // The compiled tree, one node a line with its latency and tail; empty
    // when the graph does not compile.
    std::string tree;
};

// Compiles `text` as a plug-in does with these parameters, then looks for
// what compiles but is almost surely a mistake, among it block arguments
// that can leave their range or pass a delay's max_ms: each is worked out for
// the ends of the range of every parameter it reads, each modulator at -1, 0
// and 1, and tempos 20, 120 and 300. Every block, amount and
// modulator is compiled on its own as well, so one run reports every error,
// not only the first. Latency and tail are for a stereo graph prepared at
// `sample_rate`, with the parameters at their given values and every
// modulator at 0.
Report check(std::string_view text, std::span<const ParamValue> params, float sample_rate);

}  // namespace orba::graph_tool
