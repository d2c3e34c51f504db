#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "orba/au/wrapper.h"
#include "tests/au/probe_instrument.h"
#include "tests/au/render_support.h"
#include "tests/clap/probe_plugin.h"
#include "tests/support/session.h"
#include "tests/support/start_line.h"

// Run under ThreadSanitizer in CI: the host's threads against the rendering
// thread, render against every lock it touches held elsewhere, and many
// instances on many rendering threads.
namespace orba::test {
namespace {

struct Counter {
    static void listener(void* self, AudioUnit, AudioUnitPropertyID, AudioUnitScope,
                         AudioUnitElement) {
        static_cast<Counter*>(self)->count.fetch_add(1, std::memory_order_relaxed);
    }
    static OSStatus notify(void* self, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                           UInt32, AudioBufferList*) {
        static_cast<Counter*>(self)->count.fetch_add(1, std::memory_order_relaxed);
        return noErr;
    }
    std::atomic<int> count{0};
};

// Every host thread runs a fixed number of rounds, few enough to finish in
// seconds under ThreadSanitizer, and all start together.
TEST(AuConcurrency, RenderingWhileTheHostsOtherThreadsUseTheUnitIsSafe) {
    constexpr int RENDERS = 4000;
    constexpr int ROUNDS = 600;
    Loaded probe(PROBE);
    ASSERT_TRUE(probe) << probe.error();
    Source input;
    input.signal.assign(2, std::vector<float>(RENDERS * 64, 0.5f));
    Transport transport{.tempo = 128.0, .playing = true};
    ASSERT_EQ(probe->set_input(input), noErr);
    ASSERT_EQ(probe->set(kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                         transport.callbacks()),
              noErr);
    ASSERT_EQ(probe->initialize(), noErr);
    StartLine start{4};
    Counter listened, notified;

    int rendered = 0, unfed = 0, failed = 0;
    std::thread renderer([&] {
        BufferList list(2, 64);
        start.arrive_and_wait();
        for (int i = 0; i < RENDERS; ++i) {
            // A busy input lock reads as no input at all.
            const OSStatus status = probe->render(64, list.list(), 64.0 * i);
            if (status == noErr && std::isfinite(list.samples[1][63])) {
                ++rendered;
            } else if (status == kAudioUnitErr_NoConnection) {
                ++unfed;
            } else {
                ++failed;
            }
        }
    });
    std::thread parameters([&] {
        std::mt19937 random(3);
        std::uniform_real_distribution<float> gain(-60.0f, 12.0f);
        start.arrive_and_wait();
        for (int i = 0; i < ROUNDS; ++i) {
            probe->set_parameter(param_id(Probe::GAIN), gain(random));
            probe->set_parameter(param_id(Probe::TRIM, 1), 0.5f);
            const AudioUnitParameterEvent events[] = {
                immediate_event(param_id(Probe::TRIM, 0), 1.5f),
                ramp_event(param_id(Probe::GAIN), gain(random), gain(random), 64)};
            probe->schedule(events);
            probe->parameter(param_id(Probe::TEMPO));
        }
    });
    std::thread listeners([&] {
        start.arrive_and_wait();
        for (int i = 0; i < ROUNDS; ++i) {
            probe->add_listener(kAudioUnitProperty_BypassEffect, Counter::listener, &listened);
            probe->add_render_notify(Counter::notify, &notified);
            std::this_thread::yield();
            probe->remove_render_notify(Counter::notify, &notified);
            probe->remove_listener(kAudioUnitProperty_BypassEffect, Counter::listener, &listened);
        }
    });
    std::thread properties([&] {
        start.arrive_and_wait();
        const Cf text(cf_string("-6 dB"));
        for (int i = 0; i < ROUNDS; ++i) {
            probe->set(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, UInt32(i % 2));
            CFPropertyListRef info = nullptr;
            if (probe->get(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, info) ==
                noErr) {
                const Cf owned(info);
                probe->set(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, info);
            }
            const AUPreset preset{.presetNumber = i, .presetName = text.as<CFStringRef>()};
            probe->set(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, preset);
            AUPreset present{};
            if (probe->get(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, present) ==
                noErr) {
                CFRelease(present.presetName);
            }
            AudioUnitParameterValueFromString parsed{param_id(Probe::GAIN), text.as<CFStringRef>(),
                                                     0.0f};
            probe->get(kAudioUnitProperty_ParameterValueFromString, kAudioUnitScope_Global, 0,
                       parsed);
            AudioUnitParameterStringFromValue shown{param_id(Probe::TRIM, 1), nullptr, nullptr};
            if (probe->get(kAudioUnitProperty_ParameterStringFromValue, kAudioUnitScope_Global, 0,
                           shown) == noErr) {
                CFRelease(shown.outString);
            }
            Float64 seconds = 0.0;
            probe->get(kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0, seconds);
            probe->get(kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0, seconds);
            OSStatus last = noErr;
            probe->get(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0, last);
            probe->set(kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                       transport.callbacks(true, i % 3 != 0));
            probe->set_input(input);
            probe->set(kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0,
                       AudioUnitConnection{});
        }
        probe->set(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, UInt32{0});
    });
    for (std::thread* thread : {&renderer, &parameters, &listeners, &properties})
        thread->join();

    EXPECT_EQ(failed, 0);
    EXPECT_EQ(rendered + unfed, RENDERS);
    EXPECT_GT(rendered, 0);
    BufferList list(2, 64);
    EXPECT_EQ(probe->render(64, list.list()), noErr);
}

// An instance made in this process by the factory the components export, so
// the test can reach its locks.
struct Held {
    const char* lock;
    bool instrument;
    bool connected;  // the input comes from an upstream unit, not a callback
    std::mutex& (*mutex)(au::Instance&);
    OSStatus status;  // of a render while the lock is held
    std::function<float(Unit&, const Counter&)> observe;
    float while_held, after;
};

float gain(Unit& unit, const Counter&) {
    return unit.parameter(param_id(Probe::GAIN)).value_or(99.0f);
}

// Render on a thread of its own while this one holds a lock. Render must
// return without it; if it waits, the lock is let go after 10 seconds so
// the test fails instead of hanging.
OSStatus render_holding(Unit& unit, std::mutex& mutex, bool& returned) {
    std::unique_lock hold(mutex);
    BufferList list(2, 64);
    std::packaged_task<OSStatus()> task([&] { return unit.render(64, list.list()); });
    std::future<OSStatus> done = task.get_future();
    std::thread renderer(std::move(task));
    returned = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    hold.unlock();
    renderer.join();
    return done.get();
}

TEST(AuConcurrency, ARenderNeverWaitsForALockAnotherThreadHolds) {
    using au::Instance;
    const Held cases[] = {
        {"render input", false, false,
         [](Instance& i) -> std::mutex& { return i.render_input.mutex; },
         kAudioUnitErr_NoConnection, gain, 0.0f, -12.0f},
        {"connection", false, true, [](Instance& i) -> std::mutex& { return i.connection.mutex; },
         kAudioUnitErr_NoConnection, gain, 0.0f, -12.0f},
        {"pending changes", false, false,
         [](Instance& i) -> std::mutex& { return i.pending.mutex; }, noErr, gain, 0.0f, -12.0f},
        {"host callbacks", false, false,
         [](Instance& i) -> std::mutex& { return i.host_callbacks.mutex; }, noErr,
         [](Unit& u, const Counter&) { return u.parameter(param_id(Probe::TEMPO)).value_or(0.0f); },
         -1.0f, 128.0f},
        {"render notifies", false, false,
         [](Instance& i) -> std::mutex& { return i.notifies.mutex; }, noErr,
         [](Unit&, const Counter& c) { return static_cast<float>(c.count.load()); }, 0.0f, 2.0f},
        {"MIDI queue", true, false, [](Instance& i) -> std::mutex& { return i.midi_queue.mutex; },
         noErr,
         [](Unit& u, const Counter&) {
             return u.parameter(param_id(ProbeInstrument::MESSAGES)).value_or(-1.0f);
         },
         0.0f, 1.0f},
    };
    for (const Held& c : cases) {
        SCOPED_TRACE(c.lock);
        const AudioComponentDescription desc = description(c.instrument ? INSTRUMENT : PROBE);
        Unit unit(c.instrument ? au::factory<ProbeInstrument> : au::factory<Probe>, desc);
        Unit upstream(au::factory<Probe>, description(PROBE));
        ASSERT_TRUE(unit);
        ASSERT_TRUE(upstream);
        Source input;
        input.signal.assign(2, std::vector<float>(128, 0.5f));
        Transport transport{.tempo = 128.0};
        Counter notified;
        if (c.connected) {
            ASSERT_EQ(upstream.set_input(input), noErr);
            ASSERT_EQ(upstream.initialize(), noErr);
            ASSERT_EQ(unit.set(kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0,
                               AudioUnitConnection{upstream.handle(), 0, 0}),
                      noErr);
        } else if (!c.instrument) {
            ASSERT_EQ(unit.set_input(input), noErr);
        }
        ASSERT_EQ(unit.set(kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                           transport.callbacks()),
                  noErr);
        ASSERT_EQ(unit.add_render_notify(Counter::notify, &notified), noErr);
        ASSERT_EQ(unit.initialize(), noErr);
        if (c.instrument) {
            ASSERT_EQ(unit.midi(0x90, 60, 100), noErr);
        } else {
            const AudioUnitParameterEvent event = immediate_event(param_id(Probe::GAIN), -12.0f);
            ASSERT_EQ(unit.schedule({&event, 1}), noErr);
        }

        bool returned = false;
        EXPECT_EQ(render_holding(unit, c.mutex(*Instance::from(unit.interface())), returned),
                  c.status);
        EXPECT_TRUE(returned) << "render waited for the lock";
        EXPECT_EQ(c.observe(unit, notified), c.while_held);

        notified.count = 0;
        BufferList list(2, 64);
        ASSERT_EQ(unit.render(64, list.list()), noErr);
        EXPECT_EQ(c.observe(unit, notified), c.after) << "after the lock was let go";
    }
}

// One instance of a shipped component as a track: its own rate, parameter
// values (set before the first render, changed halfway) and seeded noise.
struct Track {
    Track(const Component& component, const Kind& kind, unsigned seed)
        : unit(component.factory(), description(kind)) {
        std::mt19937 random(seed);
        input.signal.assign(2, std::vector<float>(SESSION_BLOCKS * 64));
        for (auto& channel : input.signal)
            for (float& s : channel)
                s = std::uniform_real_distribution<float>(-1.0f, 1.0f)(random);
        std::vector<AudioUnitParameterID> ids;
        if (unit.set_format(kAudioUnitScope_Input, 2, 44100.0 + 100 * seed) != noErr ||
            unit.set_format(kAudioUnitScope_Output, 2, 44100.0 + 100 * seed) != noErr ||
            unit.set_input(input) != noErr || unit.initialize() != noErr ||
            unit.get_array(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, ids) !=
                noErr) {
            ADD_FAILURE() << "track " << seed << " does not start";
        }
        for (std::size_t k = 0; k < 2 * ids.size(); ++k) {
            AudioUnitParameterInfo info{};
            unit.get(kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, ids[k / 2], info);
            const Cf name(info.cfNameString);
            values[k % 2].emplace_back(ids[k / 2], std::uniform_real_distribution<float>(
                                                       info.minValue, info.maxValue)(random));
        }
    }

