#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "audio_file.h"
#include "orba/clap/abi.h"
#include "orba/clap/param_help.h"
#include "orba/core/result.h"
#include "orba/core/shared_library.h"

namespace orba::render {

namespace abi = orba::clap::abi;

struct PluginSummary {
    std::string id;
    std::string name;
    std::string vendor;
    std::string version;
    std::string description;
    std::vector<std::string> features;
};

// A CLAP library opened the way a DAW opens one: loaded, `clap_entry`, init,
// then the plug-in factory. Closing calls deinit and unloads it.
class Library {
  public:
    static Result<std::unique_ptr<Library>> open(const std::string& path);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    const std::string& path() const { return path_; }
    const std::vector<PluginSummary>& plugins() const { return plugins_; }
    const abi::clap_plugin_factory* factory() const { return factory_; }
    // The plug-in named by its id or its index in the factory; the first when
    // `key` is empty.
    Result<const PluginSummary*> find(std::string_view key) const;

  private:
    Library() = default;

    std::string path_;
    std::optional<SharedLibrary> library_;
    const abi::clap_plugin_entry* entry_ = nullptr;
    bool initialised_ = false;
    const abi::clap_plugin_factory* factory_ = nullptr;
    std::vector<PluginSummary> plugins_;
};

struct ParamEntry {
    abi::clap_id id = 0;
    std::uint32_t flags = 0;
    void* cookie = nullptr;
    std::string name;
    std::string module;
    double min = 0.0;
    double max = 0.0;
    double default_value = 0.0;
};

// What the host hands the plug-in with every block.
struct Transport {
    double bpm = 120.0;
    double sample_rate = 48000.0;
};

// One parameter value change at a frame offset within the coming block.
struct ParamChange {
    const ParamEntry* param = nullptr;
    double value = 0.0;
    std::uint32_t time = 0;
};

// One plug-in instance on the main thread of this program, which also serves
// as its audio thread: the plug-in is created and initialised at once, and
// host callbacks it asks for run between blocks.
class Instance {
  public:
    static Result<std::unique_ptr<Instance>> create(const Library& library,
                                                    const PluginSummary& plugin);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    const std::string& name() const { return name_; }
    const std::vector<ParamEntry>& params() const { return params_; }

    // By CLAP id (a number), by name or by "module/name", ignoring case and
    // treating blanks, '-' and '_' alike.
    Result<const ParamEntry*> find_param(std::string_view key) const;
    // The plug-in's own reading of `text`, which must land within the range,
    // after a unit of the parameter's family is converted to its own unit.
    Result<double> parse_value(const ParamEntry& param, std::string_view text) const;
    // The name of every step of a choice parameter, in order from its minimum;
    // empty for any other parameter.
    std::vector<std::string> choice_names(const ParamEntry& param) const;
    // The plug-in's own display of `value`, or the plain number when it has none.
    std::string value_text(const ParamEntry& param, double value) const;
    std::optional<double> current_value(const ParamEntry& param) const;
    // What the parameter does, from the plug-in's help extension; empty when
    // it has none for the parameter or does not offer the extension.
    std::string help(const ParamEntry& param) const;
    // Applied through the params extension's flush while inactive.
    Result<Done> apply(std::span<const ParamChange> changes);

    Result<std::vector<std::uint8_t>> save_state();
    Result<Done> load_state(const std::vector<std::uint8_t>& bytes);

    // Input and output main ports of `channels` channels, through the
    // configurable-audio-ports extension when the plug-in offers it.
    Result<Done> configure(std::uint32_t channels);
    std::uint32_t input_channels() const;
    std::uint32_t output_channels() const;
    // The channel counts configure() can set, asked of the plug-in for every
    // count up to `limit`: "1 to 64", "2", "1, 2 and 4 to 8".
    std::string accepted_channels(std::uint32_t limit = 1024) const;

    Result<Done> activate(double sample_rate, std::uint32_t max_frames);
    std::uint32_t latency() const;
    // The tail in frames; none when the plug-in reports an infinite one.
    std::optional<std::uint32_t> tail() const;

    // The main input's channel `c` (below input_channels()) for the next
    // block, and the main output's (below output_channels()) after it.
    float* input(std::uint32_t c) { return inputs_.front().channels[c].data(); }
    const float* output(std::uint32_t c) const { return outputs_.front().channels[c].data(); }

    // One block, starting at `position` frames. Fails when the plug-in reports
    // an error.
    Result<Done> process(std::uint32_t frames, std::int64_t position, const Transport& transport,
                         std::span<const ParamChange> changes);

    // The main-thread callback the plug-in asked for, if it asked.
    void run_callbacks();

  private:
    Instance() = default;
    struct Port {
        std::vector<std::vector<float>> channels;
        std::vector<float*> pointers;
    };
    struct EventList {
        std::vector<abi::clap_event_param_value> events;
        abi::clap_input_events in{};
    };

    Result<Done> read_params();
    std::vector<abi::clap_audio_port_info> ports(bool is_input) const;
    void fill_events(std::span<const ParamChange> changes);
    void stop();

    static const void* host_get_extension(const abi::clap_host* host, const char* id);
    static void host_request_restart(const abi::clap_host* host);
    static void host_request_process(const abi::clap_host* host);
    static void host_request_callback(const abi::clap_host* host);

    abi::clap_host host_{};
    const abi::clap_plugin* plugin_ = nullptr;
    std::string name_;
    const abi::clap_plugin_params* ext_params_ = nullptr;
    const abi::clap_plugin_state* ext_state_ = nullptr;
    const abi::clap_plugin_latency* ext_latency_ = nullptr;
    const abi::clap_plugin_tail* ext_tail_ = nullptr;
    const abi::clap_plugin_audio_ports* ext_ports_ = nullptr;
    const abi::clap_plugin_configurable_audio_ports* ext_configurable_ = nullptr;
    const abi::orba_clap_plugin_param_help* ext_help_ = nullptr;
    std::vector<ParamEntry> params_;
    std::vector<Port> inputs_;
    std::vector<Port> outputs_;
    std::vector<abi::clap_audio_buffer> input_buffers_;
    std::vector<abi::clap_audio_buffer> output_buffers_;
    EventList events_;
    abi::clap_output_events out_events_{};
    abi::clap_event_transport transport_{};
    bool active_ = false;
    bool processing_ = false;
    std::atomic<bool> callback_requested_{false};
};

}  // namespace orba::render
