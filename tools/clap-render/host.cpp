#include "host.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "text.h"
#include "units.h"

namespace orba::render {
namespace {

std::string c_text(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

// A CLAP name field is a fixed array the plug-in may have left unterminated.
template <std::size_t N>
std::string field_text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

const char* port_type_for(std::uint32_t channels) {
    if (channels == 1) return abi::CLAP_PORT_MONO;
    if (channels == 2) return abi::CLAP_PORT_STEREO;
    return nullptr;
}

std::string channel_count_text(std::uint32_t channels) {
    return std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

// The state travels through memory: the plug-in writes into a growing vector
// and reads back from one, in whatever chunk sizes it chooses.
std::int64_t ORBA_CLAP_ABI write_to_vector(const abi::clap_ostream* stream, const void* buffer,
                                           std::uint64_t size) {
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(stream->ctx);
    if (buffer == nullptr && size != 0) return -1;
    const auto* first = static_cast<const std::uint8_t*>(buffer);
    bytes->insert(bytes->end(), first, first + size);
    return static_cast<std::int64_t>(size);
}

struct ReadCursor {
    const std::vector<std::uint8_t>* bytes;
    std::size_t position;
};

std::int64_t ORBA_CLAP_ABI read_from_vector(const abi::clap_istream* stream, void* buffer,
                                            std::uint64_t size) {
    auto* cursor = static_cast<ReadCursor*>(stream->ctx);
    if (buffer == nullptr) return -1;
    const std::size_t left = cursor->bytes->size() - cursor->position;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, left));
    std::memcpy(buffer, cursor->bytes->data() + cursor->position, n);
    cursor->position += n;
    return static_cast<std::int64_t>(n);
}

std::uint32_t ORBA_CLAP_ABI events_size(const abi::clap_input_events* list) {
    const auto* events = static_cast<const std::vector<abi::clap_event_param_value>*>(list->ctx);
    return static_cast<std::uint32_t>(events->size());
}

const abi::clap_event_header* ORBA_CLAP_ABI events_get(const abi::clap_input_events* list,
                                                       std::uint32_t index) {
    const auto* events = static_cast<const std::vector<abi::clap_event_param_value>*>(list->ctx);
    return index < events->size() ? &(*events)[index].header : nullptr;
}

// Nothing the plug-in reports back (gestures, values from its own editor)
// changes an offline render.
bool ORBA_CLAP_ABI drop_event(const abi::clap_output_events*, const abi::clap_event_header*) {
    return true;
}

}  // namespace

Result<std::unique_ptr<Library>> Library::open(const std::string& path) {
    std::unique_ptr<Library> library(new Library());
    library->path_ = path;
    library->library_.emplace(path);
    if (!library->library_->loaded()) {
        return fail("cannot load the plug-in library " + in_quotes(path) + ": " +
                    library->library_->error());
    }
    library->entry_ =
        static_cast<const abi::clap_plugin_entry*>(library->library_->symbol("clap_entry"));
    if (library->entry_ == nullptr) {
        return fail(in_quotes(path) + " is not a CLAP plug-in: it has no clap_entry");
    }
    const abi::clap_plugin_entry& entry = *library->entry_;
    if (!abi::clap_version_is_compatible(entry.clap_version)) {
        return fail(in_quotes(path) + " was built for CLAP " +
                    std::to_string(entry.clap_version.major) + "." +
                    std::to_string(entry.clap_version.minor) + ", which this host cannot load");
    }
    if (entry.init == nullptr || entry.get_factory == nullptr || !entry.init(path.c_str())) {
        return fail("the plug-in library " + in_quotes(path) + " failed to initialise");
    }
    library->initialised_ = true;
    library->factory_ = static_cast<const abi::clap_plugin_factory*>(
        entry.get_factory(abi::CLAP_PLUGIN_FACTORY_ID));
    const abi::clap_plugin_factory* factory = library->factory_;
    if (factory == nullptr || factory->get_plugin_count == nullptr ||
        factory->get_plugin_descriptor == nullptr || factory->create_plugin == nullptr) {
        return fail(in_quotes(path) + " has no CLAP plug-in factory");
    }
    const std::uint32_t count = factory->get_plugin_count(factory);
    for (std::uint32_t i = 0; i < count; ++i) {
        const abi::clap_plugin_descriptor* d = factory->get_plugin_descriptor(factory, i);
        if (d == nullptr || d->id == nullptr || d->id[0] == '\0') continue;
        PluginSummary summary{c_text(d->id),      c_text(d->name),        c_text(d->vendor),
                              c_text(d->version), c_text(d->description), {}};
        for (const char* const* f = d->features; f != nullptr && *f != nullptr; ++f) {
            summary.features.emplace_back(*f);
        }
        library->plugins_.push_back(std::move(summary));
    }
    if (library->plugins_.empty()) return fail(in_quotes(path) + " holds no plug-ins");
    return library;
}

Library::~Library() {
    if (initialised_ && entry_->deinit != nullptr) entry_->deinit();
}

Result<const PluginSummary*> Library::find(std::string_view key) const {
    if (key.empty()) return &plugins_.front();
    for (const auto& plugin : plugins_) {
        if (plugin.id == key) return &plugin;
    }
    std::size_t index = 0;
    const char* end = key.data() + key.size();
    if (auto [ptr, ec] = std::from_chars(key.data(), end, index);
        ec == std::errc() && ptr == end && index < plugins_.size()) {
        return &plugins_[index];
    }
    std::string known;
    for (const auto& plugin : plugins_)
        known += (known.empty() ? "" : ", ") + plugin.id;
    return fail("no plug-in " + in_quotes(key) + " in " + in_quotes(path_) + " (it has " + known +
                ")");
}

Result<std::unique_ptr<Instance>> Instance::create(const Library& library,
                                                   const PluginSummary& plugin) {
    std::unique_ptr<Instance> instance(new Instance());
    Instance& self = *instance;
    self.name_ = plugin.name.empty() ? plugin.id : plugin.name;
    self.host_.clap_version = abi::CLAP_VERSION;
    self.host_.host_data = &self;
    self.host_.name = "clap-render";
    self.host_.vendor = "Dravik Labs";
    self.host_.url = "";
    self.host_.version = "0.1.0";
    self.host_.get_extension = &Instance::host_get_extension;
    self.host_.request_restart = &Instance::host_request_restart;
    self.host_.request_process = &Instance::host_request_process;
    self.host_.request_callback = &Instance::host_request_callback;

    const abi::clap_plugin_factory* factory = library.factory();
    self.plugin_ = factory->create_plugin(factory, &self.host_, plugin.id.c_str());
    if (self.plugin_ == nullptr)
        return fail("the plug-in " + in_quotes(self.name_) + " failed to create");
    if (self.plugin_->init == nullptr || !self.plugin_->init(self.plugin_)) {
        // CLAP: an instance whose init fails is destroyed, nothing else.
        if (self.plugin_->destroy != nullptr) self.plugin_->destroy(self.plugin_);
        self.plugin_ = nullptr;
        return fail("the plug-in " + in_quotes(self.name_) + " failed to initialise");
    }
    auto extension = [&](const char* id) {
        return self.plugin_->get_extension != nullptr
                   ? self.plugin_->get_extension(self.plugin_, id)
                   : nullptr;
    };
    self.ext_params_ = static_cast<const abi::clap_plugin_params*>(extension(abi::CLAP_EXT_PARAMS));
    self.ext_state_ = static_cast<const abi::clap_plugin_state*>(extension(abi::CLAP_EXT_STATE));
    self.ext_latency_ =
        static_cast<const abi::clap_plugin_latency*>(extension(abi::CLAP_EXT_LATENCY));
    self.ext_tail_ = static_cast<const abi::clap_plugin_tail*>(extension(abi::CLAP_EXT_TAIL));
    self.ext_ports_ =
        static_cast<const abi::clap_plugin_audio_ports*>(extension(abi::CLAP_EXT_AUDIO_PORTS));
    self.ext_configurable_ = static_cast<const abi::clap_plugin_configurable_audio_ports*>(
        extension(abi::CLAP_EXT_CONFIGURABLE_AUDIO_PORTS));
    if (self.ext_configurable_ == nullptr) {
        self.ext_configurable_ = static_cast<const abi::clap_plugin_configurable_audio_ports*>(
            extension(abi::CLAP_EXT_CONFIGURABLE_AUDIO_PORTS_COMPAT));
    }

    self.ext_help_ =
        static_cast<const abi::orba_clap_plugin_param_help*>(extension(abi::ORBA_EXT_PARAM_HELP));

    self.events_.in.ctx = &self.events_.events;
    self.events_.in.size = &events_size;
    self.events_.in.get = &events_get;
    self.out_events_.ctx = nullptr;
    self.out_events_.try_push = &drop_event;
    if (auto read = self.read_params(); !read) return std::move(read).take_error();
    self.run_callbacks();
    return instance;
}

Instance::~Instance() {
    if (plugin_ == nullptr) return;
    stop();
    if (active_ && plugin_->deactivate != nullptr) plugin_->deactivate(plugin_);
    active_ = false;
    if (plugin_->destroy != nullptr) plugin_->destroy(plugin_);
}

void Instance::stop() {
    if (processing_ && plugin_->stop_processing != nullptr) plugin_->stop_processing(plugin_);
    processing_ = false;
}

Result<Done> Instance::read_params() {
    params_.clear();
    if (ext_params_ == nullptr || ext_params_->count == nullptr ||
        ext_params_->get_info == nullptr) {
        return Done{};
    }
    const std::uint32_t count = ext_params_->count(plugin_);
    for (std::uint32_t i = 0; i < count; ++i) {
        abi::clap_param_info info{};
        if (!ext_params_->get_info(plugin_, i, &info)) {
            return fail("the plug-in " + in_quotes(name_) + " does not describe its parameter " +
                        std::to_string(i));
        }
        params_.push_back(ParamEntry{info.id, info.flags, info.cookie, field_text(info.name),
                                     field_text(info.module), info.min_value, info.max_value,
                                     info.default_value});
    }
    return Done{};
}

Result<const ParamEntry*> Instance::find_param(std::string_view key) const {
    std::uint32_t id = 0;
    const char* end = key.data() + key.size();
    if (auto [ptr, ec] = std::from_chars(key.data(), end, id); ec == std::errc() && ptr == end) {
        for (const auto& param : params_) {
            if (param.id == id) return &param;
        }
    }
    const std::string wanted = name_key(key);
    std::vector<const ParamEntry*> found;
    for (const auto& param : params_) {
        if (name_key(param.name) == wanted ||
            (!param.module.empty() && name_key(param.module + "/" + param.name) == wanted)) {
            found.push_back(&param);
        }
    }
    if (found.size() == 1) return found.front();
    if (found.size() > 1) {
        std::string names;
        for (const auto* param : found) {
            names += (names.empty() ? "" : ", ") + param->module + "/" + param->name;
        }
        return fail("the parameter name " + in_quotes(key) + " is ambiguous (" + names + ")");
    }
    if (params_.empty()) {
        return fail("unknown parameter " + in_quotes(key) + ": " + in_quotes(name_) +
                    " has no parameters");
    }
    std::string names;
    for (const auto& param : params_)
        names += (names.empty() ? "" : ", ") + param.name;
    return fail("unknown parameter " + in_quotes(key) + " (" + in_quotes(name_) + " has " + names +
                ")");
}

Result<double> Instance::parse_value(const ParamEntry& param, std::string_view text) const {
    if ((param.flags & abi::CLAP_PARAM_IS_READONLY) != 0) {
        return fail("the parameter " + in_quotes(param.name) + " is read-only");
    }
    if (ext_params_->text_to_value == nullptr) {
        return fail(in_quotes(name_) + " cannot read parameter text");
    }
    // Choice names may hold what looks like a number and a unit ("1/8 dotted"),
    // so they are matched before any unit is looked for.
    if (const std::vector<std::string> choices = choice_names(param); !choices.empty()) {
        const std::string key = choice_key(text);
        for (std::size_t i = 0; i < choices.size(); ++i) {
            if (choice_key(choices[i]) == key) return param.min + static_cast<double>(i);
        }
        std::size_t index = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), index);
        if (ec == std::errc() && end == text.data() + text.size() && index < choices.size()) {
            return param.min + static_cast<double>(index);
        }
        std::string names;
        for (const std::string& choice : choices)
            names += (names.empty() ? "" : ", ") + choice;
        return fail(in_quotes(text) + " is not a choice of " + in_quotes(param.name) + ": " +
                    names + " (or their index, 0 to " + std::to_string(choices.size() - 1) + ")");
    }
    // The plug-in reads the number and ignores the unit after it, so a unit is
    // converted here first.
    const UnitContext context{param.name, shown_unit(value_text(param, param.default_value)),
                              param.min, param.max};
    auto converted = in_parameter_unit(text, context);
    if (!converted) return std::move(converted).take_error();
    const std::string terminated = *converted;
    double value = 0.0;
    if (!ext_params_->text_to_value(plugin_, param.id, terminated.c_str(), &value) ||
        !std::isfinite(value)) {
        return fail(in_quotes(name_) + " refuses " + in_quotes(text) + " for " +
                    in_quotes(param.name));
    }
    // Typed numbers round differently from the plug-in's own bounds (0.9 against
    // the 32-bit 0.899999976), so a hair beyond a bound counts as the bound.
    const double slack = 1e-6 * std::max({1.0, std::fabs(param.min), std::fabs(param.max)});
    if (value < param.min - slack || value > param.max + slack) {
        return fail(in_quotes(text) + " is outside the range of " + in_quotes(param.name) + " (" +
                    value_text(param, param.min) + " to " + value_text(param, param.max) + ")");
    }
    return std::clamp(value, param.min, param.max);
}

