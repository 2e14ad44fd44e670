// Win32 clocks: the times the system keeps of threads, processes and
// processors.
#include "platform/clock.h"

#include <windows.h>

#include <cstdint>

namespace platform {

std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }

namespace {

uint64_t Ticks(const FILETIME& time) {
  return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// Kernel and user time, counted in units of 100 ns.
std::chrono::nanoseconds CpuTime(BOOL (WINAPI *times)(HANDLE, FILETIME*, FILETIME*, FILETIME*, FILETIME*), HANDLE of) {
  FILETIME created, exited, kernel, user;
  if (!times(of, &created, &exited, &kernel, &user)) return std::chrono::nanoseconds(0);
  return std::chrono::nanoseconds((Ticks(kernel) + Ticks(user)) * 100);
}

}  // namespace

std::chrono::nanoseconds ThreadCpuTime() { return CpuTime(GetThreadTimes, GetCurrentThread()); }

// The kernel time of GetSystemTimes includes the idle time.
std::chrono::nanoseconds BusyProcessorTime() {
  FILETIME idle, kernel, user;
  if (!GetSystemTimes(&idle, &kernel, &user)) return CpuTime(GetProcessTimes, GetCurrentProcess());
  auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return std::chrono::nanoseconds(100 * (ticks(kernel) + ticks(user) - ticks(idle)));
}

}  // namespace platform
