#pragma once

// Our own CLAP extension: a parameter's help text, which clap_param_info has
// no field for. Every plug-in built with the Orba wrapper answers
// get_extension with this table; a host that wants the text asks for the id
// below and does without when the answer is null. Hosts include this header
// alone (it needs only abi.h), so the layout is pinned like the ABI's own.

#include <cstdint>

#include "orba/clap/abi.h"

namespace orba::clap::abi {

// Versioned like CLAP's own ids: a change of the table is a new revision.
inline constexpr char ORBA_EXT_PARAM_HELP[] = "com.dravik-labs.orba.param-help/1";

extern "C" {

struct orba_clap_plugin_param_help {
    // Copies the help text of parameter `param_id` (the id of clap_param_info)
    // into `out`: at most `capacity - 1` bytes, cut before a UTF-8 character
    // that would not fit whole, then a NUL. True when the id is a parameter of
    // the plug-in (its text may be empty). False when it is not, or when `out`
    // is null or `capacity` is 0; `out[0]` is then NUL if there is room for it.
    // Main thread, like the info of clap.params, whose ids it takes.
    bool(ORBA_CLAP_ABI* get)(const clap_plugin* plugin, clap_id param_id, char* out,
                             std::uint32_t capacity);
};

}  // extern "C"

static_assert(sizeof(orba_clap_plugin_param_help) == sizeof(void*) &&
                  alignof(orba_clap_plugin_param_help) == alignof(void*),
              "orba_clap_plugin_param_help size or alignment");
static_assert(sizeof(ORBA_EXT_PARAM_HELP) == 34);

}  // namespace orba::clap::abi
