#include "console/value_renderings.h"

#include <gtest/gtest.h>

namespace keep::console {
namespace {

TEST(MarksTest, EveryRenderingWithMarksShowsNotAvailableAndOverrange) {
  EXPECT_EQ("Not available", PlainValue("&", "V"));
  EXPECT_EQ("Overrange", PlainValue("@", "V"));
  EXPECT_EQ("Not available", TenthsValue("&", "%"));
  EXPECT_EQ("Overrange", HundredthsValue("@", "Hz"));
  EXPECT_EQ("Overrange", YesNoValue("@"));
  EXPECT_EQ("Not available", MarkedDuration("&"));
  EXPECT_EQ("Overrange", LimitValue("@"));
  EXPECT_EQ("Not available", StabiliserValue("&"));
  EXPECT_EQ("Not available", ContactValue("&"));
  // A mark is not a number: the plain duration cannot read it.
  EXPECT_EQ("Unknown", DurationValue("&"));
  EXPECT_EQ("Not available", MinChargeValue("&"));
  EXPECT_EQ("Overrange %", MinChargeValue("@"));
}

TEST(PlainValueTest, AddsTheUnitAfterOneBlankOnlyWhenGiven) {
  EXPECT_EQ("230 V", PlainValue("230", "V"));
  EXPECT_EQ("7", PlainValue("7"));
  EXPECT_EQ("-400 V", NegativePlainValue("400", "V"));
  EXPECT_EQ("Not available", NegativePlainValue("&", "V"));
}

TEST(ScaledValueTest, WritesTheShortestExactDecimal) {
  EXPECT_EQ("95.5 %", TenthsValue("955", "%"));
  EXPECT_EQ("230.5 V", TenthsValue("2305", "V"));
  EXPECT_EQ("230 V", TenthsValue("2300", "V"));
  EXPECT_EQ("-0.5 A", TenthsValue("-5", "A"));
  EXPECT_EQ("0 %", TenthsValue("0", "%"));
  EXPECT_EQ("50.12 Hz", HundredthsValue("5012", "Hz"));
  EXPECT_EQ("50 Hz", HundredthsValue("5000", "Hz"));
  EXPECT_EQ("50.1 Hz", HundredthsValue("5010", "Hz"));
  EXPECT_EQ("0.05 A", HundredthsValue("5", "A"));
  EXPECT_EQ("-92233720368547758.08 A", HundredthsValue("-9223372036854775808", "A"));
  EXPECT_EQ("Unknown", TenthsValue("95.5", "%"));
  EXPECT_EQ("Unknown", TenthsValue("", "%"));
  EXPECT_EQ("Unknown", TenthsValue(" 12", "%"));
}

TEST(DurationValueTest, WritesEveryUnitFromTheFirstThatFits) {
  EXPECT_EQ("1 hour 2 minutes 5 seconds ", DurationValue("3725"));
  EXPECT_EQ("1 hour 0 minutes 0 seconds ", DurationValue("3600"));
  EXPECT_EQ("0 seconds ", DurationValue("0"));
  EXPECT_EQ("1 second ", DurationValue("1"));
  EXPECT_EQ("59 seconds ", DurationValue("59"));
  EXPECT_EQ("1 minute 0 seconds ", DurationValue("60"));
  EXPECT_EQ("2 days 0 hours 0 minutes 0 seconds ", DurationValue("172800"));
  // A month is counted only when there is no year.
  EXPECT_EQ("1 month 1 day 0 hours 0 minutes 0 seconds ", DurationValue("2678400"));
  EXPECT_EQ("1 year 0 days 0 hours 0 minutes 0 seconds ", DurationValue("31536000"));
  EXPECT_EQ("1 year 1 day 0 hours 0 minutes 0 seconds ", DurationValue("31622400"));
}

TEST(DurationValueTest, CountsMinutesWhenAsked) {
  EXPECT_EQ("5 minutes 0 seconds ", DurationValue("5", 60));
  EXPECT_EQ("Not available", MarkedDuration("&", 60));
  EXPECT_EQ("1 hour 30 minutes 0 seconds ", MarkedDuration("90", 60));
  EXPECT_EQ("Unknown", DurationValue("9223372036854775807", 60)) << "too large to count in seconds";
  EXPECT_EQ("Unknown", DurationValue("1h"));
}

TEST(LimitValueTest, ZeroMeansNotLimited) {
  EXPECT_EQ("Not limited", LimitValue("0"));
  EXPECT_EQ("2 minutes 0 seconds ", LimitValue("120"));
}

TEST(ChoiceRenderingsTest, MapCodesAndCallTheRestUnknown) {
  EXPECT_EQ("220 V", StabiliserValue("1"));
  EXPECT_EQ("240 V", StabiliserValue("3"));
  EXPECT_EQ("Unknown", StabiliserValue("4"));
  EXPECT_EQ("50 Hz", FrequencyValue("0"));
  EXPECT_EQ("60 Hz", FrequencyValue("1"));
  EXPECT_EQ("Low", DipSpeedValue("3"));
  EXPECT_EQ("Automatic", ThresholdModeValue("1"));
  EXPECT_EQ("Not executed", ExecutedValue("0"));
  EXPECT_EQ("On", OnOffValue("1"));
  EXPECT_EQ("Normally Opened", ContactValue("1"));
  EXPECT_EQ("Normally Closed", ContactValue("0"));
  EXPECT_EQ("Yes", YesNoValue("1"));
  EXPECT_EQ("Unknown", YesNoValue("01"));
  EXPECT_EQ("Disabled", MinChargeValue("0"));
  EXPECT_EQ("40 %", MinChargeValue("40"));
}

TEST(PhaseConfigValueTest, TheOutputsThreePhasesCarryTheDegreeSignOfTheTerminal) {
  const RenderStyle oem = RenderStyle::ForTerminal(false);
  const RenderStyle utf8 = RenderStyle::ForTerminal(true);
  EXPECT_EQ("Three Phase (120\xF8)", PhaseConfigValue("1", true, oem));
  EXPECT_EQ("Three Phase (120\xC2\xB0)", PhaseConfigValue("1", true, utf8));
  EXPECT_EQ("Three Phase", PhaseConfigValue("1", false, utf8));
  EXPECT_EQ("Single Phase", PhaseConfigValue("0", true, utf8));
  EXPECT_EQ("Three Single Phases", PhaseConfigValue("2", false, utf8));
  EXPECT_EQ("Unknown", PhaseConfigValue("3", true, utf8));
}

TEST(ClockValueTest, LeavesOutEveryPartWithAMark) {
  EXPECT_EQ("8:05:09 31/12/24 (Tuesday)", ClockValue("24", "12", "31", "8", "05", "09", "2"));
  EXPECT_EQ("31/12/24 (Tuesday)", ClockValue("24", "12", "31", "&", "05", "09", "2"));
  EXPECT_EQ("8:05:09 (Tuesday)", ClockValue("24", "@", "31", "8", "05", "09", "2"));
  EXPECT_EQ("8:05:09 31/12/24 ", ClockValue("24", "12", "31", "8", "05", "09", "&"));
  EXPECT_EQ("8:05:09 31/12/24 (Invalid parameter)", ClockValue("24", "12", "31", "8", "05", "09", "9"));
  EXPECT_EQ("Not available", ClockValue("&", "&", "&", "&", "&", "&", "&"));
}

TEST(NameRenderingsTest, ListNamesAndWeekdays) {
  EXPECT_EQ("ALL", ListNameValue("0"));
  EXPECT_EQ("INFO", ListNameValue("3"));
  EXPECT_EQ("UNKNOWN", ListNameValue("4"));
  EXPECT_EQ("Sunday", WeekdayValue(int64_t{0}));
  EXPECT_EQ("Saturday", WeekdayValue(int64_t{6}));
  EXPECT_EQ("Monday", WeekdayValue("1"));
  EXPECT_EQ("Invalid parameter", WeekdayValue("7"));
  EXPECT_EQ("Invalid parameter", WeekdayValue("-1"));
  EXPECT_EQ("Invalid parameter", WeekdayValue("x"));
}

}  // namespace
}  // namespace keep::console
