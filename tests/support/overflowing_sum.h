#pragma once

#include <cmath>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "orba/blocks/graph.h"
#include "orba/core/fatal.h"

// Two branches that each pass the input through, summed: an input of half
// the largest float or more overflows at the output while nothing in the
// graph holds a non-finite value.
namespace orba::test {

class OverflowingSum final : public Plugin {
  public:
    OverflowingSum() {
        auto graph = Graph::from_str(
            R"js({"parallel": [{"node": {"chain": []}}, {"node": {"chain": []}}]})js", {});
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

// Seeded samples of every size up to the largest float, one in four big
// enough to overflow when doubled.
inline std::vector<std::vector<float>> huge_and_small(std::size_t channels, std::size_t frames) {
    std::mt19937 random(26);
    std::vector<std::vector<float>> signal(channels, std::vector<float>(frames));
    for (auto& channel : signal)
        for (float& s : channel)
            s = std::ldexp(std::uniform_real_distribution<float>(-2.0f, 2.0f)(random),
                           random() % 4 == 0 ? 127 : static_cast<int>(random() % 148) - 20);
    return signal;
}

// Where `out` differs from what the graph alone makes of `in` with each
// non-finite sample made 0 (empty when nowhere); counts those in `overflows`.
inline std::string differs_from_graph(std::vector<std::vector<float>> in,
                                      const std::vector<std::vector<float>>& out,
                                      std::size_t& overflows) {
    OverflowingSum alone;
    alone.prepare(ProcessSetup{.channels = static_cast<std::uint32_t>(in.size())});
    alone.process(std::vector<std::span<float>>(in.begin(), in.end()), ProcessContext{});
    for (std::size_t c = 0; c < in.size(); ++c) {
        for (std::size_t i = 0; i < in[c].size(); ++i) {
            overflows += std::isfinite(in[c][i]) ? 0 : 1;
            const float expected = std::isfinite(in[c][i]) ? in[c][i] : 0.0f;
            if (std::memcmp(&expected, &out[c][i], sizeof expected) != 0)
                return "channel " + std::to_string(c) + " frame " + std::to_string(i);
        }
    }
    return "";
}

}  // namespace orba::test
