#include "common/time_text.h"

#include <gtest/gtest.h>

namespace keep {
namespace {

TEST(SecondsToTimeTest, ValidCountGivesTimeOfDayOnDayZero) {
  const std::optional<DateTime> t = SecondsToTime("3725");
  ASSERT_TRUE(t.has_value());
  const CivilDateTime c = t->ToCivil();
  EXPECT_EQ(t->DayNumber(), 0);
  EXPECT_EQ(c.hour, 1);
  EXPECT_EQ(c.minute, 2);
  EXPECT_EQ(c.second, 5);
  EXPECT_EQ(c.millisecond, 0);
  EXPECT_EQ(SecondsToTime("0"), DateTime());
  EXPECT_EQ(SecondsToTime("86399")->MillisecondOfDay(), 86'399'000);
  EXPECT_EQ(SecondsToTime("+60")->MillisecondOfDay(), 60'000);
  EXPECT_EQ(SecondsToTime("-0"), DateTime());
}

TEST(SecondsToTimeTest, TextThatIsNoIntegerGivesMidnight) {
  for (const char* text : {"abc", "", " 5", "5 ", "1.5", "+", "-", "+-5", "$10", "0x10", "99999999999999999999"}) {
    const std::optional<DateTime> t = SecondsToTime(text);
    ASSERT_TRUE(t.has_value()) << text;
    EXPECT_EQ(t->Milliseconds(), 0) << text;
  }
}

TEST(SecondsToTimeTest, IntegerOutsideOneDayFails) {
  EXPECT_FALSE(SecondsToTime("86400").has_value());
  EXPECT_FALSE(SecondsToTime("-1").has_value());
  EXPECT_FALSE(SecondsToTime("9223372036854775807").has_value());
  EXPECT_FALSE(SecondsToTime("-9223372036854775808").has_value());
}

TEST(ParseDecimalInt64Test, AcceptsFullRangeAndRejectsOverflow) {
  int64_t v = 0;
  ASSERT_TRUE(ParseDecimalInt64("-9223372036854775808", v));
  EXPECT_EQ(v, INT64_MIN);
  ASSERT_TRUE(ParseDecimalInt64("007", v));
  EXPECT_EQ(v, 7);
  v = 42;
  EXPECT_FALSE(ParseDecimalInt64("9223372036854775808", v));
  EXPECT_FALSE(ParseDecimalInt64("12a", v));
  EXPECT_EQ(v, 42);
}

}  // namespace
}  // namespace keep