    void play(int block) {
        if (block % (SESSION_BLOCKS / 2) == 0)
            for (const auto& [id, value] : values[block == 0 ? 0 : 1])
                unit.set_parameter(id, value);
        BufferList list(2, 64);
        failed += unit.render(64, list.list(), block * 64) == noErr ? 0 : 1;
        for (const auto& channel : list.samples)
            out.insert(out.end(), channel.begin(), channel.end());
    }

    Source input;
    Unit unit;
    std::vector<std::pair<AudioUnitParameterID, float>> values[2];
    std::vector<float> out;
    int failed = 0;
};

// Sixteen Varnel Delays and four Tidal Tremolos on four rendering threads
// while the main thread opens, initializes, saves, restores and closes others.
TEST(AuConcurrency, ManyInstancesOnManyRenderingThreadsEachSoundAsAlone) {
    const Component varnel(VARNEL.path, VARNEL.factory), tidal(TIDAL.path, TIDAL.factory);
    ASSERT_TRUE(varnel.factory() && tidal.factory()) << varnel.error() << tidal.error();
    const auto make = [&](int t, unsigned seed) {
        return t % 5 == 4 ? std::make_unique<Track>(tidal, TIDAL, seed)
                          : std::make_unique<Track>(varnel, VARNEL, seed);
    };
    expect_tracks_sound_as_alone(20, 4, 24, make, [&](int i) {
        const auto other = make(i, 100 + static_cast<unsigned>(i));
        other->play(0);
        CFPropertyListRef info = nullptr;
        ASSERT_EQ(other->unit.get(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, info),
                  noErr);
        const Cf owned(info);
        EXPECT_EQ(other->unit.set(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, info),
                  noErr);
    });
}

}  // namespace
}  // namespace orba::test
