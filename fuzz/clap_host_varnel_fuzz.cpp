#include <cstddef>
#include <cstdint>

#include "fuzz/clap_host_calls.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static orba::fuzz::KeptClapPlugin plugin(orba::fuzz::ClapKind::Varnel);
    orba::fuzz::Input in(data, size);
    plugin.run(in);
    return 0;
}
