// POSIX paths: "/" separators, names told apart by every byte.
#include "platform/path.h"

namespace platform {

const char kSeparator = '/';
const char kPathEnders[] = "/";
const char kOptionPrefixes[] = "-";

bool IsLeadByte(unsigned char) { return false; }

const bool kNamesIgnoreCase = false;

}  // namespace platform
