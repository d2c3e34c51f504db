#include "orba/blocks/blocks.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <string_view>

#include "orba/blocks/blocks/delay.h"
#include "orba/blocks/blocks/gain.h"

namespace orba::blocks {
namespace {

TEST(Registry, FindsBlocksByTheirExactName) {
    const struct {
        std::string_view name;
        const BlockInfo* expected;
    } cases[] = {
        {"delay", &delay::INFO}, {"gain", &gain::INFO}, {"Delay", nullptr},
        {"delay ", nullptr},     {" delay", nullptr},   {"", nullptr},
        {"del", nullptr},        {"delayy", nullptr},   {std::string_view("delay\0", 6), nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(find(c.name), c.expected) << "'" << c.name << "'";
    }
}

// The order in which the system lists blocks, with how each help text begins.
constexpr struct {
    std::string_view name;
    std::string_view help;
} ORDER[] = {
    {"gain", "Changes the level, flips the polarity and pans a stereo signal."},
    {"filter",
     "A second-order filter: low-pass, high-pass, band-pass, notch, peaking bell, low shelf, high "
     "shelf or all-pass."},
    {"onepole", "A first-order filter with a gentle 6 dB per octave slope."},
    {"shaper", "Pushes the signal through a curve."},
    {"dynamics", "A dynamics processor."},
    {"delay", "A delay line."},
    {"tremolo", "Varies the level with a low-frequency oscillator."},
    {"stereo", "Mid/side work on a two-channel signal."},
    {"harmonic_eq", "A parametric equalizer with its bands on the harmonics of one fundamental."},
    {"loop", "Opens a feedback loop around the blocks after it"},
    {"loop_end", "Closes the loop opened by the nearest loop before it"},
};

TEST(Registry, ListsEveryBlockOnceInTheSystemOrder) {
    std::size_t next = 0;
    for (const BlockInfo* info : all()) {
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(find(info->name), info);
        while (next < std::size(ORDER) && ORDER[next].name != info->name)
            ++next;
        ASSERT_LT(next, std::size(ORDER)) << "'" << info->name << "' is unknown or out of order";
        EXPECT_TRUE(info->help.starts_with(ORDER[next].help)) << info->name;
        ++next;
    }
    EXPECT_NE(find("gain"), nullptr);
    EXPECT_NE(find("delay"), nullptr);
}

TEST(Registry, ArgumentTablesAreWellFormed) {
    for (const BlockInfo* info : all()) {
        ASSERT_NE(info->make, nullptr) << info->name;
        EXPECT_NE(info->make(), nullptr) << info->name;
        EXPECT_FALSE(info->help.empty()) << info->name;
        std::set<std::string_view> names;
        for (const ArgInfo& arg : info->args) {
            const std::string where = std::string(info->name) + "." + std::string(arg.name);
            EXPECT_TRUE(names.insert(arg.name).second) << where << " is listed twice";
            for (char ch : arg.name) {
                EXPECT_TRUE(std::islower(static_cast<unsigned char>(ch)) || ch == '_' ||
                            std::isdigit(static_cast<unsigned char>(ch)))
                    << where;
            }
            EXPECT_LE(arg.min, arg.default_value) << where;
            EXPECT_LE(arg.default_value, arg.max) << where;
            EXPECT_FALSE(arg.help.empty()) << where;
            if (!arg.choices.empty()) {
                EXPECT_EQ(arg.min, 0.0f) << where;
                EXPECT_EQ(arg.max, static_cast<float>(arg.choices.size() - 1)) << where;
            }
        }
        EXPECT_LE(info->args.size(), 32u) << info->name;
    }
}

// Provides only what every block must.
class Bare final : public Block {
  public:
    void prepare(std::size_t, float) override {}
    void control(std::span<const float>) override {}
    void process(Frame& frame, std::size_t) override {
        for (std::size_t c = 0; c < frame.channels; ++c)
            frame.channel(c)[0] += 1.0f;
    }
};

TEST(Block, OptionalOperationsDefaultToNothing) {
    Bare block;
    const float args[] = {3.0f, 4.0f};
    block.configure(args);
    block.prepare(2, 48000.0f);
    block.control(args);
    Frame frame;
    frame.resize(2);
    frame.frames = 1;
    block.process(frame, 0);
    EXPECT_EQ(frame.channel(1)[0], 1.0f);
    EXPECT_EQ(block.latency(), 0u);
    EXPECT_EQ(block.tail(args, 48000.0f), 0u);
    for (std::size_t index : {0u, 1u, 1000u})
        EXPECT_EQ(block.meter(index), 0.0f);
}

}  // namespace
}  // namespace orba::blocks
