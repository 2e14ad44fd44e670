// The pool grows only while reads wait, by doublings that pay, up to its
// maximum; a fixed pool never changes.
#include "walk/pool_size.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using std::chrono::milliseconds;

struct Window {
  double cpu_share;  // of each read's wall time
  size_t entries;    // per read: the rate the window reaches
};

struct Case {
  const char* what;
  size_t start, max;
  std::vector<Window> windows;
  std::vector<size_t> wanted;  // after each window
};

TEST(PoolSizeTest, GrowsWhileReadsWaitAndDoublingPays) {
  const std::vector<Case> cases = {
      {"fixed", 4, 4, {{0.1, 10}, {0.1, 100}}, {4, 4}},
      {"reads that work", 2, 256, {{1.0, 10}, {0.6, 100}, {0.5, 1000}}, {2, 2, 2}},
      {"reads that wait, faster each time", 2, 256, {{0.1, 10}, {0.1, 20}, {0.1, 40}}, {4, 8, 16}},
      {"a doubling that does not pay settles", 2, 256, {{0.1, 10}, {0.1, 12}, {0.1, 100}, {0.1, 1000}}, {4, 4, 4, 4}},
      {"never past the maximum", 2, 5, {{0.1, 10}, {0.1, 20}, {0.1, 40}}, {4, 5, 5}},
      {"waiting comes back later", 2, 256, {{1.0, 10}, {0.2, 10}, {0.2, 20}}, {2, 4, 8}},
  };
  for (const Case& c : cases) {
    PoolSize::Clock::time_point now;
    PoolSize pool(c.start, c.max, now);
    for (size_t w = 0; w < c.windows.size(); ++w) {
      const Window& window = c.windows[w];
      milliseconds wall(1);
      for (size_t read = 0; read < PoolSize::kWindowReads; ++read) {
        now += wall;
        pool.Sample(1, window.entries, wall, std::chrono::duration_cast<std::chrono::nanoseconds>(wall * window.cpu_share),
                    now);
        // The window is too short yet: nothing changes before its last read.
        if (read + 1 < PoolSize::kWindowReads) {
          EXPECT_EQ(pool.Wanted(), w ? c.wanted[w - 1] : c.start) << c.what;
        }
      }
      EXPECT_EQ(pool.Wanted(), c.wanted[w]) << c.what << ", window " << w;
    }
  }
}

}  // namespace