std::vector<std::string> Instance::choice_names(const ParamEntry& param) const {
    constexpr double MOST = 256.0;
    if ((param.flags & abi::CLAP_PARAM_IS_STEPPED) == 0 || !(param.max >= param.min) ||
        param.max - param.min > MOST || param.min != std::floor(param.min)) {
        return {};
    }
    // A stepped parameter that shows each step as its own number is a count,
    // not a choice.
    std::vector<std::string> names;
    bool named = (param.flags & abi::CLAP_PARAM_IS_ENUM) != 0;
    for (double value = param.min; value <= param.max; value += 1.0) {
        names.push_back(value_text(param, value));
        named = named || leading_number(names.back()) != value;
    }
    if (!named) names.clear();
    return names;
}

std::string Instance::value_text(const ParamEntry& param, double value) const {
    if (ext_params_ != nullptr && ext_params_->value_to_text != nullptr) {
        char buffer[256] = {};
        if (ext_params_->value_to_text(plugin_, param.id, value, buffer, sizeof buffer)) {
            return std::string(buffer, strnlen(buffer, sizeof buffer));
        }
    }
    return shortest(value);
}

std::optional<double> Instance::current_value(const ParamEntry& param) const {
    double value = 0.0;
    if (ext_params_ == nullptr || ext_params_->get_value == nullptr ||
        !ext_params_->get_value(plugin_, param.id, &value)) {
        return std::nullopt;
    }
    return value;
}

