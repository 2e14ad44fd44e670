// Restricts a scan to files by their time of last modification, before it
// reaches a view, an export or the page: directories stay, their totals
// made of what is left.
#pragma once

#include <cstdint>
#include <optional>

#include "spacemap/scan_sink.h"

struct AgeBounds {
  std::optional<int64_t> before;  // files modified before this second, seconds since 1970
  std::optional<int64_t> after;   // files modified after it
  bool Any() const { return before || after; }
};

class AgeFilter : public ScanSink {
 public:
  AgeFilter(const AgeBounds& bounds, ScanSink* next) : bounds_(bounds), next_(next) {}
  void Enter(const Item& dir) override { next_->Enter(dir); }
  void Leaf(const Item& item) override;
  void Leave() override { next_->Leave(); }
  // Files left out since their time is not known (an export without it).
  uint64_t Untimed() const { return untimed_; }

 private:
  AgeBounds bounds_;
  ScanSink* next_;
  uint64_t untimed_ = 0;
};
