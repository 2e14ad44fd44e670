// POSIX threads on stacks of the tool's own, and glibc's allocator tuned
// for them.
#include "platform/thread.h"

#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <new>

namespace platform {

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