std::string Instance::help(const ParamEntry& param) const {
    if (ext_help_ == nullptr || ext_help_->get == nullptr) return {};
    // A text that fills the buffer to within one UTF-8 character may have
    // been cut, so it is asked for again with more room, up to 64 KiB.
    constexpr std::size_t MOST = std::size_t{1} << 16;
    std::vector<char> buffer(1024, '\0');
    for (;;) {
        if (!ext_help_->get(plugin_, param.id, buffer.data(),
                            static_cast<std::uint32_t>(buffer.size()))) {
            return {};
        }
        const std::size_t length = strnlen(buffer.data(), buffer.size());
        if (length + 4 < buffer.size() || buffer.size() >= MOST)
            return std::string(buffer.data(), length);
        buffer.assign(buffer.size() * 4, '\0');
    }
}

void Instance::fill_events(std::span<const ParamChange> changes) {
    events_.events.clear();
    for (const ParamChange& change : changes) {
        abi::clap_event_param_value event{};
        event.header.size = sizeof(abi::clap_event_param_value);
        event.header.time = change.time;
        event.header.space_id = abi::CLAP_CORE_EVENT_SPACE_ID;
        event.header.type = abi::CLAP_EVENT_PARAM_VALUE;
        event.header.flags = 0;
        event.param_id = change.param->id;
        event.cookie = change.param->cookie;
        event.note_id = -1;
        event.port_index = -1;
        event.channel = -1;
        event.key = -1;
        event.value = change.value;
        events_.events.push_back(event);
    }
    // CLAP hands events over sorted by time.
    std::stable_sort(events_.events.begin(), events_.events.end(),
                     [](const auto& a, const auto& b) { return a.header.time < b.header.time; });
}

