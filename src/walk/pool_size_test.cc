// The pool grows while reads wait and processors are left, by steps that pay
// (from twice to eight times), up to its maximum; a fixed pool never changes.
// Either tells whether reads were last found waiting.
#include "walk/pool_size.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using std::chrono::milliseconds;

struct Window {
  double cpu_share;        // of each read's wall time
  size_t entries;          // per read: the rate the window reaches
  double processors_busy = 0.5;  // share of the machine's processors kept busy
};

struct Case {
  const char* what;
  size_t start, max;
  std::vector<Window> windows;
  std::vector<size_t> wanted;  // after each window
  bool waiting = true;         // after the last
};

TEST(PoolSizeTest, GrowsWhileReadsWaitAndDoublingPays) {
  const std::vector<Case> cases = {
      {"fixed", 4, 4, {{0.1, 10}, {0.1, 100}}, {4, 4}},
      {"fixed, reads that work", 4, 4, {{0.1, 10, 0.95}, {1.0, 10}}, {4, 4}, false},
      {"reads that work", 2, 256, {{1.0, 10}, {0.85, 100}, {0.85, 1000}}, {2, 2, 2}, false},
      {"reads that wait a quarter of their time", 2, 256, {{0.75, 10}, {0.75, 20}}, {4, 8}},
      {"reads that wait a little, faster each time", 2, 256, {{0.4, 10}, {0.4, 20}, {0.4, 40}}, {5, 10, 20}},
      {"reads that wait long", 2, 256, {{0.05, 10}, {0.05, 20}, {0.0, 40}}, {16, 40, 256}},
      {"a step that does not pay is taken back", 2, 256, {{0.4, 10}, {0.4, 20}, {0.4, 21}, {0.1, 100}}, {5, 10, 5, 5}},
      {"never past the maximum", 2, 7, {{0.4, 10}, {0.4, 20}, {0.4, 40}}, {5, 7, 7}},
      {"waiting comes back later", 2, 256, {{1.0, 10}, {0.25, 10}, {0.25, 20}}, {2, 8, 16}},
      {"reads wait while the processors are busy", 2, 256, {{0.1, 10, 0.95}, {0.1, 10, 0.85}}, {2, 16}},
  };
  for (const Case& c : cases) {
    PoolSize::Clock::time_point now;
    std::chrono::nanoseconds process_cpu(0);
    PoolSize pool(c.start, c.max, now, [&process_cpu] { return process_cpu; });
    for (size_t w = 0; w < c.windows.size(); ++w) {
      const Window& window = c.windows[w];
      milliseconds wall(5);
      size_t reads = std::max<size_t>(PoolSize::kWindowReads, PoolSize::kWindowTime / wall);
      for (size_t read = 0; read < reads; ++read) {
        now += wall;
        process_cpu += std::chrono::duration_cast<std::chrono::nanoseconds>(wall * c.start * window.processors_busy);
        pool.Sample(1, window.entries, wall, std::chrono::duration_cast<std::chrono::nanoseconds>(wall * window.cpu_share),
                    now);
        // The window is too short yet: nothing changes before its last read.
        if (read + 1 < reads) {
          EXPECT_EQ(pool.Wanted(), w ? c.wanted[w - 1] : c.start) << c.what;
        }
      }
      EXPECT_EQ(pool.Wanted(), c.wanted[w]) << c.what << ", window " << w;
    }
    EXPECT_EQ(pool.Waiting(), c.waiting) << c.what;
  }
}

}  // namespace
