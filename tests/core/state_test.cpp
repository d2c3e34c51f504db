#include "orba/core/state.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace orba {
namespace {

constexpr std::string_view MODES[] = {"Normal", "PingPong"};

// The delay plug-in's seven rows.
constexpr ParamInfo DELAY[] = {
    {.id = "time", .unit = "ms", .min = 20, .max = 1000, .default_value = 400, .log = true},
    {.id = "ratio", .min = 0.2f, .max = 0.9f, .default_value = 0.618f},
    {.id = "decay_db", .unit = "dB", .min = -24, .max = 0, .default_value = -4},
    {.id = "feedback", .min = 0, .max = 0.9f, .default_value = 0.3f},
    {.id = "damp", .unit = "Hz", .min = 1000, .max = 20000, .default_value = 6000, .log = true},
    {.id = "mode",
     .choices = MODES,
     .min = 0,
     .max = 1,
     .default_value = 0,
     .kind = ParamKind::Choice},
    {.id = "mix", .min = 0, .max = 1, .default_value = 0.35f},
};

// A plain value, a per-channel value, a meter and a toggle.
constexpr ParamInfo MIXED[] = {
    {.id = "gain", .min = -60, .max = 12, .default_value = 0},
    {.id = "trim", .min = -12, .max = 12, .default_value = 1, .per_channel = true},
    {.id = "level", .min = -100, .max = 0, .default_value = -100, .kind = ParamKind::Meter},
    {.id = "bypass", .min = 0, .max = 1, .default_value = 0, .kind = ParamKind::Toggle},
};

std::shared_ptr<ParamSet> make(std::span<const ParamInfo> table, std::size_t max_channels = 1) {
    auto set = ParamSet::with_channels(table, max_channels);
    if (!set) ADD_FAILURE() << set.error();
    return std::move(set).value();
}

// Every slot of every parameter, to compare sets bit for bit.
std::vector<std::uint32_t> slots(const ParamSet& set) {
    std::vector<std::uint32_t> out;
    for (const Param& p : set.params()) {
        for (std::size_t s = 0; s < p.slot_count(); ++s) {
            out.push_back(std::bit_cast<std::uint32_t>(p.get_ch(s)));
        }
    }
    return out;
}

struct Block {
    std::vector<std::uint8_t> bytes;

    Block& text(const char* four) {
        bytes.insert(bytes.end(), four, four + 4);
        return *this;
    }
    Block& u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    Block& f32(float v) { return u32(std::bit_cast<std::uint32_t>(v)); }
    Block& record(std::initializer_list<float> values) {
        u32(static_cast<std::uint32_t>(values.size()));
        for (float v : values)
            f32(v);
        return *this;
    }
    static Block header(std::uint32_t count) { return Block{}.text("ORBA").u32(1).u32(count); }
};

TEST(State, TheDelayPluginsDefaultsMakeASixtyEightByteBlock) {
    auto set = make(DELAY, 64);
    Block expected = Block::header(7);
    for (const ParamInfo& row : DELAY)
        expected.record({row.default_value});
    const auto saved = state::save(*set);
    EXPECT_EQ(saved.size(), 68u);
    EXPECT_EQ(saved, expected.bytes);
}

TEST(State, ValuesSurviveARoundTripBitForBit) {
    auto source = make(MIXED, 4);
    source->at(0).set(-7.25f);
    source->at(1).set_ch(0, -3.5f);
    source->at(1).set_ch(3, 11.0f);
    source->at(3).set(1.0f);
    const auto saved = state::save(*source);
    EXPECT_EQ(saved.size(), 12u + 8 + (4 + 16) + 8 + 8);

    auto target = make(MIXED, 4);
    ASSERT_TRUE(state::load(*target, saved));
    auto expected = slots(*source);
    // The meter is saved but never loaded: it stays at its own value.
    expected[1 + 4] = std::bit_cast<std::uint32_t>(-100.0f);
    EXPECT_EQ(slots(*target), expected);
}

TEST(State, MeterValuesAreSavedButNeverLoaded) {
    auto source = make(MIXED, 4);
    source->at(2).set(-20.0f);
    const auto saved = state::save(*source);
    auto target = make(MIXED, 4);
    ASSERT_TRUE(state::load(*target, saved));
    EXPECT_EQ(target->at(2).get(), -100.0f);
    auto again = state::save(*source);
    EXPECT_EQ(again, saved);
    // The meter record holds -20 at bytes 12 + 8 + 20 + 4.
    float meter;
    std::memcpy(&meter, saved.data() + 44, 4);
    EXPECT_EQ(meter, -20.0f);
}

TEST(State, ABlockWithAnotherMagicSpellingIsAccepted) {
    auto set = make(DELAY);
    Block block = Block{}.text("KETH").u32(1).u32(1).record({700.0f});
    EXPECT_TRUE(state::load(*set, block.bytes));
    EXPECT_EQ(set->at(0).get(), 700.0f);
}

TEST(State, RejectedBlocksChangeNothingAndNotifyNoOne) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    auto complete = [] {
        Block b = Block::header(7);
        for (int i = 0; i < 6; ++i)
            b.record({0.5f});
        return b;
    };
    std::vector<std::uint8_t> eleven = Block::header(0).bytes;
    eleven.pop_back();
    const Case cases[] = {
        {"empty", {}},
        {"11 bytes", eleven},
        {"foreign magic", Block{}.text("ORBB").u32(1).u32(0).bytes},
        {"lower-case magic", Block{}.text("orba").u32(1).u32(0).bytes},
        {"version 2", Block{}.text("ORBA").u32(2).u32(0).bytes},
        {"version 0", Block{}.text("ORBA").u32(0).u32(0).bytes},
        {"last record one value short", complete().u32(3).f32(0.5f).f32(0.5f).bytes},
        {"last record missing", complete().bytes},
        {"slot count cut short",
         [&] {
             auto b = complete().bytes;
             b.insert(b.end(), {1, 0});
             return b;
         }()},
        // 4 x 2^30 and 4 x (2^32 - 1) wrap to 0 and -4 in 32-bit arithmetic.
        {"slot count 2^30", Block::header(1).u32(1u << 30).f32(1).bytes},
        {"slot count near 2^32", Block::header(1).u32(0xFFFFFFFFu).f32(1).f32(2).bytes},
        {"record count near 2^32", Block::header(0xFFFFFFFFu).record({1}).bytes},
    };
    for (const Case& c : cases) {
        auto set = make(DELAY);
        int count = 0;
        set->install_listener([&](ParamSet&) { ++count; });
        const auto before = slots(*set);
        EXPECT_FALSE(state::load(*set, c.bytes)) << c.what;
        EXPECT_EQ(slots(*set), before) << c.what;
        EXPECT_EQ(count, 0) << c.what;
    }
}