Result<Done> Instance::apply(std::span<const ParamChange> changes) {
    if (changes.empty()) return Done{};
    if (ext_params_ == nullptr || ext_params_->flush == nullptr) {
        return fail(in_quotes(name_) + " takes no parameter changes outside processing");
    }
    fill_events(changes);
    ext_params_->flush(plugin_, &events_.in, &out_events_);
    events_.events.clear();
    run_callbacks();
    return Done{};
}

Result<std::vector<std::uint8_t>> Instance::save_state() {
    if (ext_state_ == nullptr || ext_state_->save == nullptr) {
        return fail(in_quotes(name_) + " has no state to save");
    }
    std::vector<std::uint8_t> bytes;
    const abi::clap_ostream stream{&bytes, &write_to_vector};
    if (!ext_state_->save(plugin_, &stream))
        return fail(in_quotes(name_) + " failed to save its state");
    run_callbacks();
    return bytes;
}

Result<Done> Instance::load_state(const std::vector<std::uint8_t>& bytes) {
    if (ext_state_ == nullptr || ext_state_->load == nullptr) {
        return fail(in_quotes(name_) + " has no state to load");
    }
    ReadCursor cursor{&bytes, 0};
    const abi::clap_istream stream{&cursor, &read_from_vector};
    if (!ext_state_->load(plugin_, &stream)) return fail(in_quotes(name_) + " refuses the state");
    run_callbacks();
    return Done{};
}

