#pragma once

#include <cstdint>

#include "orba/clap/abi.h"
#include "orba/clap/wrapper.h"

// The per-plug-in half of a CLAP library: its registry, its factory and the
// entry a host finds. Each plug-in library instantiates it once, in one source
// file, for its plug-in type and configuration:
//
//     inline constexpr std::string_view FEATURES[] = {"audio-effect", "delay"};
//     inline constexpr orba::clap::Config CONFIG{.id = "vendor.plugin", ..., .features = FEATURES};
//     ORBA_CLAP_ENTRY(MyPlugin, CONFIG)
//
// The generic half (orba/clap/wrapper.h) never changes per plug-in.
namespace orba::clap {

template <class P, const Config& C>
struct Export {
    static constexpr const Config& CONFIG = C;
    static inline Registry REGISTRY{C};

    static bool ORBA_CLAP_ABI entry_init(const char* plugin_path) noexcept {
        return clap::entry_init(REGISTRY, plugin_path);
    }
    // The descriptor stays built: a host that calls init again gets the same one.
    static void ORBA_CLAP_ABI entry_deinit() noexcept {}
    static std::uint32_t ORBA_CLAP_ABI factory_count(const abi::clap_plugin_factory*) noexcept {
        return 1;
    }
    static const abi::clap_plugin* ORBA_CLAP_ABI factory_create(const abi::clap_plugin_factory*,
                                                                const abi::clap_host* host,
                                                                const char* plugin_id) noexcept {
        return clap::factory_create<P>(REGISTRY, host, plugin_id);
    }
    static const abi::clap_plugin_descriptor* ORBA_CLAP_ABI
    factory_descriptor(const abi::clap_plugin_factory*, std::uint32_t index) noexcept {
        return clap::factory_descriptor(REGISTRY, index);
    }
    static const void* ORBA_CLAP_ABI entry_get_factory(const char* factory_id) noexcept;

    static constexpr abi::clap_plugin_factory FACTORY = {
        .get_plugin_count = factory_count,
        .get_plugin_descriptor = factory_descriptor,
        .create_plugin = factory_create,
    };

    static constexpr abi::clap_plugin_entry ENTRY = {
        .clap_version = abi::CLAP_VERSION,
        .init = entry_init,
        .deinit = entry_deinit,
        .get_factory = entry_get_factory,
    };
};

template <class P, const Config& C>
const void* ORBA_CLAP_ABI Export<P, C>::entry_get_factory(const char* factory_id) noexcept {
    return clap::entry_get_factory(FACTORY, factory_id);
}

}  // namespace orba::clap

// Defines the library's one exported symbol for plug-in type `plugin_type`
// described by `config` (a constexpr orba::clap::Config with static storage).
// Use it once per library, at global scope.
#define ORBA_CLAP_ENTRY(plugin_type, config)                                            \
    extern "C" ORBA_CLAP_EXPORT const ::orba::clap::abi::clap_plugin_entry clap_entry = \
        ::orba::clap::Export<plugin_type, config>::ENTRY;
