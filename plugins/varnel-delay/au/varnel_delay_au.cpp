#include "orba/au/export.h"
#include "varnel-delay/varnel_delay.h"

ORBA_AU_FACTORY(orba::VarnelDelay, VarnelDelayFactory)
