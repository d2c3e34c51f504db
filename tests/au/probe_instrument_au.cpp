#include "orba/au/export.h"
#include "tests/au/probe_instrument.h"

ORBA_AU_FACTORY(orba::test::ProbeInstrument, OrbaProbeInstrumentFactory)
