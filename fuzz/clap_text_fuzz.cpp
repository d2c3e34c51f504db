#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/clap_host.h"
#include "fuzz/input.h"

// Parameter text through the CLAP entry points. Any text for any id either
// fails or gives a value; any value shows as terminated text within the
// host's buffer, however small; no text gives a value that is not finite;
// and the text shown for a finite value parses back to a value that shows the
// same.
namespace {

namespace abi = orba::clap::abi;

struct Plugin {
    explicit Plugin(bool probe) : host(true), plugin(probe, &host.host) {
        params = plugin.extension<abi::clap_plugin_params>(abi::CLAP_EXT_PARAMS);
    }
    orba::fuzz::ClapHost host;
    orba::fuzz::ClapPlugin plugin;
    const abi::clap_plugin_params* params;
};

// The shown text, or a trap when a valid id refuses to show a value.
std::string shown(const Plugin& p, abi::clap_id id, double value) {
    char buffer[abi::CLAP_NAME_SIZE];
    std::memset(buffer, 'x', sizeof buffer);
    if (!p.params->value_to_text(p.plugin.get(), id, value, buffer, sizeof buffer)) {
        __builtin_trap();
    }
    if (std::memchr(buffer, 0, sizeof buffer) == nullptr) __builtin_trap();
    return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Plugin probe(true);
    static const Plugin varnel(false);
    orba::fuzz::Input in(data, size);
    const Plugin& p = in.flag() ? probe : varnel;
    const std::uint32_t count = p.params->count(p.plugin.get());

    // Mostly a real parameter, now and then any id at all.
    abi::clap_id id = in.raw<abi::clap_id>();
    if (!in.flag()) {
        abi::clap_param_info info{};
        if (!p.params->get_info(p.plugin.get(), id % count, &info)) __builtin_trap();
        id = info.id;
    }
    const double value = in.raw<double>();
    const std::uint32_t capacity = in.byte();

    char small[256];
    std::memset(small, 'x', sizeof small);
    const bool valid = p.params->value_to_text(p.plugin.get(), id, value, small, capacity);
    if (valid && capacity > 0 && std::memchr(small, 0, capacity) == nullptr) __builtin_trap();
    for (std::size_t i = capacity; i < sizeof small; ++i)
        if (small[i] != 'x') __builtin_trap();

    const std::string text(in.text(4096));
    double typed = 0.0;
    const bool parsed = p.params->text_to_value(p.plugin.get(), id, text.c_str(), &typed);
    if (parsed && !std::isfinite(typed)) __builtin_trap();
    if (!valid) {
        if (parsed) __builtin_trap();
        return 0;
    }

    const double values[] = {value, typed};
    for (std::size_t i = 0; i < (parsed ? 2u : 1u); ++i) {
        const double v = values[i];
        const std::string first = shown(p, id, v);
        // Past this a value shows as an infinity, which no text may give.
        if (!(std::fabs(v) < 0x1.ffffffp127)) continue;
        double back = 0.0;
        if (!p.params->text_to_value(p.plugin.get(), id, first.c_str(), &back)) __builtin_trap();
        if (shown(p, id, back) != first) __builtin_trap();
    }
    return 0;
}
