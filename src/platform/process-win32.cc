// The Win32 process's environment and command line, in the ANSI code page.
#include "platform/process.h"

#include <windows.h>

#include "platform/wide-win32.h"

namespace platform {

// The system matches environment names without regard to case.
bool GetEnv(const char* name, std::string* value) {
  std::wstring wide_name = Widen(name);
  std::wstring wide_value;
  auto fill = [&wide_name](wchar_t* buffer, DWORD size) {
    return GetEnvironmentVariableW(wide_name.c_str(), buffer, size);
  };
  if (!ReadText(fill, &wide_value)) return false;
  *value = Narrow(wide_value);
  return true;
}

namespace {

// Words split at blanks and tabs; double quotes group blanks and are
// dropped; a backslash before a double quote yields the quote, any other
// backslash stays. Nothing is expanded. The line is split as UTF-16, where a
// backslash cannot be the second byte of a double-byte character.
std::vector<std::wstring> SplitCommandLine(const wchar_t* p) {
  std::vector<std::wstring> words;
  for (;;) {
    while (*p == L' ' || *p == L'\t') ++p;
    if (!*p) return words;
    std::wstring word;
    for (bool quoted = false; *p && (quoted || (*p != L' ' && *p != L'\t')); ++p) {
      if (*p == L'\\' && p[1] == L'"')
        word += *++p;
      else if (*p == L'"')
        quoted = !quoted;
      else
        word += *p;
    }
    words.push_back(std::move(word));
  }
}

std::wstring ExecutablePath() {
  std::wstring path;
  ReadText([](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); }, &path);
  return path;
}

}  // namespace

// The runtime's own vector is not used: it may expand wildcards.
std::vector<std::string> Arguments(int, char**) {
  std::vector<std::wstring> words = SplitCommandLine(GetCommandLineW());
  std::vector<std::string> args{Narrow(ExecutablePath())};
  for (size_t i = 1; i < words.size(); ++i) args.push_back(Narrow(words[i]));
  return args;
}

}  // namespace platform
