// Allocation that fails on demand, linked into a copy of the tool for the
// test that makes memory run out at each point of a run in turn:
// SPACE_FAIL_ALLOC=N fails the Nth allocation of the process, N+ that one
// and every one after it. SPACE_COUNT_ALLOC=1 reports on standard error, at
// exit, how many allocations the run made. Counting starts with main (the
// tool is linked with --wrap=main): allocations of static initialisation,
// such as a header library's constants, come before any program could
// answer them.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<long> allocations{0};
std::atomic<bool> in_main{false};

bool Fails() {
  if (!in_main) return false;
  static const char* setting = getenv("SPACE_FAIL_ALLOC");
  static const long at = setting ? atol(setting) : 0;
  static const bool onward = setting && strchr(setting, '+');
  long n = ++allocations;
  return at > 0 && (n == at || (onward && n > at));
}

void* Allocate(size_t size) { return Fails() ? nullptr : malloc(size ? size : 1); }

void* AllocateOrThrow(size_t size) {
  void* p = Allocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}

struct CountAtExit {
  ~CountAtExit() {
    if (!getenv("SPACE_COUNT_ALLOC")) return;
    char line[64];
    int n = snprintf(line, sizeof line, "allocations: %ld\n", allocations.load());
    if (write(STDERR_FILENO, line, static_cast<size_t>(n)) < 0) return;
  }
} count_at_exit;

}  // namespace

extern "C" int __real_main(int argc, char** argv);
extern "C" int __wrap_main(int argc, char** argv) {
  in_main = true;
  return __real_main(argc, argv);
}

void* operator new(size_t size) { return AllocateOrThrow(size); }
void* operator new[](size_t size) { return AllocateOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
