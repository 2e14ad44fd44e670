#include "report/out.h"

#include <cstring>

#include "platform/console.h"
#include "report/diagnostic.h"
#include "report/progress.h"

namespace {

constexpr size_t kBufferBytes = 64 * 1024;
char buffer[kBufferBytes];
size_t used = 0;
bool failed = false;

// Rows never share a line with the progress line on the same screen.
void Send(const char* data, size_t size) {
  static const bool shares_terminal = platform::StdoutSharesStderrTerminal();
  if (shares_terminal) ProgressErase();
  if (int error = platform::WriteStdout(data, size)) {
    failed = true;
    ReportFailure("write error", error);
  }
}

}  // namespace

void OutFlush() {
  if (used == 0 || failed) {
    used = 0;
    return;
  }
  size_t size = used;
  used = 0;
  Send(buffer, size);
}

bool OutFailed() { return failed; }

void OutWrite(const char* data, size_t size) {
  if (size == 0) return;  // an empty string_view may carry no pointer, which memcpy must not get
  if (used + size > kBufferBytes) {
    OutFlush();
    if (size > kBufferBytes) {
      // Longer than the whole buffer (a very deep path): send it directly.
      if (!failed) Send(data, size);
      return;
    }
  }
  memcpy(buffer + used, data, size);
  used += size;
}

// Someone watching a terminal sees each row as soon as it is known; a pipe
// or a file gets whole blocks.
void OutChar(char c) {
  static const bool line_by_line = platform::StdoutIsInteractive();
  OutWrite(&c, 1);
  if (c == '\n' && line_by_line) OutFlush();
}

void putnchar(int c, int n) {
  for (int i = 0; i < n; ++i) OutChar(static_cast<char>(c));
}
