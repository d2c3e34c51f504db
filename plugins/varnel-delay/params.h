#pragma once

#include <array>
#include <string_view>

#include "orba/core/param.h"

namespace orba::varnel {

// The parameter table, in the order hosts, saved state and the graph use.
inline constexpr std::array<std::string_view, 2> MODE_CHOICES{"Normal", "PingPong"};

inline constexpr std::array<ParamInfo, 7> TABLE{{
    {.id = "time",
     .name = "Time",
     .help = "Length of the outermost delay, which sets the scale of the whole pattern.",
     .unit = "ms",
     .group = "Varnel",
     .min = 20.0f,
     .max = 1000.0f,
     .default_value = 400.0f,
     .kind = ParamKind::Float,
     .log = true},
    {.id = "ratio",
     .name = "Ratio",
     .help = "Scale between one level and the next. Lower values nest tight clusters inside "
             "each echo; 0.618 is the golden ratio.",
     .group = "Varnel",
     .min = 0.2f,
     .max = 0.9f,
     .default_value = 0.618f},
    {.id = "decay_db",
     .name = "Decay",
     .help = "Level drop for each nested level.",
     .unit = "dB",
     .group = "Varnel",
     .min = -24.0f,
     .max = 0.0f,
     .default_value = -4.0f},
    {.id = "feedback",
     .name = "Feedback",
     .help = "How much of the outermost delay returns to its own input. The nested delays get "
             "half as much, so the pattern stays clear at high settings.",
     .group = "Tone",
     .min = 0.0f,
     .max = 0.9f,
     .default_value = 0.3f},
    {.id = "damp",
     .name = "Damping",
     .help = "Low-pass in each feedback path, so repeats get darker.",
     .unit = "Hz",
     .group = "Tone",
     .min = 1000.0f,
     .max = 20000.0f,
     .default_value = 6000.0f,
     .log = true},
    {.id = "mode",
     .name = "Mode",
     .help = "Normal keeps echoes in place; Ping-Pong bounces them between left and right.",
     .group = "Tone",
     .choices = MODE_CHOICES,
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f,
     .kind = ParamKind::Choice},
    {.id = "mix",
     .name = "Mix",
     .help = "Blend of dry and delayed signal.",
     .group = "Output",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.35f},
}};

}  // namespace orba::varnel
