#include "options/parse_arg.h"

#include <algorithm>
#include <string>
#include <utility>

#include "fresh_run.h"
#include "options/cmdname.h"

namespace {

// The option flags that are on, by their letters.
std::string Flags() {
  const std::pair<char, int> flags[] = {{'b', opt.b}, {'C', opt.C}, {'f', opt.f},
                                        {'g', opt.g}, {'h', opt.h}, {'n', opt.n},
                                        {'p', opt.p}, {'s', opt.s}, {'t', opt.t}};
  std::string on;
  for (const auto& [letter, value] : flags)
    if (value) on += letter;
  return on;
}

// Drives A, B, C (current), D and S have clusters of 512, 1024, 4096, 2048
// and 16384 bytes.
class ParseArgTest : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    fake::DriveAt('A').sectors_per_cluster = 1;
    fake::DriveAt('B').sectors_per_cluster = 2;
    fake::DriveAt('D').sectors_per_cluster = 4;
    fake::DriveAt('S').sectors_per_cluster = 32;
  }

  // Each argument in turn; the result of the last.
  static int Parse(std::initializer_list<const char*> args) {
    int result = 0;
    for (const char* arg : args) result = ParseArg(arg);
    return result;
  }

  struct ClusterCase {
    const char* arg;
    int use_c;
    uint32_t c;
    const char* flags;
  };

  // Each case parsed alone from the defaults.
  static void ExpectClusterCases(std::initializer_list<ClusterCase> cases) {
    for (const ClusterCase& expected : cases) {
      opt = TOpt();
      EXPECT_EQ(ParseArg(expected.arg), 0) << expected.arg;
      EXPECT_EQ(opt.use_c, expected.use_c) << expected.arg;
      if (expected.use_c) {
        EXPECT_EQ(opt.c, expected.c) << expected.arg;
      }
      EXPECT_EQ(Flags(), expected.flags) << expected.arg;
    }
  }
};

TEST_F(ParseArgTest, LettersToggleTheirFlags) {
  Parse({"-bCfghnpst"});
  EXPECT_EQ(Flags(), "bCfghnpst");
  Parse({"-bCfghnpst"});
  EXPECT_EQ(Flags(), "");
  Parse({"-bb", "/n", "-b-s/t"});
  EXPECT_EQ(Flags(), "bnst");
  Parse({"-b", "-n"});
  EXPECT_EQ(Flags(), "st");
}

TEST_F(ParseArgTest, OtherBytesAreSkippedSilently) {
  for (const char* arg : {"-xyz", "-B", "-9", "- \t", "-\xa0\xe0", "-", "/"}) {
    EXPECT_EQ(ParseArg(arg), 0);
    EXPECT_EQ(Flags(), "") << arg;
  }
  EXPECT_EQ(opt.use_c, 0);
  EXPECT_STREQ(opt.pathname, ".");
  EXPECT_EQ(Stdout(), "");
  EXPECT_EQ(fake::Stderr(), "");
  Parse({"-\x83" "b"});  // a second byte is taken as the letter it equals
  EXPECT_EQ(Flags(), "b");
}

TEST_F(ParseArgTest, KSetsKilobyteClusters) {
  ExpectClusterCases({
      {"-k", 1, 1024, ""},
      {"-kk", 1, 1024, ""},
      {"-c512k", 1, 1024, ""},
      {"-kc512", 1, 512, ""},
  });
}

TEST_F(ParseArgTest, DriveSelectorsTakeThatDrivesClusterSize) {
  ExpectClusterCases({
      {"-c.", 1, 4096, ""},
      {"-c@", 1, 4096, ""},
      {"-cA", 1, 512, ""},
      {"-ca", 1, 512, ""},
      {"-cb", 1, 1024, ""},
      {"-cs", 1, 16384, ""},
      {"-cSn", 1, 16384, "n"},
      {"-cq", 1, 0, ""},  // no such drive: counts bytes
      {"-c#", 0, 0, ""},
      {"-c#s", 0, 0, "s"},
  });
  fake::SetCurrentDrive('D');
  ExpectClusterCases({{"-c.", 1, 2048, ""}});
  EXPECT_EQ(fake::Stderr(), "");
}

TEST_F(ParseArgTest, HashHandsTheChoiceBackAndKeepsTheSize) {
  Parse({"-c512", "-c#"});
  EXPECT_EQ(opt.use_c, 0);
  EXPECT_EQ(opt.c, 512u);
}

