#pragma once

#include <string_view>

namespace orba {

// A fault in a plug-in's own constant tables or graph text is a programming
// error: the message goes to stderr and the process aborts.
[[noreturn]] void fatal(std::string_view message);

}  // namespace orba
