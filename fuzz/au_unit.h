#pragma once

#include "fuzz/tidal_tremolo.h"
#include "orba/au/wrapper.h"
#include "tests/au/host.h"
#include "tests/au/probe_instrument.h"
#include "tests/clap/probe_plugin.h"
#include "varnel-delay/varnel_delay.h"

// Audio Unit instances for the fuzz targets, made in process by the same
// factory a component exports and reached only through Lookup.
namespace orba::fuzz {

enum class AuPlugin { Probe, Instrument, Varnel, Tidal };

inline AudioComponentFactoryFunction au_factory(AuPlugin which) {
    switch (which) {
        case AuPlugin::Probe:
            return &au::factory<test::Probe>;
        case AuPlugin::Instrument:
            return &au::factory<test::ProbeInstrument>;
        case AuPlugin::Tidal:
            return &au::factory<TidalTremolo>;
        case AuPlugin::Varnel:
            break;
    }
    return &au::factory<VarnelDelay>;
}

inline AudioComponentDescription au_description(AuPlugin which) {
    const OSType type = test::four_char(which == AuPlugin::Instrument ? "aumu" : "aufx");
    return test::description(type, test::four_char("Fuzz"), test::four_char("Orba"));
}

}  // namespace orba::fuzz
