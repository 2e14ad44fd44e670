// Error codes in words, for "space: <what>: <reason>" lines.
#pragma once

#include <string>

namespace platform {

// The system's description of an error code.
std::string ErrorText(int error);

}  // namespace platform
