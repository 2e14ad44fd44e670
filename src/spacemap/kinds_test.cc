#include "spacemap/kinds.h"

#include <gtest/gtest.h>

#include "platform/path.h"

namespace {

TEST(KindsTest, ExtensionsAndTheirGroups) {
  struct Case {
    const char* name;
    const char* extension;
    const char* group;
  } cases[] = {
      {"photo.JPG", platform::kNamesIgnoreCase ? "jpg" : "JPG", "Images"}, {"a.tar.gz", "gz", "Archives and packages"},
      {".bashrc", "", "Other"}, {"Makefile", "", "Other"}, {"trailing.", "", "Other"},
      {"x.unheard-of", "unheard-of", "Other"}, {"libc.so", "so", "Programs and libraries"},
      {"libz.so.1.2.13", "so", "Programs and libraries"}, {"notes.1", "1", "Other"},
      {".cache.2", "", "Other"}, {"unit.pas", "pas", "Source and text"}, {"de.mo", "mo", "Data and databases"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtensionOf(c.name), c.extension) << c.name;
    EXPECT_STREQ(kKindGroups[GroupOf(ExtensionOf(c.name))].name, c.group) << c.name;
  }
}

}  // namespace
