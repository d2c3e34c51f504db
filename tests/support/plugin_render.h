#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "orba/core/param.h"
#include "tests/clap/host.h"
#ifdef ORBA_PLUGIN_PARAMS_HEADER
#include ORBA_PLUGIN_PARAMS_HEADER
#endif

// The test kit: a plug-in's built .clap, opened and driven as a host drives it,
// so a plug-in's test is only its settings and what it expects to hear. Tests
// registered by orba_plugin(... TESTS folder) know their plug-in; others pass
// the library, the id and the table.
namespace orba::test {

// One vector of samples per channel.
using Audio = std::vector<std::vector<float>>;

class PluginRender {
  public:
    PluginRender(const std::string& path, const std::string& id, std::span<const ParamInfo> table)
        : library_(path), table_(table) {
        if (library_.entry() == nullptr) {
            error_ = "cannot open " + path + ": " + library_.error();
        } else if (!library_.entry()->init(path.c_str())) {
            error_ = "clap_entry.init failed";
        } else {
            const abi::clap_plugin_factory* factory = library_.factory();
            plugin_ = factory->create_plugin(factory, &host_.host, id.c_str());
            if (plugin_ == nullptr || !plugin_->init(plugin_)) error_ = "cannot create " + id;
        }
    }
#ifdef ORBA_PLUGIN_PARAMS_HEADER
    PluginRender() : PluginRender(ORBA_PLUGIN_CLAP, ORBA_PLUGIN_ID, ORBA_PLUGIN_PARAMS) {}
#endif
    ~PluginRender() {
        if (plugin_ != nullptr) plugin_->destroy(plugin_);
        if (library_.entry() != nullptr) library_.entry()->deinit();
    }
    PluginRender(const PluginRender&) = delete;
    PluginRender& operator=(const PluginRender&) = delete;

    // Empty once the plug-in is loaded and created.
    const std::string& error() const {
        return error_;
    }
    const abi::clap_plugin* plugin() const {
        return plugin_;
    }

    // Every render prepares the plug-in afresh with these, and sends the tempo
    // and a running song position in every block's transport, as hosts do.
    double sample_rate = 48000.0;
    std::uint32_t block = 480;
    std::uint32_t channels = 2;
    double tempo = 120.0;
    bool playing = true;

    // The CLAP id of the parameter the graph calls `id`, as hosts see it.
    abi::clap_id param_id(std::string_view id) const {
        for (std::size_t i = 0; i < table_.size(); ++i) {
            if (table_[i].id == id) return static_cast<abi::clap_id>(i * 128);
        }
        ADD_FAILURE() << "the table has no parameter '" << id << "'";
        return 0;
    }
    // Set with the first block of the next render, as a host's event: the
    // plain value, a choice as its index.
    void set(std::string_view id, double value) {
        settings_.push_back({param_id(id), value});
    }

    // `frames` frames with 1 at frame 0 of every channel.
    Audio impulse(std::size_t frames) {
        Audio input(channels, std::vector<float>(frames, 0.0f));
        for (auto& channel : input)
            channel[0] = 1.0f;
        return render(input);
    }

    // The output for `input`, one vector per channel, all of one length.
    Audio render(const Audio& input) {
        const std::size_t frames = input.empty() ? 0 : input[0].size();
        Audio out(channels, std::vector<float>(frames));
        if (plugin_ == nullptr || input.size() != channels) {
            ADD_FAILURE() << (plugin_ == nullptr ? error_ : "one input vector a channel");
            return out;
        }
        EXPECT_TRUE(plugin_->activate(plugin_, sample_rate, 1, block));
        EXPECT_TRUE(plugin_->start_processing(plugin_));
        Events events;
        for (const auto& [id, value] : settings_)
            events.param(id, value);
        settings_.clear();
        for (std::size_t start = 0; start < frames; start += block) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(block, frames - start));
            Block b(channels, channels, n);
            for (std::size_t c = 0; c < channels; ++c)
                std::copy_n(input[c].begin() + static_cast<std::ptrdiff_t>(start), n,
                            b.in[c].begin());
            const double seconds = static_cast<double>(start) / sample_rate;
            abi::clap_event_transport transport{};
            transport.header.size = sizeof transport;
            transport.header.type = abi::CLAP_EVENT_TRANSPORT;
            transport.flags = abi::CLAP_TRANSPORT_HAS_TEMPO |
                              abi::CLAP_TRANSPORT_HAS_BEATS_TIMELINE |
                              abi::CLAP_TRANSPORT_HAS_SECONDS_TIMELINE |
                              (playing ? abi::CLAP_TRANSPORT_IS_PLAYING : 0u);
            transport.tempo = tempo;
            transport.song_pos_seconds =
                static_cast<abi::clap_sectime>(seconds * abi::CLAP_SECTIME_FACTOR);
            transport.song_pos_beats =
                static_cast<abi::clap_beattime>(seconds * tempo / 60.0 * abi::CLAP_BEATTIME_FACTOR);
            b.process.steady_time = static_cast<std::int64_t>(start);
            b.process.transport = &transport;
            b.process.in_events = start == 0 ? events.list() : nullptr;
            EXPECT_EQ(plugin_->process(plugin_, &b.process), abi::CLAP_PROCESS_CONTINUE);
            for (std::size_t c = 0; c < channels; ++c)
                std::copy_n(b.out[c].begin(), n,
                            out[c].begin() + static_cast<std::ptrdiff_t>(start));
        }
        plugin_->stop_processing(plugin_);
        plugin_->deactivate(plugin_);
        return out;
    }

  private:
    struct Setting {
        abi::clap_id id;
        double value;
    };
    Library library_;
    TestHost host_;
    std::span<const ParamInfo> table_;
    const abi::clap_plugin* plugin_ = nullptr;
    std::string error_;
    std::vector<Setting> settings_;
};

}  // namespace orba::test
