#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "fuzz/input.h"
#include "orba/core/param.h"
#include "orba/core/state.h"
#include "tests/clap/probe_plugin.h"
#include "varnel-delay/varnel_delay.h"

// Any block either changes nothing and is refused, or is accepted; an
// accepted block saved again loads, into a fresh set and into the same one,
// to exactly the values it gave. Meters are the plug-in's and never loaded.
namespace {

std::vector<std::uint32_t> values(const orba::ParamSet& set) {
    std::vector<std::uint32_t> out;
    for (const orba::Param& p : set.params()) {
        if (p.info().kind == orba::ParamKind::Meter) continue;
        for (std::size_t slot = 0; slot < p.slot_count(); ++slot)
            out.push_back(std::bit_cast<std::uint32_t>(p.get_ch(slot)));
    }
    return out;
}

std::shared_ptr<orba::ParamSet> make(bool probe, std::size_t channels) {
    auto set = probe ? orba::ParamSet::with_channels(orba::test::PROBE_TABLE, channels)
                     : orba::ParamSet::with_channels(orba::VarnelDelay::PARAMS, channels);
    if (!set.ok()) __builtin_trap();
    return *set;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orba::fuzz::Input in(data, size);
    const bool probe = in.flag();
    const std::size_t channels = in.byte() % 5;
    const std::shared_ptr<orba::ParamSet> set = make(probe, channels);
    int notified = 0;
    set->install_listener([&notified](orba::ParamSet&) { ++notified; });
    // Values a host moved before loading must not leak through a refused block.
    for (orba::Param& p : set->params())
        if (in.flag()) p.set_ch(in.byte() % 4, in.raw<float>());
    const std::vector<std::uint32_t> before = values(*set);

    const std::span<const std::uint8_t> block = in.rest();
    if (!orba::state::load(*set, block)) {
        if (values(*set) != before || notified != 0) __builtin_trap();
        return 0;
    }
    if (notified != 1) __builtin_trap();
    const std::vector<std::uint32_t> loaded = values(*set);
    for (std::size_t i = 0; i < set->size(); ++i) {
        const orba::Param& p = set->at(i);
        for (std::size_t slot = 0; slot < p.slot_count(); ++slot) {
            const float v = p.get_ch(slot);
            if (p.normalise(v) != v) __builtin_trap();
        }
    }

    const std::vector<std::uint8_t> saved = orba::state::save(*set);
    const std::shared_ptr<orba::ParamSet> fresh = make(probe, channels);
    if (!orba::state::load(*fresh, saved) || values(*fresh) != loaded) __builtin_trap();
    if (!orba::state::load(*set, saved) || values(*set) != loaded) __builtin_trap();
    return 0;
}
