// Run under ThreadSanitizer in CI: a host's audio thread against its main
// thread on one CLAP instance, and many instances on many audio threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "orba/clap/wrapper.h"
#include "tests/clap/host.h"
#include "tests/clap/probe_plugin.h"
#include "tests/support/session.h"
#include "tests/support/start_line.h"

namespace orba::test {
namespace {

abi::clap_id id_of(std::size_t index, std::uint32_t channel = 0) {
    return static_cast<abi::clap_id>(index * 128 + channel);
}

// A test host whose main-thread callbacks (request_restart, rescan) and
// streams run `hook`, and which counts callback requests from any thread.
struct HookedHost : TestHost {
    HookedHost() {
        host.request_restart = [](const abi::clap_host* h) {
            auto* self = from(h);
            ++self->restarts;
            self->hook();
        };
        params.rescan = [](const abi::clap_host* h, abi::clap_param_rescan_flags) {
            from(h)->hook();
        };
        host.request_callback = [](const abi::clap_host* h) {
            from(h)->callbacks.fetch_add(1, std::memory_order_relaxed);
        };
        write.ctx = this;
        write.write = [](const abi::clap_ostream* s, const void*, std::uint64_t size) {
            static_cast<HookedHost*>(s->ctx)->hook();
            return static_cast<std::int64_t>(size);
        };
        read.ctx = this;
        read.read = [](const abi::clap_istream* s, void*, std::uint64_t) {
            static_cast<HookedHost*>(s->ctx)->hook();
            return std::int64_t{0};
        };
    }
    static HookedHost* from(const abi::clap_host* h) {
        return static_cast<HookedHost*>(static_cast<TestHost*>(h->host_data));
    }

