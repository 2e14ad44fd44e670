#include "walk/pool_size.h"

#include <algorithm>
#include <utility>

PoolSize::PoolSize(size_t start, size_t max, Clock::time_point now, CpuClock busy_cpu)
    : wanted_(std::min(start, max)), start_(wanted_), max_(max), busy_cpu_(std::move(busy_cpu)),
      window_start_(now), busy_cpu_at_window_start_(busy_cpu_()) {}

void PoolSize::Sample(size_t reads, size_t entries, std::chrono::nanoseconds wall, std::chrono::nanoseconds cpu,
                      Clock::time_point now) {
  if (settled_) return;
  reads_ += reads;
  entries_ += entries;
  wall_ += wall;
  cpu_ += cpu;
  if (reads_ >= kWindowReads && now - window_start_ >= kWindowTime) CloseWindow(now);
}

void PoolSize::CloseWindow(Clock::time_point now) {
  using Seconds = std::chrono::duration<double>;
  double window = Seconds(now - window_start_).count();
  double rate = entries_ / window;
  std::chrono::nanoseconds busy_cpu = busy_cpu_();
  bool processors_busy = Seconds(busy_cpu - busy_cpu_at_window_start_).count() >= kBusyProcessors * start_ * window;
  bool waiting = cpu_.count() < kWorkingShare * wall_.count() && !processors_busy;
  waiting_ = waiting;
  if (rate_before_growth_ > 0 && rate < rate_before_growth_ * 1.2) {
    wanted_ = wanted_before_growth_;
    settled_ = true;
  } else if (waiting) {
    rate_before_growth_ = rate;
    wanted_before_growth_ = wanted_;
    double busy = cpu_.count() > 0 ? start_ * (static_cast<double>(wall_.count()) / cpu_.count()) : max_;
    size_t step = std::min(std::max(wanted_ * 2, static_cast<size_t>(busy)), wanted_ * kMaxStep);
    wanted_ = std::min(step, max_);
    settled_ = wanted_ >= max_;
  } else {
    rate_before_growth_ = 0;
  }
  window_start_ = now;
  busy_cpu_at_window_start_ = busy_cpu;
  reads_ = entries_ = 0;
  wall_ = cpu_ = std::chrono::nanoseconds(0);
}
