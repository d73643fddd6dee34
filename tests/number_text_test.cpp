// The one reading of a number typed or stored, and the rules its callers
// put on it: a setting clamps, a device number refuses beyond 32 bits, a
// level must be the whole word.
#include "console/number_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "console/setup/settings.h"

namespace {

TEST(NumberTextTest, ReadsTheLeadingInteger) {
  struct Case {
    const char* sText;
    bool bDigits;
    bool bSign;
    long long iValue;
    size_t iEnd;
    bool bWhole;
  };
  const Case cases[] = {
      {"", false, false, 0, 0, false},
      {"abc", false, false, 0, 0, false},
      {"-", false, false, 0, 0, false},
      {"42", true, false, 42, 2, true},
      {"  42  ", true, false, 42, 4, true},
      {"\t-7x", true, true, -7, 3, false},
      {"+10", true, true, 10, 3, true},
      {"5x on", true, false, 5, 1, false},
      {"30%", true, false, 30, 2, false},
      {"007", true, false, 7, 3, true},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.sText);
    NumberText _Number = ReadNumberText(_Case.sText);
    EXPECT_EQ(_Case.bDigits, _Number.bDigits);
    EXPECT_EQ(_Case.bSign, _Number.bSign);
    EXPECT_EQ(_Case.iValue, _Number.iValue);
    EXPECT_EQ(_Case.iEnd, _Number.iEnd);
    EXPECT_EQ(_Case.bWhole, _Number.bWhole);
  }
}

// Beyond the int range a stored number is held to it and a typed device
// number is refused, however many digits there are.
TEST(NumberTextTest, EachCallerSaysItsRule) {
  EXPECT_EQ(INT_MAX, LeadingInteger("2147483648"));
  EXPECT_EQ(INT_MIN, LeadingInteger("-99999999999999999999999999"));
  EXPECT_EQ(12, LeadingInteger(" 12abc"));
  EXPECT_EQ(0, LeadingInteger("abc"));
  EXPECT_TRUE(NumberInRange(ReadNumberText("2147483647"), INT_MIN, INT_MAX));
  EXPECT_FALSE(NumberInRange(ReadNumberText("2147483648"), INT_MIN, INT_MAX));
  EXPECT_FALSE(NumberInRange(ReadNumberText("99999999999999999999999"), INT_MIN, INT_MAX));
  EXPECT_FALSE(NumberInRange(ReadNumberText("none"), INT_MIN, INT_MAX));
  EXPECT_EQ(100, ClampedNumber(ReadNumberText("250"), 0, 100));
  EXPECT_EQ(0, ClampedNumber(ReadNumberText("-3"), 0, 100));
}

}  // namespace
