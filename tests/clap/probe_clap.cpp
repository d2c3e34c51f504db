#include "orba/clap/export.h"
#include "tests/clap/probe_plugin.h"

ORBA_CLAP_ENTRY(orba::test::Probe, orba::test::PROBE_CONFIG)