TEST_F(ParseArgTest, NumbersAreReadAsStrtoulReadsThem) {
  ExpectClusterCases({
      {"-c4096", 1, 4096, ""},
      {"-c0x1000", 1, 4096, ""},
      {"-c0X1000", 1, 4096, ""},
      {"-c010", 1, 8, ""},
      {"-c08192", 1, 0, ""},
      {"-c0x200b", 1, 8203, ""},
      {"-c0xb", 1, 11, ""},
      {"-c0x", 1, 0, ""},
      {"-c12ab", 1, 12, "b"},
      {"-c4096s", 1, 4096, "s"},
      {"-c+12", 1, 12, ""},
      {"-c-1", 1, 4294967295u, ""},
      {"-c-4096", 1, 4294963200u, ""},
      {"-c-0x10", 1, 4294967280u, ""},
      {"-c4294967295", 1, 4294967295u, ""},
      {"-c4294967296", 1, 4294967295u, ""},
      {"-c99999999999", 1, 4294967295u, ""},
      {"-c-99999999999", 1, 4294967295u, ""},
      {"-c 512", 1, 512, ""},
      {"-c\t 512n", 1, 512, "n"},
  });
}

TEST_F(ParseArgTest, WithoutDigitsTheSizeIsZeroAndParsingResumesAtTheSelector) {
  ExpectClusterCases({
      {"-c", 1, 0, ""},
      {"-c0", 1, 0, ""},
      {"-c-b", 1, 0, "b"},
      {"-c+n", 1, 0, "n"},
      {"-c b", 1, 0, "b"},
  });
  opt = TOpt();
  EXPECT_EQ(ParseArg("-c?"), 1);
  EXPECT_EQ(opt.use_c, 1);
  EXPECT_EQ(opt.c, 0u);
  EXPECT_NE(Stdout(), "");
}

TEST_F(ParseArgTest, ExplicitZeroGivesWayWhenAllocatedOrGapIsShown) {
  ExpectClusterCases({
      {"-c0s", 0, 0, "s"},
      {"-c0g", 0, 0, "g"},
      {"-sc0", 0, 0, "s"},
      {"-c0ss", 1, 0, ""},  // s is off again when the argument ends
      {"-c512s", 1, 512, "s"},
  });
  opt = TOpt();
  Parse({"-c0", "-s", "-s"});  // not undone by a later argument
  EXPECT_EQ(opt.use_c, 0);
  EXPECT_EQ(Flags(), "");
}

TEST_F(ParseArgTest, PathArgumentsSetThePathAndItsDrive) {
  const char* data = "D:\\data";
  Parse({data});
  EXPECT_EQ(opt.pathname, data);
  EXPECT_EQ(opt.drive, 'D');
  Parse({"e:"});
  EXPECT_STREQ(opt.pathname, "e:");
  EXPECT_EQ(opt.drive, 'E');
  Parse({"D:\\a", "docs"});
  EXPECT_STREQ(opt.pathname, "docs");
  EXPECT_EQ(opt.drive, 'D');
  Parse({"1:x", ""});
  EXPECT_STREQ(opt.pathname, "");
  EXPECT_EQ(opt.drive, 'D');
  EXPECT_EQ(Flags(), "");
}

TEST_F(ParseArgTest, AnOptionArgumentCarriesNoPath) {
  Parse({"-s D:\\x"});
  EXPECT_EQ(Flags(), "s");
  EXPECT_STREQ(opt.pathname, ".");
  EXPECT_EQ(opt.drive, 'C');
}

TEST_F(ParseArgTest, QuestionMarkPrintsTheHelpAndEndsTheArgument) {
  static char program[] = "C:\\TOOLS\\Space.exe";
  static char* argv[] = {program, nullptr};
  av = argv;
  EXPECT_EQ(Parse({"-b?n"}), 1);
  EXPECT_EQ(Flags(), "b");
  std::string help = Stdout();
  EXPECT_EQ(help.rfind("SPACE v1.10\n  Usage: SPACE [-bCfghnpst] [-c[#.@<drive><size>]] [<pathname>]\n", 0), 0u);
  EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 21);
  const std::string last_line = "    -k    -c1024\x82\xc6\x93\xaf\x82\xb6\n";
  EXPECT_EQ(help.substr(help.size() - last_line.size()), last_line);
  EXPECT_EQ(Parse({"?"}), 0);  // a path, not an option argument
  EXPECT_STREQ(opt.pathname, "?");
}

}  // namespace
