// Win32 services (kernel32).
//
// Directories are read with the wide API through "\\?\" paths built from the
// absolute path of the start directory and the wide names the search
// delivers, so that paths beyond 260 characters and names the ANSI code page
// cannot represent are walked and counted like any other. Sizes come from the
// search itself; no file is opened.
//
// Text handed to the rest of the tool (entry names, arguments, environment,
// current directory) is in the ANSI code page, as the ANSI API gives it.
// Characters the code page lacks become "?", never a look-alike: a name must
// not turn into "." or ".." or gain a separator on its way to the report.
// A start path or argument is therefore read in the ANSI code page too.
//
// Output: on a console, text is converted to UTF-16 and written with
// WriteConsoleW, so that it shows whatever the console's code page;
// redirected, the bytes go out as they are, every "\n" as "\r\n".
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/dir_read.h"
#include "platform/drive.h"
#include "platform/error_text.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "platform/utf8_names.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>

namespace platform {

const char kSeparator = '\\';
const char kPathEnders[] = ":\\/";
const char kOptionPrefixes[] = "-/";

// Paths are text in the process's ANSI code page: double-byte on a Japanese
// system (932), single-byte on a Western one (1252), where a byte such as
// 0xE9, "é", is a character of its own.
bool IsLeadByte(unsigned char c) { return IsDBCSLeadByteEx(CP_ACP, c) != 0; }

namespace {

constexpr UINT kCp932 = 932;

int LastError() { return static_cast<int>(GetLastError()); }

bool IsAsciiLetter(wchar_t ch) { return (ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z'); }

wchar_t AsciiUpper(wchar_t ch) { return ch >= L'a' && ch <= L'z' ? ch - L'a' + L'A' : ch; }

std::wstring Widen(const char* text, size_t size, UINT codepage) {
  if (size == 0) return std::wstring();
  int n = MultiByteToWideChar(codepage, 0, text, static_cast<int>(size), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codepage, 0, text, static_cast<int>(size), &wide[0], n);
  return wide;
}

std::wstring Widen(const std::string& text) { return Widen(text.data(), text.size(), CP_ACP); }

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int size = static_cast<int>(wide.size());
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, &text[0], n, nullptr, nullptr);
  return text;
}

// `*lossy`, when given, tells whether a character had to become "?".
std::string Narrow(const std::wstring& wide, bool* lossy = nullptr) {
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

// Calls `fill(buffer, capacity)`, an API that answers the length it wrote or,
// when the buffer is too small, the capacity it needs (or, like
// GetModuleFileNameW, the capacity it was given), until the text fits.
// False when the call fails; an empty answer without an error is empty text.
template <typename Fill>
bool ReadText(Fill fill, std::wstring* text) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    DWORD n = fill(&buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      text->clear();
      return GetLastError() == ERROR_SUCCESS;
    }
    if (n < buffer.size()) {
      buffer.resize(n);
      *text = std::move(buffer);
      return true;
    }
    buffer.resize(std::max<size_t>(n, buffer.size() * 2));
  }
}

bool CurrentDirectory(std::wstring* dir) {
  return ReadText([](wchar_t* buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); }, dir);
}

bool HasDriveLetter(const std::wstring& path) {
  return path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == L':';
}

// The "\\?\" form of `path`, made absolute, ending in a backslash: it reaches
// beyond 260 characters and takes names exactly as they are.
bool LongDirectoryPath(const std::wstring& path, std::wstring* long_path) {
  std::wstring full;
  auto fill = [&path](wchar_t* buffer, DWORD size) {
    return GetFullPathNameW(path.c_str(), size, buffer, nullptr);
  };
  if (!ReadText(fill, &full) || full.empty()) return false;
  if (full.back() != L'\\') full += L'\\';
  if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0)
    *long_path = full;
  else if (full.compare(0, 2, L"\\\\") == 0)
    *long_path = L"\\\\?\\UNC\\" + full.substr(2);
  else
    *long_path = L"\\\\?\\" + full;
  return true;
}

