#include "common/frames.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace keep {
namespace {

TEST(FramesTest, MakeFrameWrapsBodyUnchanged) {
  EXPECT_EQ(MakeFrame(""), "<||>");
  EXPECT_EQ(MakeFrame("101"), "<|101|>");
  EXPECT_EQ(MakeFrame(" 203|a b|"), "<| 203|a b||>");
}

TEST(FramesTest, MakeCodeFrameWritesPlainDecimal) {
  EXPECT_EQ(MakeCodeFrame(7), "<|7|>");
  EXPECT_EQ(MakeCodeFrame(0), "<|0|>");
  EXPECT_EQ(MakeCodeFrame(-502), "<|-502|>");
  EXPECT_EQ(MakeCodeFrame(std::numeric_limits<int64_t>::min()), "<|-9223372036854775808|>");
}

TEST(FramesTest, MakeListFrameFramesJoinedEntries) {
  EXPECT_EQ(MakeListFrame({"401", "x"}), "<|401|x|>");
  EXPECT_EQ(MakeListFrame({"401"}), "<|401|>");
  // Blank entries inside a non-blank body are kept as they are.
  EXPECT_EQ(MakeListFrame({"", "x", " "}), "<||x| |>");
}

TEST(FramesTest, MakeListFrameLeavesBlankBodyUnframed) {
  EXPECT_EQ(MakeListFrame({}), "");
  EXPECT_EQ(MakeListFrame({""}), "");
  EXPECT_EQ(MakeListFrame({" \t"}), " \t");
  // Two blank entries are joined by a bar, which is not blank.
  EXPECT_EQ(MakeListFrame({" ", ""}), "<| ||>");
}

}  // namespace
}  // namespace keep
