#include <cstddef>
#include <cstdint>

#include "fuzz/clap_host_calls.h"

// Host calls on a fresh probe for each input: the probe is cheap to build,
// and nothing one input does can reach the next.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orba::fuzz::Input in(data, size);
    orba::fuzz::ClapHost host(in.flag());
    const orba::fuzz::ClapPlugin plugin(orba::fuzz::ClapKind::Probe, &host.host);
    orba::fuzz::host_calls(in, plugin);
    return 0;
}
