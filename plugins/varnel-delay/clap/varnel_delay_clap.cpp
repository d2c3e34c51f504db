#include <string_view>

#include "orba/clap/export.h"
#include "varnel-delay/varnel_delay.h"

namespace varnel_delay_clap {

inline constexpr std::string_view FEATURES[] = {"audio-effect", "delay"};

inline constexpr orba::clap::Config CONFIG{
    .id = VARNEL_DELAY_ID,
    .name = VARNEL_DELAY_NAME,
    .vendor = VARNEL_DELAY_VENDOR,
    .url = "",
    .version = VARNEL_DELAY_VERSION,
    .description =
        "A self-similar delay: every echo spawns a smaller copy of the whole delay "
        "pattern, scaled in time by the ratio and in level by the decay, four levels "
        "deep.",
    .features = FEATURES,
};

}  // namespace varnel_delay_clap

ORBA_CLAP_ENTRY(orba::VarnelDelay, varnel_delay_clap::CONFIG)
