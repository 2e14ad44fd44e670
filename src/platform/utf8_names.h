// spacemap's text is UTF-8 whatever the code page: names and paths in it.
#pragma once

#include <string>
#include <string_view>

#include "platform/listing.h"

namespace platform {

// An entry's name in UTF-8: on Win32 from its wide form, which no code page
// loses, into `buffer`; elsewhere the name's own bytes.
std::string_view NameInUtf8(const Listing& listing, const Entry& entry, std::string* buffer);
// A path of the command line (in the code page on Win32) in UTF-8.
std::string PathInUtf8(const std::string& path);

}  // namespace platform
