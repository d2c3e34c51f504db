#include "orba/au/wrapper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "orba/core/fatal.h"
#include "tests/au/host.h"
#include "tests/support/overflowing_sum.h"

// What only C++ reaches: layouts and parameter names the shipped components
// do not have. Everything a host can see of them is tested through the built
// components.
namespace orba::au {
namespace {

class Shaped final : public Inner {
  public:
    Shaped(Layout layout, std::span<const ParamInfo> table, bool instrument)
        : layout_(layout), instrument_(instrument) {
        auto set = ParamSet::with_channels(table, MAX_CHANNELS);
        if (!set) fatal(set.error());
        params_ = std::move(set.value());
    }
    Layout layout() const override { return layout_; }
    std::shared_ptr<ParamSet> params() const override { return params_; }
    void prepare(const ProcessSetup&) override {}
    void process(Buffers, const ProcessContext&) override {}
    std::uint32_t latency() override { return 0; }
    std::uint32_t tail() override { return 0; }
    bool is_instrument() const override { return instrument_; }
    void midi(std::uint8_t, std::uint8_t, std::uint8_t, std::uint32_t) override {}

  private:
    Layout layout_;
    bool instrument_;
    std::shared_ptr<ParamSet> params_;
};

constexpr ParamInfo PLAIN[] = {{.id = "gain", .name = "Gain", .min = 0.0f, .max = 1.0f}};

std::unique_ptr<Instance> instance(Layout layout, std::span<const ParamInfo> table = PLAIN,
                                   bool instrument = false) {
    return std::make_unique<Instance>(AudioComponentDescription{},
                                      std::make_unique<Shaped>(layout, table, instrument));
}

AudioStreamBasicDescription float_format(UInt32 channels, Float64 rate) {
    AudioStreamBasicDescription f{};
    f.mSampleRate = rate;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags =
        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    f.mBytesPerPacket = 4;
    f.mFramesPerPacket = 1;
    f.mBytesPerFrame = 4;
    f.mChannelsPerFrame = channels;
    f.mBitsPerChannel = 32;
    return f;
}

TEST(AuFormat, AcceptsNonInterleavedFloatWithinTheChannelBoundsAndTheRateLimit) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* what;
        void (*change)(AudioStreamBasicDescription&);
        bool accepted;
    } cases[] = {
        {"canonical", [](auto&) {}, true},
        {"an extra flag", [](auto& f) { f.mFormatFlags |= kAudioFormatFlagIsNonMixable; }, true},
        {"interleaved", [](auto& f) { f.mFormatFlags &= ~kAudioFormatFlagIsNonInterleaved; },
         false},
        {"not packed", [](auto& f) { f.mFormatFlags &= ~kAudioFormatFlagIsPacked; }, false},
        {"integers",
         [](auto& f) {
             f.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked |
                              kAudioFormatFlagIsNonInterleaved;
         },
         false},
        {"64-bit", [](auto& f) { f.mBitsPerChannel = 64; }, false},
        {"8 bytes a frame", [](auto& f) { f.mBytesPerFrame = 8; }, false},
        {"8 bytes a packet", [](auto& f) { f.mBytesPerPacket = 8; }, false},
        {"2 frames a packet", [](auto& f) { f.mFramesPerPacket = 2; }, false},
        {"not PCM", [](auto& f) { f.mFormatID = 0x61616320; }, false},
        {"no channel", [](auto& f) { f.mChannelsPerFrame = 0; }, false},
        {"fewest channels", [](auto& f) { f.mChannelsPerFrame = 2; }, true},
        {"most channels", [](auto& f) { f.mChannelsPerFrame = 8; }, true},
        {"one channel too many", [](auto& f) { f.mChannelsPerFrame = 9; }, false},
        {"the highest rate", [](auto& f) { f.mSampleRate = MAX_SAMPLE_RATE; }, true},
        {"past the highest rate",
         [](auto& f) { f.mSampleRate = std::nextafter(MAX_SAMPLE_RATE, 1e9); }, false},
        {"rate 0", [](auto& f) { f.mSampleRate = 0.0; }, false},
        {"a negative rate", [](auto& f) { f.mSampleRate = -48000.0; }, false},
        {"rate NaN", [](auto& f) { f.mSampleRate = std::nan(""); }, false},
        {"an infinite rate", [](auto& f) { f.mSampleRate = inf; }, false},
    };
    for (const auto& c : cases) {
        AudioStreamBasicDescription format = float_format(4, 48000.0);
        c.change(format);
        const std::optional<Format> got = accept_format(format, 2, 8);
        ASSERT_EQ(got.has_value(), c.accepted) << c.what;
        if (got) {
            EXPECT_EQ(got->channels, format.mChannelsPerFrame) << c.what;
            EXPECT_EQ(got->sample_rate, format.mSampleRate) << c.what;
        }
    }
}

std::vector<std::pair<int, int>> pairs(const std::vector<AUChannelInfo>& infos) {
    std::vector<std::pair<int, int>> out;
    for (const AUChannelInfo& info : infos)
        out.emplace_back(info.inChannels, info.outChannels);
    return out;
}

