#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orba::graph_tool {

// A spot in the graph text: the byte offset, and the line and column (both
// from 1; columns count characters, not bytes) a reader finds it at.
struct Spot {
    std::size_t offset = 0;
    std::size_t line = 1;
    std::size_t column = 1;
};

Spot spot_at(std::string_view text, std::size_t offset);

// The line holding `spot` and a second line with a caret under it; tabs are
// kept so the caret lines up in a terminal.
std::string caret_lines(std::string_view text, const Spot& spot);

// Where in `text` (graph text that parses as JSON) a message of the graph
// reader or compiler points: the value or key its path and quoted names
// lead to, or inside an expression at the name it complains about. Nothing
// when the message names no place.
std::optional<std::size_t> locate(std::string_view text, std::string_view message);

// Every node below the root that has `key`, by the path the compiler names
// it with ("graph.chain[1]", "graph.parallel[0]"), and where the key is.
struct KeyAt {
    std::string path;
    std::size_t offset = 0;
};
std::vector<KeyAt> nested_keys(std::string_view text, std::string_view key);

}  // namespace orba::graph_tool
