// POSIX error codes are errno values.
#include "platform/error_text.h"

#include <string.h>

namespace platform {

std::string ErrorText(int error) { return strerror(error); }

}  // namespace platform
