// The browser's screen in the Windows console: a screen buffer of its own,
// made active while the browser runs, so that the one it replaces comes
// back as it was; keys from the console's input records. Messages to
// standard error meanwhile go to the buffer that is hidden, and show once it
// is active again.
#include "platform/screen.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

namespace platform {

namespace {

std::atomic<int> caught_event{0};

// A close, logoff or shutdown of the console ends the browser through its
// loop; Ctrl-C arrives as a key, processed input being off.
BOOL WINAPI Catch(DWORD event) {
  caught_event = static_cast<int>(event) + 1;
  return TRUE;
}

std::wstring Wide(std::string_view text) {
  if (text.empty()) return std::wstring();
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

int KeyOf(const KEY_EVENT_RECORD& key) {
  switch (key.wVirtualKeyCode) {
    case VK_UP: return kKeyUp;
    case VK_DOWN: return kKeyDown;
    case VK_LEFT: return kKeyLeft;
    case VK_RIGHT: return kKeyRight;
    case VK_PRIOR: return kKeyPageUp;
    case VK_NEXT: return kKeyPageDown;
    case VK_HOME: return kKeyHome;
    case VK_END: return kKeyEnd;
    case VK_RETURN: return kKeyEnter;
    case VK_BACK: return kKeyBackspace;
    default: break;
  }
  wchar_t ch = key.uChar.UnicodeChar;
  if (ch == 3) return kKeyInterrupt;
  return ch ? static_cast<int>(ch) : kKeyNone;
}

class ConsoleScreen : public Screen {
 public:
  ConsoleScreen(HANDLE input, HANDLE shown, HANDLE own, HANDLE woken, DWORD input_mode)
      : input_(input), shown_(shown), own_(own), woken_(woken), input_mode_(input_mode) {}
  ~ConsoleScreen() override {
    CloseHandle(woken_);
    SetConsoleActiveScreenBuffer(shown_);
    SetConsoleMode(input_, input_mode_);
    CloseHandle(own_);
    SetConsoleCtrlHandler(Catch, FALSE);
  }

  int Rows() const override { return Window().Bottom - Window().Top + 1; }
  int Columns() const override { return Window().Right - Window().Left + 1; }

  void Line(int row, std::string_view text, Look look) override {
    std::wstring wide = Wide(text);
    size_t columns = static_cast<size_t>(Columns());
    wide.resize(columns, L' ');
    COORD at{0, static_cast<SHORT>(row)};
    DWORD written;
    WriteConsoleOutputCharacterW(own_, wide.data(), static_cast<DWORD>(columns), at, &written);
    WORD plain = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;
    WORD attribute = look == Look::kReverse ? BACKGROUND_RED | BACKGROUND_GREEN | BACKGROUND_BLUE
                     : look == Look::kPlain ? plain
                                            : plain | FOREGROUND_INTENSITY;
    FillConsoleOutputAttribute(own_, attribute, static_cast<DWORD>(columns), at, &written);
  }

  void Show() override {}

  int ReadKey(int timeout_ms) override {
    if (caught_event) return kKeyInterrupt;
    HANDLE waits[] = {input_, woken_};
    if (WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) return kKeyNone;
    INPUT_RECORD record;
    DWORD read;
    if (!ReadConsoleInputW(input_, &record, 1, &read) || read == 0) return kKeyNone;
    if (record.EventType == WINDOW_BUFFER_SIZE_EVENT) return kKeyResize;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return kKeyNone;
    return KeyOf(record.Event.KeyEvent);
  }

  void Wake() override {
    SetEvent(woken_);
  }

  int Signal() const override { return 0; }

 private:
  SMALL_RECT Window() const {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(own_, &info)) return SMALL_RECT{0, 0, 79, 24};
    return info.srWindow;
  }

  HANDLE input_, shown_, own_;
  HANDLE woken_;  // set by Wake; reset as a wait sees it
  DWORD input_mode_;
};

}  // namespace

std::unique_ptr<Screen> Screen::Open(std::string* why) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE), shown = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD input_mode, output_mode;
  if (!GetConsoleMode(input, &input_mode) || !GetConsoleMode(shown, &output_mode)) {
    *why = "standard input and output must be a console";
    return nullptr;
  }
  HANDLE woken = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!woken) {
    *why = "cannot make the browser's wake-up event";
    return nullptr;
  }
  HANDLE own = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (own == INVALID_HANDLE_VALUE || !SetConsoleActiveScreenBuffer(own)) {
    CloseHandle(woken);
    *why = "cannot use the console";
    return nullptr;
  }
  CONSOLE_CURSOR_INFO cursor{1, FALSE};
  SetConsoleCursorInfo(own, &cursor);
  SetConsoleMode(input, ENABLE_WINDOW_INPUT);
  SetConsoleCtrlHandler(Catch, TRUE);
  return std::make_unique<ConsoleScreen>(input, shown, own, woken, input_mode);
}

void RaiseAgain(int signal) { std::exit(128 + signal); }

}  // namespace platform
