#include "report/row.h"

#include <string>

#include "fresh_run.h"

namespace {

std::string Blanks(int n) { return std::string(static_cast<size_t>(n), ' '); }

class RowTest : public FreshRun {
 protected:
  static std::string Row(uint32_t clsiz, const files_t& total, std::string_view text = ".",
                         std::string_view suffix = {}) {
    return Output([&] { PutUsageRow(RowLayout(clsiz), clsiz, total, text, suffix); });
  }
  static std::string FreeRow(uint32_t clsiz, uint64_t clusters, uint64_t bytes) {
    return Output([&] { PutFreeRow(RowLayout(clsiz), clsiz, clusters, bytes); });
  }
};

TEST_F(RowTest, ClustersColumnNarrowsFrom4295Bytes) {
  struct Case {
    uint32_t clsiz;
    int C;
    std::string row;
  };
  const Case cases[] = {
      {0, 0, Blanks(9) + "3   .\n"},     {4096, 0, Blanks(9) + "3   .\n"},
      {4294, 0, Blanks(9) + "3   .\n"},  {4295, 0, Blanks(5) + "3   .\n"},
      {8192, 0, Blanks(5) + "3   .\n"},  {4294, 1, Blanks(12) + "3   .\n"},
      {4295, 1, Blanks(6) + "3   .\n"},  {4294967295u, 0, Blanks(5) + "3   .\n"},
  };
  for (const Case& c : cases) {
    opt.C = c.C;
    EXPECT_EQ(Row(c.clsiz, files_t(2, 5100, 3)), c.row) << c.clsiz << " C=" << c.C;
  }
}

TEST_F(RowTest, AllColumnsInTheirOrderEachAfterOneBlank) {
  opt.s = opt.b = opt.g = opt.n = 1;
  EXPECT_EQ(Row(4096, files_t(2, 5100, 3)),
            "         3"
            "      12288"
            "       5100"
            "       7188"
            "      2"
            "   .\n");
  opt.C = 1;
  EXPECT_EQ(Row(4096, files_t(2, 5100, 3)),
            "            3"
            "        12,288"
            "         5,100"
            "         7,188"
            "       2"
            "   .\n");
}

TEST_F(RowTest, CountingBytesHidesAllocatedAndGap) {
  opt.s = opt.b = opt.g = opt.n = 1;
  EXPECT_EQ(Row(0, files_t(2, 5100, 5100)),
            "      5100"
            "       5100"
            "      2"
            "   .\n");
}

TEST_F(RowTest, OnlyTheColumnsAskedFor) {
  opt.b = opt.n = 1;
  EXPECT_EQ(Row(8192, files_t(1, 100, 1), ".\\src"), "     1        100      1   .\\src\n");
  opt.b = 0;
  opt.g = 1;
  EXPECT_EQ(Row(8192, files_t(1, 100, 1)), "     1       8092      1   .\n");
  opt.n = 0;
  opt.s = 1;
  EXPECT_EQ(Row(8192, files_t(1, 100, 1)), "     1       8192       8092   .\n");
}

TEST_F(RowTest, TextAndSuffixFollowThreeBlanks) {
  EXPECT_EQ(Row(4096, files_t(1, 100, 1), ".\\src\\", "b.c"), "         1   .\\src\\b.c\n");
}

TEST_F(RowTest, OverflowingValuesPushTheRestRight) {
  opt.b = opt.n = 1;
  EXPECT_EQ(Row(8192, files_t(1000000, 10000000000u, 1234567)),
            "1234567 10000000000 1000000   .\n");
}

TEST_F(RowTest, ProductsAndDifferencesDoNotWrapAt32Bits) {
  opt.s = opt.g = 1;
  EXPECT_EQ(Row(4096, files_t(1, 1, 4294967296u), "x"),
            "4294967296 17592186044416 17592186044415   x\n");
}

TEST_F(RowTest, FreeRowLeavesGapAndFilesBlankAtTheirWidth) {
  opt.s = opt.b = opt.g = opt.n = 1;
  EXPECT_EQ(FreeRow(4096, 10, 40960),
            "        10"
            "      40960"
            "      40960" +
                Blanks(1 + 10) + Blanks(1 + 6) + "   free\n");
  opt.C = 1;
  EXPECT_EQ(FreeRow(4096, 10, 40960),
            "           10"
            "        40,960"
            "        40,960" +
                Blanks(1 + 13) + Blanks(1 + 7) + "   free\n");
}

TEST_F(RowTest, FreeRowCountingBytes) {
  opt.s = opt.b = opt.g = opt.n = 1;
  EXPECT_EQ(FreeRow(0, 4096000, 4096000), "   4096000    4096000" + Blanks(1 + 6) + "   free\n");
}

TEST_F(RowTest, FreeRowAllocatedIsClustersTimesSize) {
  opt.s = opt.b = 1;
  EXPECT_EQ(FreeRow(3000, 13, 40960), "        13      39000      40960   free\n");
}

}  // namespace
