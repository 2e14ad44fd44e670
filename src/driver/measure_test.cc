#include "driver/measure.h"

#include <string>

#include "fresh_run.h"

namespace {

using fake::Dir;
using fake::File;
using fake::Subdir;

// Drive C has clusters of 8 sectors of 512 bytes and 1000 free clusters.
class MeasureTest : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    Dir(".\\").entries = {File("a.txt", 5000), Subdir("src")};
    Dir(".\\src\\").entries = {File("b.c", 100)};
  }

  static int Run(std::initializer_list<const char*> args) {
    int status = Apply(args);
    return status >= 0 ? status : Measure();
  }

  static std::string LastLine() {
    std::string out = Stdout();
    return out.substr(out.rfind('\n', out.size() - 2) + 1);
  }
};

TEST_F(MeasureTest, WholeRunWithHeadingsBytesAndFiles) {
  EXPECT_EQ(Run({"-h", "-b", "-n"}), 0);
  EXPECT_EQ(Stdout(),
            "4096 bytes per cluster\n"
            "    clusts      bytes  files\n"
            "---------- ---------- ------\n"
            "         1        100      1   .\\src\n"
            "         3       5100      2   .\n"
            "      1000    4096000          free\n");
  EXPECT_EQ(fake::Stderr(), "");
}

TEST_F(MeasureTest, DefaultsCountInTheDrivesOwnClusters) {
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(Stdout(),
            "4096 bytes per cluster\n"
            "         1   .\\src\n"
            "         3   .\n"
            "      1000   free\n");
}

TEST_F(MeasureTest, CountingBytesPrintsNoClusterSizeLine) {
  EXPECT_EQ(Run({"-c0", "-b"}), 0);
  EXPECT_EQ(Stdout(),
            "       100        100   .\\src\n"
            "      5100       5100   .\n"
            "   4096000    4096000   free\n");
}

TEST_F(MeasureTest, AllocatedColumnBringsBackTheDrivesClusters) {
  EXPECT_EQ(Run({"-c0s"}), 0);
  EXPECT_EQ(Stdout(),
            "4096 bytes per cluster\n"
            "         1       4096   .\\src\n"
            "         3      12288   .\n"
            "      1000    4096000   free\n");
}

TEST_F(MeasureTest, FreeSpaceIsReexpressedInTheCountingClusters) {
  fake::DriveAt('C').free_clusters = 10;
  EXPECT_EQ(Run({"-c8192", "-sb"}), 0);
  EXPECT_EQ(Stdout(),
            "8192 bytes per cluster\n"
            "     1       8192        100   .\\src\n"
            "     2      16384       5100   .\n"
            "     5      40960      40960   free\n");
}

TEST_F(MeasureTest, FreeClustersRoundDown) {
  fake::DriveAt('C').free_clusters = 10;
  EXPECT_EQ(Run({"-c3000", "-sb"}), 0);
  EXPECT_EQ(LastLine(),
            "        13      39000      40960   free\n");
}

TEST_F(MeasureTest, FreeSpaceBeyond4GiBDoesNotWrap) {
  fake::DriveAt('C').free_clusters = 2000000;
  EXPECT_EQ(Run({"-b"}), 0);
  EXPECT_EQ(LastLine(),
            "   2000000 8192000000   free\n");
}

TEST_F(MeasureTest, QueriesTheDriveThatThePathNames) {
  fake::Drive& d = fake::DriveAt('D');
  d.sectors_per_cluster = 4;
  d.free_clusters = 7;
  Dir("D:\\data\\").entries = {File("x", 3000)};
  EXPECT_EQ(Run({"-b", "D:\\data"}), 0);
  EXPECT_EQ(Stdout(),
            "2048 bytes per cluster\n"
            "         2       3000   D:\\data\n"
            "         7      14336   free\n");
}

TEST_F(MeasureTest, DriveThatCannotBeQueriedEndsTheRunSilently) {
  fake::DriveAt('C').error = fake::kNotReady;
  EXPECT_EQ(Run({"-h"}), 2);
  EXPECT_EQ(Stdout(), "");
  EXPECT_EQ(fake::Stderr(), "space: cannot query drive of '.': error 21\n");
}

TEST_F(MeasureTest, PathOnAMissingDrive) {
  EXPECT_EQ(Run({"Q:\\x"}), 2);
  EXPECT_EQ(Stdout(), "");
  EXPECT_EQ(fake::Stderr(), "space: cannot query drive of 'Q:\\x': error 15\n");
}

TEST_F(MeasureTest, UnreadableDirectoryStillGivesTheWholeReport) {
  Dir(".\\src\\").open_error = fake::kAccessDenied;
  EXPECT_EQ(Run({}), 2);
  EXPECT_EQ(Stdout(),
            "4096 bytes per cluster\n"
            "         0   .\\src\n"
            "         2   .\n"
            "      1000   free\n");
  EXPECT_EQ(fake::Stderr(), "space: cannot read directory '.\\src': error 5\n");
}

TEST_F(MeasureTest, WriteErrorIsReportedOnceAndStopsTheReport) {
  for (int i = 0; i < 5000; ++i) Dir(".\\src\\").entries.push_back(File("file" + std::to_string(i), 1));
  fake::FailStdoutAfter(30, fake::kDiskFull);
  EXPECT_EQ(Run({"-f"}), 2);
  EXPECT_EQ(fake::Stdout(), "4096 bytes per cluster\n" + std::string(7, ' '));
  EXPECT_EQ(fake::Stderr(), "space: write error: error 112\n");
}

}  // namespace
