// Text between the wide Win32 API and the code pages.
#include "platform/wide-win32.h"

#include <cstring>

namespace platform {

std::wstring Widen(const char* text, size_t size, UINT codepage) {
  if (size == 0) return std::wstring();
  int n = MultiByteToWideChar(codepage, 0, text, static_cast<int>(size), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codepage, 0, text, static_cast<int>(size), &wide[0], n);
  return wide;
}

std::wstring Widen(const std::string& text) { return Widen(text.data(), text.size(), CP_ACP); }

std::string Narrow(const std::wstring& wide, bool* lossy) {
  if (lossy) *lossy = false;
  if (wide.empty()) return std::string();
  // UTF-8 takes neither the flag nor the question; it has every character.
  bool utf8 = GetACP() == CP_UTF8;
  DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* used = utf8 ? nullptr : &used_default;
  int size = static_cast<int>(wide.size());
  int n = WideCharToMultiByte(CP_ACP, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, flags, wide.data(), size, &text[0], n, nullptr, used);
  if (lossy) *lossy = used_default != FALSE;
  return text;
}

void AppendNative(const char* native, std::wstring* path) {
  for (wchar_t ch;; native += sizeof ch) {
    memcpy(&ch, native, sizeof ch);
    if (ch == L'\0') return;
    *path += ch;
  }
}

}  // namespace platform
