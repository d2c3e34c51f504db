#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "orba/core/flush_denormals.h"
#include "tests/au/probe_instrument.h"
#include "tests/au/render_support.h"
#include "tests/clap/host.h"
#include "tests/clap/probe_plugin.h"
#include "varnel-delay/varnel_delay.h"

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace orba::test {
namespace {

using Signal = std::vector<std::vector<float>>;

// `channels` channels of seeded noise in [-1, 1].
Signal noise(std::uint32_t channels, std::size_t frames, unsigned seed = 5) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    Signal signal(channels, std::vector<float>(frames));
    for (auto& channel : signal)
        for (float& s : channel)
            s = sample(random);
    return signal;
}

// The probe's factor for a channel, computed as the probe computes it.
float probe_gain(float gain_db, float trim = 1.0f) {
    return std::pow(10.0f, gain_db / 20.0f) * trim;
}

// Whether every channel of `out` is the input from `start` on scaled by its
// factor, bit for bit.
testing::AssertionResult scaled(std::span<const float> out, const std::vector<float>& input,
                                std::size_t start, float factor) {
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float expected = input[start + i] * factor;
        if (std::memcmp(&out[i], &expected, sizeof expected) != 0) {
            return testing::AssertionFailure()
                   << "frame " << i << ": " << out[i] << " instead of " << expected;
        }
    }
    return testing::AssertionSuccess();
}

class AuRender : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(probe) << probe.error();
        source.signal = noise(2, 8192);
        ASSERT_EQ(probe->set_input(source), noErr);
    }

    std::optional<float> meter(Probe::Index index) { return probe->parameter(param_id(index)); }

    Loaded probe{PROBE};
    Source source;
};

// An input that fills the buffers and then takes the second one away.
OSStatus drop_second_buffer(void* source, AudioUnitRenderActionFlags* flags,
                            const AudioTimeStamp* time, UInt32 bus, UInt32 frames,
                            AudioBufferList* data) {
    const OSStatus status = Source::render(source, flags, time, bus, frames, data);
    data->mBuffers[1].mData = nullptr;
    return status;
}