    abi::clap_ostream write{};
    abi::clap_istream read{};
    std::atomic<int> callbacks{0};
    std::function<void()> hook = [] {};
};

// A probe instance behind the C entry points a host calls.
struct Instance {
    Instance()
        : plugin(clap::Wrapper::create(nullptr, &host.host,
                                       std::make_unique<clap::Adapter<Probe>>())) {
        plugin->init(plugin);
        params = extension<abi::clap_plugin_params>(abi::CLAP_EXT_PARAMS);
        state = extension<abi::clap_plugin_state>(abi::CLAP_EXT_STATE);
        latency = extension<abi::clap_plugin_latency>(abi::CLAP_EXT_LATENCY);
        tail = extension<abi::clap_plugin_tail>(abi::CLAP_EXT_TAIL);
        ports = extension<abi::clap_plugin_audio_ports>(abi::CLAP_EXT_AUDIO_PORTS);
    }
    ~Instance() {
        plugin->deactivate(plugin);
        plugin->destroy(plugin);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    template <class T>
    const T* extension(const char* id) {
        return static_cast<const T*>(plugin->get_extension(plugin, id));
    }
    std::vector<std::uint8_t> saved() {
        OutStream out;
        EXPECT_TRUE(state->save(plugin, &out.stream));
        return out.bytes;
    }

    // One audio-thread round: a block with parameter and latency changes, and
    // every few rounds a flush or a reset. False when processing failed.
    bool audio_round(int i) {
        Events events;
        events.param(id_of(Probe::GAIN), -0.25 * (i % 40));
        events.param(id_of(Probe::TRIM, static_cast<std::uint32_t>(i % 2)), 0.5 + 0.01 * (i % 50));
        events.param(id_of(Probe::LATENCY), 8.0 * (i % 5));
        Block block(2, 2, 64);
        block.in[0].assign(64, 0.25f);
        block.process.in_events = events.list();
        if (plugin->process(plugin, &block.process) != abi::CLAP_PROCESS_CONTINUE) return false;
        if (!std::isfinite(block.out[0][63])) return false;
        if (i % 4 == 1) {
            Events flushed;
            flushed.param(id_of(Probe::BYPASS), (i / 4) % 2);
            params->flush(plugin, flushed.list(), nullptr);
        }
        if (i % 16 == 3) plugin->reset(plugin);
        return true;
    }

    HookedHost host;
    const abi::clap_plugin* plugin;
    const abi::clap_plugin_params* params = nullptr;
    const abi::clap_plugin_state* state = nullptr;
    const abi::clap_plugin_latency* latency = nullptr;
    const abi::clap_plugin_tail* tail = nullptr;
    const abi::clap_plugin_audio_ports* ports = nullptr;
};

// Both threads run a fixed number of rounds, few enough to finish in seconds
// under ThreadSanitizer, and start together.
TEST(ClapConcurrency, TheMainThreadUsesAnInstanceWhileTheAudioThreadProcessesIt) {
    constexpr int ROUNDS = 4000;
    Instance probe;
    const std::vector<std::uint8_t> bytes = probe.saved();
    ASSERT_TRUE(probe.plugin->activate(probe.plugin, 48000.0, 1, 64));
    StartLine start{2};

    int failed = 0;
    std::thread audio([&] {
        start.arrive_and_wait();
        for (int i = 0; i < ROUNDS; ++i)
            failed += probe.audio_round(i) ? 0 : 1;
    });
    start.arrive_and_wait();
    int torn = 0;  // a latency or tail no write ever made
    for (int i = 0; i < ROUNDS / 5; ++i) {
        const abi::clap_plugin* p = probe.plugin;
        for (std::uint32_t k = 0; k < probe.params->count(p); ++k) {
            abi::clap_param_info info;
            ASSERT_TRUE(probe.params->get_info(p, k, &info));
            double value = 0.0;
            ASSERT_TRUE(probe.params->get_value(p, info.id, &value));
            char text[64];
            ASSERT_TRUE(probe.params->value_to_text(p, info.id, value, text, sizeof text));
            probe.params->text_to_value(p, info.id, text, &value);
        }
        OutStream out;
        EXPECT_TRUE(probe.state->save(p, &out.stream));
        InStream in(bytes);
        EXPECT_TRUE(probe.state->load(p, &in.stream));
        const std::uint32_t samples = probe.latency->get(p), tail = probe.tail->get(p);
        torn += samples % 8 == 0 && samples <= 32 && tail % 8 == 0 && tail <= 64 ? 0 : 1;
        abi::clap_audio_port_info port;
        EXPECT_EQ(probe.ports->count(p, true), 1u);
        EXPECT_TRUE(probe.ports->get(p, 0, false, &port));
        p->on_main_thread(p);
    }
    audio.join();

    EXPECT_EQ(failed, 0);
    EXPECT_GT(probe.host.callbacks.load(), 0);
    EXPECT_EQ(probe.host.latency_changes, 0) << "only ever inside activate";
    EXPECT_EQ(torn, 0);
}

// The main thread stops inside one of its calls, at a host callback, while
// the audio thread processes, flushes and resets: the audio thread must get
// through without it. Were processing to wait for the main thread, the stop
// is let go after 10 seconds so the test fails rather than hangs.
TEST(ClapConcurrency, ProcessingNeverWaitsForACallOnTheMainThread) {
    const struct {
        const char* where;
        std::function<void(Instance&)> call;
    } cases[] = {
        {"state save, in the stream's write",
         [](Instance& i) { i.state->save(i.plugin, &i.host.write); }},
        {"state load, in the stream's read",
         [](Instance& i) { i.state->load(i.plugin, &i.host.read); }},
        {"state load, in the host's rescan",
         [](Instance& i) {
             InStream in(i.saved());
             i.state->load(i.plugin, &in.stream);
         }},
        {"on_main_thread, in request_restart",
         [](Instance& i) {
             i.audio_round(1);  // a new latency, which asks for a restart
             i.plugin->on_main_thread(i.plugin);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        Instance probe;
        ASSERT_TRUE(probe.plugin->activate(probe.plugin, 48000.0, 1, 64));
        std::promise<void> parked;
        std::promise<bool> finished;
        std::future<bool> done = finished.get_future();
        bool in_time = false;
        int stops = 0;
        probe.host.hook = [&] {
            if (stops++ > 0) return;
            parked.set_value();
            in_time = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        };
        std::thread audio([&] {
            parked.get_future().wait();
            bool ok = true;
            for (int i = 0; i < 64; ++i)
                ok = probe.audio_round(i) && ok;
            finished.set_value(ok);
        });
        c.call(probe);
        if (stops == 0) parked.set_value();  // never stopped: let the audio thread go
        audio.join();
        EXPECT_EQ(stops, 1) << "the call reached the host callback";
        EXPECT_TRUE(in_time) << "processing waited for the main thread";
        EXPECT_TRUE(done.get());
    }
}

// One instance of a shipped plug-in as a track: its own rate, parameter
// values (set in the first block, changed halfway) and seeded noise as input.
struct Track {
    Track(const abi::clap_plugin_factory* factory, unsigned seed) : seed(seed) {
        plugin = factory->create_plugin(factory, &host.host,
                                        factory->get_plugin_descriptor(factory, 0)->id);
        if (!plugin->init(plugin) || !plugin->activate(plugin, 44100.0 + 100 * seed, 1, 64) ||
            !plugin->start_processing(plugin)) {
            ADD_FAILURE() << "track " << seed << " does not start";
        }
        params = static_cast<const abi::clap_plugin_params*>(
            plugin->get_extension(plugin, abi::CLAP_EXT_PARAMS));
        std::mt19937 random(seed);
        for (std::uint32_t k = 0; k < 2 * params->count(plugin); ++k) {
            abi::clap_param_info info;
            params->get_info(plugin, k / 2, &info);
            values[k % 2].emplace_back(info.id, std::uniform_real_distribution<double>(
                                                    info.min_value, info.max_value)(random));
        }
    }
    ~Track() {
        plugin->stop_processing(plugin);
        plugin->deactivate(plugin);
        plugin->destroy(plugin);
    }

    void play(int block) {
        Events events;
        if (block % (SESSION_BLOCKS / 2) == 0)
            for (const auto& [id, value] : values[block == 0 ? 0 : 1])
                events.param(id, value);
        Block audio(2, 2, 64);
        std::mt19937 random(seed * 1000 + static_cast<unsigned>(block));
        for (auto& channel : audio.in)
            for (float& s : channel)
                s = std::uniform_real_distribution<float>(-1.0f, 1.0f)(random);
        audio.process.in_events = events.list();
        audio.process.steady_time = block * 64;
        failed += plugin->process(plugin, &audio.process) == abi::CLAP_PROCESS_CONTINUE ? 0 : 1;
        for (const auto& channel : audio.out)
            out.insert(out.end(), channel.begin(), channel.end());
    }

    unsigned seed;
    TestHost host;
    const abi::clap_plugin* plugin = nullptr;
    const abi::clap_plugin_params* params = nullptr;
    std::vector<std::pair<abi::clap_id, double>> values[2];
    std::vector<float> out;
    int failed = 0;
};

// Sixteen Varnel Delays and four Tidal Tremolos on four audio threads while
// the main thread creates, activates, saves, loads and destroys others.
TEST(ClapConcurrency, ManyInstancesOnManyAudioThreadsEachSoundAsAlone) {
    Library varnel(ORBA_VARNEL_DELAY_CLAP), tidal(ORBA_TIDAL_TREMOLO_CLAP);
    ASSERT_TRUE(varnel.entry() && tidal.entry()) << varnel.error() << tidal.error();
    ASSERT_TRUE(varnel.entry()->init(ORBA_VARNEL_DELAY_CLAP));
    ASSERT_TRUE(tidal.entry()->init(ORBA_TIDAL_TREMOLO_CLAP));
    const auto make = [&](int t, unsigned seed) {
        return std::make_unique<Track>(t % 5 == 4 ? tidal.factory() : varnel.factory(), seed);
    };
    expect_tracks_sound_as_alone(20, 4, 24, make, [&](int i) {
        const auto other = make(i, 100 + static_cast<unsigned>(i));
        const auto* state = static_cast<const abi::clap_plugin_state*>(
            other->plugin->get_extension(other->plugin, abi::CLAP_EXT_STATE));
        other->play(0);
        OutStream saved;
        EXPECT_TRUE(state->save(other->plugin, &saved.stream));
        InStream in(saved.bytes);
        EXPECT_TRUE(state->load(other->plugin, &in.stream));
    });
    varnel.entry()->deinit();
    tidal.entry()->deinit();
}

}  // namespace
}  // namespace orba::test
