#pragma once

#include <array>
#include <string_view>

#include "orba/blocks/graph.h"
#include "orba/blocks/graph_plugin.h"
#include "varnel-delay/params.h"

namespace orba::varnel {

// The parameter names the graph text reads: the table's ids, in its order.
inline constexpr std::array<std::string_view, 7> PARAM_NAMES = param_names(TABLE);

// Seven delay lines in nested parallel branches: level k delays by
// time * ratio^k, and every nested level passes a decay gain first, so each
// echo carries a smaller, shorter copy of the whole pattern. The repeats of
// the inner lines get half the feedback so the pattern stays clear.
extern const std::string_view GRAPH_TEXT;

// The plug-in's DSP state: the compiled graph.
struct State {
    Graph graph;

    // Compiles GRAPH_TEXT; the text is the plug-in's own, so a failure is fatal.
    static State create();
};

}  // namespace orba::varnel