// Junctions, mount points and symbolic links lead into trees counted
// elsewhere, or round a loop back to an ancestor; only a cloud-file
// placeholder holds files of its own.
bool IsLinkToDirectory(const WIN32_FIND_DATAW& data) {
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  DWORD tag_family = data.dwReserved0 & ~static_cast<DWORD>(IO_REPARSE_TAG_CLOUD_MASK);
  return tag_family != static_cast<DWORD>(IO_REPARSE_TAG_CLOUD);
}

unsigned Attributes(const WIN32_FIND_DATAW& data) {
  DWORD attributes = data.dwFileAttributes;
  unsigned attrib = 0;
  if (attributes & FILE_ATTRIBUTE_HIDDEN) attrib |= kHidden;
  if (attributes & FILE_ATTRIBUTE_SYSTEM) attrib |= kSystem;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLinkToDirectory(data)) attrib |= kDirectory;
  return attrib;
}

// A file time (100 ns ticks since 1601) as seconds since 1970, rounded down.
int64_t UnixSeconds(const FILETIME& time) {
  constexpr int64_t kTicksPerSecond = 10000000, kTicksBefore1970 = 116444736000000000;
  int64_t ticks = static_cast<int64_t>(uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime) - kTicksBefore1970;
  return ticks / kTicksPerSecond - (ticks % kTicksPerSecond < 0);
}

// Each entry's name goes into the listing twice: in the ANSI code page for
// the report, and as the wide name itself (its raw UTF-16 units), by which
// its subdirectories are found again.
void Add(const WIN32_FIND_DATAW& data, const SubdirFilter* filter, Listing* listing) {
  std::string name = Narrow(data.cFileName);
  if (IsDotOrDotDot(name.c_str())) return;
  Entry entry{};
  entry.name = static_cast<uint32_t>(listing->names.size());
  listing->names.append(name.c_str(), name.size() + 1);
  entry.native = static_cast<uint32_t>(listing->names.size());
  listing->names.append(reinterpret_cast<const char*>(data.cFileName),
                        (wcslen(data.cFileName) + 1) * sizeof(wchar_t));
  entry.attrib = Attributes(data);
  if (!(entry.attrib & kDirectory))
    entry.size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  if (filter) {
    // Identity would cost an open per file: every name counts, as it does
    // for the walk that counts clusters.
    EntryStat stat;
    stat.apparent = stat.allocated = entry.size;
    stat.has_mtime = true;
    stat.mtime = UnixSeconds(data.ftLastWriteTime);
    if ((entry.attrib & kDirectory) && !(*filter)(name.c_str(), stat)) entry.attrib ^= kDirectory | kExcluded;
    listing->stats.push_back(stat);
  }
  listing->entries.push_back(entry);
  listing->subdirs += (entry.attrib & kDirectory) != 0;
}

void AppendNative(const char* native, std::wstring* path) {
  for (wchar_t ch;; native += sizeof ch) {
    memcpy(&ch, native, sizeof ch);
    if (ch == L'\0') return;
    *path += ch;
  }
}

// The "\\?\" path of `dir`, ending in a backslash.
bool FullPath(const Dir* dir, std::wstring* path) {
  std::vector<const Dir*> chain;
  for (; dir->parent; dir = dir->parent) chain.push_back(dir);
  if (!LongDirectoryPath(Widen(dir->name), path)) return false;
  for (auto d = chain.rbegin(); d != chain.rend(); ++d) {
    AppendNative((*d)->name, path);
    *path += L'\\';
  }
  return true;
}

