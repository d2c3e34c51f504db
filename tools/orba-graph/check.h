#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orba::graph_tool {

// One parameter the graph may read, with the value the tail is worked out
// for.
struct ParamValue {
    std::string name;
    float value = 0.0f;
};

// An error or a warning, with the byte offset it is about when it has one.
struct Finding {
    std::string message;
    std::optional<std::size_t> offset;
};

struct Report {
    std::vector<Finding> errors;
    std::vector<Finding> warnings;
    // The compiled tree, one node a line with its latency and tail; empty
    // when the graph does not compile.
    std::string tree;
};

// Compiles `text` as a plug-in does with these parameters, then looks for
// what compiles but is almost surely a mistake. Every block, amount and
// modulator is compiled on its own as well, so one run reports every error,
// not only the first. Latency and tail are for a stereo graph prepared at
// `sample_rate`, with the parameters at their given values and every
// modulator at 0.
Report check(std::string_view text, std::span<const ParamValue> params, float sample_rate);

}  // namespace orba::graph_tool
