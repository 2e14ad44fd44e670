// POSIX names are bytes, shown as the terminal's locale takes them.
#include "platform/utf8_names.h"

namespace platform {

std::string_view NameInUtf8(const Listing& listing, const Entry& entry, std::string*) { return listing.NameOf(entry); }

std::string PathInUtf8(const std::string& path) { return path; }

}  // namespace platform
