#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "orba/blocks/spec.h"
#include "orba/core/value.h"

// Any bytes must come back as a value or a message, never a crash, and the
// graph reader must report exactly the parser's verdict on the same text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    orba::Result<orba::Json> json = orba::json::parse(text);
    orba::Result<orba::GraphSpec> graph = orba::spec::from_str(text);

    const std::string_view prefix = "the graph is not valid JSON: ";
    if (json.ok()) {
        if (!graph.ok() && graph.error().starts_with(prefix)) __builtin_trap();
        if (graph.ok() != orba::spec::from_json(*json).ok()) __builtin_trap();
    } else {
        if (graph.ok() || graph.error() != std::string(prefix) + json.error()) __builtin_trap();
    }
    return 0;
}
