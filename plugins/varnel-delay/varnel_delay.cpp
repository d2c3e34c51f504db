#include "varnel-delay/varnel_delay.h"

#include "orba/blocks/graph_plugin.h"
#include "varnel-delay/params.h"

namespace orba {

const std::span<const ParamInfo> VarnelDelay::PARAMS = varnel::TABLE;

VarnelDelay::VarnelDelay()
    : params_(
          make_param_set({.name = "Varnel Delay", .params = PARAMS, .graph = varnel::GRAPH_TEXT})),
      state_(varnel::State::create()) {}

Layout VarnelDelay::layout() const {
    return Layout{EFFECT_INPUTS, EFFECT_OUTPUTS};
}

void VarnelDelay::prepare(const ProcessSetup& setup) {
    state_.graph.prepare(setup);
}

void VarnelDelay::process(Buffers buffers, const ProcessContext& context) {
    state_.graph.process(*params_, buffers, context);
}

std::uint32_t VarnelDelay::latency_samples() {
    return state_.graph.latency_samples();
}

std::uint32_t VarnelDelay::tail_samples() {
    return state_.graph.tail_for(*params_);
}

}  // namespace orba
