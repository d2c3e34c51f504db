#pragma once

#include <string>

namespace orba::graph_tool {

// Every block of the registry, in registry order, with its arguments (unit,
// range, default, choices, whether it is constant, help) and meters: a plain
// listing for a terminal, or the Markdown reference kept in docs/blocks.md.
std::string list_blocks(bool markdown);

}  // namespace orba::graph_tool
