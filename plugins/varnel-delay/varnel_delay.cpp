#include "varnel-delay/varnel_delay.h"

#include <array>
#include <string_view>

#include "orba/core/fatal.h"
#include "varnel-delay/params.h"

namespace orba {
namespace {

using varnel::TABLE;

constexpr Bus INPUTS[] = {{"Main", Channels::Range{1, MAX_CHANNELS}}};
constexpr Bus OUTPUTS[] = {{"Main", Channels::Any{}}};

std::shared_ptr<ParamSet> make_params() {
    auto params = ParamSet::with_channels(TABLE, MAX_CHANNELS);
    if (!params) fatal("the Varnel Delay parameter table is faulty: " + params.error());
    return std::move(params).value();
}

}  // namespace

const std::span<const ParamInfo> VarnelDelay::PARAMS = TABLE;

VarnelDelay::VarnelDelay() : params_(make_params()), state_(varnel::State::create()) {}

Layout VarnelDelay::layout() const {
    return Layout{INPUTS, OUTPUTS};
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
