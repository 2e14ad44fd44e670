// The Win32 console and standard output and error.
//
// On a console, text is converted to UTF-16 and written with WriteConsoleW,
// so that it shows whatever the console's code page; redirected, the bytes
// go out as they are, every "\n" as "\r\n".
#include "platform/console.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/wide-win32.h"

namespace platform {

namespace {

constexpr UINT kCp932 = 932;

bool IsConsole(HANDLE handle) {
  DWORD mode;
  return GetConsoleMode(handle, &mode) != 0;
}

// Standard output and error are text streams.
std::string WithCrLf(const char* data, size_t size) {
  std::string text;
  text.reserve(size + size / 16);
  for (const char* end = data + size; data != end; ++data) {
    if (*data == '\n') text += '\r';
    text += *data;
  }
  return text;
}

int WriteBytes(HANDLE handle, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
    DWORD written;
    if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr)) return LastError();
    done += written;
  }
  return 0;
}

// Consoles take limited amounts at once; a chunk never ends between the two
// halves of a surrogate pair.
int WriteConsoleText(HANDLE handle, const std::wstring& text) {
  for (size_t done = 0; done < text.size();) {
    size_t chunk = std::min<size_t>(text.size() - done, 8192);
    if (chunk > 1 && IS_HIGH_SURROGATE(text[done + chunk - 1])) --chunk;
    DWORD written;
    if (!WriteConsoleW(handle, text.data() + done, static_cast<DWORD>(chunk), &written, nullptr))
      return LastError();
    done += written;
  }
  return 0;
}

// Writes text that arrives whole, held in `codepage`.
int WriteText(DWORD which, UINT codepage, const char* data, size_t size) {
  HANDLE handle = GetStdHandle(which);
  std::string text = WithCrLf(data, size);
  if (IsConsole(handle)) return WriteConsoleText(handle, Widen(text.data(), text.size(), codepage));
  return WriteBytes(handle, text);
}

}  // namespace

bool StdoutIsInteractive() { return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE)); }

// Consoles before Windows 10 show the sequences as text.
bool StdoutShowsColour() {
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  return GetConsoleMode(handle, &mode) && SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

namespace {
UINT stdout_codepage = CP_ACP;
}

void StdoutInUtf8() { stdout_codepage = CP_UTF8; }

int WriteStdout(const char* data, size_t size) {
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!IsConsole(handle)) return WriteBytes(handle, WithCrLf(data, size));
  // The report arrives in blocks that may end inside a double-byte
  // character, so only whole lines are converted; the rest waits.
  static std::string partial_line;
  partial_line.append(data, size);
  size_t end = partial_line.rfind('\n') + 1;  // 0 when there is no line end
  std::string lines = WithCrLf(partial_line.data(), end);
  int error = WriteConsoleText(handle, Widen(lines.data(), lines.size(), stdout_codepage));
  partial_line.erase(0, end);
  return error;
}

int WriteCp932(const char* data, size_t size) { return WriteText(STD_OUTPUT_HANDLE, kCp932, data, size); }

void BinaryStdio() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

void WriteStderr(const std::string& text) { WriteText(STD_ERROR_HANDLE, CP_ACP, text.data(), text.size()); }

void WriteStderrAsIs(const char* data, size_t size) {
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  for (DWORD written; size > 0; data += written, size -= written)
    if (!WriteFile(handle, data, static_cast<DWORD>(std::min<size_t>(size, 1 << 20)), &written, nullptr)) return;
}

const char kLineEnd[] = "\r\n";

namespace {

int ConsoleWidth(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  if (!IsConsole(handle)) return 0;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(handle, &info)) return 80;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace

int StderrTerminalWidth() { return ConsoleWidth(STD_ERROR_HANDLE); }

int StdoutTerminalWidth() { return ConsoleWidth(STD_OUTPUT_HANDLE); }

// A process has one console at most.
bool StdoutSharesStderrTerminal() {
  return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE)) && IsConsole(GetStdHandle(STD_ERROR_HANDLE));
}

bool StdoutIsPipe() { return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_PIPE; }

namespace {

// The handler runs on a thread of its own while the walk goes on: it reads
// one count and writes blanks from a buffer that never changes after it is set.
std::atomic<size_t> erase_columns{0};
char blanks[256];

// Returning FALSE hands the event on to the default handler, which ends the
// process as it would have without this one.
BOOL WINAPI EraseAndEnd(DWORD) {
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written;
  if (size_t n = erase_columns.load()) {
    WriteFile(handle, "\r", 1, &written, nullptr);
    for (size_t chunk; n > 0; n -= chunk)
      WriteFile(handle, blanks, static_cast<DWORD>(chunk = std::min(n, sizeof blanks)), &written, nullptr);
    WriteFile(handle, "\r", 1, &written, nullptr);
  }
  return FALSE;
}

}  // namespace

void EraseOnInterrupt(size_t columns) {
  static bool installed = false;
  if (!installed) {
    memset(blanks, ' ', sizeof blanks);
    SetConsoleCtrlHandler(EraseAndEnd, TRUE);
  }
  installed = true;
  erase_columns.store(columns);
}

}  // namespace platform
