// Feeds arbitrary arguments to ParseArg: the input, split at its NUL bytes,
// is the environment option string followed by command-line arguments. After
// each argument the options record must be in a state the rest of the run
// can use, and must equal what an independent reading of the grammar gives.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/opt.h"
#include "fuzz/check.h"
#include "options/parse_arg.h"
#include "options/usage.h"
#include "platform/platform-fake.h"
#include "platform/platform.h"

namespace {

// Drive C is current with clusters of 4096 bytes, D has clusters of 32768, E
// cannot be queried, and no other drive exists.
void ScriptDrives() {
  fake::Reset();
  fake::DriveAt('D').sectors_per_cluster = 64;
  fake::DriveAt('E').error = fake::kNotReady;
}

uint32_t ClusterSizeOfDrive(char selector) {
  char letter = selector == '@' || selector == '.' ? 'C' : static_cast<char>(selector & ~0x20);
  if (letter == 'C') return 4096;
  if (letter == 'D') return 32768;
  return 0;
}

bool IsAsciiLetter(char ch) { return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'); }

// The number after "-c" as a 32-bit strtoul with base 0 reads it; `*used`
// is how many bytes it took, 0 when there are no digits.
uint32_t ReferenceNumber(const char* text, size_t* used) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  *used = 0;
  // strtoull would skip a second round of blanks and take a second sign.
  if (*p == ' ' || (*p >= '\t' && *p <= '\r') || *p == '-' || *p == '+') return 0;
  char* end;
  errno = 0;
  unsigned long long magnitude = std::strtoull(p, &end, 0);
  if (end == p) return 0;
  *used = static_cast<size_t>(end - text);
  if (errno == ERANGE || magnitude > UINT32_MAX) return UINT32_MAX;
  uint32_t value = static_cast<uint32_t>(magnitude);
  return negative ? 0u - value : value;
}

struct Model {
  int b = 0, C = 0, f = 0, g = 0, h = 0, n = 0, p = 0, s = 0, t = 0;
  int use_c = 0;
  uint32_t c = 0;
  const char* pathname = ".";
  unsigned drive = 'C';
};

int* FlagOf(Model& m, char letter) {
  switch (letter) {
    case 'b': return &m.b;
    case 'C': return &m.C;
    case 'f': return &m.f;
    case 'g': return &m.g;
    case 'h': return &m.h;
    case 'n': return &m.n;
    case 'p': return &m.p;
    case 's': return &m.s;
    case 't': return &m.t;
    default: return nullptr;
  }
}

// The grammar read from its description, byte by byte. Returns true for the
// help.
bool ReferenceParse(Model& m, const char* arg) {
  if (arg[0] == '\0' || !strchr(platform::kOptionPrefixes, arg[0])) {
    m.pathname = arg;
    if (IsAsciiLetter(arg[0]) && arg[1] == ':') m.drive = static_cast<unsigned>(arg[0] & ~0x20);
  } else {
    for (size_t i = 1; arg[i];) {
      char letter = arg[i++];
      if (int* flag = FlagOf(m, letter)) {
        *flag = !*flag;
      } else if (letter == '?') {
        return true;
      } else if (letter == 'k') {
        m.use_c = 1;
        m.c = 1024;
      } else if (letter == 'c') {
        char selector = arg[i];
        if (selector == '#') {
          m.use_c = 0;
          ++i;
        } else if (selector == '@' || selector == '.' || IsAsciiLetter(selector)) {
          m.use_c = 1;
          m.c = ClusterSizeOfDrive(selector);
          ++i;
        } else {
          size_t used;
          m.use_c = 1;
          m.c = ReferenceNumber(arg + i, &used);
          i += used;
        }
      }
    }
  }
  if ((m.s || m.g) && m.use_c && m.c == 0) m.use_c = 0;
  return false;
}

void ResetOptions() {
  opt.use_c = 0;
  opt.c = 0;
  opt.b = opt.C = opt.f = opt.g = opt.h = opt.n = opt.p = opt.s = opt.t = 0;
  opt.pathname = ".";
  opt.drive = 'C';
}

bool IsFlag(int x) { return x == 0 || x == 1; }

void CheckAgainst(const Model& m) {
  CHECK(IsFlag(opt.b) && IsFlag(opt.C) && IsFlag(opt.f) && IsFlag(opt.g) && IsFlag(opt.h));
  CHECK(IsFlag(opt.n) && IsFlag(opt.p) && IsFlag(opt.s) && IsFlag(opt.t) && IsFlag(opt.use_c));
  // Counting bytes leaves no clusters for the allocated and gap columns.
  CHECK(!((opt.s || opt.g) && opt.use_c == 1 && opt.c == 0));
  CHECK(opt.b == m.b && opt.C == m.C && opt.f == m.f && opt.g == m.g && opt.h == m.h);
  CHECK(opt.n == m.n && opt.p == m.p && opt.s == m.s && opt.t == m.t);
  CHECK(opt.use_c == m.use_c);
  if (opt.use_c) CHECK(opt.c == m.c);
  CHECK(opt.pathname == m.pathname);
  CHECK(opt.drive == m.drive);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Arguments are C strings: the NUL bytes of the input separate them.
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> arguments;
  for (size_t start = 0;;) {
    size_t end = text.find('\0', start);
    arguments.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }

  ScriptDrives();
  ResetOptions();
  Model model;
  for (const std::string& argument : arguments) {
    const char* arg = argument.c_str();
    bool help = ReferenceParse(model, arg);
    int result = ParseArg(arg);
    if (help) {
      CHECK(result == 1);
      CHECK(fake::Stdout() == UsageText());
      break;  // the run ends here
    }
    CHECK(result == 0);
    CHECK(fake::Stdout().empty());
    CheckAgainst(model);
  }
  CHECK(fake::Stderr().empty());
  return 0;
}
