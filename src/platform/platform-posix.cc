// POSIX (Linux) services: no drive letters, "/" separators, entries read in
// large batches with getdents64 and examined relative to their directory.
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/dir_read.h"
#include "platform/drive.h"
#include "platform/error_text.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "platform/utf8_names.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#ifdef __linux__
#include <sys/statfs.h>
#endif
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>

#include "platform/descriptors-posix.h"

extern char** environ;

namespace platform {

const char kSeparator = '/';
const char kPathEnders[] = "/";
const char kOptionPrefixes[] = "-";

bool IsLeadByte(unsigned char) { return false; }

namespace {

void Add(int dir_fd, const char* name, unsigned char type, Listing* listing) {
  if (IsDotOrDotDot(name)) return;
  uint32_t offset = static_cast<uint32_t>(listing->names.size());
  listing->names.append(name, strlen(name) + 1);
  Entry entry{offset, offset, 0, 0, 0};
  // Directories are known from the entry type; everything else is examined
  // with one fstatat, never following a symbolic link.
  struct stat st;
  if (type == DT_DIR)
    entry.attrib = kDirectory;
  else if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
    entry.error = errno;
  else if (S_ISDIR(st.st_mode))
    entry.attrib = kDirectory;
  else
    entry.size = static_cast<uint64_t>(st.st_size);
  listing->entries.push_back(entry);
  listing->subdirs += (entry.attrib & kDirectory) != 0;
}

EntryStat StatOf(const struct stat& st) {
  EntryStat stat;
  stat.apparent = static_cast<uint64_t>(st.st_size);
  stat.allocated = static_cast<uint64_t>(st.st_blocks) * 512;
  stat.dev = static_cast<uint64_t>(st.st_dev);
  stat.ino = static_cast<uint64_t>(st.st_ino);
  stat.nlink = static_cast<uint32_t>(st.st_nlink);
  stat.regular = S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
  stat.has_mtime = stat.has_owner = true;
  stat.mtime = static_cast<int64_t>(st.st_mtime);
  stat.uid = static_cast<uint32_t>(st.st_uid);
  stat.gid = static_cast<uint32_t>(st.st_gid);
  stat.mode = static_cast<uint32_t>(st.st_mode);
  return stat;
}

// The file systems whose files the kernel makes up as they are read: they
// take no disk, and walking them costs minutes (/proc, /sys and the like).
#ifdef __linux__
bool IsKernelFileSystem(int fd) {
  static const unsigned long kKernelTypes[] = {
      0x9fa0,      // proc
      0x62656572,  // sysfs
      0x64626720,  // debugfs
      0x74726163,  // tracefs
      0x27e0eb,    // cgroup
      0x63677270,  // cgroup2
      0x73636673,  // securityfs
      0x6165676c,  // pstore
      0xcafe4a11,  // bpf
      0x62656570,  // configfs
      0x65735543,  // fusectl
      0x1cd1,      // devpts
      0x19800202,  // mqueue
      0xde5e81e4,  // efivarfs
      0xf97cff8c,  // selinuxfs
      0x42494e4d,  // binfmt_misc
  };
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return false;
  for (unsigned long type : kKernelTypes)
    if (static_cast<unsigned long>(fs.f_type) == type) return true;
  return false;
}
#else
bool IsKernelFileSystem(int) { return false; }
#endif

// The directory `fd` opens, as a filtered read examines it: one fstat, and
// where it lies apart from its parent's file system, one fstatfs.
EntryStat ExamineOpened(const Dir& dir, int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return EntryStat();
  EntryStat stat = StatOf(st);
  const Listing* parent = dir.parent ? &dir.parent->listing : nullptr;
  if (parent && !parent->stats.empty() && parent->SelfStat().dev != stat.dev)
    stat.file_system = IsKernelFileSystem(fd) ? FileSystem::kKernel : FileSystem::kOther;
  return stat;
}

// With a filter, every entry but a directory known from its type is
// examined, and the filter decides by name which directories are read.
void AddExamined(int dir_fd, const char* name, unsigned char type, const SubdirFilter& filter, Listing* listing) {
  if (IsDotOrDotDot(name)) return;
  uint32_t offset = static_cast<uint32_t>(listing->names.size());
  listing->names.append(name, strlen(name) + 1);
  Entry entry{offset, offset, 0, 0, 0};
  EntryStat stat;
  struct stat st;
  if (type == DT_DIR) {
    entry.attrib = kDirectory;
  } else if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    entry.error = errno;
  } else {
    stat = StatOf(st);
    if (S_ISDIR(st.st_mode))
      entry.attrib = kDirectory;
    else
      entry.size = stat.apparent;
  }
  if ((entry.attrib & kDirectory) && !filter(name, EntryStat())) entry.attrib = kExcluded;
  listing->stats.push_back(stat);
  listing->entries.push_back(entry);
  listing->subdirs += (entry.attrib & kDirectory) != 0;
}

// One entry as the reader was asked to take it.
void Take(int dir_fd, const char* name, unsigned char type, const SubdirFilter* filter, Listing* listing) {
  if (filter)
    AddExamined(dir_fd, name, type, *filter, listing);
  else
    Add(dir_fd, name, type, listing);
}

// Only a directory with subdirectories is ever found again, so only it needs
// its identity: a leaf costs no system call more. A filtered read has it
// from the directory's own examination.
FileId Identity(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? FileId{st.st_dev, st.st_ino} : FileId{0, 0};
}

void RecordIdentity(Dir* dir, int fd) {
  if (dir->listing.stats.empty())
    dir->id = Identity(fd);
  else
    dir->id = FileId{dir->listing.SelfStat().dev, dir->listing.SelfStat().ino};
}

// Names of one listing are addressed by 32-bit offsets.
constexpr size_t kMaxNamesBytes = UINT32_MAX - 4096;

// What ends a piece of a read before the end of the directory.
constexpr int kMore = -1;

#if defined(__linux__) && !defined(SPACE_READDIR)

struct linux_dirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

constexpr size_t kBatchBytes = 32 * 1024;

// Linux: whole batches of entries with getdents64 from `fd`, which stays
// open between pieces. 0, kMore or the error that stopped the reading.
int ReadBatches(int fd, Listing* listing, size_t allowance, const SubdirFilter* filter) {
  alignas(linux_dirent64) char batch[kBatchBytes];
  for (bool first = true;; first = false) {
    if (!first && listing->Bytes() >= allowance) return kMore;
    long n = syscall(SYS_getdents64, fd, batch, sizeof batch);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : 0;
    for (long pos = 0; pos < n;) {
      auto* d = reinterpret_cast<linux_dirent64*>(batch + pos);
      pos += d->d_reclen;
      Take(fd, d->d_name, d->d_type, filter, listing);
    }
    if (listing->names.size() > kMaxNamesBytes) return EOVERFLOW;
  }
}

int ReadEntries(Dir* dir, size_t allowance, const SubdirFilter* filter) {
  Dir::Handle& h = dir->handle;
  int error = ReadBatches(h.fd, &dir->listing, allowance, filter);
  if (error == kMore) return error;
  if (dir->listing.subdirs > 0) {
    RecordIdentity(dir, h.fd);
  } else {
    close(h.fd);
    h.fd = -1;
  }
  return error;
}

void CloseReading(Dir::Handle* h) {
  if (h->fd >= 0) close(h->fd);
}

#else

// Entries between two looks at the allowance, about as many as a batch of
// getdents64 brings.
constexpr size_t kPacedEntries = 512;

// Any POSIX system: readdir on a stream that owns `fd`, kept between pieces.
int ReadStream(DIR* stream, int fd, Listing* listing, size_t allowance, const SubdirFilter* filter) {
  for (size_t read = 1;; ++read) {
    errno = 0;
    struct dirent* d = readdir(stream);
    if (!d) return errno;
    Take(fd, d->d_name, d->d_type, filter, listing);
    if (listing->names.size() > kMaxNamesBytes) return EOVERFLOW;
    if (read % kPacedEntries == 0 && listing->Bytes() >= allowance) return kMore;
  }
}

// A directory with subdirectories keeps a copy of the stream's descriptor,
// made once its reading is done (-1 where none could be made: the
// directory is then found again by name).
int ReadEntries(Dir* dir, size_t allowance, const SubdirFilter* filter) {
  Dir::Handle& h = dir->handle;
  if (!h.stream) h.stream = fdopendir(h.fd);
  if (!h.stream) return errno;
  DIR* stream = static_cast<DIR*>(h.stream);
  int error = ReadStream(stream, h.fd, &dir->listing, allowance, filter);
  if (error == kMore) return error;
  int kept = -1;
  if (dir->listing.subdirs > 0) {
    RecordIdentity(dir, h.fd);
    kept = fcntl(h.fd, F_DUPFD_CLOEXEC, 0);
  }
  closedir(stream);
  h.stream = nullptr;
  h.fd = kept;
  return error;
}

void CloseReading(Dir::Handle* h) {
  if (h->stream)
    closedir(static_cast<DIR*>(h->stream));
  else if (h->fd >= 0)
    close(h->fd);
  h->stream = nullptr;
}

#endif

bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

// At most this many descriptors, however high RLIMIT_NOFILE.
constexpr size_t kMaxDescriptors = 4096;
// Left to the rest of the process.
constexpr size_t kSpareDescriptors = 2;

class SystemCalls : public DescriptorSystem {
 public:
  // What RLIMIT_NOFILE leaves beside the descriptors already open, less the
  // spares; never less than two.
  size_t Budget() override {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > kMaxDescriptors + 1024)
      return kMaxDescriptors;
    size_t room = static_cast<size_t>(limit.rlim_cur);
    for (int fd = 0; static_cast<size_t>(fd) < limit.rlim_cur; ++fd)
      if (fcntl(fd, F_GETFD) != -1) --room;
    room = room > kSpareDescriptors ? room - kSpareDescriptors : 0;
    return std::max<size_t>(room, 2);
  }
  int OpenAt(int dir_fd, const char* name, bool follow) override {
    return openat(dir_fd, name, (follow ? 0 : O_NOFOLLOW) | O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  bool Is(int fd, const FileId& id) override { return Identity(fd) == id; }
  void Close(int fd) override { close(fd); }
};

// The walk's cache of descriptors, on the system's calls.
Descriptors& descriptors() {
  static SystemCalls calls;
  static Descriptors cache(calls);
  return cache;
}

// Opens `dir`: the start directory by its path (following a link, since the
// user named it), any other relative to its parent, never through a link.
// False when it did not open.
bool Open(Dir* dir) {
  int flags = (dir->parent ? O_NOFOLLOW : 0) | O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  int fd = openat(dir->handle.at, dir->name, flags);
  if (fd >= 0) {
    dir->handle.fd = fd;
    return true;
  }
  if (OutOfDescriptors(errno))
    dir->handle.out_of_descriptors = true;
  else
    dir->listing.error = errno;
  return false;
}

// The directory's own examination, apart from anything the walk itself asks
// of the descriptor: only a filtered read tells what it is, and reads no
// entry of a directory the filter refuses for what it is. False then.
bool Wanted(Dir* dir, int fd, const SubdirFilter* filter) {
  if (!filter) return true;
  dir->listing.stats.push_back(ExamineOpened(*dir, fd));
  return !dir->parent || (*filter)(dir->name, dir->listing.SelfStat());
}

}  // namespace

const bool kKnowsAllocatedSize = true;
const bool kNamesIgnoreCase = false;

bool ExaminePath(const char* path, EntryStat* stat) {
  struct stat st;
  if (lstat(path, &st) != 0) return false;
  *stat = StatOf(st);
  return true;
}

bool BeginRead(Dir* dir, bool alone) {
  return dir->handle.reading || descriptors().BeginRead(dir, alone) != Descriptors::Begin::kBusy;
}

void ReadPiece(Dir* dir, size_t allowance, const SubdirFilter* filter) {
  Dir::Handle& h = dir->handle;
  if (h.failed) return;
  if (!h.reading) {
    if (!Open(dir)) return;
    h.reading = true;
    if (!Wanted(dir, h.fd, filter)) {
      close(h.fd);
      h.fd = -1;
      h.reading = false;
      return;
    }
  }
  int error = ReadEntries(dir, allowance, filter);
  if (error == kMore) return;
  h.reading = false;
  dir->listing.error = error;
}

ReadEnd EndPiece(Dir* dir, bool alone) { return descriptors().EndPiece(dir, alone); }

size_t ConcurrentReads() { return descriptors().ConcurrentReads(); }

void UnreadDirectory(Dir* dir) {
  if (dir->handle.reading) CloseReading(&dir->handle);
  dir->handle.fd = dir->handle.reading ? -1 : dir->handle.fd;
  descriptors().Unread(dir);
  dir->listing.Release();
}

void ForgetDirectory(Dir* dir) {
  if (dir->handle.begun)
    UnreadDirectory(dir);
  else
    descriptors().Forget(dir);
}

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

bool StdoutShowsColour() { return StdoutIsInteractive(); }

int WriteStdout(const char* data, size_t size) { return WriteAll(STDOUT_FILENO, data, size); }

// Names are bytes here, shown as the terminal's locale takes them.
std::string_view NameInUtf8(const Listing& listing, const Entry& entry, std::string*) { return listing.NameOf(entry); }

std::string PathInUtf8(const std::string& path) { return path; }

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

std::string ErrorText(int error) { return strerror(error); }

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

std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }

