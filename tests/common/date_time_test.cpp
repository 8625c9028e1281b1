#include "common/date_time.h"

#include <gtest/gtest.h>

namespace keep {
namespace {

TEST(DateTimeTest, DayNumbersCountFromThirtiethDecember1899) {
  EXPECT_EQ(DateTime::FromCivil({1899, 12, 30})->DayNumber(), 0);
  EXPECT_EQ(DateTime::FromCivil({1900, 1, 1})->DayNumber(), 2);
  EXPECT_EQ(DateTime::FromCivil({1899, 12, 29, 23, 0, 0})->DayNumber(), -1);
  EXPECT_EQ(DateTime::FromCivil({2000, 1, 1})->DayNumber(), 36526);
}

TEST(DateTimeTest, CivilFieldsSurviveRoundTrip) {
  for (const CivilDateTime c : {CivilDateTime{1899, 12, 30, 0, 0, 0, 0}, CivilDateTime{1900, 2, 28, 23, 59, 59, 999},
                                CivilDateTime{2000, 2, 29, 12, 30, 15, 500}, CivilDateTime{1700, 3, 1, 1, 2, 3, 4},
                                CivilDateTime{9999, 12, 31, 23, 59, 59, 999}, CivilDateTime{1, 1, 1, 0, 0, 0, 0}}) {
    const std::optional<DateTime> t = DateTime::FromCivil(c);
    ASSERT_TRUE(t.has_value()) << c.year << "-" << c.month << "-" << c.day;
    const CivilDateTime back = t->ToCivil();
    EXPECT_EQ(back.year, c.year);
    EXPECT_EQ(back.month, c.month);
    EXPECT_EQ(back.day, c.day);
    EXPECT_EQ(back.hour, c.hour);
    EXPECT_EQ(back.minute, c.minute);
    EXPECT_EQ(back.second, c.second);
    EXPECT_EQ(back.millisecond, c.millisecond);
  }
}

TEST(DateTimeTest, WeekdayStartsWithSundayAsZero) {
  EXPECT_EQ(DateTime::FromCivil({1899, 12, 30})->Weekday(), 6);  // a Saturday
  EXPECT_EQ(DateTime::FromCivil({2024, 3, 3})->Weekday(), 0);    // a Sunday
  EXPECT_EQ(DateTime::FromCivil({2024, 3, 4, 23, 59, 59})->Weekday(), 1);
  EXPECT_EQ(DateTime::FromCivil({1899, 12, 24})->Weekday(), 0);
}

TEST(DateTimeTest, InvalidDatesAreRejected) {
  EXPECT_FALSE(DateTime::FromCivil({2023, 2, 29}).has_value());
  EXPECT_FALSE(DateTime::FromCivil({1900, 2, 29}).has_value());
  EXPECT_TRUE(DateTime::FromCivil({2000, 2, 29}).has_value());
  EXPECT_FALSE(DateTime::FromCivil({2024, 13, 1}).has_value());
  EXPECT_FALSE(DateTime::FromCivil({2024, 4, 31}).has_value());
  EXPECT_FALSE(DateTime::FromCivil({2024, 1, 0}).has_value());
  EXPECT_FALSE(DateTime::FromCivil({2024, 1, 1, 24, 0, 0}).has_value());
  EXPECT_FALSE(DateTime::FromCivil({2024, 1, 1, 0, 60, 0}).has_value());
  EXPECT_FALSE(DateTime::FromCivil({0, 1, 1}).has_value());
  EXPECT_FALSE(DateTime::FromCivil({10000, 1, 1}).has_value());
}

TEST(DateTimeTest, MillisecondOfDayIsFlooredBeforeEpoch) {
  const DateTime t = DateTime::FromMilliseconds(-1);
  EXPECT_EQ(t.DayNumber(), -1);
  EXPECT_EQ(t.MillisecondOfDay(), DateTime::kMsPerDay - 1);
  EXPECT_EQ(t.ToCivil().day, 29);
}

}  // namespace
}  // namespace keep
