// POSIX drives: none, only the file system that holds a directory.
#include "platform/drive.h"

#include <errno.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <vector>

namespace platform {

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

}  // namespace platform