// 0 or the error that stopped the search.
int ReadEntries(std::wstring pattern, Listing* listing, const SubdirFilter* filter) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, FIND_FIRST_EX_LARGE_FETCH);
  // A root directory without entries has no "." and ".." either.
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : LastError();
  int error = 0;
  try {
    do {
      Add(data, filter, listing);
    } while (FindNextFileW(find, &data));
    if (GetLastError() != ERROR_NO_MORE_FILES) error = LastError();
  } catch (...) {
    FindClose(find);
    throw;
  }
  FindClose(find);
  return error;
}

// A file where a directory was named is no directory, whatever error the
// search gives for it. The file itself is asked, without the backslash that
// ends `path`.
bool IsFile(std::wstring path) {
  path.pop_back();
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

const bool kKnowsAllocatedSize = false;
const bool kNamesIgnoreCase = true;

// A directory's own size is nothing here.
bool ExaminePath(const char*, EntryStat*) { return false; }

// A search holds one handle, of which a process may have millions: nothing
// to keep books of.
bool BeginRead(Dir*, bool) { return true; }

// A search is read whole: one piece, whatever the allowance.
void ReadPiece(Dir* dir, size_t, const SubdirFilter* filter) {
  std::wstring path;
  if (!FullPath(dir, &path)) {
    dir->listing.error = LastError();
    return;
  }
  if (filter) dir->listing.stats.emplace_back();  // the directory's own, unknown here
  int error = ReadEntries(path + L'*', &dir->listing, filter);
  dir->listing.error = error && IsFile(path) ? ERROR_DIRECTORY : error;
}

ReadEnd EndPiece(Dir*, bool) { return ReadEnd::kEnded; }

size_t ConcurrentReads() { return SIZE_MAX; }

void UnreadDirectory(Dir* dir) { dir->listing.Release(); }

void ForgetDirectory(Dir*) {}


namespace {

// The root of drive `drive` (1 = A; its low 8 bits, so that letter codes of
// either case work), or empty text for the current drive (0).
bool DriveRoot(unsigned drive, std::wstring* root) {
  wchar_t letter = static_cast<wchar_t>((drive + 64) & 0xFF);
  if (letter == L'@') {
    root->clear();
    return true;
  }
  if (!IsAsciiLetter(letter)) return false;
  *root = {AsciiUpper(letter), L':', L'\\'};
  return true;
}

}  // namespace

int getdfree(unsigned drive, const char*, dfree* df) {
  std::wstring root;
  if (!DriveRoot(drive, &root)) return ERROR_INVALID_DRIVE;
  const wchar_t* root_name = root.empty() ? nullptr : root.c_str();
  ULARGE_INTEGER available, total;
  DWORD sectors_per_cluster, bytes_per_sector, free_clusters, total_clusters;
  if (!GetDiskFreeSpaceExW(root_name, &available, &total, nullptr) ||
      !GetDiskFreeSpaceW(root_name, &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                         &total_clusters))
    return LastError();
  uint64_t cluster_bytes = static_cast<uint64_t>(sectors_per_cluster) * bytes_per_sector;
  if (cluster_bytes == 0) return ERROR_INVALID_DRIVE;
  df->df_avail = available.QuadPart / cluster_bytes;
  df->df_total = total.QuadPart / cluster_bytes;
  df->df_bsec = bytes_per_sector;
  df->df_sclus = sectors_per_cluster;
  return 0;
}

int getdisk() {
  std::wstring cwd;
  if (!CurrentDirectory(&cwd) || !HasDriveLetter(cwd)) return -1;
  return AsciiUpper(cwd[0]) - L'A';
}

// "X:" alone names the directory recorded as current on drive X: in the
// environment as "=X:" (where the command shell keeps it), else its root.
int setdisk(int drive) {
  if (drive < 0 || drive >= 26) return ERROR_INVALID_DRIVE;
  const wchar_t letter = static_cast<wchar_t>(L'A' + drive);
  const wchar_t recorded[] = {letter, L':', L'\0'};
  const wchar_t root[] = {letter, L':', L'\\', L'\0'};
  if (!SetCurrentDirectoryW(recorded) && !SetCurrentDirectoryW(root)) return LastError();
  return 0;
}

// A directory whose name the ANSI code page cannot hold cannot be returned to
// by that name, so it counts as unreadable.
bool getcwd(std::string* dir) {
  std::wstring cwd;
  bool lossy;
  if (!CurrentDirectory(&cwd)) return false;
  *dir = Narrow(cwd, &lossy);
  return !lossy;
}

int chdir(const char* path) { return SetCurrentDirectoryW(Widen(path).c_str()) ? 0 : LastError(); }

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

std::string_view NameInUtf8(const Listing& listing, const Entry& entry, std::string* buffer) {
  std::wstring wide;
  AppendNative(listing.NativeNameOf(entry), &wide);
  return *buffer = Utf8(wide);
}

std::string PathInUtf8(const std::string& path) { return Utf8(Widen(path)); }

// The runtime's own vector is not used: it may expand wildcards.
std::vector<std::string> Arguments(int, char**) {
  std::vector<std::wstring> words = SplitCommandLine(GetCommandLineW());
  std::vector<std::string> args{Narrow(ExecutablePath())};
  for (size_t i = 1; i < words.size(); ++i) args.push_back(Narrow(words[i]));
  return args;
}

namespace {

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

// In English where the system has it, without the line end and final period,
// so that it reads as the end of a "<name>: <what>: <reason>" line.
std::string ErrorText(int error) {
  // What a start path can be wrong with reads as it does on POSIX systems.
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "No such file or directory";
    case ERROR_DIRECTORY: return "Not a directory";
  }
  char text[1024];
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD code = static_cast<DWORD>(error);
  DWORD n = FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text,
                           sizeof text, nullptr);
  if (n == 0) n = FormatMessageA(flags, nullptr, code, 0, text, sizeof text, nullptr);
  if (n == 0) return "error " + std::to_string(error);
  std::string message(text, n);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  if (!message.empty() && message.back() == '.') message.pop_back();
  return message;
}

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

