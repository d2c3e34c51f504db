#include "orba/au/export.h"
#include "tests/clap/probe_plugin.h"

ORBA_AU_FACTORY(orba::test::Probe, OrbaProbeFactory)
