// Win32 error codes, in words that fit the tool's messages.
#include "platform/error_text.h"

#include <windows.h>

namespace platform {

// In English where the system has it, without the line end and final period,
// so that it reads as the end of a "<name>: <what>: <reason>" line.
std::string ErrorText(int error) {
  // What a start path can be wrong with reads as it does on POSIX systems.
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "No such file or directory";
    case ERROR_DIRECTORY: return "Not a directory";
  }
  char text[1024];
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD code = static_cast<DWORD>(error);
  DWORD n = FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text,
                           sizeof text, nullptr);
  if (n == 0) n = FormatMessageA(flags, nullptr, code, 0, text, sizeof text, nullptr);
  if (n == 0) return "error " + std::to_string(error);
  std::string message(text, n);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  if (!message.empty() && message.back() == '.') message.pop_back();
  return message;
}

}  // namespace platform
