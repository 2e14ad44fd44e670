// POSIX (Linux) services: no drive letters, "/" separators, entries read in
// large batches with getdents64 and examined relative to their directory.
#include "platform/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

namespace platform {

const char kSeparator = '/';
const char kPathEnders[] = "/";
const char kOptionPrefixes[] = "-";

bool IsLeadByte(unsigned char) { return false; }

namespace {

struct linux_dirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

constexpr size_t kBatchBytes = 32 * 1024;
// Levels of the chain that keep their descriptor and batch open. Deeper
// chains park the levels further up, so descriptors and memory stay bounded.
constexpr size_t kOpenLevels = 32;

struct Level {
  int fd = -1;  // -1 while parked
  std::unique_ptr<char[]> batch;
  size_t pos = 0, end = 0;
  off64_t resume = 0;  // directory offset just after the last entry delivered
  bool at_end = false;
  int error = 0;       // set when the level could not be resumed
  dev_t dev = 0;
  ino_t ino = 0;
  std::string name;  // in its parent; empty for the start directory
};

}  // namespace

struct DirChain::Impl {
  std::string start_path;
  std::vector<Level> levels;
  std::vector<std::unique_ptr<char[]>> spare_batches;
  size_t open_count = 0;
  const char* last_name = nullptr;

  std::unique_ptr<char[]> TakeBatch() {
    if (spare_batches.empty()) return std::unique_ptr<char[]>(new char[kBatchBytes]);
    std::unique_ptr<char[]> batch = std::move(spare_batches.back());
    spare_batches.pop_back();
    return batch;
  }

  void Push(int fd, const char* name) {
    Level level;
    level.fd = fd;
    level.name = name;
    level.batch = TakeBatch();
    levels.push_back(std::move(level));
    if (++open_count > kOpenLevels) Park(levels[levels.size() - 1 - kOpenLevels]);
  }

  // Gives up the descriptor and batch of a level far above the deepest one.
  // Its reading resumes from `resume` when the walk comes back to it.
  void Park(Level& level) {
    struct stat st;
    if (fstat(level.fd, &st) == 0) {
      level.dev = st.st_dev;
      level.ino = st.st_ino;
    } else {
      level.error = errno;
    }
    close(level.fd);
    level.fd = -1;
    spare_batches.push_back(std::move(level.batch));
    --open_count;
  }

