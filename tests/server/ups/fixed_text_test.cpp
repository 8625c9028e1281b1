#include "server/ups/fixed_text.h"

#include <gtest/gtest.h>

#include <string>

namespace keep::server {
namespace {

TEST(FixedTextTest, KeepsOnlyTheFirstCapacityBytes) {
  TCode code;
  code = "10";
  EXPECT_EQ(code.str(), "1");
  TText12 serial(std::string("SN-0123456789-EXTRA"));
  EXPECT_EQ(serial.str(), "SN-012345678");
  EXPECT_EQ(serial.size(), 12u);
}

TEST(FixedTextTest, ShorterAssignmentLeavesNothingOfTheLongerOne) {
  TText12 text("ABCDEFGHIJKL");
  text = "xy";
  EXPECT_EQ(text, "xy");
  EXPECT_EQ(text, TText12("xy"));
  text = "";
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(text, TText12());
}

TEST(FixedTextTest, ComparesWithTextOnEitherSide) {
  TCode code("&");
  const std::string at = "@";
  EXPECT_TRUE(code == "&");
  EXPECT_TRUE("&" == code);
  EXPECT_TRUE(code != at);
  EXPECT_FALSE(code == "&&");  // compared whole, not truncated first
  EXPECT_TRUE(TCode() == "");
}

TEST(FixedTextTest, KeepsEveryByteValue) {
  TText12 text(std::string("a\0b\xff", 4));
  EXPECT_EQ(text.size(), 4u);
  EXPECT_EQ(text.str(), std::string("a\0b\xff", 4));
}

}  // namespace
}  // namespace keep::server
