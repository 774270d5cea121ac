// Quoting for every value placed in a shell command. Ordinary values come out
// unchanged, so the command lines stay byte-identical to the plain ones.
#pragma once

#include <string>
#include <string_view>

namespace trelvik {

// For use inside "...": a backslash goes before \ " $ and `.
std::string shell_escape_double(std::string_view value);
// For use inside '...': each ' becomes '\''.
std::string shell_escape_single(std::string_view value);
// A bare word: kept as it is when made only of [A-Za-z0-9_@%+=:,./-] (and not
// empty), otherwise single-quoted.
std::string shell_word(std::string_view value);

}  // namespace trelvik
