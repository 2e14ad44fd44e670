// POSIX (Linux) directory reading: entries read in large batches with
// getdents64 and examined relative to their directory.
#include "platform/dir_read.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/statfs.h>
#endif
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "platform/descriptors-posix.h"

namespace platform {

namespace {

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

// One entry: a directory is known from its type, everything else is
// examined with one fstatat, never following a symbolic link. With a filter
// the examination is kept, and the filter decides by name which
// directories are read.
void Add(int dir_fd, const char* name, unsigned char type, const SubdirFilter* filter, Listing* listing) {
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
    if (filter) stat = StatOf(st);
    if (S_ISDIR(st.st_mode))
      entry.attrib = kDirectory;
    else
      entry.size = static_cast<uint64_t>(st.st_size);
  }
  if (filter) {
    if ((entry.attrib & kDirectory) && !(*filter)(name, EntryStat())) entry.attrib = kExcluded;
    listing->stats.push_back(stat);
  }
  listing->entries.push_back(entry);
  listing->subdirs += (entry.attrib & kDirectory) != 0;
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
      Add(fd, d->d_name, d->d_type, filter, listing);
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
    Add(fd, d->d_name, d->d_type, filter, listing);
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
  if (!h.stream) {
    // No memory for the stream is memory running out, as for a listing.
    if (errno == ENOMEM) throw std::bad_alloc();
    int error = errno;
    close(h.fd);
    h.fd = -1;
    return error;
  }
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

}  // namespace platform
