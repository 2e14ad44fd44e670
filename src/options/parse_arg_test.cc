// The option grammar as one table: each row is a run's environment string
// and command line, applied from the defaults as main applies them, and the
// options record, status and messages that follow.
#include <string>
#include <utility>
#include <vector>

#include "fresh_run.h"
#include "options/usage.h"
#include "platform/platform.h"

namespace {

// The SPACE variable (or null) and the command line; the status of
// ApplyOptions (-1 goes on to measure), the flags on afterwards, and the
// rest of the options record; what standard error got.
struct Case {
  const char* env;
  std::vector<const char*> args;
  int status;
  const char* flags;
  int use_c;
  uint32_t c;
  const char* path = ".";
  char drive = 'C';
  const char* err = "";
};

const uint32_t kMax = 4294967295u;

const Case kCases[] = {
    // Letters toggle, across arguments and the environment string; other
    // bytes are passed over, and "/" starts options too where it does.
    {nullptr, {"-bCfghnst"}, -1, "bCfghnst", 0, 0}, {nullptr, {"-bb", "/n", "-b-s/t", "-b"}, -1, "nst", 0, 0},
    {"-bn", {"-b"}, -1, "n", 0, 0}, {nullptr, {"-xyzB9", "- \t", "-\xa0\xe0", "-", "/", "-\x83" "b"}, -1, "b", 0, 0},
    // -k, and the drive selectors: a drive that cannot be queried counts bytes.
    {nullptr, {"-kk"}, -1, "", 1, 1024}, {nullptr, {"-c512k"}, -1, "", 1, 1024}, {nullptr, {"-kc512"}, -1, "", 1, 512},
    {nullptr, {"-c."}, -1, "", 1, 4096}, {nullptr, {"-c@"}, -1, "", 1, 4096}, {nullptr, {"-cA"}, -1, "", 1, 512},
    {nullptr, {"-ca"}, -1, "", 1, 512}, {nullptr, {"-cz"}, -1, "", 1, 16384}, {nullptr, {"-cSn"}, -1, "n", 1, 16384},
    {nullptr, {"-cq"}, -1, "", 1, 0}, {nullptr, {"-c#s"}, -1, "s", 0, 0}, {nullptr, {"-c512", "-c#"}, -1, "", 0, 512},
    // Numbers as a 32-bit strtoul with base 0 reads them.
    {nullptr, {"-c0x1000"}, -1, "", 1, 4096}, {nullptr, {"-c0X1000"}, -1, "", 1, 4096},
    {nullptr, {"-c0xb"}, -1, "", 1, 11}, {nullptr, {"-c0x200b"}, -1, "", 1, 8203}, {nullptr, {"-c0x"}, -1, "", 1, 0},
    {nullptr, {"-c010"}, -1, "", 1, 8}, {nullptr, {"-c08192"}, -1, "", 1, 0}, {nullptr, {"-c12ab"}, -1, "b", 1, 12},
    {nullptr, {"-c+12"}, -1, "", 1, 12}, {nullptr, {"-c-1"}, -1, "", 1, kMax},
    {nullptr, {"-c\t 512n"}, -1, "n", 1, 512}, {nullptr, {"-c-4096"}, -1, "", 1, kMax - 4095},
    {nullptr, {"-c-0x10"}, -1, "", 1, kMax - 15},
    {nullptr, {"-c4294967296"}, -1, "", 1, kMax}, {nullptr, {"-c-99999999999"}, -1, "", 1, kMax},
    // Without digits the size is 0 and the letters go on at the selector.
    {nullptr, {"-c"}, -1, "", 1, 0}, {nullptr, {"-c-b"}, -1, "b", 1, 0}, {nullptr, {"-c+n"}, -1, "n", 1, 0},
    {nullptr, {"-c b"}, -1, "b", 1, 0},
    // An explicit 0 gives way to the drive's size for the allocated or gap
    // column as the argument ends; a later argument does not undo it.
    {nullptr, {"-c0"}, -1, "", 1, 0}, {nullptr, {"-c0s"}, -1, "s", 0, 0}, {nullptr, {"-gc0"}, -1, "g", 0, 0},
    {nullptr, {"-c0ss"}, -1, "", 1, 0}, {nullptr, {"-c512s"}, -1, "s", 1, 512},
    {nullptr, {"-c0", "-s", "-s"}, -1, "", 0, 0},
    // Paths and the drives they name; the environment string is one argument.
    {nullptr, {"D:\\a", "docs"}, -1, "", 0, 0, "docs", 'D'}, {nullptr, {"e:"}, -1, "", 0, 0, "e:", 'E'},
    {nullptr, {"z:x"}, -1, "", 0, 0, "z:x", 'Z'}, {nullptr, {"1:x", ""}, -1, "", 0, 0, ""},
    {nullptr, {"-s D:\\x"}, -1, "s", 0, 0}, {"D:\\x", {}, -1, "", 0, 0, "D:\\x", 'D'},
    {"-c 512", {}, -1, "", 1, 512}, {nullptr, {"-c", "512"}, -1, "", 1, 0, "512"},
    // The help ends the run, and the arguments after it are not read.
    {nullptr, {"-b?n", "-n"}, 1, "b", 0, 0}, {"-?", {"-b"}, 1, "", 0, 0}, {nullptr, {"?"}, -1, "", 0, 0, "?"},
    // -p enters the start path, which is "." from then on.
    {nullptr, {"-p", "D:\\data"}, -1, "p", 0, 0, ".", 'D'}, {nullptr, {"sub", "-p"}, -1, "p", 0, 0, ".", 'C'},
    {nullptr, {"-p", "Q:\\x"}, 2, "p", 0, 0, "Q:\\x", 'C', "space: cannot enter directory 'Q:\\x': error 15\n"},
    {nullptr, {"-p", "D:\\gone"}, 2, "p", 0, 0, "D:\\gone", 'D', "space: cannot enter directory 'D:\\gone': error 3\n"},
};

std::string Flags() {
  const std::pair<char, int> flags[] = {{'b', opt.b}, {'C', opt.C}, {'f', opt.f}, {'g', opt.g}, {'h', opt.h},
                                        {'n', opt.n}, {'p', opt.p}, {'s', opt.s}, {'t', opt.t}};
  std::string on;
  for (const auto& [letter, value] : flags)
    if (value) on += letter;
  return on;
}

// Drives A, B, C (current), D, S and Z have clusters of 512, 1024, 4096,
// 2048, 16384 and 16384 bytes; D:\gone cannot be entered.
class OptionsTest : public FreshRun {
 protected:
  void SetUp() override {
    FreshRun::SetUp();
    for (auto [letter, sectors] : {std::pair{'A', 1u}, {'B', 2u}, {'D', 4u}, {'S', 32u}, {'Z', 32u}})
      fake::DriveAt(letter).sectors_per_cluster = sectors;
    fake::FailChdir("D:\\gone", fake::kPathNotFound);
  }
};

TEST_F(OptionsTest, Table) {
  for (const Case& c : kCases) {
    SetUp();
    std::string row = std::string(c.env ? c.env : "-") + " |";
    for (const char* arg : c.args) row += std::string(" ") + arg;
    SCOPED_TRACE(row);
    if (c.env) fake::SetEnv("Space", c.env);  // named after the program, in any case
    EXPECT_EQ(Apply(c.args), c.status);
    EXPECT_EQ(Flags(), c.flags);
    EXPECT_EQ(opt.use_c, c.use_c);
    EXPECT_EQ(opt.c, c.c);
    EXPECT_STREQ(opt.pathname, c.path);
    EXPECT_EQ(opt.drive, static_cast<unsigned>(c.drive));
    EXPECT_EQ(Stdout(), c.status == 1 ? UsageText() : "");
    EXPECT_EQ(fake::Stderr(), c.err);
  }
}

TEST_F(OptionsTest, TheRunEndsWhereItStarted) {
  fake::DriveAt('C').cwd = "C:\\work";
  {
    TOpt options;
    EXPECT_EQ(options.startpath, "C:\\work");
    ASSERT_EQ(platform::chdir("C:\\other"), 0);
    ASSERT_EQ(platform::chdir("D:\\data"), 0);
  }
  std::string cwd;
  EXPECT_TRUE(platform::getcwd(&cwd) && cwd == "C:\\work") << cwd;
  EXPECT_EQ(platform::getdisk(), 2);
}

}  // namespace
