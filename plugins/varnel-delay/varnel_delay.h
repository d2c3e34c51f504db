#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "orba/core/param.h"
#include "orba/core/plugin.h"
#include "varnel-delay/dsp.h"

namespace orba {

// Varnel Delay: a self-similar delay in which every echo spawns a smaller copy
// of the whole echo pattern. It has no DSP of its own; every call goes to the
// compiled graph.
class VarnelDelay final : public Plugin {
  public:
    // The parameter table, in the order hosts, saved state and the graph use.
    static const std::span<const ParamInfo> PARAMS;
    // The graph text the plug-in compiles, for orba-graph to check.
    static std::string_view graph_text() { return varnel::GRAPH_TEXT; }

    VarnelDelay();

    Layout layout() const override;
    std::shared_ptr<ParamSet> params() const override { return params_; }
    void prepare(const ProcessSetup& setup) override;
    void process(Buffers buffers, const ProcessContext& context) override;
    std::uint32_t latency_samples() override;
    std::uint32_t tail_samples() override;

  private:
    std::shared_ptr<ParamSet> params_;
    varnel::State state_;
};

}  // namespace orba
