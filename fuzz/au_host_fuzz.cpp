#include <cstddef>
#include <cstdint>

#include "fuzz/au_host_calls.h"

// Host calls on a fresh test effect or instrument for each input: both are
// cheap to build, and nothing one input does can reach the next.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    constexpr AuPlugin PLUGINS[] = {AuPlugin::Probe, AuPlugin::Instrument};
    const AuPlugin which = in.pick(PLUGINS);
    Unit unit(orba::fuzz::au_factory(which), orba::fuzz::au_description(which));
    Unit source(orba::fuzz::au_factory(AuPlugin::Probe), orba::fuzz::au_description(AuPlugin::Probe));
    if (source.initialize() != noErr) __builtin_trap();
    host_calls(in, which, unit, source);
    return 0;
}