std::vector<std::pair<int, int>> counts(int in, int first, int last) {
    std::vector<std::pair<int, int>> out;
    for (int n = first; n <= last; ++n)
        out.emplace_back(in < 0 ? n : in, n);
    return out;
}

TEST(AuChannelInfos, ListTheChannelCountsEachBusRuleAllows) {
    const struct {
        const char* what;
        Channels channels;
        bool instrument;
        std::vector<std::pair<int, int>> expected;
    } cases[] = {
        {"any count", Channels::Any{}, false, {{-1, -1}}},
        {"1 to 64", Channels::Range{1, 64}, false, {{-1, -1}}},
        {"1 to 3", Channels::Range{1, 3}, false, counts(-1, 1, 3)},
        {"2 to 64", Channels::Range{2, 64}, false, counts(-1, 2, 64)},
        {"exactly 2", Channels::Fixed{2}, false, {{2, 2}}},
        {"an instrument of 1 to 32", Channels::Range{1, 32}, true, counts(0, 1, 16)},
        {"an instrument of 2", Channels::Fixed{2}, true, {{0, 2}}},
        {"an instrument of 20 to 32", Channels::Range{20, 32}, true, {}},
    };
    for (const auto& c : cases) {
        const Bus bus[] = {{.name = "Main", .channels = c.channels}};
        const Layout layout = c.instrument ? Layout{.outputs = bus} : Layout{.inputs = bus};
        EXPECT_EQ(pairs(instance(layout, PLAIN, c.instrument)->channel_infos()), c.expected)
            << c.what;
    }
}

// Names are cut at 51 bytes so the 52-byte field keeps its terminator, and
// never inside a character, which a host would show as garbage.
TEST(AuParameterInfo, NamesAreCutWholeCharactersAtATimeAndTheFullNameGoesAlong) {
    const std::string a49(49, 'a');
    const struct {
        std::string name;
        bool per_channel;
        std::string cut;
    } cases[] = {
        {a49 + "\xC3\xA9", false, a49 + "\xC3\xA9"},  // 51 bytes: whole
        {a49 + "a\xC3\xA9", false, a49 + "a"},        // 52: the last character goes
        {a49 + "\xE2\x82\xAC", false, a49},           // a 3-byte character at the edge
        {a49 + "\xF0\x9F\x8E\xB5xyz", false, a49},    // a 4-byte one
        {"Trim", true, "Trim 2"},                     // channel 1 of a per-channel one
        {a49 + "a", true, a49 + "a "},                // its number cut off
    };
    std::vector<ParamInfo> table;
    for (const auto& c : cases) {
        table.push_back(
            ParamInfo{.id = c.name, .name = c.name, .max = 1.0f, .per_channel = c.per_channel});
    }
    const std::unique_ptr<Instance> unit = instance(Layout{}, table);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const auto id = static_cast<AudioUnitParameterID>(i * 128 + (c.per_channel ? 1 : 0));
        const std::string full = c.per_channel ? c.name + " 2" : c.name;

        AudioUnitParameterInfo info;
        UInt32 size = sizeof info;
        ASSERT_EQ(unit->get_property(kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, id,
                                     &info, &size),
                  noErr);
        ASSERT_NE(std::memchr(info.name, '\0', sizeof info.name), nullptr) << i;
        EXPECT_EQ(std::string(info.name), c.cut) << i;
        EXPECT_EQ(sys::string_from_cf(info.cfNameString), full) << i;
        CFRelease(info.cfNameString);

        AudioUnitParameterIDName name{.inID = id, .inDesiredLength = 51, .outName = nullptr};
        size = sizeof name;
        ASSERT_EQ(unit->get_property(kAudioUnitProperty_ParameterIDName, kAudioUnitScope_Global, 0,
                                     &name, &size),
                  noErr);
        EXPECT_EQ(sys::string_from_cf(name.outName), c.cut) << i;
        CFRelease(name.outName);
    }
}

// Also while bypassed, when the host's own input comes straight back.
TEST(AuRender, NoNonFiniteSampleReachesTheHostAndEveryFiniteOneIsUntouched) {
    Instance unit(AudioComponentDescription{}, std::make_unique<Adapter<test::OverflowingSum>>());
    test::Source source;
    source.signal = test::huge_and_small(2, 500);
    const AURenderCallbackStruct callback = source.callback();
    ASSERT_EQ(unit.set_property(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                                &callback, sizeof callback),
              noErr);
    ASSERT_EQ(unit.initialize(), noErr);
    test::BufferList out(2, 500);
    ASSERT_EQ(unit.render(nullptr, nullptr, 0, 500, out.list()), noErr);
    std::size_t overflows = 0;
    EXPECT_EQ(test::differs_from_graph(source.signal, out.samples, overflows), "");
    EXPECT_GT(overflows, 10u);

    unit.bypass = true;
    source.position = 0;
    source.signal[1][7] = std::numeric_limits<float>::quiet_NaN();
    ASSERT_EQ(unit.render(nullptr, nullptr, 0, 500, out.list()), noErr);
    EXPECT_EQ(out.samples[0], source.signal[0]);
    EXPECT_EQ(out.samples[1][7], 0.0f);
}

}  // namespace
}  // namespace orba::au
