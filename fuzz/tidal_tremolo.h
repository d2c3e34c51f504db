#pragma once

#include "orba/blocks/graph_plugin.h"

// Tidal Tremolo has no class of its own: it is the graph plug-in of the record
// its build embeds from its table and graph file.
namespace tidal_tremolo {
extern const orba::GraphPluginInfo INFO;
}

namespace orba::fuzz {
using TidalTremolo = GraphPlugin<tidal_tremolo::INFO>;
}