std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }

struct Thread {
  HANDLE handle;
  void (*run)(void*);
  void* arg;
};

namespace {

DWORD WINAPI RunThread(void* thread) {
  auto* t = static_cast<Thread*>(thread);
  t->run(t->arg);
  return 0;
}

uint64_t Ticks(const FILETIME& time) {
  return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// Kernel and user time, counted in units of 100 ns.
std::chrono::nanoseconds CpuTime(BOOL (WINAPI *times)(HANDLE, FILETIME*, FILETIME*, FILETIME*, FILETIME*), HANDLE of) {
  FILETIME created, exited, kernel, user;
  if (!times(of, &created, &exited, &kernel, &user)) return std::chrono::nanoseconds(0);
  return std::chrono::nanoseconds((Ticks(kernel) + Ticks(user)) * 100);
}

}  // namespace

// The stack size is reserved, not committed, as for the main thread.
Thread* StartThread(void (*run)(void*), void* arg) {
  auto* thread = new (std::nothrow) Thread{nullptr, run, arg};
  if (!thread) return nullptr;
  thread->handle = CreateThread(nullptr, kThreadStackBytes, RunThread, thread, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread->handle) return thread;
  delete thread;
  return nullptr;
}

void JoinThread(Thread* thread) {
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

std::chrono::nanoseconds ThreadCpuTime() { return CpuTime(GetThreadTimes, GetCurrentThread()); }

// The kernel time of GetSystemTimes includes the idle time.
std::chrono::nanoseconds BusyProcessorTime() {
  FILETIME idle, kernel, user;
  if (!GetSystemTimes(&idle, &kernel, &user)) return CpuTime(GetProcessTimes, GetCurrentProcess());
  auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return std::chrono::nanoseconds(100 * (ticks(kernel) + ticks(user) - ticks(idle)));
}

// One process heap serves every thread.
void TuneAllocator(unsigned) {}

}  // namespace platform
