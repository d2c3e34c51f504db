#include <cstddef>
#include <cstdint>

#include "fuzz/au_host_calls.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static KeptAuUnit unit(AuPlugin::Varnel);
    Input in(data, size);
    unit.run(in);
    return 0;
}