// Each thread runs on a stack of the tool's own, with a guard page below
// it, unmapped when the thread is joined: glibc would keep the stacks of
// joined threads for later ones, address space that a run short of it
// needs back when its reading threads end.
struct Thread {
  pthread_t id;
  void (*run)(void*);
  void* arg;
  void* stack = MAP_FAILED;
  size_t stack_bytes = 0;
};

namespace {

void* RunThread(void* thread) {
  auto* t = static_cast<Thread*>(thread);
  t->run(t->arg);
  return nullptr;
}

}  // namespace

namespace {

// The sanitizers' runtimes want room of their own on each stack, which they
// cannot add to one the program provides.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr size_t kStackBytes = 4 * kThreadStackBytes;
#else
constexpr size_t kStackBytes = kThreadStackBytes;
#endif

void FreeThread(Thread* thread) {
  if (thread->stack != MAP_FAILED) munmap(thread->stack, thread->stack_bytes);
  delete thread;
}

}  // namespace

Thread* StartThread(void (*run)(void*), void* arg) {
  auto* thread = new (std::nothrow) Thread{pthread_t(), run, arg};
  if (!thread) return nullptr;
  size_t guard = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  thread->stack_bytes = guard + kStackBytes;
  thread->stack = mmap(nullptr, thread->stack_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  pthread_attr_t attr;
  if (thread->stack == MAP_FAILED || mprotect(thread->stack, guard, PROT_NONE) != 0 || pthread_attr_init(&attr) != 0) {
    FreeThread(thread);
    return nullptr;
  }
  bool started = pthread_attr_setstack(&attr, static_cast<char*>(thread->stack) + guard, kStackBytes) == 0 &&
                 pthread_create(&thread->id, &attr, RunThread, thread) == 0;
  pthread_attr_destroy(&attr);
  if (started) return thread;
  FreeThread(thread);
  return nullptr;
}

void JoinThread(Thread* thread) {
  pthread_join(thread->id, nullptr);
  FreeThread(thread);
}

namespace {

std::chrono::nanoseconds CpuClock(clockid_t clock) {
  struct timespec ts;
  clock_gettime(clock, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

}  // namespace

std::chrono::nanoseconds ThreadCpuTime() { return CpuClock(CLOCK_THREAD_CPUTIME_ID); }

// Linux: the first line of /proc/stat sums the ticks of every processor,
// of which user, nice, system, irq, softirq and steal are busy. The file
// takes one of the descriptors the budget leaves spare; where it cannot be
// read at all, the process's own time stands in, and a later failure
// repeats the last reading rather than mix the two.
std::chrono::nanoseconds BusyProcessorTime() {
  static int has_proc_stat = -1;
  static std::chrono::nanoseconds last{0};
  char text[256];
  int fd = open("/proc/stat", O_RDONLY | O_CLOEXEC);
  ssize_t n = fd < 0 ? -1 : read(fd, text, sizeof text - 1);
  if (fd >= 0) close(fd);
  unsigned long long user, nice, system, idle, iowait, irq, softirq, steal = 0;
  bool read_it = n > 0 && (text[n] = '\0', sscanf(text, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice,
                                                  &system, &idle, &iowait, &irq, &softirq, &steal) >= 7);
  if (has_proc_stat < 0) has_proc_stat = read_it;
  if (!has_proc_stat) return CpuClock(CLOCK_PROCESS_CPUTIME_ID);
  if (!read_it) return last;
  unsigned long long ticks = user + nice + system + irq + softirq + steal;
  last = std::chrono::nanoseconds(static_cast<int64_t>(ticks * (1e9 / sysconf(_SC_CLK_TCK))));
  return last;
}

// glibc gives each thread an arena of its own, each reserving 64 MiB of
// address space. And it serves a large block from the heap once a block of
// that size was freed, where freed memory stays with the process: a fixed
// threshold keeps each large listing in a mapping of its own, returned to
// the system when the listing is let go. Elsewhere there is nothing to set.
void TuneAllocator(unsigned arenas) {
#ifdef M_ARENA_MAX
  mallopt(M_ARENA_MAX, static_cast<int>(arenas));
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#else
  (void)arenas;
#endif
}

}  // namespace platform
