#include "orba/blocks/graph_plugin.h"

#include <string>
#include <utility>

#include "orba/core/fatal.h"

namespace orba {

std::shared_ptr<ParamSet> make_param_set(const GraphPluginInfo& info) {
    auto params = ParamSet::with_channels(info.params, MAX_CHANNELS);
    if (!params) {
        fatal("the " + std::string(info.name) + " parameter table is faulty: " + params.error());
    }
    return std::move(params).value();
}

Graph make_graph(const GraphPluginInfo& info) {
    const std::vector<std::string_view> names = param_names(info.params);
    auto graph = Graph::from_str(info.graph, names);
    if (!graph)
        fatal("the " + std::string(info.name) + " graph does not compile: " + graph.error());
    return std::move(graph).value();
}

std::vector<std::string_view> param_names(std::span<const ParamInfo> table) {
    std::vector<std::string_view> names;
    names.reserve(table.size());
    for (const ParamInfo& p : table)
        names.push_back(p.id);
    return names;
}

}  // namespace orba
