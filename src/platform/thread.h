// The tool's own threads, and the allocator they share.
#pragma once

#include <cstddef>

namespace platform {

// A thread of the tool's own.
struct Thread;
// Stack of each such thread: their code never recurses, so a small one
// leaves the address space to listings, however many threads run.
constexpr size_t kThreadStackBytes = 256 * 1024;
// Runs `run(arg)` on a new thread; null when the system grants no more.
Thread* StartThread(void (*run)(void*), void* arg);
// Waits for `thread` to end and lets go of it.
void JoinThread(Thread* thread);
// Before threads start: memory is allocated from at most `arenas` pools, so
// that address space does not grow with the number of threads, and large
// blocks go back to the system when freed.
void TuneAllocator(unsigned arenas);

}  // namespace platform
