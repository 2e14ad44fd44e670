// Win32 threads, on the process heap that serves them all.
#include "platform/thread.h"

#include <windows.h>

#include <new>

namespace platform {

struct Thread {
  HANDLE handle;
  void (*run)(void*);
  void* arg;
};

namespace {

DWORD WINAPI RunThread(void* thread) {
  auto* t = static_cast<Thread*>(thread);
  t->run(t->arg);
  return 0;
}

}  // namespace

// The stack size is reserved, not committed, as for the main thread.
Thread* StartThread(void (*run)(void*), void* arg) {
  auto* thread = new (std::nothrow) Thread{nullptr, run, arg};
  if (!thread) return nullptr;
  thread->handle = CreateThread(nullptr, kThreadStackBytes, RunThread, thread, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread->handle) return thread;
  delete thread;
  return nullptr;
}

void JoinThread(Thread* thread) {
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

// One process heap serves every thread.
void TuneAllocator(unsigned) {}

}  // namespace platform
