#pragma once

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "orba/blocks/graph.h"
#include "orba/core/fatal.h"
#include "orba/core/param.h"
#include "orba/core/plugin.h"

// A graph that sums two branches which each pass the input through, so an
// input above half the largest float overflows at the output while nothing in
// the graph holds a non-finite value. Both wrapper tests run it to see that
// the host never gets the infinity and gets every finite sample untouched.
namespace orba::test {

inline constexpr std::string_view OVERFLOWING_SUM =
    R"js({"parallel": [{"node": {"chain": []}}, {"node": {"chain": []}}]})js";

class OverflowingSum final : public Plugin {
  public:
    OverflowingSum() {
        auto graph = Graph::from_str(OVERFLOWING_SUM, {});
        auto set = ParamSet::with_channels({}, MAX_CHANNELS);
        if (!graph || !set) fatal("the overflowing sum does not build");
        graph_.emplace(std::move(graph).value());
        params_ = std::move(set).value();
    }
    Layout layout() const override { return {}; }
    std::shared_ptr<ParamSet> params() const override { return params_; }
    void prepare(const ProcessSetup& setup) override { graph_->prepare(setup); }
    void process(Buffers buffers, const ProcessContext& context) override {
        graph_->process(*params_, buffers, context);
    }
    std::uint32_t latency_samples() override { return 0; }
    std::uint32_t tail_samples() override { return 0; }

  private:
    std::optional<Graph> graph_;
    std::shared_ptr<ParamSet> params_;
};

// Seeded samples of every size up to the largest float, either sign; one in
// four is at least half the largest, where doubling overflows.
inline std::vector<std::vector<float>> huge_and_small(std::size_t channels, std::size_t frames) {
    std::mt19937 random(26);
    std::uniform_real_distribution<float> mantissa(-2.0f, 2.0f);
    std::uniform_int_distribution<int> exponent(-20, 127);
    std::vector<std::vector<float>> signal(channels, std::vector<float>(frames));
    for (auto& channel : signal)
        for (float& s : channel)
            s = std::ldexp(mantissa(random), random() % 4 == 0 ? 127 : exponent(random));
    return signal;
}

// Whether `out` is what the graph alone makes of `in`, with 0 for each
// sample the graph made non-finite; counts those in `overflows`.
inline std::string differs_from_graph(const std::vector<std::vector<float>>& in,
                                      const std::vector<std::vector<float>>& out,
                                      std::size_t& overflows) {
    OverflowingSum alone;
    alone.prepare(ProcessSetup{.channels = static_cast<std::uint32_t>(in.size())});
    std::vector<std::vector<float>> raw = in;
    std::vector<std::span<float>> buffers(raw.begin(), raw.end());
    alone.process(buffers, ProcessContext{});
    for (std::size_t c = 0; c < in.size(); ++c) {
        for (std::size_t i = 0; i < in[c].size(); ++i) {
            overflows += std::isfinite(raw[c][i]) ? 0 : 1;
            const float expected = std::isfinite(raw[c][i]) ? raw[c][i] : 0.0f;
            if (std::memcmp(&expected, &out[c][i], sizeof expected) != 0)
                return "channel " + std::to_string(c) + " frame " + std::to_string(i);
        }
    }
    return "";
}

}  // namespace orba::test
