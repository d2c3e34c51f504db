#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "orba/blocks/graph.h"
#include "orba/core/param.h"
#include "orba/core/plugin.h"

namespace orba {

namespace tidal {

// The parameter ids the graph text reads, in parameter order.
inline constexpr std::array<std::string_view, 10> PARAM_NAMES{
    "speed",  "tempo_sync", "division", "depth", "shape",
    "spread", "tone",       "wander",   "level", "mix"};

// A tremolo whose rate is either `speed` or one cycle per note length at the
// host's tempo, then a low-pass whose cutoff a slow triangle modulator sways
// by up to `wander` octaves either side of `tone`, then the output level; the
// whole chain is blended with the dry signal by `mix`.
extern const std::string_view GRAPH_TEXT;

}  // namespace tidal

// Tidal Tremolo: the second example plug-in. Like Varnel Delay it has no DSP
// of its own; every call goes to the compiled graph.
class TidalTremolo final : public Plugin {
  public:
    // The parameter table, in the order hosts, saved state and the graph use.
    static const std::span<const ParamInfo> PARAMS;
    // The graph text the plug-in compiles, for orba-graph to check.
    static std::string_view graph_text() { return tidal::GRAPH_TEXT; }

    TidalTremolo();

    Layout layout() const override;
    std::shared_ptr<ParamSet> params() const override { return params_; }
    void prepare(const ProcessSetup& setup) override;
    void process(Buffers buffers, const ProcessContext& context) override;
    std::uint32_t latency_samples() override;
    std::uint32_t tail_samples() override;

  private:
    std::shared_ptr<ParamSet> params_;
    Graph graph_;
};

}  // namespace orba
