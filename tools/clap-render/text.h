#pragma once

#include <string>
#include <string_view>

namespace orba::render {

// Numbers written without the process locale.
std::string fixed(double value, int decimals);
std::string shortest(double value);

std::string in_quotes(std::string_view text);

// Lower-case A-Z and read blanks, '-' and '_' as one separator, so that
// "Decay Time", "decay-time" and "DECAY_TIME" compare equal.
std::string name_key(std::string_view name);

// Lower-case A-Z with blanks, '-' and '_' left out, so that "Ping-Pong" and
// "pingpong" name the same choice.
std::string choice_key(std::string_view name);

}  // namespace orba::render
