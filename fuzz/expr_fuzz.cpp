#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "fuzz/input.h"
#include "orba/blocks/expr.h"

// Any text either fails with a message or parses into a tree that evaluates
// without a crash; the same context always gives the same bits, and a tree
// found constant gives the same value in every context.
//
// The input is the expression text up to the first NUL byte; the bytes after
// it choose the values, sample rates and tempos of two contexts.
namespace {

std::optional<std::uint32_t> lookup(std::string_view name) {
    constexpr std::array<std::string_view, 5> NAMES{"a", "b", "c", "d", "beyond"};
    for (std::uint32_t i = 0; i < NAMES.size(); ++i)
        if (name == NAMES[i]) return i == 4 ? 100 : i;
    return std::nullopt;
}

bool same(float x, float y) {
    return std::bit_cast<std::uint32_t>(x) == std::bit_cast<std::uint32_t>(y) ||
           (std::isnan(x) && std::isnan(y));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* nul = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::size_t text_size = nul != nullptr ? static_cast<std::size_t>(nul - data) : size;
    const std::string_view text(reinterpret_cast<const char*>(data), text_size);
    orba::Result<orba::expr::Node> tree = orba::expr::Expr::parse(text, lookup);
    if (!tree.ok()) {
        if (tree.error().empty()) __builtin_trap();
        return 0;
    }

    orba::fuzz::Input in(data + text_size, size - text_size);
    (void)in.byte();
    std::array<float, 4> first{0.5f, 1.0f, -2.0f, 1000.0f};
    std::array<float, 4> second{};
    for (float& v : second)
        v = in.raw<float>();
    const orba::ControlContext a{.values = first, .sample_rate = 48000.0f, .tempo = 120.0f};
    const orba::ControlContext b{
        .values = second, .sample_rate = in.raw<float>(), .tempo = in.raw<float>()};

    const float va = orba::expr::eval(*tree, a);
    const float vb = orba::expr::eval(*tree, b);
    if (!same(va, orba::expr::eval(*tree, a)) || !same(vb, orba::expr::eval(*tree, b))) {
        __builtin_trap();
    }
    if (orba::expr::is_const(*tree) && !same(va, vb)) __builtin_trap();
    return 0;
}
