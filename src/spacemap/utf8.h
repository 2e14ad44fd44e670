// UTF-8 as names may hold it, or not: file systems give bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// How many bytes from `s` make one well-formed UTF-8 character; 0 when the
// first of them is not the start of one.
size_t Utf8Length(std::string_view s);

// `name` as a terminal may show it: each well-formed character that is not
// a control character as it is, and in place of each other sequence of
// bytes (a control character, or bytes that are no UTF-8) what `stand_in`
// appends for it. C1 controls (U+0080 to U+009F) steer terminals as C0
// ones do.
using StandIn = void (*)(std::string_view bytes, std::string* out);
std::string Shown(std::string_view name, StandIn stand_in);

// Shown with each byte of the rest as "\xNN".
std::string Escaped(std::string_view name);
