#include "common/format_settings.h"

#include <gtest/gtest.h>

namespace keep {
namespace {

DateTime At(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
  return *DateTime::FromCivil({y, mo, d, h, mi, s, ms});
}

TEST(FormatDateTimeTest, FixedFormatsPadToTwoAndFourDigits) {
  const TFormatSettings s;
  const DateTime t = At(2024, 3, 7, 8, 5, 9);
  EXPECT_EQ(FormatShortDate(s, t), "07/03/2024");
  EXPECT_EQ(FormatLongTime(s, t), "08:05:09");
}

TEST(FormatDateTimeTest, MAfterHourTokenMeansMinutesEvenAcrossSeparators) {
  const TFormatSettings s;
  const DateTime t = At(2024, 11, 2, 13, 4, 0);
  EXPECT_EQ(FormatDateTime("hh:mm", s, t), "13:04");
  EXPECT_EQ(FormatDateTime("h:m", s, t), "13:4");
  EXPECT_EQ(FormatDateTime("hh:nn:ss dd/mm", s, t), "13:04:00 02/11");
  EXPECT_EQ(FormatDateTime("d/m/yy", s, t), "2/11/24");
}

TEST(FormatDateTimeTest, SeparatorsComeFromSettingsAndOtherCharactersAreCopied) {
  TFormatSettings s;
  s.DateSeparator = '-';
  s.TimeSeparator = '.';
  const DateTime t = At(1999, 12, 31, 23, 59, 58, 7);
  EXPECT_EQ(FormatDateTime("yyyy/MM/dd hh:nn:ss.zzz", s, t), "1999-12-31 23.59.58.007");
  EXPECT_EQ(FormatDateTime("[z] x", s, t), "[7] x");
}

TEST(FormatDateTimeTest, LongTokensGiveNames) {
  const TFormatSettings s;
  const DateTime t = At(2024, 3, 3, 0, 0, 0);  // a Sunday
  EXPECT_EQ(FormatDateTime("ddd dddd mmm mmmm", s, t), "Sun Sunday Mar March");
}

}  // namespace
}  // namespace keep
