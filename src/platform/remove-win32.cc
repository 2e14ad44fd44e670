// Removal on Win32, by path: the walk keeps no identity of a file there, so
// what is checked is that no step is a reparse point (a link or a junction)
// and that each is still a directory or a file as scanned. A directory
// below that is a reparse point is removed as the link it is, never entered.
#include "platform/remove.h"

#include <windows.h>

#include "platform/error_text.h"
#include "platform/listing.h"

namespace platform {

namespace {

int Failed(const std::string& path, std::string* why) {
  int error = static_cast<int>(GetLastError());
  *why = "cannot remove '" + path + "': " + ErrorText(error);
  return error;
}

int RemoveBelow(const std::string& path, std::string* why) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(path, why);
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path.c_str()) ? 0 : Failed(path, why);
  int first_error = 0;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if (IsDotOrDotDot(found.cFileName)) continue;
        int error = RemoveBelow(path + "\\" + found.cFileName, why);
        if (!first_error) first_error = error;
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
  }
  if (!RemoveDirectoryA(path.c_str()) && !first_error) return Failed(path, why);
  return first_error;
}

}  // namespace

int RemoveScanned(const std::vector<ScannedEntry>& chain, std::string* why) {
  if (chain.size() < 2) {
    *why = "the start directory itself is not removed";
    return ERROR_ACCESS_DENIED;
  }
  std::string path = chain[0].name;
  for (size_t step = 1; step < chain.size(); ++step) {
    if (path.back() != '\\' && path.back() != '/') path += '\\';
    path += chain[step].name;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(path, why);
    bool dir = attributes & FILE_ATTRIBUTE_DIRECTORY;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || dir != chain[step].dir) {
      *why = "changed since the scan, left alone";
      return ERROR_FILE_INVALID;
    }
  }
  return RemoveBelow(path, why);
}

}  // namespace platform
