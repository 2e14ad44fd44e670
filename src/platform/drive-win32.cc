// Win32 drives: letters, each with a current directory of its own.
#include "platform/drive.h"

#include <windows.h>

#include "platform/wide-win32.h"

namespace platform {

namespace {

bool IsAsciiLetter(wchar_t ch) { return (ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z'); }

wchar_t AsciiUpper(wchar_t ch) { return ch >= L'a' && ch <= L'z' ? ch - L'a' + L'A' : ch; }

bool CurrentDirectory(std::wstring* dir) {
  return ReadText([](wchar_t* buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); }, dir);
}

bool HasDriveLetter(const std::wstring& path) {
  return path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == L':';
}

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

}  // namespace platform