std::vector<abi::clap_audio_port_info> Instance::ports(bool is_input) const {
    std::vector<abi::clap_audio_port_info> list;
    if (ext_ports_ == nullptr || ext_ports_->count == nullptr || ext_ports_->get == nullptr) {
        return list;
    }
    const std::uint32_t count = ext_ports_->count(plugin_, is_input);
    for (std::uint32_t i = 0; i < count; ++i) {
        abi::clap_audio_port_info info{};
        if (!ext_ports_->get(plugin_, i, is_input, &info)) info.channel_count = 0;
        list.push_back(info);
    }
    return list;
}

std::uint32_t Instance::input_channels() const {
    const auto list = ports(true);
    return list.empty() ? 0 : list.front().channel_count;
}

std::uint32_t Instance::output_channels() const {
    const auto list = ports(false);
    return list.empty() ? 0 : list.front().channel_count;
}

std::string Instance::accepted_channels(std::uint32_t limit) const {
    const bool has_input = !ports(true).empty();
    auto accepts = [&](std::uint32_t channels) {
        if ((!has_input || input_channels() == channels) && output_channels() == channels) {
            return true;
        }
        if (ext_configurable_ == nullptr || ext_configurable_->can_apply_configuration == nullptr) {
            return false;
        }
        std::vector<abi::clap_audio_port_configuration_request> requests;
        for (bool is_input : {true, false}) {
            if (is_input && !has_input) continue;
            requests.push_back({is_input, 0, channels, port_type_for(channels), nullptr});
        }
        return ext_configurable_->can_apply_configuration(
            plugin_, requests.data(), static_cast<std::uint32_t>(requests.size()));
    };
    std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
    for (std::uint32_t n = 1; n <= limit; ++n) {
        if (!accepts(n)) continue;
        if (!runs.empty() && runs.back().second + 1 == n) {
            runs.back().second = n;
        } else {
            runs.emplace_back(n, n);
        }
    }
    if (runs.empty()) return "none";
    std::string text;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (i > 0) text += i + 1 == runs.size() ? " and " : ", ";
        const auto [first, last] = runs[i];
        text += std::to_string(first);
        if (last != first) text += (last == first + 1 ? ", " : " to ") + std::to_string(last);
    }
    return text;
}

