// POSIX clocks: clock_gettime, and Linux's count of the processors' ticks.
#include "platform/clock.h"

#include <fcntl.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

namespace platform {

std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }

namespace {

std::chrono::nanoseconds CpuClock(clockid_t clock) {
  struct timespec ts;
  clock_gettime(clock, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

}  // namespace

std::chrono::nanoseconds ThreadCpuTime() { return CpuClock(CLOCK_THREAD_CPUTIME_ID); }

// Linux: the first line of /proc/stat sums the ticks of every processor,
// of which user, nice, system, irq, softirq and steal are busy. The file
// takes one of the descriptors the budget leaves spare; where it cannot be
// read at all, the process's own time stands in, and a later failure
// repeats the last reading rather than mix the two.
std::chrono::nanoseconds BusyProcessorTime() {
  static int has_proc_stat = -1;
  static std::chrono::nanoseconds last{0};
  char text[256];
  int fd = open("/proc/stat", O_RDONLY | O_CLOEXEC);
  ssize_t n = fd < 0 ? -1 : read(fd, text, sizeof text - 1);
  if (fd >= 0) close(fd);
  unsigned long long user, nice, system, idle, iowait, irq, softirq, steal = 0;
  bool read_it = n > 0 && (text[n] = '\0', sscanf(text, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice,
                                                  &system, &idle, &iowait, &irq, &softirq, &steal) >= 7);
  if (has_proc_stat < 0) has_proc_stat = read_it;
  if (!has_proc_stat) return CpuClock(CLOCK_PROCESS_CPUTIME_ID);
  if (!read_it) return last;
  unsigned long long ticks = user + nice + system + irq + softirq + steal;
  last = std::chrono::nanoseconds(static_cast<int64_t>(ticks * (1e9 / sysconf(_SC_CLK_TCK))));
  return last;
}

}  // namespace platform
