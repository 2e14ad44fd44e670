// Win32 directory reading (kernel32).
//
// Directories are read with the wide API through "\\?\" paths built from the
// absolute path of the start directory and the wide names the search
// delivers, so that paths beyond 260 characters and names the ANSI code page
// cannot represent are walked and counted like any other. Sizes come from the
// search itself; no file is opened.
#include "platform/dir_read.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/wide-win32.h"

namespace platform {

namespace {

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

}  // namespace platform