// LastRenderError starts at a value no render produces, so any write shows.
TEST_F(AuRender, OnlyRendersRefusedAfterTheirArgumentsAreCheckedSetLastRenderError) {
    constexpr OSStatus UNTOUCHED = 1234;
    constexpr AURenderCallback FEED = Source::render;
    const struct {
        const char* what;
        bool initialized;
        UInt32 bus;
        UInt32 frames;
        UInt32 buffers;  // 0: no list at all
        AURenderCallback input;
        OSStatus input_status;
        OSStatus status;
        OSStatus last_error;
    } cases[] = {
        {"before Initialize", false, 0, 64, 2, FEED, noErr, kAudioUnitErr_Uninitialized, UNTOUCHED},
        {"1157 frames", true, 0, 1157, 2, FEED, noErr, kAudioUnitErr_TooManyFramesToProcess,
         UNTOUCHED},
        {"bus 1", true, 1, 64, 2, FEED, noErr, kAudioUnitErr_InvalidElement, UNTOUCHED},
        {"no buffer list", true, 0, 64, 0, FEED, noErr, kAudio_ParamError, UNTOUCHED},
        {"1156 frames", true, 0, 1156, 2, FEED, noErr, noErr, UNTOUCHED},
        {"one buffer for two channels", true, 0, 64, 1, FEED, noErr,
         kAudioUnitErr_FormatNotSupported, kAudioUnitErr_FormatNotSupported},
        {"three buffers for two channels", true, 0, 64, 3, FEED, noErr,
         kAudioUnitErr_FormatNotSupported, kAudioUnitErr_FormatNotSupported},
        {"no input", true, 0, 64, 2, nullptr, noErr, kAudioUnitErr_NoConnection,
         kAudioUnitErr_NoConnection},
        {"a failing input", true, 0, 64, 2, FEED, -7, -7, -7},
        {"an input that drops a buffer", true, 0, 64, 2, drop_second_buffer, noErr,
         kAudio_ParamError, kAudio_ParamError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded unit(PROBE);
        ASSERT_TRUE(unit);
        Source input;
        input.signal = noise(2, c.frames);
        input.status = c.input_status;
        if (c.input != nullptr) {
            ASSERT_EQ(unit->set(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                                AURenderCallbackStruct{c.input, &input}),
                      noErr);
        }
        if (c.initialized) {
            ASSERT_EQ(unit->initialize(), noErr);
        }
        ASSERT_EQ(
            unit->set(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0, UNTOUCHED),
            noErr);
        BufferList list(std::max<UInt32>(c.buffers, 1), c.frames);
        AudioUnitRenderActionFlags flags = 0;
        const AudioTimeStamp time = sample_time(0.0);
        EXPECT_EQ(render_raw(*unit, &flags, &time, c.bus, c.frames,
                             c.buffers == 0 ? nullptr : list.list()),
                  c.status);
        OSStatus last = 0;
        ASSERT_EQ(unit->get(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0, last),
                  noErr);
        EXPECT_EQ(last, c.last_error);
    }
}

// A larger slice than the default shows the lent buffers are sized by it.
TEST_F(AuRender, NullBufferPointersGetTheUnitsOwnBuffersBackFilled) {
    constexpr UInt32 FRAMES = 3000;
    ASSERT_EQ(
        probe->set(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, FRAMES),
        noErr);
    ASSERT_EQ(probe->set_parameter(param_id(Probe::TRIM, 1), 0.5f), noErr);
    ASSERT_EQ(probe->initialize(), noErr);
    BufferList list(2, FRAMES, true);
    ASSERT_EQ(probe->render(FRAMES, list.list()), noErr);
    for (UInt32 c = 0; c < 2; ++c) {
        const AudioBuffer& buffer = list.list()->mBuffers[c];
        ASSERT_NE(buffer.mData, nullptr);
        EXPECT_EQ(buffer.mNumberChannels, 1u);
        EXPECT_EQ(buffer.mDataByteSize, FRAMES * 4);
        EXPECT_TRUE(
            scaled(list.channel(c), source.signal[c], 0, probe_gain(0.0f, c == 0 ? 1.0f : 0.5f)));
    }
    EXPECT_NE(list.list()->mBuffers[0].mData, list.list()->mBuffers[1].mData);
}

// With bypass the gain the probe would apply is not applied and the meters
// the probe writes while processing keep their starting values.
TEST_F(AuRender, BypassPassesTheInputUnchangedWithoutRunningThePlugin) {
    ASSERT_EQ(probe->set_parameter(param_id(Probe::GAIN), -6.0f), noErr);
    ASSERT_EQ(probe->initialize(), noErr);
    NotifyLog notifies;
    ASSERT_EQ(probe->add_render_notify(NotifyLog::proc, &notifies), noErr);
    for (const UInt32 bypass : {1u, 0u}) {
        SCOPED_TRACE(bypass != 0 ? "bypassed" : "processed");
        ASSERT_EQ(probe->set(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, bypass),
                  noErr);
        BufferList list(2, 256);
        const std::size_t start = source.position;
        notifies.calls = 0;
        ASSERT_EQ(probe->render(256, list.list(), 1000.0), noErr);
        const float factor = bypass != 0 ? 1.0f : probe_gain(-6.0f);
        for (UInt32 c = 0; c < 2; ++c)
            EXPECT_TRUE(scaled(list.channel(c), source.signal[c], start, factor));
        EXPECT_EQ(meter(Probe::POSITION), bypass != 0 ? -1.0f : 1000.0f);
        EXPECT_EQ(notifies.calls, 2u);
    }
}

// The probe's latency is its parameter as of its last block, its tail twice
// the parameter; a bypassed render leaves both as they were.
TEST_F(AuRender, LatencyAndTailFollowThePluginAfterEveryProcessedRender) {
    ASSERT_EQ(probe->initialize(), noErr);
    const struct {
        UInt32 bypass;
        float samples;
        Float64 latency;
    } cases[] = {{0, 441.0f, 441.0}, {1, 882.0f, 441.0}, {0, 882.0f, 882.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.samples << (c.bypass != 0 ? " bypassed" : ""));
        ASSERT_EQ(probe->set(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, c.bypass),
                  noErr);
        ASSERT_EQ(probe->set_parameter(param_id(Probe::LATENCY), c.samples), noErr);
        BufferList list(2, 64);
        ASSERT_EQ(probe->render(64, list.list()), noErr);
        Float64 latency = 0.0;
        Float64 tail = 0.0;
        ASSERT_EQ(probe->get(kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0, latency),
                  noErr);
        ASSERT_EQ(probe->get(kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0, tail), noErr);
        EXPECT_EQ(latency, c.latency / 44100.0);
        EXPECT_EQ(tail, 2.0 * c.latency / 44100.0);
    }
}

TEST_F(AuRender, NotifiesSeePreRenderThenPostRenderAndNeitherBitStays) {
    constexpr AudioUnitRenderActionFlags HOST_BIT = kAudioUnitRenderAction_DoNotCheckRenderArgs;
    constexpr AudioUnitRenderActionFlags PRE = kAudioUnitRenderAction_PreRender;
    constexpr AudioUnitRenderActionFlags POST = kAudioUnitRenderAction_PostRender;
    constexpr AudioUnitRenderActionFlags SILENCE = kAudioUnitRenderAction_OutputIsSilence;
    ASSERT_EQ(probe->initialize(), noErr);
    NotifyLog log;
    ASSERT_EQ(probe->add_render_notify(NotifyLog::proc, &log), noErr);
    const struct {
        const char* what;
        bool with_flags;
        AudioUnitRenderActionFlags before, pre, post, after;
    } cases[] = {
        {"the host's flags", true, HOST_BIT | SILENCE, HOST_BIT | SILENCE | PRE, HOST_BIT | POST,
         HOST_BIT},
        {"no flags", false, 0, PRE, POST, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        log.calls = 0;
        AudioUnitRenderActionFlags flags = c.before;
        BufferList list(2, 64);
        ASSERT_EQ(render_raw(*probe, c.with_flags ? &flags : nullptr, nullptr, 0, 64, list.list()),
                  noErr);
        ASSERT_EQ(log.calls, 2u);
        EXPECT_EQ(log.flags[0], c.pre);
        EXPECT_EQ(log.flags[1], c.post);
        EXPECT_EQ(flags, c.after);
    }
}

TEST_F(AuRender, ANotifyAddedTwiceRunsTwiceAndOneRemovalDropsBoth) {
    ASSERT_EQ(probe->initialize(), noErr);
    NotifyLog log;
    NotifyLog other;
    ASSERT_EQ(probe->add_render_notify(NotifyLog::proc, &log), noErr);
    ASSERT_EQ(probe->add_render_notify(NotifyLog::proc, &other), noErr);
    ASSERT_EQ(probe->add_render_notify(NotifyLog::proc, &log), noErr);
    BufferList list(2, 64);
    ASSERT_EQ(probe->render(64, list.list()), noErr);
    EXPECT_EQ(log.calls, 4u);
    ASSERT_EQ(probe->remove_render_notify(NotifyLog::proc, &log), noErr);
    ASSERT_EQ(probe->render(64, list.list()), noErr);
    EXPECT_EQ(log.calls, 4u);
    EXPECT_EQ(other.calls, 4u);
}

TEST_F(AuRender, ScheduledChangesTakeTheirLastValueBeforeTheNextRendersAudio) {
    constexpr auto GAIN = param_id(Probe::GAIN);
    const struct {
        const char* what;
        std::vector<AudioUnitParameterEvent> events;
        float gain;
    } cases[] = {
        {"two values", {immediate_event(GAIN, -3.0f), immediate_event(GAIN, -9.0f, 10)}, -9.0f},
        {"a ramp", {ramp_event(GAIN, -20.0f, -12.0f, 64)}, -12.0f},
        {"a value then a ramp",
         {immediate_event(GAIN, -3.0f), ramp_event(GAIN, -20.0f, -1.0f, 8)},
         -1.0f},
        {"a ramp then a value",
         {ramp_event(GAIN, -20.0f, -1.0f, 8), immediate_event(GAIN, -5.0f)},
         -5.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded unit(PROBE);
        ASSERT_TRUE(unit);
        Source input;
        input.signal = noise(2, 64);
        ASSERT_EQ(unit->set_input(input), noErr);
        ASSERT_EQ(unit->initialize(), noErr);
        ASSERT_EQ(unit->schedule(c.events), noErr);
        EXPECT_EQ(unit->parameter(GAIN), 0.0f) << "applied before the render";
        BufferList list(2, 64);
        ASSERT_EQ(unit->render(64, list.list()), noErr);
        EXPECT_EQ(unit->parameter(GAIN), c.gain);
        EXPECT_TRUE(scaled(list.channel(0), input.signal[0], 0, probe_gain(c.gain)));
    }
}

// The upstream unit halves the level; the last input property set wins.
TEST_F(AuRender, AConnectedUnitFeedsTheInputUntilARenderCallbackReplacesIt) {
    Loaded upstream(PROBE);
    ASSERT_TRUE(upstream);
    Source upstream_input;
    upstream_input.signal = noise(2, 256, 9);
    ASSERT_EQ(upstream->set_input(upstream_input), noErr);
    ASSERT_EQ(upstream->set_parameter(param_id(Probe::GAIN), -6.0f), noErr);
    ASSERT_EQ(upstream->initialize(), noErr);

    const AudioUnitConnection connection{
        .sourceAudioUnit = upstream->handle(), .sourceOutputNumber = 0, .destInputNumber = 0};
    ASSERT_EQ(probe->set(kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0, connection),
              noErr);
    AURenderCallbackStruct callback{};
    ASSERT_EQ(probe->get(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, callback),
              noErr);
    EXPECT_EQ(callback.inputProc, nullptr);
    ASSERT_EQ(probe->initialize(), noErr);
    BufferList list(2, 128);
    ASSERT_EQ(probe->render(128, list.list()), noErr);
    EXPECT_EQ(upstream_input.calls, 1);
    EXPECT_EQ(source.calls, 0);
    for (UInt32 c = 0; c < 2; ++c)
        EXPECT_TRUE(scaled(list.channel(c), upstream_input.signal[c], 0, probe_gain(-6.0f)));

    ASSERT_EQ(probe->set_input(source), noErr);
    AudioUnitConnection now{};
    ASSERT_EQ(probe->get(kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0, now), noErr);
    EXPECT_EQ(now.sourceAudioUnit, nullptr);
    ASSERT_EQ(probe->render(128, list.list()), noErr);
    EXPECT_EQ(upstream_input.calls, 1);
    for (UInt32 c = 0; c < 2; ++c)
        EXPECT_TRUE(scaled(list.channel(c), source.signal[c], 0, 1.0f));
}

// The probe shows what it was told: tempo, position and playing, or -1 for
// a tempo or position it was not given.
TEST_F(AuRender, TransportComesFromTheHostsCallbacksAndTheTimeStamp) {
    ASSERT_EQ(probe->initialize(), noErr);
    const AudioTimeStamp stamped = sample_time(500.0);
    const AudioTimeStamp unstamped{};
    const struct {
        const char* what;
        bool tempo_proc, transport_proc;
        Transport host;
        const AudioTimeStamp* time;
        float tempo, position, playing;
    } cases[] = {
        {"both callbacks",
         true,
         true,
         {133.0, noErr, true, 4410.0, noErr},
         &stamped,
         133.0f,
         4410.0f,
         1.0f},
        {"a failing tempo",
         true,
         true,
         {133.0, -1, true, 4410.0, noErr},
         &stamped,
         -1.0f,
         4410.0f,
         1.0f},
        {"a zero tempo",
         true,
         true,
         {0.0, noErr, true, 4410.0, noErr},
         &stamped,
         -1.0f,
         4410.0f,
         1.0f},
        {"a failing transport",
         true,
         true,
         {133.0, noErr, true, 4410.0, -1},
         &stamped,
         133.0f,
         500.0f,
         0.0f},
        {"tempo only",
         true,
         false,
         {90.0, noErr, true, 4410.0, noErr},
         &stamped,
         90.0f,
         500.0f,
         0.0f},
        {"a stopped transport only",
         false,
         true,
         {133.0, noErr, false, 96.0, noErr},
         &unstamped,
         -1.0f,
         96.0f,
         0.0f},
        {"no callbacks and no sample time", false, false, {}, &unstamped, -1.0f, -1.0f, 0.0f},
        {"no callbacks and no time stamp", false, false, {}, nullptr, -1.0f, -1.0f, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Transport host = c.host;
        ASSERT_EQ(probe->set(kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                             host.callbacks(c.tempo_proc, c.transport_proc)),
                  noErr);
        BufferList list(2, 32);
        AudioUnitRenderActionFlags flags = 0;
        ASSERT_EQ(render_raw(*probe, &flags, c.time, 0, 32, list.list()), noErr);
        EXPECT_EQ(meter(Probe::TEMPO), c.tempo);
        EXPECT_EQ(meter(Probe::POSITION), c.position);
        EXPECT_EQ(meter(Probe::PLAYING), c.playing);
    }
}

#if defined(__x86_64__)
// Flush-to-zero in MXCSR; denormals-are-zero (0x40) stays the caller's.
constexpr unsigned FLUSHING = 0x8000;
constexpr unsigned DAZ = 0x40;

struct CsrProbe {
    static OSStatus input(void* self, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                          UInt32 frames, AudioBufferList* data) {
        auto& probe = *static_cast<CsrProbe*>(self);
        probe.seen = _mm_getcsr();
        // Host code: its denormal inputs must still count.
        volatile float denormal = 1e-39f;
        probe.product = denormal * 1e10f;
        for (UInt32 c = 0; c < data->mNumberBuffers; ++c)
            std::fill_n(static_cast<float*>(data->mBuffers[c].mData), frames, 1e-38f);
        return noErr;
    }
    unsigned seen = 0;
    float product = 0.0f;
};

TEST_F(AuRender, DenormalsAreFlushedWhileRenderingAndTheCallersModeComesBackExactly) {
    CsrProbe input;
    ASSERT_EQ(probe->set(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                         AURenderCallbackStruct{CsrProbe::input, &input}),
              noErr);
    ASSERT_EQ(probe->initialize(), noErr);
    // The default, both flush bits already set, and rounding toward zero.
    const unsigned modes[] = {0x1F80, 0x1F80 | FLUSHING | DAZ, 0x7F80};
    for (const unsigned mode : modes) {
        for (const UInt32 buffers : {2u, 1u}) {
            SCOPED_TRACE(testing::Message()
                         << std::hex << "MXCSR " << mode << ", " << buffers << " buffers");
            BufferList list(buffers, 64);
            AudioUnitRenderActionFlags flags = 0;
            input.seen = 0;
            const unsigned saved = _mm_getcsr();
            _mm_setcsr(mode);
            const OSStatus status = render_raw(*probe, &flags, nullptr, 0, 64, list.list());
            const unsigned after = _mm_getcsr();
            _mm_setcsr(saved);
            EXPECT_EQ(after, mode);
            if (buffers == 2) {
                ASSERT_EQ(status, noErr);
                EXPECT_EQ(input.seen & FLUSHING, FLUSHING) << "not flushing for the input";
                EXPECT_EQ(input.seen & DAZ, mode & DAZ) << "the host's denormal inputs changed";
                if ((mode & DAZ) == 0) {
                    EXPECT_NE(input.product, 0.0f);
                }
                EXPECT_EQ(meter(Probe::FLUSHED), (mode & DAZ) != 0 ? 2.0f : 1.0f);
            } else {
                EXPECT_EQ(status, kAudioUnitErr_FormatNotSupported);
            }
        }
    }
}
#endif

TEST(AuMidi, AnEffectRefusesMidiAndSysEx) {
    Loaded probe(PROBE);
    ASSERT_TRUE(probe) << probe.error();
    EXPECT_EQ(probe->midi(0x90, 60, 100), kAudioUnitErr_InvalidProperty);
    const UInt8 message[] = {0xF0, 0x7E, 0xF7};
    EXPECT_EQ(probe->lookup<SysExFn>(kMusicDeviceSysExSelect)(probe->interface(), message, 3),
              kAudioUnitErr_InvalidProperty);
}

// Event i carries i in its data bytes above the bits the unit must mask, so
// the last one delivered tells which were kept.
TEST(AuMidi, AnInstrumentPlaysTheFirst1024QueuedEventsMaskedAndWithinTheBlock) {
    Loaded instrument(INSTRUMENT);
    ASSERT_TRUE(instrument) << instrument.error();
    ASSERT_EQ(instrument->initialize(), noErr);
    const auto meter = [&](ProbeInstrument::Index index) {
        return instrument->parameter(param_id(index)).value_or(-1.0f);
    };
    for (UInt32 i = 0; i < 1100; ++i)
        ASSERT_EQ(instrument->midi(0x300 | 0x90, 0x80 | (i & 0x7F), 0x100 | (i >> 7), i), noErr);
    BufferList list(2, 512);
    ASSERT_EQ(instrument->render(512, list.list()), noErr);
    EXPECT_EQ(meter(ProbeInstrument::MESSAGES), 1024.0f);
    EXPECT_EQ(meter(ProbeInstrument::STATUS), 0x90);
    EXPECT_EQ(meter(ProbeInstrument::DATA1), 1023 & 0x7F);
    EXPECT_EQ(meter(ProbeInstrument::DATA2), 1023 >> 7);
    EXPECT_EQ(meter(ProbeInstrument::OFFSET), 511.0f);
    EXPECT_EQ(list.samples[1][0], 0.5f) << "the instrument did not play";
    ASSERT_EQ(instrument->render(512, list.list()), noErr);
    EXPECT_EQ(meter(ProbeInstrument::MESSAGES), 1024.0f) << "dropped events came later";

    const struct {
        UInt32 frames, offset;
        float delivered;
    } offsets[] = {{4, 2, 2.0f}, {4, 4, 3.0f}, {4, 99999, 3.0f}, {1, 7, 0.0f}, {0, 7, 0.0f}};
    for (const auto& o : offsets) {
        SCOPED_TRACE(testing::Message() << "offset " << o.offset << " in " << o.frames);
        ASSERT_EQ(instrument->midi(0x80, 60, 0, o.offset), noErr);
        BufferList block(2, o.frames);
        ASSERT_EQ(instrument->render(o.frames, block.list()), noErr);
        EXPECT_EQ(meter(ProbeInstrument::OFFSET), o.delivered);
    }
    const UInt8 message[] = {0xF0, 0x7E, 0xF7};
    EXPECT_EQ(
        instrument->lookup<SysExFn>(kMusicDeviceSysExSelect)(instrument->interface(), message, 3),
        noErr);
}

// Varnel Delay through its component, through its CLAP library and run
// directly must give the same samples: the wrappers add nothing to the sound.
struct Setting {
    const char* name;
    std::vector<std::pair<std::size_t, float>> values;  // parameter index, value
};

// Blocks of one size, or of sizes that change from call to call as hosts'
// often do; `largest` is what the host promises.
struct IdentityCase {
    Setting setting;
    std::vector<UInt32> blocks;
    UInt32 channels;
    UInt32 largest() const { return *std::max_element(blocks.begin(), blocks.end()); }
};

// Named in test lists by its setting alone: the blocks and channels are in
// the test's name.
void PrintTo(const IdentityCase& c, std::ostream* out) {
    *out << c.setting.name;
}

constexpr float RATE = 48000.0f;
constexpr std::size_t FRAMES = 48000;

// The (first frame, frame count) of each call, cycling through the sizes.
std::vector<std::pair<std::size_t, UInt32>> calls(const IdentityCase& c) {
    std::vector<std::pair<std::size_t, UInt32>> out;
    for (std::size_t start = 0, k = 0; start < FRAMES; ++k) {
        const auto n = static_cast<UInt32>(
            std::min<std::size_t>(c.blocks[k % c.blocks.size()], FRAMES - start));
        out.emplace_back(start, n);
        start += n;
    }
    return out;
}

// An impulse per channel, then a burst of noise, then silence for the echoes.
Signal impulses_and_noise(UInt32 channels) {
    const Signal burst = noise(channels, 400, 11);
    Signal signal(channels, std::vector<float>(FRAMES, 0.0f));
    for (UInt32 c = 0; c < channels; ++c) {
        signal[c][3 * c] = c % 2 == 0 ? 1.0f : -0.5f;
        std::copy(burst[c].begin(), burst[c].end(), signal[c].begin() + 2000);
    }
    return signal;
}

void run_plugin(const IdentityCase& c, Signal& audio) {
    VarnelDelay plugin;
    plugin.params()->set_channels(c.channels);
    plugin.prepare(
        ProcessSetup{.max_frames = c.largest(), .sample_rate = RATE, .channels = c.channels});
    for (const auto& [index, value] : c.setting.values)
        plugin.params()->at(index).set(value);
    std::vector<std::span<float>> channels(c.channels);
    for (const auto& [start, n] : calls(c)) {
        for (UInt32 ch = 0; ch < c.channels; ++ch)
            channels[ch] = std::span<float>(audio[ch].data() + start, n);
        ProcessContext context;
        context.position = static_cast<double>(start);
        context.sample_rate = RATE;
        FlushDenormals flush;
        plugin.process(channels, context);
    }
}

void run_component(const IdentityCase& c, Signal& audio) {
    Loaded unit(VARNEL);
    ASSERT_TRUE(unit) << unit.error();
    Source input;
    input.signal = audio;
    ASSERT_EQ(unit->set_format(kAudioUnitScope_Input, c.channels, RATE), noErr);
    ASSERT_EQ(unit->set_format(kAudioUnitScope_Output, c.channels, RATE), noErr);
    ASSERT_EQ(
        unit->set(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, c.largest()),
        noErr);
    ASSERT_EQ(unit->set_input(input), noErr);
    ASSERT_EQ(unit->initialize(), noErr);
    for (const auto& [index, value] : c.setting.values)
        ASSERT_EQ(unit->set_parameter(param_id(index), value), noErr);
    BufferList list(c.channels, c.largest());
    for (const auto& [start, n] : calls(c)) {
        ASSERT_EQ(unit->render(n, list.list(), static_cast<Float64>(start)), noErr);
        for (UInt32 ch = 0; ch < c.channels; ++ch)
            std::copy_n(list.samples[ch].begin(), n, audio[ch].begin() + start);
    }
}

void run_clap(const IdentityCase& c, Signal& audio) {
    Library library(ORBA_VARNEL_DELAY_CLAP);
    ASSERT_NE(library.entry(), nullptr) << library.error();
    ASSERT_TRUE(library.entry()->init(ORBA_VARNEL_DELAY_CLAP));
    TestHost host;
    const abi::clap_plugin_factory* factory = library.factory();
    const abi::clap_plugin* plugin =
        factory->create_plugin(factory, &host.host, "dravik-labs.varnel-delay");
    ASSERT_NE(plugin, nullptr);
    struct Cleanup {
        const abi::clap_plugin* plugin;
        const abi::clap_plugin_entry* entry;
        ~Cleanup() {
            plugin->destroy(plugin);
            entry->deinit();
        }
    } cleanup{plugin, library.entry()};
    ASSERT_TRUE(plugin->init(plugin));
    const auto* ports = static_cast<const abi::clap_plugin_configurable_audio_ports*>(
        plugin->get_extension(plugin, "clap.configurable-audio-ports/1"));
    ASSERT_NE(ports, nullptr);
    const abi::clap_audio_port_configuration_request requests[] = {
        {true, 0, c.channels, nullptr, nullptr}, {false, 0, c.channels, nullptr, nullptr}};
    ASSERT_TRUE(ports->apply_configuration(plugin, requests, 2));
    ASSERT_TRUE(plugin->activate(plugin, RATE, 1, c.largest()));
    ASSERT_TRUE(plugin->start_processing(plugin));
    Events events;
    for (const auto& [index, value] : c.setting.values)
        events.param(param_id(index), value);
    for (const auto& [start, n] : calls(c)) {
        Block block(c.channels, c.channels, n);
        for (UInt32 ch = 0; ch < c.channels; ++ch)
            std::copy_n(audio[ch].begin() + start, n, block.in[ch].begin());
        block.process.steady_time = static_cast<std::int64_t>(start);
        block.process.in_events = start == 0 ? events.list() : nullptr;
        ASSERT_EQ(plugin->process(plugin, &block.process), abi::CLAP_PROCESS_CONTINUE);
        for (UInt32 ch = 0; ch < c.channels; ++ch)
            std::copy_n(block.out[ch].begin(), n, audio[ch].begin() + start);
    }
    plugin->stop_processing(plugin);
    plugin->deactivate(plugin);
}

std::size_t differences(const Signal& a, const Signal& b) {
    std::size_t count = 0;
    for (std::size_t c = 0; c < a.size(); ++c)
        for (std::size_t i = 0; i < a[c].size(); ++i)
            count += std::memcmp(&a[c][i], &b[c][i], sizeof(float)) != 0;
    return count;
}

class AuVarnelDelay : public testing::TestWithParam<IdentityCase> {};

TEST_P(AuVarnelDelay, TheComponentTheClapLibraryAndThePluginSoundTheSameBitForBit) {
    const IdentityCase& c = GetParam();
    const Signal input = impulses_and_noise(c.channels);
    Signal direct = input, component = input, clap = input;
    run_plugin(c, direct);
    ASSERT_NO_FATAL_FAILURE(run_component(c, component));
    ASSERT_NO_FATAL_FAILURE(run_clap(c, clap));
    EXPECT_EQ(differences(component, direct), 0u);
    EXPECT_EQ(differences(clap, direct), 0u);
    // Echoes of echoes: sound well past twice the longest delay.
    std::size_t late = 0;
    for (const auto& channel : direct)
        late += std::count_if(channel.begin() + 40000, channel.end(),
                              [](float s) { return s != 0.0f; });
    EXPECT_GT(late, 0u);
}

std::vector<IdentityCase> identity_cases() {
    const Setting defaults{"Defaults", {}};
    const Setting ping_pong{"PingPongFullyWet", {{5, 1.0f}, {6, 1.0f}}};
    const Setting dense{"ShortTimeHighFeedback", {{0, 20.0f}, {3, 0.9f}, {1, 0.5f}}};
    std::vector<IdentityCase> cases;
    const std::vector<UInt32> sizes[] = {{1}, {37}, {256}, {1156}, {300, 1, 1156, 64, 13}};
    for (const std::vector<UInt32>& blocks : sizes) {
        for (const UInt32 channels : {1u, 2u, 3u}) {
            cases.push_back({defaults, blocks, channels});
            cases.push_back({dense, blocks, channels});
        }
        cases.push_back({ping_pong, blocks, 2});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Settings, AuVarnelDelay, testing::ValuesIn(identity_cases()),
                         [](const testing::TestParamInfo<IdentityCase>& info) {
                             const auto& blocks = info.param.blocks;
                             const std::string frames =
                                 blocks.size() == 1 ? std::to_string(blocks[0]) : "Varying";
                             return std::string(info.param.setting.name) + "_" + frames +
                                    "Frames_" + std::to_string(info.param.channels) + "Channels";
                         });

}  // namespace
}  // namespace orba::test
