#include "report/header.h"

#include <string>
#include <vector>

#include "fresh_run.h"
#include "report/row.h"

namespace {

class HeaderTest : public FreshRun {
 protected:
  static std::string Headings() {
    return Output([] {
      header();
      headerLine();
    });
  }
};

TEST_F(HeaderTest, ClustersOnly) {
  opt.c = 4096;
  EXPECT_EQ(Headings(), "    clusts\n----------\n");
  opt.c = 8192;
  EXPECT_EQ(Headings(), "clusts\n------\n");
  opt.C = 1;
  EXPECT_EQ(Headings(), " clusts\n-------\n");
}

TEST_F(HeaderTest, BytesAndFiles) {
  opt.c = 4096;
  opt.b = opt.n = 1;
  EXPECT_EQ(Headings(),
            "    clusts      bytes  files\n"
            "---------- ---------- ------\n");
  opt.C = 1;
  EXPECT_EQ(Headings(),
            "       clusts         bytes   files\n"
            "------------- ------------- -------\n");
}

TEST_F(HeaderTest, AllColumns) {
  opt.c = 4096;
  opt.s = opt.b = opt.g = opt.n = 1;
  EXPECT_EQ(Headings(),
            "    clusts    amounts      bytes        gap  files\n"
            "---------- ---------- ---------- ---------- ------\n");
}

TEST_F(HeaderTest, CountingBytesHasNoAmountsOrGap) {
  opt.c = 0;
  opt.s = opt.g = 1;
  EXPECT_EQ(Headings(), "    clusts\n----------\n");
}

// Where each run of non-blank characters ends.
std::vector<size_t> RunEnds(const std::string& line) {
  std::vector<size_t> ends;
  for (size_t i = 0; i < line.size(); ++i)
    if (line[i] != ' ' && (i + 1 == line.size() || line[i + 1] == ' ')) ends.push_back(i + 1);
  return ends;
}

// Every title and every run of dashes ends where the values of a row end,
// whatever the options and the cluster size.
TEST_F(HeaderTest, TitlesAndDashesStandOverTheirColumns) {
  for (uint32_t clsiz : {0u, 4096u, 8192u}) {
    for (unsigned flags = 0; flags < 32; ++flags) {
      opt.c = clsiz;
      opt.s = flags & 1;
      opt.b = (flags >> 1) & 1;
      opt.g = (flags >> 2) & 1;
      opt.n = (flags >> 3) & 1;
      opt.C = (flags >> 4) & 1;
      std::string titles = Output(header);
      std::string dashes = Output(headerLine);
      std::string row = Output([clsiz] { PutUsageRow(RowLayout(clsiz), clsiz, files_t(1, 1, 1), "x"); });
      std::vector<size_t> value_ends = RunEnds(row.substr(0, row.size() - 1));
      value_ends.pop_back();  // the row text
      SCOPED_TRACE("cluster size " + std::to_string(clsiz) + ", flags " + std::to_string(flags));
      EXPECT_EQ(RunEnds(titles.substr(0, titles.size() - 1)), value_ends);
      EXPECT_EQ(RunEnds(dashes.substr(0, dashes.size() - 1)), value_ends);
      EXPECT_EQ(titles.size(), value_ends.back() + 1);  // no trailing blanks
      EXPECT_EQ(dashes.size(), value_ends.back() + 1);
    }
  }
}

}  // namespace
