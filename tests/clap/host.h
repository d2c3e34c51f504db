#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "orba/clap/abi.h"
#include "orba/core/shared_library.h"

// A small CLAP host for tests: loads a library, records what the plug-in asks
// of the host, and builds the event lists, streams and buffers a host passes.
namespace orba::test {

namespace abi = orba::clap::abi;

// A .clap file opened the way hosts open it.
class Library {
  public:
    explicit Library(const std::string& path) : library_(path) {
        if (!library_.loaded()) {
            error_ = library_.error();
            return;
        }
        entry_ = static_cast<const abi::clap_plugin_entry*>(library_.symbol("clap_entry"));
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    const std::string& error() const { return error_; }
    const abi::clap_plugin_entry* entry() const { return entry_; }
    const abi::clap_plugin_factory* factory() const {
        return static_cast<const abi::clap_plugin_factory*>(
            entry_->get_factory(abi::CLAP_PLUGIN_FACTORY_ID));
    }

  private:
    SharedLibrary library_;
    const abi::clap_plugin_entry* entry_ = nullptr;
    std::string error_;
};

// The lines a command prints, or nothing when it fails.
inline std::vector<std::string> command_lines(const std::string& command) {
    std::vector<std::string> lines;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return lines;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        lines.push_back(text);
    }
    if (pclose(pipe) != 0) lines.clear();
    return lines;
}

// The names a shared library exports, as `nm -D --defined-only` lists them.
inline std::vector<std::string> exported_symbols(const std::string& path) {
    std::vector<std::string> names;
    for (const std::string& line : command_lines("nm -D --defined-only '" + path + "'")) {
        names.push_back(line.substr(line.rfind(' ') + 1));
    }
    return names;
}

// The shared libraries a library needs, from its dynamic section.
inline std::vector<std::string> needed_libraries(const std::string& path) {
    std::vector<std::string> names;
    for (const std::string& line : command_lines("readelf -d '" + path + "'")) {
        const auto open = line.find("Shared library: [");
        if (open == std::string::npos) continue;
        const auto start = open + 17;
        names.push_back(line.substr(start, line.find(']', start) - start));
    }
    return names;
}

// A plug-in library must load on any Linux system: it may need the C and
// math libraries and the loader, nothing else.
inline void expect_only_system_c_libraries(const std::string& path) {
    const std::vector<std::string> needed = needed_libraries(path);
    EXPECT_FALSE(needed.empty());
    for (const std::string& library : needed) {
        EXPECT_TRUE(library.starts_with("libc.so") || library.starts_with("libm.so") ||
                    library.starts_with("ld-linux"))
            << library;
    }
}

// Records every call a plug-in makes on its host.
struct TestHost {
    explicit TestHost(abi::clap_version version = abi::CLAP_VERSION) {
        host.clap_version = version;
        host.host_data = this;
        host.name = "test host";
        host.vendor = "";
        host.url = "";
        host.version = "1";
        host.get_extension = [](const abi::clap_host* h, const char* id) -> const void* {
            auto* self = static_cast<TestHost*>(h->host_data);
            self->queries.emplace_back(id);
            if (self->offer_extensions && abi::is_id(id, abi::CLAP_EXT_PARAMS)) {
                return &self->params;
            }
            if (self->offer_extensions && abi::is_id(id, abi::CLAP_EXT_LATENCY)) {
                return &self->latency;
            }
            return nullptr;
        };
        host.request_restart = [](const abi::clap_host* h) {
            ++static_cast<TestHost*>(h->host_data)->restarts;
        };
        host.request_process = [](const abi::clap_host*) {};
        host.request_callback = [](const abi::clap_host* h) {
            ++static_cast<TestHost*>(h->host_data)->callbacks;
        };
        params.rescan = [](const abi::clap_host* h, abi::clap_param_rescan_flags flags) {
            static_cast<TestHost*>(h->host_data)->rescans.push_back(flags);
        };
        params.clear = [](const abi::clap_host*, abi::clap_id, abi::clap_param_clear_flags) {};
        params.request_flush = [](const abi::clap_host*) {};
        latency.changed = [](const abi::clap_host* h) {
            ++static_cast<TestHost*>(h->host_data)->latency_changes;
        };
    }
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    abi::clap_host host{};
    abi::clap_host_params params{};
    abi::clap_host_latency latency{};
    bool offer_extensions = true;
    std::vector<std::string> queries;
    int callbacks = 0;
    std::vector<abi::clap_param_rescan_flags> rescans;
    int latency_changes = 0;
    int restarts = 0;
};

// An input event list; events keep their addresses while the list grows.
class Events {
  public:
    Events() {
        list_.ctx = this;
        list_.size = [](const abi::clap_input_events* l) {
            return static_cast<std::uint32_t>(static_cast<Events*>(l->ctx)->headers_.size());
        };
        list_.get = [](const abi::clap_input_events* l, std::uint32_t i) {
            return static_cast<Events*>(l->ctx)->headers_.at(i);
        };
    }
    Events(const Events&) = delete;
    Events& operator=(const Events&) = delete;

