#include "driver/opt.h"

#include <string>

#include "fresh_run.h"
#include "platform/platform.h"

namespace {

class TOptTest : public FreshRun {};

TEST_F(TOptTest, RecordsTheCurrentDriveAndDirectory) {
  fake::DriveAt('D').cwd = "D:\\data";
  fake::SetCurrentDrive('D');
  TOpt options;
  EXPECT_EQ(options.drive, 'D');
  EXPECT_EQ(options.startpath, "D:\\data");
  EXPECT_STREQ(options.pathname, ".");
  EXPECT_EQ(options.use_c, 0);
}

TEST_F(TOptTest, ReturnsToTheStartDriveAndDirectory) {
  fake::DriveAt('C').cwd = "C:\\work";
  fake::DriveAt('D');
  {
    TOpt options;
    ASSERT_EQ(platform::chdir("C:\\other"), 0);
    ASSERT_EQ(platform::chdir("D:\\data"), 0);
  }
  EXPECT_EQ(platform::getdisk(), 2);
  EXPECT_EQ(CurrentDirectory(), "C:\\work");
}

}  // namespace
