// What the Win32 files share: the wide text of the system's API and the
// narrow text the rest of the tool handles, and errors as the tool counts
// them.
//
// Text handed to the rest of the tool (entry names, arguments, environment,
// current directory) is in the ANSI code page, as the ANSI API gives it.
// Characters the code page lacks become "?", never a look-alike: a name must
// not turn into "." or ".." or gain a separator on its way to the report.
// A start path or argument is therefore read in the ANSI code page too.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string>

namespace platform {

inline int LastError() { return static_cast<int>(GetLastError()); }

// `text` in UTF-16, read in `codepage`.
std::wstring Widen(const char* text, size_t size, UINT codepage);
std::wstring Widen(const std::string& text);

// `wide` in the ANSI code page. `*lossy`, when given, tells whether a
// character had to become "?".
std::string Narrow(const std::wstring& wide, bool* lossy = nullptr);

// Calls `fill(buffer, capacity)`, an API that answers the length it wrote or,
// when the buffer is too small, the capacity it needs (or, like
// GetModuleFileNameW, the capacity it was given), until the text fits.
// False when the call fails; an empty answer without an error is empty text.
template <typename Fill>
bool ReadText(Fill fill, std::wstring* text) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    DWORD n = fill(&buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      text->clear();
      return GetLastError() == ERROR_SUCCESS;
    }
    if (n < buffer.size()) {
      buffer.resize(n);
      *text = std::move(buffer);
      return true;
    }
    buffer.resize(std::max<size_t>(n, buffer.size() * 2));
  }
}

// Appends a name kept in a listing as raw UTF-16 units (Entry::native).
void AppendNative(const char* native, std::wstring* path);

}  // namespace platform
