// Shell patterns on names, for --exclude: "*" any run of bytes, "?" any
// one byte, "[...]" one of a set ("[!...]" or "[^...]" none of it, "a-z"
// a range), a backslash takes the next byte as it is. Bytes, not
// characters: a name need not be text in any encoding.
#pragma once

#include <string_view>

bool GlobMatch(std::string_view pattern, std::string_view name);
