#include "report/progress.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <string>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/path.h"
#include "report/saturating.h"

namespace {

using Clock = std::chrono::steady_clock;

// A run that ends within a second shows nothing. A longer one redraws the
// line at most ten times a second: as often as anyone can read it, and
// seldom enough to cost the walk nothing.
constexpr Clock::duration kQuietTime = std::chrono::seconds(1);
constexpr Clock::duration kRedrawTime = std::chrono::milliseconds(100);

// Not while standard output is a pipe: the program reading it may show the
// rows on the same terminal, and the line would stay between them.
struct Progress {
  bool on = platform::StderrTerminalWidth() > 0 && !platform::StdoutIsPipe();
  Clock::time_point next_draw = platform::Now() + kQuietTime;
  uint64_t dirs = 0, files = 0, bytes = 0;
  std::string_view path;
  size_t shown = 0;  // columns the line covers on the screen; 0 when none is shown
};

Progress& State() {
  static Progress progress;
  return progress;
}

// Where the character that starts at `text[i]` ends, so that neither a
// double-byte character of the path text nor a UTF-8 sequence is cut.
size_t CharEnd(std::string_view text, size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  if (platform::IsLeadByte(c)) return std::min(i + 2, text.size());
  ++i;
  if (c >= 0xC0)
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  return i;
}

// The end of `path` in at most `room` columns, after "..." when its start is
// left out. No character takes more columns than it has bytes, so counting
// bytes never overfills the line. Control characters would move the cursor;
// they show as "?".
std::string Shorten(std::string_view path, size_t room) {
  size_t start = 0;
  std::string shown;
  if (path.size() > room) {
    if (room < 4) return shown;
    shown = "...";
    while (path.size() - start > room - 3) start = CharEnd(path, start);
  }
  shown.append(path, start, std::string::npos);
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return shown;
}

// One column is left free: writing into the last one wraps some terminals.
void Draw(Progress& p) {
  size_t width = static_cast<size_t>(std::max(platform::StderrTerminalWidth(), 0));
  if (width < 2) return;
  size_t room = width - 1;
  std::string line = std::to_string(p.dirs) + " dirs, " + std::to_string(p.files) + " files, " +
                     std::to_string(p.bytes) + " bytes";
  if (line.size() + 2 < room) line += ": " + Shorten(p.path, room - line.size() - 2);
  if (line.size() < p.shown) line.append(p.shown - line.size(), ' ');  // covers the last line
  line.resize(std::min(line.size(), room));
  p.shown = line.size();
  platform::EraseOnInterrupt(p.shown);  // before the line goes out, which an interrupt may cut short
  platform::WriteStderr("\r" + line);
}

void Tick(Progress& p) {
  Clock::time_point now = platform::Now();
  if (now < p.next_draw) return;
  p.next_draw = now + kRedrawTime;
  Draw(p);
}

}  // namespace

void ProgressDirectory() {
  Progress& p = State();
  if (!p.on) return;
  ++p.dirs;
  Tick(p);
}

void ProgressAt(std::string_view path) { State().path = path; }

void ProgressFile(uint64_t size) {
  Progress& p = State();
  if (!p.on) return;
  ++p.files;
  p.bytes = SatAdd(p.bytes, size);
  Tick(p);
}

// The line is erased as the console shows text; when memory has run out,
// before the message that says so, with bytes written as they are.
void ProgressErase() {
  Progress& p = State();
  if (p.shown == 0) return;
  try {
    platform::WriteStderr("\r" + std::string(p.shown, ' ') + "\r");
  } catch (const std::bad_alloc&) {
    static const char blanks[] = "                                                                ";
    platform::WriteStderrAsIs("\r", 1);
    for (size_t n = p.shown, chunk; n > 0; n -= chunk)
      platform::WriteStderrAsIs(blanks, chunk = std::min(n, sizeof blanks - 1));
    platform::WriteStderrAsIs("\r", 1);
  }
  p.shown = 0;
  platform::EraseOnInterrupt(0);
}