TEST(State, LoadedValuesAreNormalisedNotRejected) {
    auto set = make(DELAY);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Block block = Block::header(7)
                      .record({nan})
                      .record({5000.0f})
                      .record({-std::numeric_limits<float>::infinity()})
                      .record({0.5f})
                      .record({100.0f})
                      .record({0.6f})
                      .record({0.5f});
    ASSERT_TRUE(state::load(*set, block.bytes));
    const float expected[] = {400.0f, 0.9f, -24.0f, 0.5f, 1000.0f, 1.0f, 0.5f};
    for (std::size_t i = 0; i < 7; ++i)
        EXPECT_EQ(set->at(i).get(), expected[i]) << i;
}

TEST(State, AnEmptyAcceptedBlockStillNotifies) {
    auto set = make(DELAY);
    set->at(0).set(123.0f);
    int count = 0;
    set->install_listener([&](ParamSet&) { ++count; });
    const auto before = slots(*set);
    EXPECT_TRUE(state::load(*set, Block::header(0).bytes));
    EXPECT_EQ(slots(*set), before);
    EXPECT_EQ(count, 1);
}

TEST(State, RecordsAndSlotsAreMatchedByPositionOnly) {
    auto set = make(MIXED, 4);
    // Fewer records than parameters: the toggle keeps its value.
    set->at(3).set(1.0f);
    Block fewer = Block::header(2).record({5.0f}).record({2.0f, 3.0f});
    ASSERT_TRUE(state::load(*set, fewer.bytes));
    EXPECT_EQ(set->at(0).get(), 5.0f);
    EXPECT_EQ(set->at(1).get_ch(0), 2.0f);
    EXPECT_EQ(set->at(1).get_ch(1), 3.0f);
    EXPECT_EQ(set->at(1).get_ch(2), 1.0f);
    EXPECT_EQ(set->at(3).get(), 1.0f);

    // Extra slots, extra records and trailing bytes are ignored.
    Block more = Block::header(6)
                     .record({6.0f, 99.0f})
                     .record({4.0f, 4.0f, 4.0f, 4.0f, 4.0f, 4.0f})
                     .record({-1.0f})
                     .record({0.0f})
                     .record({1.0f, 2.0f})
                     .record({})
                     .u32(0xDEADBEEF);
    ASSERT_TRUE(state::load(*set, more.bytes));
    EXPECT_EQ(set->at(0).get(), 6.0f);
    for (std::size_t ch = 0; ch < 4; ++ch)
        EXPECT_EQ(set->at(1).get_ch(ch), 4.0f);
    EXPECT_EQ(set->at(2).get(), -100.0f);
    EXPECT_EQ(set->at(3).get(), 0.0f);
}

TEST(State, ABlockLoadsAtAnyByteAlignment) {
    auto source = make(DELAY);
    source->at(6).set(0.8f);
    auto saved = state::save(*source);
    saved.insert(saved.begin(), 3, 0xAA);
    auto target = make(DELAY);
    ASSERT_TRUE(state::load(*target, std::span(saved).subspan(3)));
    EXPECT_EQ(target->at(6).get(), 0.8f);
}

}  // namespace
}  // namespace orba
