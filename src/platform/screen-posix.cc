// The browser's screen through ncursesw.
#include "platform/screen.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <curses.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace platform {

namespace {

volatile sig_atomic_t caught_signal = 0;

void Catch(int signal) { caught_signal = signal; }

// Ctrl-C, a request to end and a hang-up each end the browser by way of its
// loop, which gives the terminal back first. Without SA_RESTART, so that a
// wait for a key ends at once.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void CatchEndingSignals() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = Catch;
  sigemptyset(&action.sa_mask);
  for (int signal : kEndingSignals) sigaction(signal, &action, nullptr);
}

// Standard error goes to an unnamed file while the screen is shown.
class HeldStderr {
 public:
  HeldStderr() {
    std::fflush(stderr);
    held_ = std::tmpfile();
    saved_ = held_ ? dup(STDERR_FILENO) : -1;
    if (saved_ >= 0) dup2(fileno(held_), STDERR_FILENO);
  }
  ~HeldStderr() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    std::rewind(held_);
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, held_)) > 0;)
      if (write(STDERR_FILENO, buffer, got) < 0) break;
    std::fclose(held_);
  }
  HeldStderr(const HeldStderr&) = delete;
  HeldStderr& operator=(const HeldStderr&) = delete;

 private:
  std::FILE* held_;
  int saved_;
};

// `text` as wide characters that fit in `columns` columns.
std::wstring Fitted(std::string_view text, int columns) {
  std::wstring wide;
  std::mbstate_t state{};
  int used = 0;
  for (size_t at = 0; at < text.size();) {
    wchar_t ch;
    size_t length = std::mbrtowc(&ch, text.data() + at, text.size() - at, &state);
    if (length == static_cast<size_t>(-1) || length == static_cast<size_t>(-2)) {
      ch = L'?';
      length = 1;
      state = std::mbstate_t{};
    } else if (length == 0) {
      length = 1;
    }
    int width = wcwidth(ch);
    if (width < 0) ch = L'?', width = 1;
    if (used + width > columns) break;
    used += width;
    wide.push_back(ch);
    at += length;
  }
  return wide;
}

int KeyOf(int code) {
  switch (code) {
    case KEY_UP: return kKeyUp;
    case KEY_DOWN: return kKeyDown;
    case KEY_LEFT: return kKeyLeft;
    case KEY_RIGHT: return kKeyRight;
    case KEY_PPAGE: return kKeyPageUp;
    case KEY_NPAGE: return kKeyPageDown;
    case KEY_HOME: return kKeyHome;
    case KEY_END: return kKeyEnd;
    case KEY_ENTER: return kKeyEnter;
    case KEY_BACKSPACE: return kKeyBackspace;
    case KEY_RESIZE: return kKeyResize;
    default: return kKeyNone;
  }
}

class CursesScreen : public Screen {
 public:
  // `wake` is a pipe, both ends non-blocking: a byte in it is a Wake not yet
  // seen, so that one made before ReadKey waits is not lost.
  CursesScreen(SCREEN* screen, const int wake[2]) : screen_(screen), woken_(wake[0]), wake_(wake[1]) {}
  ~CursesScreen() override {
    endwin();
    delscreen(screen_);
    close(woken_);
    close(wake_);
  }

  int Rows() const override { return LINES; }
  int Columns() const override { return COLS; }

  void Line(int row, std::string_view text, Look look) override {
    attr_t attributes = look == Look::kReverse ? A_REVERSE : look == Look::kPlain ? A_NORMAL : A_BOLD;
    std::wstring wide = Fitted(text, COLS);
    attrset(attributes);
    mvaddnwstr(row, 0, wide.c_str(), static_cast<int>(wide.size()));
    if (look == Look::kReverse) {
      int y, x;
      getyx(stdscr, y, x);
      (void)y;
      // The bar spans the row, short of the last column, which would scroll.
      for (; x < COLS - 1; ++x) addch(' ');
    }
    attrset(A_NORMAL);
    clrtoeol();
  }

  void Show() override { refresh(); }

  // ncurses waits on the terminal alone, so the wait for a key or a Wake is
  // this one's; ncurses is asked first for what it holds already, a resize
  // among it, and asked to read only once the terminal has something.
  int ReadKey(int timeout_ms) override {
    int key = NextKey(0);
    if (key == kKeyNone && !caught_signal) {
      pollfd ready[] = {{STDIN_FILENO, POLLIN, 0}, {woken_, POLLIN, 0}};
      int count = poll(ready, 2, timeout_ms);
      if (count > 0 && ready[1].revents) {
        char drained[64];
        while (read(woken_, drained, sizeof drained) > 0) {
        }
      } else if (count != 0) {  // a key, or a signal that may be a resize
        key = NextKey(count > 0 ? timeout_ms : 0);
      }
    }
    return caught_signal ? kKeyInterrupt : key;
  }

  void Wake() override {
    char byte = 0;
    // A full pipe holds a Wake already.
    if (write(wake_, &byte, 1) < 0) return;
  }

  int Signal() const override { return caught_signal; }

 private:
  int NextKey(int timeout_ms) {
    timeout(timeout_ms);
    wint_t ch;
    int kind = get_wch(&ch);
    if (kind == ERR) return kKeyNone;
    if (kind == KEY_CODE_YES) return KeyOf(static_cast<int>(ch));
    if (ch == L'\r' || ch == L'\n') return kKeyEnter;
    if (ch == 127 || ch == 8) return kKeyBackspace;
    return static_cast<int>(ch);
  }

  HeldStderr held_stderr_;
  SCREEN* screen_;
  int woken_, wake_;
};

}  // namespace

std::unique_ptr<Screen> Screen::Open(std::string* why) {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    *why = "standard input and output must be a terminal";
    return nullptr;
  }
  int wake[2];
  if (pipe(wake) != 0) {
    *why = std::strerror(errno);
    return nullptr;
  }
  for (int end : wake) {
    fcntl(end, F_SETFD, FD_CLOEXEC);
    fcntl(end, F_SETFL, O_NONBLOCK);
  }
  std::setlocale(LC_CTYPE, "");
  CatchEndingSignals();
  SCREEN* screen = newterm(nullptr, stdout, stdin);
  if (!screen) {
    close(wake[0]);
    close(wake[1]);
    *why = "cannot use the terminal (is TERM set?)";
    return nullptr;
  }
  auto opened = std::make_unique<CursesScreen>(screen, wake);
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  curs_set(0);
  return opened;
}

void RaiseAgain(int signal) {
  std::signal(signal, SIG_DFL);
  std::raise(signal);
  _exit(128 + signal);
}

}  // namespace platform