  // Reopens the parked level `index` through ".." of its child, or, when the
  // child could not be reopened itself, down from the start directory; and
  // checks that it is the same directory as before.
  void Unpark(size_t index, int child_fd) {
    Level& level = levels[index];
    if (level.error) return;
    int fd = child_fd >= 0 ? openat(child_fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                           : ReopenFromStart(index);
    if (fd < 0) {
      level.error = errno;
      return;
    }
    struct stat st;
    int error = 0;
    if (fstat(fd, &st) != 0)
      error = errno;
    else if (st.st_dev != level.dev || st.st_ino != level.ino)
      error = ESTALE;  // the directory was moved while the walk was below it
    else if (lseek64(fd, level.resume, SEEK_SET) < 0)
      error = errno;
    if (error) {
      level.error = error;
      close(fd);
      return;
    }
    level.fd = fd;
    level.batch = TakeBatch();
    level.pos = level.end = 0;
    ++open_count;
  }

  // Opens level `index` by its names from the start directory down; all
  // the levels above it are parked. -1 with errno on failure.
  int ReopenFromStart(size_t index) {
    int fd = open(start_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (size_t i = 1; fd >= 0 && i <= index; ++i) {
      int child = openat(fd, levels[i].name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      int error = errno;
      close(fd);
      errno = error;
      fd = child;
    }
    return fd;
  }

  // Fills the batch of `level`; false at the end of the directory or on error.
  bool Refill(Level& level, int* error) {
    long n = syscall(SYS_getdents64, level.fd, level.batch.get(), kBatchBytes);
    if (n < 0) {
      *error = errno;
      return false;
    }
    level.pos = 0;
    level.end = static_cast<size_t>(n);
    level.at_end = n == 0;
    return n > 0;
  }

  bool Next(Entry* entry, int* error) {
    *error = 0;
    Level& level = levels.back();
    if (level.error) {
      *error = level.error;
      return false;
    }
    // "." and ".." come through as directories; the walk passes over them.
    if (level.pos == level.end && (level.at_end || !Refill(level, error))) return false;
    auto* d = reinterpret_cast<linux_dirent64*>(level.batch.get() + level.pos);
    level.pos += d->d_reclen;
    level.resume = d->d_off;
    Describe(level.fd, d, entry);
    last_name = d->d_name;
    return true;
  }

  // Directories are known from the entry type; everything else is examined
  // with one fstatat, never following a symbolic link.
  static void Describe(int dir_fd, const linux_dirent64* d, Entry* entry) {
    entry->name = d->d_name;
    entry->attrib = 0;
    entry->size = 0;
    entry->error = 0;
    if (d->d_type == DT_DIR) {
      entry->attrib = kDirectory;
      return;
    }
    struct stat st;
    if (fstatat(dir_fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      entry->error = errno;
    } else if (S_ISDIR(st.st_mode)) {
      entry->attrib = kDirectory;
    } else {
      entry->size = static_cast<uint64_t>(st.st_size);
    }
  }

  // A child whose own reopening failed has neither descriptor nor batch.
  void Close() {
    Level& child = levels.back();
    if (levels.size() >= 2 && levels[levels.size() - 2].fd < 0) Unpark(levels.size() - 2, child.fd);
    if (child.fd >= 0) {
      close(child.fd);
      --open_count;
    }
    if (child.batch) spare_batches.push_back(std::move(child.batch));
    levels.pop_back();
  }

  ~Impl() {
    for (Level& level : levels)
      if (level.fd >= 0) close(level.fd);
  }
};

DirChain::DirChain() : impl_(new Impl) {}
DirChain::~DirChain() = default;

int DirChain::OpenStart(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  impl_->start_path = path;
  impl_->Push(fd, "");
  return 0;
}

int DirChain::OpenChild() {
  int parent_fd = impl_->levels.back().fd;
  int fd = openat(parent_fd, impl_->last_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  impl_->Push(fd, impl_->last_name);
  return 0;
}

bool DirChain::Next(Entry* entry, int* error) { return impl_->Next(entry, error); }

void DirChain::Close() { impl_->Close(); }

namespace {

// A start path may name a file or nothing at all, which the walk then
// reports in its own words. The free space is that of the file system that
// holds the file, or else of the current directory.
int StatFileSystem(const char* dir, struct statvfs* fs) {
  if (statvfs(dir, fs) == 0) return 0;
  int error = errno;
  std::string file = dir;
  while (file.size() > 1 && file.back() == '/') file.pop_back();
  if (statvfs(file.c_str(), fs) == 0 || statvfs(".", fs) == 0) return 0;
  return error;
}

}  // namespace

int getdfree(unsigned drive, const char* dir, dfree* df) {
  if (!dir && drive != 0) return ENODEV;  // drive letters name nothing here
  struct statvfs fs;
  if (int error = StatFileSystem(dir ? dir : ".", &fs)) return error;
  df->df_avail = fs.f_bavail;
  df->df_total = fs.f_blocks;
  df->df_bsec = static_cast<uint32_t>(fs.f_frsize);
  df->df_sclus = 1;
  return 0;
}

int getdisk() { return -1; }

int setdisk(int) { return ENODEV; }

bool getcwd(std::string* dir) {
  std::vector<char> buffer(4096);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size())) {
      dir->assign(buffer.data());
      return true;
    }
    if (errno != ERANGE) return false;
    buffer.resize(buffer.size() * 2);
  }
}

int chdir(const char* path) { return ::chdir(path) == 0 ? 0 : errno; }

bool GetEnv(const char* name, std::string* value) {
  const char* found = ::getenv(name);
  size_t len = strlen(name);
  for (char** e = environ; !found && *e; ++e)
    if (strncasecmp(*e, name, len) == 0 && (*e)[len] == '=') found = *e + len + 1;
  if (!found) return false;
  value->assign(found);
  return true;
}

// A program is known by the name it was called by (a link "sp" to space is
// "sp"); only without one is the executable's own file asked.
std::vector<std::string> Arguments(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (args.empty()) args.emplace_back();
  if (!args[0].empty()) return args;
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
  if (n > 0 && static_cast<size_t>(n) < sizeof exe) args[0].assign(exe, static_cast<size_t>(n));
  return args;
}

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

int WriteStdout(const char* data, size_t size) { return WriteAll(STDOUT_FILENO, data, size); }

int WriteCp932(const char* data, size_t size) {
  std::string codeset = LocaleCodeset();
  std::string text;
  if (codeset.empty() || !FromCp932(codeset, data, size, &text)) return WriteStdout(data, size);
  return WriteStdout(text.data(), text.size());
}

void WriteStderr(const std::string& text) { WriteAll(STDERR_FILENO, text.data(), text.size()); }

std::string ErrorText(int error) { return strerror(error); }

// A terminal that does not tell its size is taken to have the classic 80.
int StderrTerminalWidth() {
  if (isatty(STDERR_FILENO) != 1) return 0;
  struct winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return size.ws_col;
}

bool StdoutSharesStderrTerminal() {
  struct stat out, err;
  return isatty(STDOUT_FILENO) == 1 && isatty(STDERR_FILENO) == 1 && fstat(STDOUT_FILENO, &out) == 0 &&
         fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }

int CheckDirectory(const std::string& dir) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

}  // namespace platform
