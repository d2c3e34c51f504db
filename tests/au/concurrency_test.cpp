#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <latch>
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
    std::latch start(4);
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

// One instance of a shipped component as a track of a session: its own
// parameter values, set before the first render and changed halfway, and its
// own seeded noise as input. Everything it renders is kept.
struct Track {
    static constexpr int BLOCKS = 48;
    static constexpr UInt32 FRAMES = 64;

    Track(const Component& component, const Kind& kind, unsigned seed)
        : unit(component.factory(), description(kind)) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
        input.signal.assign(2, std::vector<float>(BLOCKS * FRAMES));
        for (auto& channel : input.signal)
            for (float& s : channel)
                s = sample(random);
        std::vector<AudioUnitParameterID> ids;
        const double rate = 44100.0 + 100 * seed;
        if (!unit || unit.set_format(kAudioUnitScope_Input, 2, rate) != noErr ||
            unit.set_format(kAudioUnitScope_Output, 2, rate) != noErr ||
            unit.set_input(input) != noErr || unit.initialize() != noErr ||
            unit.get_array(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, ids) !=
                noErr) {
            ADD_FAILURE() << "track " << seed << " does not start";
            return;
        }
        std::uniform_real_distribution<float> unit_interval(0.0f, 1.0f);
        for (AudioUnitParameterID id : ids) {
            AudioUnitParameterInfo info{};
            unit.get(kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, id, info);
            if (info.cfNameString != nullptr) CFRelease(info.cfNameString);
            for (auto* values : {&first, &second})
                values->push_back(
                    {id, info.minValue + (info.maxValue - info.minValue) * unit_interval(random)});
        }
    }

    void play(int block) {
        if (block == 0 || block == BLOCKS / 2) {
            for (const auto& [id, value] : block == 0 ? first : second)
                unit.set_parameter(id, value);
        }
        BufferList list(2, FRAMES);
        if (unit.render(FRAMES, list.list(), block * FRAMES) != noErr) ++failed;
        for (const auto& channel : list.samples)
            out.insert(out.end(), channel.begin(), channel.end());
    }

    Source input;
    Unit unit;
    std::vector<std::pair<AudioUnitParameterID, float>> first, second;
    std::vector<float> out;
    int failed = 0;
};

// Sixteen Varnel Delays and four Tidal Tremolos on four rendering threads, as
// a host runs tracks; meanwhile the main thread opens, initializes, saves,
// restores and closes other instances of the same components. Each track must
// sound exactly as it does alone.
TEST(AuConcurrency, ManyInstancesOnManyRenderingThreadsEachSoundAsAlone) {
    constexpr int THREADS = 4, TRACKS = 20, CHURN = 24;
    const Component varnel(VARNEL.path, VARNEL.factory), tidal(TIDAL.path, TIDAL.factory);
    ASSERT_NE(varnel.factory(), nullptr) << varnel.error();
    ASSERT_NE(tidal.factory(), nullptr) << tidal.error();
    const auto make = [&](int track, unsigned seed) {
        return track % 5 == 4 ? std::make_unique<Track>(tidal, TIDAL, seed)
                              : std::make_unique<Track>(varnel, VARNEL, seed);
    };

    std::vector<std::vector<float>> alone;
    for (int t = 0; t < TRACKS; ++t) {
        const auto track = make(t, static_cast<unsigned>(t));
        for (int b = 0; b < Track::BLOCKS; ++b)
            track->play(b);
        alone.push_back(track->out);
    }

    std::vector<std::unique_ptr<Track>> tracks;
    for (int t = 0; t < TRACKS; ++t)
        tracks.push_back(make(t, static_cast<unsigned>(t)));
    std::latch start(THREADS + 1);
    std::vector<std::thread> rendering;
    for (int a = 0; a < THREADS; ++a) {
        rendering.emplace_back([&, a] {
            start.arrive_and_wait();
            for (int b = 0; b < Track::BLOCKS; ++b)
                for (int t = a; t < TRACKS; t += THREADS)
                    tracks[static_cast<std::size_t>(t)]->play(b);
        });
    }
    start.arrive_and_wait();
    for (int i = 0; i < CHURN; ++i) {
        const auto other = make(i, 100 + static_cast<unsigned>(i));
        other->play(0);
        CFPropertyListRef info = nullptr;
        EXPECT_EQ(other->unit.get(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, info),
                  noErr);
        const Cf owned(info);
        EXPECT_EQ(other->unit.set(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, info),
                  noErr);
        EXPECT_EQ(other->unit.uninitialize(), noErr);
    }
    for (std::thread& thread : rendering)
        thread.join();

    for (int t = 0; t < TRACKS; ++t) {
        const Track& track = *tracks[static_cast<std::size_t>(t)];
        EXPECT_EQ(track.failed, 0) << "track " << t;
        EXPECT_TRUE(track.out == alone[static_cast<std::size_t>(t)]) << "track " << t;
    }
}

}  // namespace
}  // namespace orba::test
