// Win32 paths: drive letters, either slash, and names in any case.
#include "platform/path.h"

#include <windows.h>

namespace platform {

const char kSeparator = '\\';
const char kPathEnders[] = ":\\/";
const char kOptionPrefixes[] = "-/";

// Paths are text in the process's ANSI code page: double-byte on a Japanese
// system (932), single-byte on a Western one (1252), where a byte such as
// 0xE9, "é", is a character of its own.
bool IsLeadByte(unsigned char c) { return IsDBCSLeadByteEx(CP_ACP, c) != 0; }

const bool kNamesIgnoreCase = true;

}  // namespace platform
