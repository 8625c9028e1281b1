#include "server/ups/sentinels.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace keep::server {
namespace {

// The pair of sentinels sits at the top of each width; the value just below is a real reading.
TEST(SentinelTextTest, EightBit) {
  EXPECT_EQ(SentinelText8(254), "&");
  EXPECT_EQ(SentinelText8(255), "@");
  EXPECT_EQ(SentinelText8(253), "253");
  EXPECT_EQ(SentinelText8(0), "0");
  EXPECT_EQ(SentinelText8(49), "49");  // a number, never the character '1'
}

TEST(SentinelTextTest, SixteenBitUnsigned) {
  EXPECT_EQ(SentinelText16(65534), "&");
  EXPECT_EQ(SentinelText16(65535), "@");
  EXPECT_EQ(SentinelText16(65533), "65533");
  EXPECT_EQ(SentinelText16(254), "254");
  EXPECT_EQ(SentinelText16(0), "0");
}

TEST(SentinelTextTest, SixteenBitSignedUsesTheTopOfThePositiveRange) {
  EXPECT_EQ(SentinelTextSigned16(32766), "&");
  EXPECT_EQ(SentinelTextSigned16(32767), "@");
  EXPECT_EQ(SentinelTextSigned16(32765), "32765");
  EXPECT_EQ(SentinelTextSigned16(-1), "-1");
  EXPECT_EQ(SentinelTextSigned16(-2), "-2");
  EXPECT_EQ(SentinelTextSigned16(INT16_MIN), "-32768");
}

TEST(SentinelTextTest, ThirtyTwoBit) {
  EXPECT_EQ(SentinelText32(4294967294u), "&");
  EXPECT_EQ(SentinelText32(4294967295u), "@");
  EXPECT_EQ(SentinelText32(4294967293u), "4294967293");
  EXPECT_EQ(SentinelText32(65535), "65535");
  EXPECT_EQ(SentinelText32(2147483648u), "2147483648");
}

}  // namespace
}  // namespace keep::server