    abi::clap_event_param_value& param(abi::clap_id id, double value) {
        abi::clap_event_param_value& e = values_.emplace_back();
        e.header.size = sizeof e;
        e.header.space_id = abi::CLAP_CORE_EVENT_SPACE_ID;
        e.header.type = abi::CLAP_EVENT_PARAM_VALUE;
        e.param_id = id;
        e.note_id = -1;
        e.port_index = e.channel = e.key = -1;
        e.value = value;
        headers_.push_back(&e.header);
        return e;
    }
    // A transport event inside the list, which the wrapper skips like any
    // event it does not honour: hosts give the tempo in each block's
    // clap_process.transport, as PluginRender (tests/support) does.
    void transport(double tempo) {
        abi::clap_event_transport& e = transports_.emplace_back();
        e.header.size = sizeof e;
        e.header.type = abi::CLAP_EVENT_TRANSPORT;
        e.flags = abi::CLAP_TRANSPORT_HAS_TEMPO;
        e.tempo = tempo;
        headers_.push_back(&e.header);
    }
    void null() { headers_.push_back(nullptr); }

    const abi::clap_input_events* list() const { return &list_; }

  private:
    abi::clap_input_events list_{};
    std::deque<abi::clap_event_param_value> values_;
    std::deque<abi::clap_event_transport> transports_;
    std::vector<const abi::clap_event_header*> headers_;
};

// A host's output stream: takes at most `per_call` bytes a call, or reports
// `fail_with` on call number `fail_on` (counted from 1).
struct OutStream {
    OutStream() {
        stream.ctx = this;
        stream.write = [](const abi::clap_ostream* s, const void* buffer,
                          std::uint64_t size) -> std::int64_t {
            auto* self = static_cast<OutStream*>(s->ctx);
            if (++self->calls == self->fail_on) return self->fail_with;
            std::size_t n = std::min<std::uint64_t>(size, self->per_call);
            auto* bytes = static_cast<const std::uint8_t*>(buffer);
            self->bytes.insert(self->bytes.end(), bytes, bytes + n);
            return static_cast<std::int64_t>(n);
        };
    }
    OutStream(const OutStream&) = delete;
    OutStream& operator=(const OutStream&) = delete;

    abi::clap_ostream stream{};
    std::vector<std::uint8_t> bytes;
    std::size_t per_call = std::numeric_limits<std::size_t>::max();
    int fail_on = 0;
    std::int64_t fail_with = -1;
    int calls = 0;
};

// A host's input stream over `bytes`: delivers at most `per_call` bytes a
// call, fails on call number `fail_on`, or claims `extra` more bytes than it
// was asked for.
struct InStream {
    explicit InStream(std::vector<std::uint8_t> data) : bytes(std::move(data)) {
        stream.ctx = this;
        stream.read = [](const abi::clap_istream* s, void* buffer,
                         std::uint64_t size) -> std::int64_t {
            auto* self = static_cast<InStream*>(s->ctx);
            if (++self->calls == self->fail_on) return -1;
            std::size_t n = std::min<std::uint64_t>(
                {size, self->per_call, self->bytes.size() - self->position});
            std::memcpy(buffer, self->bytes.data() + self->position, n);
            self->position += n;
            if (self->extra != 0) return static_cast<std::int64_t>(size) + self->extra;
            return static_cast<std::int64_t>(n);
        };
    }
    InStream(const InStream&) = delete;
    InStream& operator=(const InStream&) = delete;

    abi::clap_istream stream{};
    std::vector<std::uint8_t> bytes;
    std::size_t position = 0;
    std::size_t per_call = std::numeric_limits<std::size_t>::max();
    int fail_on = 0;
    std::int64_t extra = 0;
    int calls = 0;
};

// One process call's buffers: `inputs` and `outputs` channels of `frames`
// samples; outputs start filled with a value the plug-in must overwrite.
struct Block {
    Block(std::uint32_t inputs, std::uint32_t outputs, std::uint32_t frames)
        : in(inputs, std::vector<float>(frames, 0.0f)),
          out(outputs, std::vector<float>(frames, 7.0f)) {
        for (auto& c : in)
            in_ptrs.push_back(c.data());
        for (auto& c : out)
            out_ptrs.push_back(c.data());
        in_buffer.data32 = in_ptrs.data();
        in_buffer.channel_count = inputs;
        out_buffer.data32 = out_ptrs.data();
        out_buffer.channel_count = outputs;
        process.steady_time = -1;
        process.frames_count = frames;
        process.audio_inputs = inputs > 0 ? &in_buffer : nullptr;
        process.audio_inputs_count = inputs > 0 ? 1 : 0;
        process.audio_outputs = &out_buffer;
        process.audio_outputs_count = 1;
    }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

    std::vector<std::vector<float>> in, out;
    std::vector<float*> in_ptrs, out_ptrs;
    abi::clap_audio_buffer in_buffer{}, out_buffer{};
    abi::clap_process process{};
};

}  // namespace orba::test
