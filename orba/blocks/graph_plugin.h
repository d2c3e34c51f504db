#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "orba/blocks/graph.h"
#include "orba/core/param.h"
#include "orba/core/plugin.h"

namespace orba {

// The ids of a parameter table, in table order: the names a graph compiled
// for that table reads. Derived, never written by hand, so a graph cannot be
// compiled against names that disagree with the table.
template <std::size_t N>
constexpr std::array<std::string_view, N> param_names(const std::array<ParamInfo, N>& table) {
    std::array<std::string_view, N> names{};
    for (std::size_t i = 0; i < N; ++i)
        names[i] = table[i].id;
    return names;
}
std::vector<std::string_view> param_names(std::span<const ParamInfo> table);

// The bus layout of an effect: one main input of 1 to 64 channels and one main
// output that follows it.
inline constexpr Bus EFFECT_INPUTS[] = {{"Main", Channels::Range{1, MAX_CHANNELS}}};
inline constexpr Bus EFFECT_OUTPUTS[] = {{"Main", Channels::Any{}}};

// Everything a plug-in made of a parameter table and a graph text is.
struct GraphPluginInfo {
    std::string_view name;  // for the message when the table or the graph is faulty
    std::span<const ParamInfo> params;
    std::string_view graph;
    Layout layout{EFFECT_INPUTS, EFFECT_OUTPUTS};
};

// The two halves of a graph plug-in, built from its record. A faulty table or
// graph is the plug-in's own programming fault and ends the process, as
// `orba-graph check --plugin` shows before the plug-in ships.
std::shared_ptr<ParamSet> make_param_set(const GraphPluginInfo& info);
Graph make_graph(const GraphPluginInfo& info);

// A plug-in with no DSP of its own: a parameter set from the table and the
// graph compiled against the table's ids, to which every call goes. `Info` is
// a record with static storage; orba_plugin() writes it from the plug-in's
// table and graph file, so a plug-in made this way has no class of its own.
template <const GraphPluginInfo& Info>
class GraphPlugin final : public Plugin {
  public:
    static constexpr const GraphPluginInfo& INFO = Info;

    GraphPlugin() : params_(make_param_set(Info)), graph_(make_graph(Info)) {}

    Layout layout() const override { return Info.layout; }
    std::shared_ptr<ParamSet> params() const override { return params_; }
    void prepare(const ProcessSetup& setup) override { graph_.prepare(setup); }
    void process(Buffers buffers, const ProcessContext& context) override {
        graph_.process(*params_, buffers, context);
    }
    std::uint32_t latency_samples() override { return graph_.latency_samples(); }
    std::uint32_t tail_samples() override { return graph_.tail_for(*params_); }

  private:
    std::shared_ptr<ParamSet> params_;
    Graph graph_;
};

}  // namespace orba
