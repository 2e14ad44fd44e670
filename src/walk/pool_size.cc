#include "walk/pool_size.h"

#include <algorithm>

PoolSize::PoolSize(size_t start, size_t max, Clock::time_point now)
    : wanted_(std::min(start, max)), start_(wanted_), max_(max), settled_(wanted_ >= max), window_start_(now) {}

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
  double rate = entries_ / std::chrono::duration<double>(now - window_start_).count();
  bool waiting = cpu_ * 2 < wall_;
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
  reads_ = entries_ = 0;
  wall_ = cpu_ = std::chrono::nanoseconds(0);
}
