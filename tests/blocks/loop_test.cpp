#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "orba/blocks/blocks.h"
#include "orba/blocks/blocks/loop.h"
#include "orba/blocks/graph.h"

namespace orba {
namespace {

using Audio = std::vector<std::vector<float>>;

// A stand-in for what sits in a loop: z = clamp(drive y + z_prev / 4, ±1.5).
constexpr ArgInfo WEAR_ARGS[] = {{"drive", "", {}, "", 0.0f, 2.0f, 1.0f, false}};

float wear(float y, float drive, float& state) {
    state = std::fmin(std::fmax(drive * y + 0.25f * state, -1.5f), 1.5f);
    return state;
}

struct Wear final : Block {
    void prepare(std::size_t channels, float) override { state_.assign(channels, 0.0f); }
    void control(std::span<const float> args) override { drive_ = args[0]; }
    void process(Frame& frame, std::size_t) override {
        for (std::size_t c = 0; c < frame.channels; ++c)
            for (std::size_t j = 0; j < frame.frames; ++j)
                frame.data[c][j] = wear(frame.data[c][j], drive_, state_[c]);
    }
    std::vector<float> state_;
    float drive_ = 1.0f;
};

constexpr BlockInfo WEAR{
    "wear", "", WEAR_ARGS, {}, [] { return std::unique_ptr<Block>(new Wear); }};

constexpr std::string_view NAMES[] = {"time", "fb", "mode", "drive"};
constexpr ParamInfo PARAMS[] = {{.id = "time", .min = -10.0f, .max = 5000.0f},
                                {.id = "fb", .min = -1.0f, .max = 1.0f},
                                {.id = "mode", .min = 0.0f, .max = 1.0f},
                                {.id = "drive", .min = 0.0f, .max = 2.0f}};

// The loop sample by sample, each read after every earlier write: what the
// runtime's 32-sample slices must not change by a bit.
struct Model {
    Audio lines;
    std::vector<float> state;
    std::size_t write = 0, phase = 0;
    float rate = 0, max_ms = 0, start = 0, target = 0, fb = 0, drive = 1;
    bool pingpong = false, primed = false;

    Model(std::size_t channels, float sample_rate, float max)
        : lines(channels,
                std::vector<float>(static_cast<std::size_t>(sample_rate * (max * 0.001f)) + 24)),
          state(channels, 0.0f),
          rate(sample_rate),
          max_ms(max) {}

