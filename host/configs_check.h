// Checks a "configs" JSON text before it goes to the module, which ignores
// what it cannot use without a word: tavro-host refuses it, the GStreamer
// element warns.
#pragma once

#include <string>

namespace tavro_host {

// What is wrong with json as the filter's "configs" value, naming the
// member, or "" when nothing is: it must be a JSON object whose members are
// all known and all true or false.
std::string ConfigsProblem(const std::string& json);

}  // namespace tavro_host
