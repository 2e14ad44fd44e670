// The platform of the unit tests: scripted drives, trees and streams that
// behave like those of Win32.
#include "platform/platform-fake.h"

#include <cstring>
#include <map>
#include <utility>

#include "options/ascii.h"
#include "platform/platform.h"

namespace fake {
namespace {

struct State {
  State() { drives['C'].cwd = "C:\\"; }

  std::map<char, Drive> drives;
  char current = 'C';
  std::map<std::string, Directory> dirs;
  std::map<std::string, int> chdir_errors;
  std::vector<std::pair<std::string, std::string>> env;
  std::string out, err;
  size_t out_room = SIZE_MAX;
  int out_error = 0;
};

// A function-local static: the global options record asks for the current
// drive and directory while globals are still being constructed.
State& state() {
  static State s;
  return s;
}

Drive* FindDrive(char letter) {
  auto found = state().drives.find(AsciiUpper(letter));
  return found == state().drives.end() ? nullptr : &found->second;
}

}  // namespace

Item File(std::string name, uint64_t size, unsigned attrib) {
  return Item{std::move(name), attrib, size, 0};
}

Item Subdir(std::string name) { return Item{std::move(name), platform::kDirectory, 0, 0}; }

void Reset() { state() = State(); }

Drive& DriveAt(char letter) {
  Drive& drive = state().drives[letter];
  if (drive.cwd.empty()) drive.cwd = std::string(1, letter) + ":\\";
  return drive;
}

Directory& Dir(const std::string& path) { return state().dirs[path]; }
void FailChdir(const std::string& path, int error) { state().chdir_errors[path] = error; }
void SetEnv(const std::string& name, const std::string& value) { state().env.emplace_back(name, value); }

void FailStdoutAfter(size_t bytes, int error) {
  state().out_room = bytes;
  state().out_error = error;
}

const std::string& Stdout() { return state().out; }
const std::string& Stderr() { return state().err; }

}  // namespace fake

namespace platform {

const char kSeparator = '\\';
const char kPathEnders[] = ":\\/";
const char kOptionPrefixes[] = "-/";

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

namespace {

std::string PathOf(const Dir* dir) {
  return dir->parent ? PathOf(dir->parent) + dir->name + kSeparator : dir->name;
}

}  // namespace

// Readers run on several threads; the scripted tree is only read.
void ReadDirectory(Dir* dir) {
  std::string path = PathOf(dir);
  const std::map<std::string, fake::Directory>& dirs = fake::state().dirs;
  auto found = dirs.find(path);
  Listing& listing = dir->listing;
  if (found == dirs.end() || found->second.open_error) {
    listing.error = found == dirs.end() ? fake::kPathNotFound : found->second.open_error;
    return;
  }
  const fake::Directory& scripted = found->second;
  for (size_t i = 0;; ++i) {
    if (i == scripted.read_fails_after) {
      listing.error = scripted.read_error;
      return;
    }
    if (i == scripted.entries.size()) return;
    const fake::Item& item = scripted.entries[i];
    if (IsDotOrDotDot(item.name.c_str())) continue;
    uint32_t offset = static_cast<uint32_t>(listing.names.size());
    listing.names.append(item.name.c_str(), item.name.size() + 1);
    listing.entries.push_back(Entry{offset, offset, item.attrib, item.error, item.size});
  }
}

void ForgetDirectory(Dir*) {}

int getdfree(unsigned drive, const char*, dfree* df) {
  char letter = drive == 0 ? fake::state().current : static_cast<char>((drive + 64) & 0xFF);
  const fake::Drive* d = fake::FindDrive(letter);
  if (!d) return fake::kInvalidDrive;
  if (d->error) return d->error;
  *df = dfree{d->free_clusters, d->total_clusters, d->bytes_per_sector, d->sectors_per_cluster};
  return 0;
}

int getdisk() { return fake::state().current - 'A'; }

int setdisk(int drive) {
  char letter = static_cast<char>('A' + drive);
  if (drive < 0 || drive >= 26 || !fake::FindDrive(letter)) return fake::kInvalidDrive;
  fake::state().current = letter;
  return 0;
}

bool getcwd(std::string* dir) {
  *dir = fake::FindDrive(fake::state().current)->cwd;
  return true;
}

// An absolute path replaces the drive's current directory, a relative one
// is appended to it; the named drive becomes current.
int chdir(const char* path) {
  fake::State& s = fake::state();
  auto failure = s.chdir_errors.find(path);
  if (failure != s.chdir_errors.end()) return failure->second;
  std::string rest = path;
  char letter = s.current;
  if (NamesDrive(path)) {
    letter = AsciiUpper(rest[0]);
    rest.erase(0, 2);
  }
  fake::Drive* drive = fake::FindDrive(letter);
  if (!drive) return fake::kInvalidDrive;
  if (!rest.empty() && rest[0] == '\\')
    drive->cwd = std::string(1, letter) + ":" + rest;
  else if (!rest.empty())
    drive->cwd += (drive->cwd.back() == '\\' ? "" : "\\") + rest;
  s.current = letter;
  return 0;
}

bool GetEnv(const char* name, std::string* value) {
  for (const auto& [key, text] : fake::state().env) {
    bool same = key.size() == strlen(name);
    for (size_t i = 0; same && i < key.size(); ++i) same = AsciiUpper(key[i]) == AsciiUpper(name[i]);
    if (same) {
      *value = text;
      return true;
    }
  }
  return false;
}

std::vector<std::string> Arguments(int argc, char** argv) { return {argv, argv + argc}; }

int WriteStdout(const char* data, size_t size) {
  fake::State& s = fake::state();
  if (size > s.out_room) {
    s.out.append(data, s.out_room);
    s.out_room = 0;
    return s.out_error;
  }
  s.out_room -= size;
  s.out.append(data, size);
  return 0;
}

int WriteCp932(const char* data, size_t size) { return WriteStdout(data, size); }

bool StdoutIsInteractive() { return false; }

void WriteStderr(const std::string& text) { fake::state().err += text; }

std::string ErrorText(int error) { return "error " + std::to_string(error); }

// Standard error is kept for the test, never shown on a terminal.
int StderrTerminalWidth() { return 0; }

bool StdoutSharesStderrTerminal() { return false; }

std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }


}  // namespace platform
