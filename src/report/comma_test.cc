#include "report/comma.h"

#include <cstdint>
#include <string>

#include "fresh_run.h"

namespace {

std::string Blanks(int n) { return std::string(static_cast<size_t>(n), ' '); }

std::string Comma(uint64_t n, int width) { return comma(n, width); }

TEST(CommaStrTest, SeparatesGroupsOfThreeFromTheRight) {
  struct Case {
    uint64_t n;
    const char* text;
  };
  const Case cases[] = {
      {0, "0"},
      {7, "7"},
      {999, "999"},
      {1000, "1,000"},
      {12345, "12,345"},
      {123456, "123,456"},
      {1234567, "1,234,567"},
      {4294967295u, "4,294,967,295"},
      {4294967296u, "4,294,967,296"},
      {1000000000000000000u, "1,000,000,000,000,000,000"},
      {UINT64_MAX, "18,446,744,073,709,551,615"},
  };
  for (const Case& c : cases) {
    char buffer[27];  // the documented room, exactly: overruns show under ASan
    EXPECT_EQ(commastr(buffer, c.n), buffer);
    EXPECT_STREQ(buffer, c.text) << c.n;
  }
}

class CommaTest : public FreshRun {};

TEST_F(CommaTest, PlainDigitsRightAlignedInTheNominalWidth) {
  EXPECT_EQ(Comma(0, 10), Blanks(9) + "0");
  EXPECT_EQ(Comma(999, 10), Blanks(7) + "999");
  EXPECT_EQ(Comma(1000, 10), Blanks(6) + "1000");
  EXPECT_EQ(Comma(1234567, 10), Blanks(3) + "1234567");
  EXPECT_EQ(Comma(4294967295u, 10), "4294967295");
  EXPECT_EQ(Comma(1, 6), Blanks(5) + "1");
  EXPECT_EQ(Comma(999999, 6), "999999");
}

TEST_F(CommaTest, SeparatorsWidenTheFields) {
  opt.C = 1;
  EXPECT_EQ(Comma(0, 10), Blanks(12) + "0");
  EXPECT_EQ(Comma(999, 10), Blanks(10) + "999");
  EXPECT_EQ(Comma(1000, 10), Blanks(8) + "1,000");
  EXPECT_EQ(Comma(1234567, 10), Blanks(4) + "1,234,567");
  EXPECT_EQ(Comma(4294967295u, 10), "4,294,967,295");
  EXPECT_EQ(Comma(1, 6), Blanks(6) + "1");
  EXPECT_EQ(Comma(4096, 6), Blanks(2) + "4,096");
  EXPECT_EQ(FieldWidth(10), 13);
  EXPECT_EQ(FieldWidth(6), 7);
}

TEST_F(CommaTest, WideValuesOverflowTheFieldWhole) {
  EXPECT_EQ(Comma(1000000, 6), "1000000");
  EXPECT_EQ(Comma(4294967296u, 10), "4294967296");
  EXPECT_EQ(Comma(UINT64_MAX, 10), "18446744073709551615");
  EXPECT_EQ(Comma(UINT64_MAX, 6), "18446744073709551615");
  opt.C = 1;
  EXPECT_EQ(Comma(1000000, 6), "1,000,000");
  EXPECT_EQ(Comma(4294967295u, 6), "4,294,967,295");
  EXPECT_EQ(Comma(UINT64_MAX, 10), "18,446,744,073,709,551,615");
}

}  // namespace
