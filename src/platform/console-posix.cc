// POSIX standard output and error: bytes written as they are, but for the
// code page 932 text of the help, converted to the locale's character set.
#include "platform/console.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <string.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace platform {

namespace {

int WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

// The character set of the user's locale, or empty text where the locale
// is "C"/"POSIX" or already reads code page 932, so that the bytes stay.
std::string LocaleCodeset() {
  const char* name = setlocale(LC_CTYPE, "");
  if (!name || strcmp(name, "C") == 0 || strcmp(name, "POSIX") == 0) return std::string();
  std::string codeset = nl_langinfo(CODESET);
  for (const char* same : {"CP932", "SHIFT_JIS", "SJIS", "WINDOWS-31J", "MS_KANJI"})
    if (strcasecmp(codeset.c_str(), same) == 0) return std::string();
  return codeset;
}

// `text` converted from code page 932 to `codeset`; false when iconv cannot.
bool FromCp932(const std::string& codeset, const char* data, size_t size, std::string* text) {
  iconv_t cd = iconv_open(codeset.c_str(), "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  text->assign(size * 4, '\0');  // no character set needs more per byte
  char* in = const_cast<char*>(data);
  size_t in_left = size;
  char* out = &(*text)[0];
  size_t out_left = text->size();
  size_t converted = iconv(cd, &in, &in_left, &out, &out_left);
  iconv_close(cd);
  text->resize(text->size() - out_left);
  return converted != static_cast<size_t>(-1);
}

}  // namespace

bool StdoutIsInteractive() { return isatty(STDOUT_FILENO) == 1; }

bool StdoutShowsColour() { return StdoutIsInteractive(); }

int WriteStdout(const char* data, size_t size) { return WriteAll(STDOUT_FILENO, data, size); }

void StdoutInUtf8() {}

int WriteCp932(const char* data, size_t size) {
  std::string codeset = LocaleCodeset();
  std::string text;
  if (codeset.empty() || !FromCp932(codeset, data, size, &text)) return WriteStdout(data, size);
  return WriteStdout(text.data(), text.size());
}

void BinaryStdio() {}

void WriteStderr(const std::string& text) { WriteAll(STDERR_FILENO, text.data(), text.size()); }

void WriteStderrAsIs(const char* data, size_t size) { WriteAll(STDERR_FILENO, data, size); }

const char kLineEnd[] = "\n";

// A terminal that does not tell its size is taken to have the classic 80.
int StderrTerminalWidth() {
  if (isatty(STDERR_FILENO) != 1) return 0;
  struct winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return size.ws_col;
}

int StdoutTerminalWidth() {
  if (isatty(STDOUT_FILENO) != 1) return 0;
  struct winsize size;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return size.ws_col;
}

bool StdoutSharesStderrTerminal() {
  struct stat out, err;
  return isatty(STDOUT_FILENO) == 1 && isatty(STDERR_FILENO) == 1 && fstat(STDOUT_FILENO, &out) == 0 &&
         fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

bool StdoutIsPipe() {
  struct stat out;
  return fstat(STDOUT_FILENO, &out) == 0 && (S_ISFIFO(out.st_mode) || S_ISSOCK(out.st_mode));
}

namespace {

// The handler may run on any thread at any moment: it reads one lock-free
// count and writes blanks from a buffer that never changes after it is set.
std::atomic<size_t> erase_columns{0};
static_assert(std::atomic<size_t>::is_always_lock_free, "read by a signal handler");
char blanks[256];

// Async-signal-safe: write(2), through WriteAll, and raise(3) alone.
// SA_RESETHAND has put the default action back, so the raised signal ends
// the process as it would have without this handler, and the shell sees it
// (status 130 for Ctrl-C).
void EraseAndEnd(int signal) {
  if (size_t n = erase_columns.load()) {
    WriteAll(STDERR_FILENO, "\r", 1);
    for (size_t chunk; n > 0; n -= chunk) WriteAll(STDERR_FILENO, blanks, chunk = std::min(n, sizeof blanks));
    WriteAll(STDERR_FILENO, "\r", 1);
  }
  raise(signal);
}

void InstallEraser() {
  memset(blanks, ' ', sizeof blanks);
  struct sigaction action = {};
  action.sa_handler = EraseAndEnd;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    // What the parent ignores (nohup, a background job) stays ignored.
    struct sigaction before;
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
      sigaction(signal, &action, nullptr);
  }
}

}  // namespace

void EraseOnInterrupt(size_t columns) {
  static bool installed = false;
  if (!installed) InstallEraser();
  installed = true;
  erase_columns.store(columns);
}

}  // namespace platform
