#include "options/front_end.h"

#include <string>

#include "driver/measure.h"
#include "fresh_run.h"
#include "platform/platform.h"

namespace {

class FrontEndTest : public FreshRun {};

TEST_F(FrontEndTest, EnvironmentStringComesFirstAndFlagsToggleAcrossBoth) {
  fake::SetEnv("Space", "-bn");  // named after the program, in any case
  EXPECT_EQ(Apply({"-b"}), -1);
  EXPECT_EQ(opt.b, 0);
  EXPECT_EQ(opt.n, 1);
}

TEST_F(FrontEndTest, EnvironmentStringIsOneArgument) {
  fake::SetEnv("SPACE", "-c 512");
  EXPECT_EQ(Apply({}), -1);
  EXPECT_EQ(opt.use_c, 1);
  EXPECT_EQ(opt.c, 512u);
}

TEST_F(FrontEndTest, NumberInTheNextCommandLineArgumentIsAPath) {
  EXPECT_EQ(Apply({"-c", "512"}), -1);
  EXPECT_EQ(opt.use_c, 1);
  EXPECT_EQ(opt.c, 0u);
  EXPECT_STREQ(opt.pathname, "512");
}

TEST_F(FrontEndTest, EnvironmentPathIsTheDefaultStartPath) {
  fake::SetEnv("SPACE", "D:\\x");
  EXPECT_EQ(Apply({}), -1);
  EXPECT_STREQ(opt.pathname, "D:\\x");
  EXPECT_EQ(opt.drive, 'D');
  opt = TOpt();
  EXPECT_EQ(Apply({"docs"}), -1);
  EXPECT_STREQ(opt.pathname, "docs");
  EXPECT_EQ(opt.drive, 'D');
}

TEST_F(FrontEndTest, HelpInTheEnvironmentEndsTheRunBeforeTheCommandLine) {
  fake::SetEnv("SPACE", "-?");
  EXPECT_EQ(Apply({"-b"}), 1);
  EXPECT_EQ(opt.b, 0);
  EXPECT_EQ(Stdout().rfind("SPACE v1.10\n", 0), 0u);
}

TEST_F(FrontEndTest, HelpOnTheCommandLineLeavesLaterArgumentsUnread) {
  EXPECT_EQ(Apply({"-b?", "-n"}), 1);
  EXPECT_EQ(opt.b, 1);
  EXPECT_EQ(opt.n, 0);
}

TEST_F(FrontEndTest, HelpThatCannotBeWrittenEndsWithStatus2) {
  fake::FailStdoutAfter(0, fake::kDiskFull);
  EXPECT_EQ(Apply({"-?"}), 2);
  EXPECT_EQ(fake::Stderr(), "space: write error: error 112\n");
}

TEST_F(FrontEndTest, HelpFromTheEnvironmentThatCannotBeWrittenEndsWithStatus2) {
  fake::SetEnv("SPACE", "-?");
  fake::FailStdoutAfter(0, fake::kDiskFull);
  EXPECT_EQ(Apply({}), 2);
}

TEST_F(FrontEndTest, PathOptionEntersTheDriveAndDirectory) {
  fake::DriveAt('D');
  EXPECT_EQ(Apply({"-p", "D:\\data"}), -1);
  EXPECT_STREQ(opt.pathname, ".");
  EXPECT_EQ(opt.drive, 'D');
  EXPECT_EQ(platform::getdisk(), 3);
  EXPECT_EQ(CurrentDirectory(), "D:\\data");
}

TEST_F(FrontEndTest, PathOptionWithARelativePath) {
  fake::DriveAt('C').cwd = "C:\\work";
  EXPECT_EQ(Apply({"sub", "-p"}), -1);
  EXPECT_STREQ(opt.pathname, ".");
  EXPECT_EQ(opt.drive, 'C');
  EXPECT_EQ(CurrentDirectory(), "C:\\work\\sub");
}

TEST_F(FrontEndTest, PathOptionMeasuresTheEnteredDirectoryAsDot) {
  fake::DriveAt('D').sectors_per_cluster = 4;
  fake::Dir(".\\").entries = {fake::File("x", 10)};
  EXPECT_EQ(Apply({"-p", "D:\\data"}), -1);
  EXPECT_EQ(Measure(), 0);
  EXPECT_EQ(Stdout(), "2048 bytes per cluster\n         1   .\n      1000   free\n");
}

TEST_F(FrontEndTest, DirectoryThatCannotBeEnteredEndsTheRun) {
  fake::DriveAt('D');
  fake::FailChdir("D:\\missing", fake::kPathNotFound);
  EXPECT_EQ(Apply({"-p", "D:\\missing"}), 2);
  EXPECT_EQ(fake::Stderr(), "space: cannot enter directory 'D:\\missing': error 3\n");
  EXPECT_EQ(Stdout(), "");
}

TEST_F(FrontEndTest, DriveThatCannotBeMadeCurrentLeavesTheCurrentOne) {
  EXPECT_EQ(Apply({"-p", "Q:\\x"}), 2);
  EXPECT_EQ(opt.drive, 'C');
  EXPECT_EQ(fake::Stderr(), "space: cannot enter directory 'Q:\\x': error 15\n");
}

}  // namespace