Result<Done> Instance::configure(std::uint32_t channels) {
    if (ports(false).empty()) return fail(in_quotes(name_) + " has no audio output");
    const bool has_input = !ports(true).empty();
    const bool fits = (!has_input || input_channels() == channels) && output_channels() == channels;
    if (!fits && ext_configurable_ != nullptr) {
        std::vector<abi::clap_audio_port_configuration_request> requests;
        for (bool is_input : {true, false}) {
            if (is_input && !has_input) continue;
            requests.push_back({is_input, 0, channels, port_type_for(channels), nullptr});
        }
        const auto n = static_cast<std::uint32_t>(requests.size());
        if (ext_configurable_->can_apply_configuration(plugin_, requests.data(), n) &&
            ext_configurable_->apply_configuration(plugin_, requests.data(), n)) {
            // Parameters may follow the channel count.
            if (auto read = read_params(); !read) return std::move(read).take_error();
        }
        run_callbacks();
    }
    if (has_input && input_channels() != channels) {
        return fail(in_quotes(name_) + " cannot take " + channel_count_text(channels) +
                    " (it takes " + accepted_channels() + ")");
    }
    if (output_channels() == 0) return fail(in_quotes(name_) + " has an output of no channels");
    return Done{};
}

Result<Done> Instance::activate(double sample_rate, std::uint32_t max_frames) {
    auto make_ports = [&](bool is_input, std::vector<Port>& ports_out,
                          std::vector<abi::clap_audio_buffer>& buffers) {
        ports_out.clear();
        for (const auto& info : ports(is_input)) {
            Port port;
            port.channels.assign(info.channel_count, std::vector<float>(max_frames, 0.0f));
            ports_out.push_back(std::move(port));
        }
        buffers.clear();
        for (Port& port : ports_out) {
            for (auto& channel : port.channels)
                port.pointers.push_back(channel.data());
            abi::clap_audio_buffer buffer{};
            buffer.data32 = port.pointers.data();
            buffer.data64 = nullptr;
            buffer.channel_count = static_cast<std::uint32_t>(port.channels.size());
            buffer.latency = 0;
            buffer.constant_mask = 0;
            buffers.push_back(buffer);
        }
    };
    make_ports(true, inputs_, input_buffers_);
    make_ports(false, outputs_, output_buffers_);
    if (outputs_.empty()) return fail(in_quotes(name_) + " has no audio output");
    const std::string channels = channel_count_text(output_channels());
    if (plugin_->activate == nullptr || !plugin_->activate(plugin_, sample_rate, 1, max_frames)) {
        return fail(in_quotes(name_) + " refuses to run at " + fixed(sample_rate, 0) + " Hz with " +
                    channels);
    }
    active_ = true;
    run_callbacks();
    if (plugin_->start_processing == nullptr || !plugin_->start_processing(plugin_)) {
        return fail(in_quotes(name_) + " refuses to start processing");
    }
    processing_ = true;
    return Done{};
}