    void sample(const ParamSet& params, std::vector<float>& x) {
        if (phase == 0) {
            const float time = std::clamp(params.at(0).get(), 1.0f, 4000.0f);
            const float goal = rate * (std::fmin(time, max_ms) * 0.001f);
            start = primed ? target : goal;
            primed = true;
            target = goal;
            fb = std::clamp(params.at(1).get(), 0.0f, 0.97f);
            pingpong = std::round(params.at(2).get()) >= 0.5f && lines.size() == 2;
            drive = params.at(3).get();
        }
        const std::size_t length = lines[0].size();
        float d = start + (target - start) * (static_cast<float>(phase + 1) / 32.0f);
        d = std::min(std::max(d, 33.0f), static_cast<float>(length - 4));
        const auto whole = static_cast<std::size_t>(d);
        const float t = d - static_cast<float>(whole);
        std::vector<float> z(x.size());
        for (std::size_t c = 0; c < x.size(); ++c) {
            auto at = [&](std::size_t back) {
                return lines[c][(write + 2 * length - back) % length];
            };
            const float y0 = at(whole - 1), y1 = at(whole), y2 = at(whole + 1), y3 = at(whole + 2);
            const float y =
                y1 + t * (0.5f * (y2 - y0) + t * ((y0 - 2.5f * y1 + 2.0f * y2 - 0.5f * y3) +
                                                  t * (1.5f * (y1 - y2) + 0.5f * (y3 - y0))));
            z[c] = wear(y, drive, state[c]);
        }
        for (std::size_t c = 0; c < x.size(); ++c) {
            float v = pingpong ? (c == 0 ? fb * z[1] + 0.5f * (x[0] + x[1]) : fb * z[0])
                               : fb * z[c] + x[c];
            lines[c][write] = std::fabs(v) < 1e-20f ? 0.0f : v;
            x[c] = std::fabs(z[c]) < 1e-30f ? 0.0f : z[c];
        }
        write = (write + 1) % length;
        phase = (phase + 1) % 32;
    }
};

std::string loop_graph(float max_ms, std::string_view inside) {
    return R"({"chain": [{"block": "loop", "args": {"time_ms": "time", "feedback": "fb", "mode": "mode", "max_ms": )" +
           std::to_string(static_cast<int>(max_ms)) + "}}, " + std::string(inside) +
           R"(, {"block": "loop_end"}]})";
}

TEST(LoopModel, RaggedHostBlocksMovingTimesAndPingPongMatchThePlainLoopBitForBit) {
    std::vector<const BlockInfo*> list(blocks::all().begin(), blocks::all().end());
    list.push_back(&WEAR);
    std::mt19937 random(24);
    auto uniform = [&](float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(random);
    };
    const float rates[] = {8000.0f, 44100.0f, 48000.0f, 96000.0f};
    for (int run = 0; run < 24; ++run) {
        const std::size_t channels = 1 + random() % 3;
        const float rate = rates[random() % 4], max_ms = run % 3 == 0 ? 10.0f : 120.0f;
        const std::string text =
            loop_graph(max_ms, R"({"block": "wear", "args": {"drive": "drive"}})");
        Result<Graph> graph = Graph::from_spec(*spec::from_str(text), NAMES, list);
        ASSERT_TRUE(graph.ok()) << graph.error();
        std::shared_ptr<ParamSet> params = std::move(ParamSet::with_channels(PARAMS, 1)).value();
        graph->prepare({.max_frames = 512,
                        .sample_rate = rate,
                        .channels = static_cast<std::uint32_t>(channels)});
        Model model(channels, rate, max_ms);
        std::vector<float> frame(channels);
        for (std::size_t block = 0; block < 60; ++block) {
            if (block % 4 == 0) {
                params->at(0).set(random() % 5 == 0 ? uniform(-10.0f, 5000.0f)
                                                    : uniform(0.5f, 2.0f * max_ms));
                params->at(1).set(uniform(-0.2f, 1.0f));
                params->at(2).set(uniform(0.0f, 1.0f));
                params->at(3).set(uniform(0.0f, 2.0f));
            }
            const std::size_t frames = 1 + random() % 200;
            Audio audio(channels, std::vector<float>(frames));
            for (auto& channel : audio)
                for (float& x : channel)
                    x = random() % 7 == 0 ? uniform(-1.0f, 1.0f) : 0.0f;
            Audio expected = audio;
            std::vector<std::span<float>> buffers(audio.begin(), audio.end());
            graph->process(*params, buffers, {});
            for (std::size_t i = 0; i < frames; ++i) {
                for (std::size_t c = 0; c < channels; ++c)
                    frame[c] = expected[c][i];
                model.sample(*params, frame);
                for (std::size_t c = 0; c < channels; ++c)
                    ASSERT_EQ(std::bit_cast<std::uint32_t>(audio[c][i]),
                              std::bit_cast<std::uint32_t>(frame[c]))
                        << "run " << run << " block " << block << " channel " << c << " frame "
                        << i;
            }
        }
    }
}

// An impulse into a loop of feedback f comes back every time_ms, f times
// weaker each trip; the tail ends where it has fallen by 60 dB. A loop that
// overflows to infinity clears its line, and then sounds as if nothing had
// come before.
TEST(Loop, RepeatsAreExactInTimeTheTailIsHonestAndAnInfinityClears) {
    const std::string text =
        loop_graph(1000.0f, R"({"block": "gain", "args": {"gain_db": "drive * 24"}})");
    std::shared_ptr<ParamSet> params = std::move(ParamSet::with_channels(PARAMS, 1)).value();
    params->at(0).set(125.0f);  // 6000 samples
    params->at(1).set(0.5f);
    auto render = [&](float impulse, float poison, float drive) {
        params->at(3).set(drive);
        Result<Graph> graph = Graph::from_str(text, NAMES);
        EXPECT_TRUE(graph.ok()) << graph.error();
        graph->prepare({.max_frames = 512, .sample_rate = 48000.0f, .channels = 1});
        Audio audio(1, std::vector<float>(40000, 0.0f));
        audio[0][0] = impulse;
        audio[0][10000] = poison;
        for (std::size_t i = 20000; i < audio[0].size(); ++i)
            audio[0][i] = std::sin(0.01f * static_cast<float>(i));
        std::vector<std::span<float>> buffers{audio[0]};
        graph->process(*params, buffers, {});
        return std::pair(audio[0], graph->tail_for(*params));
    };
    const auto [clean, tail] = render(1.0f, 0.0f, 0.0f);
    for (std::size_t k = 1; k <= 3; ++k)
        EXPECT_EQ(clean[6000 * k], std::ldexp(1.0f, 1 - static_cast<int>(k))) << "repeat " << k;
    EXPECT_EQ(
        std::count_if(clean.begin(), clean.begin() + 20000, [](float y) { return y != 0.0f; }), 3);
    EXPECT_EQ(tail, 10u * 6000u + 4u);

    const auto poisoned = render(1.0f, 3e38f, 2.0f).first;  // overflows at 16000
    const auto silent = render(0.0f, 0.0f, 2.0f).first;
    EXPECT_TRUE(std::equal(poisoned.begin() + 16032, poisoned.end(), silent.begin() + 16032));
}

TEST(Loop, APairStandsInOneChainAndEveryOtherPlaceIsRefusedByName) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {R"({"block": "loop"})",
         "graph: a loop or loop_end must stand directly in a chain, without bypass, mix or only"},
        {R"({"chain": [{"block": "gain"}, {"block": "loop_end"}]})",
         "graph.chain[1]: this loop_end has no loop before it in the same chain"},
        {R"({"chain": [{"block": "loop"}, {"block": "loop"}, {"block": "loop_end"}]})",
         "graph.chain[0]: this loop has no loop_end after it in the same chain"},
        {R"({"parallel": [{"node": {"chain": [{"block": "loop", "mix": 1}, {"block": "loop_end"}]}}]})",
         "graph.parallel[0].chain[0]: a loop or loop_end must stand directly in a chain, without "
         "bypass, mix or only"},
    };
    for (const auto& [text, message] : cases) {
        Result<Graph> graph = Graph::from_str(text, NAMES);
        ASSERT_FALSE(graph.ok()) << text;
        EXPECT_EQ(graph.error(), message);
    }
    const char* nested = R"({"chain": [{"block": "loop"}, {"chain": [{"block": "loop"},
                                {"block": "loop_end"}]}, {"block": "loop_end"}]})";
    EXPECT_TRUE(Graph::from_str(nested, NAMES).ok());
}

}  // namespace
}  // namespace orba
