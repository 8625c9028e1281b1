#include "server/services/event_time_stamp.h"

#include <gtest/gtest.h>

namespace keep::server {
namespace {

DateTime At(int hour, int minute, int second, int millisecond = 0) {
  return *DateTime::FromCivil({2026, 3, 7, hour, minute, second, millisecond});
}

TEST(EventTimeStampTest, DateBlankAndTimeInTheFixedFormats) {
  const TFormatSettings format;
  EXPECT_EQ(EventTimeStamp(format, At(9, 5, 3)), "07/03/2026 09:05:03");
  EXPECT_EQ(EventTimeStamp(format, At(23, 59, 59, 999)), "07/03/2026 23:59:59");
}

TEST(EventTimeStampTest, OnlyExactMidnightLeavesTheTimeOut) {
  const TFormatSettings format;
  EXPECT_EQ(EventTimeStamp(format, At(0, 0, 0)), "07/03/2026");
  EXPECT_EQ(EventTimeStamp(format, At(0, 0, 0, 1)), "07/03/2026 00:00:00");
  EXPECT_EQ(EventTimeStamp(format, At(0, 0, 1)), "07/03/2026 00:00:01");
}

}  // namespace
}  // namespace keep::server
