#include "varnel-delay/dsp.h"

#include <string>

#include "orba/core/fatal.h"

namespace orba::varnel {

const std::string_view GRAPH_TEXT =
    R"json({"mix":"mix","chain":[{"parallel":[{"node":{"block":"delay","args":{"time_ms":"time","feedback":"feedback","damp_hz":"damp","mode":"mode"}}},{"node":{"chain":[{"block":"delay","args":{"time_ms":"time*ratio","feedback":"feedback*0.5","damp_hz":"damp","mode":"mode"}},{"block":"gain","args":{"gain_db":"decay_db"}},{"parallel":[{"node":{"block":"delay","args":{"time_ms":"time*ratio^2","feedback":"feedback*0.5","damp_hz":"damp","mode":"mode"}}},{"node":{"chain":[{"block":"delay","args":{"time_ms":"time*ratio^3","feedback":"feedback*0.5","damp_hz":"damp","mode":"mode"}},{"block":"gain","args":{"gain_db":"decay_db"}},{"parallel":[{"node":{"block":"delay","args":{"time_ms":"time*ratio^4","feedback":"feedback*0.5","damp_hz":"damp","mode":"mode"}}},{"node":{"chain":[{"block":"delay","args":{"time_ms":"time*ratio^5","feedback":"feedback*0.5","damp_hz":"damp","mode":"mode"}},{"block":"gain","args":{"gain_db":"decay_db"}},{"block":"delay","args":{"time_ms":"time*ratio^6","feedback":"feedback*0.5","damp_hz":"damp","mode":"mode"}}]}}]}]}}]}]}}]}]})json";

State State::create() {
    auto graph = Graph::from_str(GRAPH_TEXT, PARAM_NAMES);
    if (!graph) {
        fatal("the graph was checked against the parameters when it was set: \"" + graph.error() +
              "\"");
    }
    return State{std::move(graph).value()};
}

}  // namespace orba::varnel
