#pragma once

#include <array>
#include <string_view>

#include "orba/core/param.h"

// Spool Echo's parameters, in the order hosts, saved state and the graph
// (spool_echo.json) use.
namespace spool_echo {

inline constexpr std::array<std::string_view, 2> SWITCH{"Off", "On"};
inline constexpr std::array<std::string_view, 5> DIVISIONS{"1/16", "1/8", "1/4", "1/2", "1/1"};

inline constexpr std::array<orba::ParamInfo, 9> PARAMS{{
    {.id = "time",
     .name = "Time",
     .help = "The time between repeats while Sync is off.",
     .unit = "ms",
     .group = "Echo",
     .min = 20.0f,
     .max = 2000.0f,
     .default_value = 375.0f,
     .log = true},
    {.id = "tempo_sync",
     .name = "Sync",
     .help = "On: the repeats fall on a note length at the host's tempo, and Time is ignored.",
     .group = "Echo",
     .choices = SWITCH,
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f,
     .kind = orba::ParamKind::Choice},
    {.id = "division",
     .name = "Note",
     .help = "The note length between repeats while Sync is on.",
     .group = "Echo",
     .choices = DIVISIONS,
     .min = 0.0f,
     .max = 4.0f,
     .default_value = 1.0f,
     .kind = orba::ParamKind::Choice},
    {.id = "feedback",
     .name = "Feedback",
     .help = "How much of each repeat comes round again.",
     .group = "Echo",
     .min = 0.0f,
     .max = 0.97f,
     .default_value = 0.45f},
    {.id = "ping_pong",
     .name = "Ping-Pong",
     .help = "On: the repeats bounce between left and right, starting on the left.",
     .group = "Echo",
     .choices = SWITCH,
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f,
     .kind = orba::ParamKind::Choice},
    {.id = "tone",
     .name = "Tone",
     .help = "Cutoff of the low-pass every repeat passes through: lower is darker.",
     .unit = "Hz",
     .group = "Tape",
     .min = 800.0f,
     .max = 16000.0f,
     .default_value = 4000.0f,
     .log = true},
    {.id = "low_cut",
     .name = "Low Cut",
     .help = "Cutoff of the high-pass every repeat passes through: higher is thinner.",
     .unit = "Hz",
     .group = "Tape",
     .min = 20.0f,
     .max = 1000.0f,
     .default_value = 150.0f,
     .log = true},
    {.id = "drive",
     .name = "Drive",
     .help = "How hard every repeat is pushed into the tape's saturation. Quiet repeats keep "
             "their level; loud ones are rounded off and held below full scale less the drive.",
     .unit = "dB",
     .group = "Tape",
     .min = 0.0f,
     .max = 12.0f,
     .default_value = 6.0f},
    {.id = "mix",
     .name = "Mix",
     .help = "Blend of dry sound and echoes.",
     .group = "Output",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.35f},
}};

}  // namespace spool_echo
