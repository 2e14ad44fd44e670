// The terminal as a full screen for the interactive browser: lines of
// text drawn at rows, keys read one at a time. ncursesw on POSIX, the
// console's own input and output on Win32. While the screen is taken,
// messages to standard error are held, and written once it is given back,
// so that a walk's complaints neither scribble over the screen nor get lost.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Keys beyond the characters they type.
enum Key : int {
  kKeyNone = -1,  // nothing came within the time asked for
  kKeyUp = 0x110000,
  kKeyDown,
  kKeyLeft,
  kKeyRight,
  kKeyPageUp,
  kKeyPageDown,
  kKeyHome,
  kKeyEnd,
  kKeyEnter,
  kKeyBackspace,
  kKeyResize,     // the window changed size: everything is drawn again
  kKeyInterrupt,  // Ctrl-C, SIGTERM or SIGHUP: time to give the terminal back
};

enum class Look { kPlain, kBold, kReverse, kAlert };

class Screen {
 public:
  // Takes over the terminal; null, with `why` told, when standard input or
  // output is no terminal or it cannot be used.
  static std::unique_ptr<Screen> Open(std::string* why);
  // Gives the terminal back as it was found and writes what was held of
  // standard error.
  virtual ~Screen() = default;
  virtual int Rows() const = 0;
  virtual int Columns() const = 0;
  // Replaces row `row` with `text` (printable UTF-8), cut at the right edge.
  virtual void Line(int row, std::string_view text, Look look) = 0;
  // Shows what the calls to Line drew.
  virtual void Show() = 0;
  // The next key, waiting at most `timeout_ms`; kKeyNone when none came.
  virtual int ReadKey(int timeout_ms) = 0;
  // Ends the wait of ReadKey, the one under way or else the next, with
  // kKeyNone: how another thread has the screen drawn at once. Safe from any
  // thread while the screen is open.
  virtual void Wake() = 0;
  // The signal that kKeyInterrupt stood for, to end the process by it once
  // the terminal is given back; 0 when none came.
  virtual int Signal() const = 0;
};

// Ends the process by `signal` as it would have ended without a handler.
[[noreturn]] void RaiseAgain(int signal);

}  // namespace platform
