#include "orba/core/state.h"

#include <bit>
#include <cstring>

namespace orba::state {

namespace {

constexpr std::uint32_t VERSION = 1;
constexpr std::size_t HEADER_SIZE = 12;

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t get_u32(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | bytes[offset + static_cast<std::uint64_t>(i)];
    return v;
}

bool known_magic(std::span<const std::uint8_t> bytes) {
    return std::memcmp(bytes.data(), "ORBA", 4) == 0 || std::memcmp(bytes.data(), "KETH", 4) == 0;
}

}  // namespace

std::vector<std::uint8_t> save(const ParamSet& params) {
    std::size_t size = HEADER_SIZE;
    for (const Param& p : params.params())
        size += 4 + 4 * p.slot_count();
    std::vector<std::uint8_t> out;
    out.reserve(size);
    for (char c : {'O', 'R', 'B', 'A'}) out.push_back(static_cast<std::uint8_t>(c));
    put_u32(out, VERSION);
    put_u32(out, static_cast<std::uint32_t>(params.size()));
    for (const Param& p : params.params()) {
        put_u32(out, static_cast<std::uint32_t>(p.slot_count()));
        for (std::size_t slot = 0; slot < p.slot_count(); ++slot) {
            put_u32(out, std::bit_cast<std::uint32_t>(p.get_ch(slot)));
        }
    }
    return out;
}

bool load(ParamSet& params, std::span<const std::uint8_t> bytes) {
    if (bytes.size() < HEADER_SIZE || !known_magic(bytes) || get_u32(bytes, 4) != VERSION) {
        return false;
    }
    // Every record must lie wholly inside the block before anything is applied.
    // Offsets are 64-bit: a slot count near 2^32 times four cannot wrap past
    // the end and look in bounds.
    const std::uint64_t size = bytes.size();
    const std::uint32_t records = get_u32(bytes, 8);
    std::uint64_t offset = HEADER_SIZE;
    for (std::uint32_t r = 0; r < records; ++r) {
        if (size - offset < 4) return false;
        const std::uint64_t slots = get_u32(bytes, offset);
        offset += 4;
        if ((size - offset) / 4 < slots) return false;
        offset += 4 * slots;
    }

    offset = HEADER_SIZE;
    for (std::uint32_t r = 0; r < records; ++r) {
        const std::uint32_t slots = get_u32(bytes, offset);
        offset += 4;
        Param* param = r < params.size() ? &params.at(r) : nullptr;
        if (param != nullptr && param->info().kind != ParamKind::Meter) {
            for (std::uint32_t s = 0; s < slots && s < param->slot_count(); ++s) {
                param->set_ch(s,
                              std::bit_cast<float>(get_u32(bytes, offset + 4 * std::uint64_t{s})));
            }
        }
        offset += 4 * std::uint64_t{slots};
    }
    params.notify();
    return true;
}

}  // namespace orba::state