std::uint32_t Instance::latency() const {
    if (ext_latency_ == nullptr || ext_latency_->get == nullptr) return 0;
    return ext_latency_->get(plugin_);
}

std::optional<std::uint32_t> Instance::tail() const {
    if (ext_tail_ == nullptr || ext_tail_->get == nullptr) return 0;
    const std::uint32_t tail = ext_tail_->get(plugin_);
    if (tail >= static_cast<std::uint32_t>(INT32_MAX)) return std::nullopt;
    return tail;
}

Result<Done> Instance::process(std::uint32_t frames, std::int64_t position,
                               const Transport& transport, std::span<const ParamChange> changes) {
    fill_events(changes);

    // A steady 4/4 timeline from song position 0, playing throughout.
    const double seconds = static_cast<double>(position) / transport.sample_rate;
    const double beats = seconds * transport.bpm / 60.0;
    const double factor = static_cast<double>(abi::CLAP_BEATTIME_FACTOR);
    const auto bar = static_cast<std::int32_t>(std::floor(beats / 4.0));
    transport_ = {};
    transport_.header.size = sizeof(abi::clap_event_transport);
    transport_.header.time = 0;
    transport_.header.space_id = abi::CLAP_CORE_EVENT_SPACE_ID;
    transport_.header.type = abi::CLAP_EVENT_TRANSPORT;
    transport_.flags = abi::CLAP_TRANSPORT_HAS_TEMPO | abi::CLAP_TRANSPORT_HAS_BEATS_TIMELINE |
                       abi::CLAP_TRANSPORT_HAS_SECONDS_TIMELINE |
                       abi::CLAP_TRANSPORT_HAS_TIME_SIGNATURE | abi::CLAP_TRANSPORT_IS_PLAYING;
    transport_.song_pos_beats = std::llround(beats * factor);
    transport_.song_pos_seconds =
        std::llround(seconds * static_cast<double>(abi::CLAP_SECTIME_FACTOR));
    transport_.tempo = transport.bpm;
    transport_.tempo_inc = 0.0;
    transport_.bar_start = std::llround(bar * 4.0 * factor);
    transport_.bar_number = bar;
    transport_.tsig_num = 4;
    transport_.tsig_denom = 4;

    abi::clap_process process{};
    process.steady_time = position;
    process.frames_count = frames;
    process.transport = &transport_;
    process.audio_inputs = input_buffers_.data();
    process.audio_outputs = output_buffers_.data();
    process.audio_inputs_count = static_cast<std::uint32_t>(input_buffers_.size());
    process.audio_outputs_count = static_cast<std::uint32_t>(output_buffers_.size());
    process.in_events = &events_.in;
    process.out_events = &out_events_;
    const abi::clap_process_status status = plugin_->process(plugin_, &process);
    events_.events.clear();
    if (status == abi::CLAP_PROCESS_ERROR) {
        return fail(in_quotes(name_) + " reported an error while processing at " +
                    fixed(seconds, 3) + " s");
    }
    return Done{};
}

void Instance::run_callbacks() {
    if (callback_requested_.exchange(false) && plugin_->on_main_thread != nullptr) {
        plugin_->on_main_thread(plugin_);
    }
}

const void* Instance::host_get_extension(const abi::clap_host*, const char*) {
    return nullptr;
}

// A render has no session to restart and is always processing.
void Instance::host_request_restart(const abi::clap_host*) {}
void Instance::host_request_process(const abi::clap_host*) {}

void Instance::host_request_callback(const abi::clap_host* host) {
    if (host == nullptr || host->host_data == nullptr) return;
    static_cast<Instance*>(host->host_data)->callback_requested_.store(true);
}

}  // namespace orba::render
