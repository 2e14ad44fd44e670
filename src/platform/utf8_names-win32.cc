// Win32 names in UTF-8, from the wide text that no code page loses.
#include "platform/utf8_names.h"

#include <windows.h>

#include "platform/wide-win32.h"

namespace platform {

namespace {

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int size = static_cast<int>(wide.size());
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, &text[0], n, nullptr, nullptr);
  return text;
}

}  // namespace

std::string_view NameInUtf8(const Listing& listing, const Entry& entry, std::string* buffer) {
  std::wstring wide;
  AppendNative(listing.NativeNameOf(entry), &wide);
  return *buffer = Utf8(wide);
}

std::string PathInUtf8(const std::string& path) { return Utf8(Widen(path)); }

}  // namespace platform
