#pragma once

#include "orba/au/sys.h"
#include "orba/au/wrapper.h"

// The per-plug-in half of an Audio Unit library: its one exported symbol, the
// factory function named in the bundle's Info.plist. Each plug-in library
// instantiates it once, in one source file, at global scope:
//
//     ORBA_AU_FACTORY(MyPlugin, MyPluginFactory)
//
// The generic half (orba/au/wrapper.h) never changes per plug-in.
#define ORBA_AU_EXPORT __attribute__((visibility("default")))

#define ORBA_AU_FACTORY(plugin_type, factory_name)                                       \
    extern "C" ORBA_AU_EXPORT AudioComponentPlugInInterface* factory_name(               \
        const AudioComponentDescription* desc) {                                         \
        return ::orba::au::factory<plugin_type>(desc);                                   \
    }                                                                                    \
    /* A mismatched signature fails to compile here. */                               \
    [[maybe_unused]] static constexpr AudioComponentFactoryFunction                      \
        orba_au_factory_signature_##factory_name = factory_name;
