// UTF-8 as names may hold it, or not: file systems give bytes.
#pragma once

#include <cstddef>
#include <string_view>

// How many bytes from `s` make one well-formed UTF-8 character; 0 when the
// first of them is not the start of one.
size_t Utf8Length(std::string_view s);
