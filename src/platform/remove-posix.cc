// Removal through descriptors: each directory on the way is opened with
// O_NOFOLLOW | O_DIRECTORY and compared with the scan by device and inode,
// so that a path whose directory was swapped for a link leads nowhere.
#include "platform/remove.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/error_text.h"
#include "platform/listing.h"

namespace platform {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void Swap(Descriptor& other) { std::swap(fd_, other.fd_); }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool Matches(const struct stat& st, const ScannedEntry& entry) {
  return static_cast<uint64_t>(st.st_dev) == entry.dev && static_cast<uint64_t>(st.st_ino) == entry.ino &&
         S_ISDIR(st.st_mode) == entry.dir;
}

// The error of the call that just failed on `name`.
int Failed(const char* name, std::string* why) {
  int error = errno;
  *why = std::string("cannot remove '") + name + "': " + ErrorText(error);
  return error;
}

int Refuse(int error, const std::string& what, std::string* why) {
  *why = what;
  return error;
}

// Opens the directory `name` in `parent` without following a link; -1 with
// errno set when it is no such directory (ELOOP or ENOTDIR for a link).
int OpenDirectory(int parent, const char* name) {
  return openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Empties the directory open as `fd`, on device `dev`, and everything below
// it that lies on that device; the first error, the rest still tried.
int Empty(int fd, uint64_t dev, std::string* why);

int RemoveBelow(int parent, const char* name, uint64_t dev, std::string* why) {
  struct stat st;
  if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return unlinkat(parent, name, 0) == 0 ? 0 : Failed(name, why);
  Descriptor dir(OpenDirectory(parent, name));
  if (dir.get() < 0) return Failed(name, why);
  if (fstat(dir.get(), &st) != 0) return errno;
  if (static_cast<uint64_t>(st.st_dev) != dev)
    return Refuse(EXDEV, std::string(name) + " is another file system, left as it is", why);
  int error = Empty(dir.Release(), dev, why);
  if (unlinkat(parent, name, AT_REMOVEDIR) != 0 && !error) return Failed(name, why);
  return error;
}

int Empty(int fd, uint64_t dev, std::string* why) {
  DIR* listing = fdopendir(fd);
  if (!listing) {
    int error = errno;
    close(fd);
    return error;
  }
  int first_error = 0;
  errno = 0;
  while (struct dirent* entry = readdir(listing)) {
    if (IsDotOrDotDot(entry->d_name)) continue;
    int error = RemoveBelow(dirfd(listing), entry->d_name, dev, why);
    if (!first_error) first_error = error;
    errno = 0;
  }
  if (errno && !first_error) first_error = errno;
  closedir(listing);
  return first_error;
}

int RemoveVerified(const std::vector<ScannedEntry>& chain, std::string* why) {
  if (chain.size() < 2) return Refuse(EINVAL, "the start directory itself is not removed", why);
  Descriptor parent(open(chain[0].name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (parent.get() < 0) return errno;
  struct stat st;
  if (fstat(parent.get(), &st) != 0) return errno;
  if (!Matches(st, chain[0])) return Refuse(ESTALE, "the start directory is not the one scanned", why);
  for (size_t step = 1; step + 1 < chain.size(); ++step) {
    Descriptor dir(OpenDirectory(parent.get(), chain[step].name.c_str()));
    if (dir.get() < 0 || fstat(dir.get(), &st) != 0 || !Matches(st, chain[step]))
      return Refuse(ESTALE, chain[step].name + " changed since the scan, left alone", why);
    parent.Swap(dir);
  }
  const ScannedEntry& last = chain.back();
  if (fstatat(parent.get(), last.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!Matches(st, last)) return Refuse(ESTALE, "changed since the scan, left alone", why);
  if (!last.dir) return unlinkat(parent.get(), last.name.c_str(), 0) == 0 ? 0 : Failed(last.name.c_str(), why);
  return RemoveBelow(parent.get(), last.name.c_str(), last.dev, why);
}

}  // namespace

int RemoveScanned(const std::vector<ScannedEntry>& chain, std::string* why) {
  int error = RemoveVerified(chain, why);
  if (error && why->empty()) *why = ErrorText(error);
  return error;
}

}  // namespace platform
