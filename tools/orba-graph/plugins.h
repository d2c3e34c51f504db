#pragma once

#include <span>
#include <string>
#include <string_view>

#include "orba/core/param.h"

namespace orba::graph_tool {

// One of the framework's own plug-ins, as orba-graph is built with it. A
// .clap file cannot stand in: CLAP does not show hosts the ids expressions use.
struct PluginEntry {
    std::string_view folder;  // its folder of plugins/
    std::string_view name;    // the name hosts show
    std::span<const ParamInfo> params;
    std::string_view graph_text;
};

// What a plug-in with a class of its own (orba_plugin's CLASS) shows
// orba-graph; one made of a table and a graph file needs nothing.
template <class P>
concept PluginClass = requires {
    std::span<const ParamInfo>(P::PARAMS);
    std::string_view(P::graph_text());
};

// Every plug-in of plugins/, in folder order; the table is generated from the
// plug-ins the build declares.
std::span<const PluginEntry> plugins();

// The plug-in whose folder or shown name is `name`, ignoring case; null when
// there is none.
const PluginEntry* find_plugin(std::string_view name);

// "tidal-tremolo (Tidal Tremolo), varnel-delay (Varnel Delay)".
std::string plugin_names();

}  // namespace orba::graph_tool
