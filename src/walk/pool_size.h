// How many threads read directories when the user has not fixed the number.
//
// The pool starts with about as many threads as processors, which is what
// a tree in the cache can use. It grows while reads wait on the file system
// rather than work: when, over a window of reads, their processor time is
// under kWorkingShare of their wall time (a disk, a network file system),
// and the machine's processors, for this process and all others, are less
// than nine tenths busy (beyond that, more threads would only wait for a
// processor to run on). Each step at least doubles the pool, up to as many
// threads as keep the processors busy while each waits that much (the
// processors times wall over processor time), and at most multiplies it by
// eight. Once a step no longer makes entries come in at least a fifth
// faster, the pool goes back to its size before that step, for good.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

class PoolSize {
 public:
  using Clock = std::chrono::steady_clock;

  using CpuClock = std::function<std::chrono::nanoseconds()>;

  // A pool of `start` threads, one per processor, that may grow to `max`;
  // fixed when they are equal. `busy_cpu` tells the time the machine's
  // processors have been busy, for any process.
  PoolSize(size_t start, size_t max, Clock::time_point now, CpuClock busy_cpu);

  // `reads` ended: they listed `entries` in `wall` time, of which their
  // thread spent `cpu` working.
  void Sample(size_t reads, size_t entries, std::chrono::nanoseconds wall, std::chrono::nanoseconds cpu,
              Clock::time_point now);
  size_t Wanted() const { return wanted_; }
  size_t Most() const { return max_; }
  // The last window found reads waiting rather than working. A fixed pool
  // samples only until it finds them waiting.
  bool Waiting() const { return waiting_; }
  // No sample can change it any more.
  bool Settled() const { return settled_; }

  // A window closes after this many reads and this much time, so that one
  // slow directory does not decide alone.
  static constexpr size_t kWindowReads = 4;
  static constexpr Clock::duration kWindowTime = std::chrono::milliseconds(50);
  static constexpr size_t kMaxStep = 8;
  static constexpr double kBusyProcessors = 0.9;
  // Reading a cold tree from a virtual machine's disk, readers work about
  // two thirds of their time and leave the processors a quarter idle; more
  // readers fill them.
  static constexpr double kWorkingShare = 0.8;

 private:
  void CloseWindow(Clock::time_point now);

  size_t wanted_;
  const size_t start_, max_;
  bool settled_ = false;
  bool waiting_ = false;
  double rate_before_growth_ = 0;  // entries per second in the window before the last step; 0 when none
  size_t wanted_before_growth_ = 0;
  CpuClock busy_cpu_;
  Clock::time_point window_start_;
  std::chrono::nanoseconds busy_cpu_at_window_start_{0};
  size_t reads_ = 0, entries_ = 0;
  std::chrono::nanoseconds wall_{0}, cpu_{0};
};
