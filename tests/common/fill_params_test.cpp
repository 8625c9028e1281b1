#include "common/fill_params.h"

#include <gtest/gtest.h>

namespace keep {
namespace {

TEST(FillParamsTest, FillsMarksInOrderAndTurnsCaretIntoLoneCarriageReturn) {
  EXPECT_EQ(FillParams("Test $ at $^end", {"A", "B"}), "Test A at B\rend");
}

TEST(FillParamsTest, MarkInsideEarlierArgumentTakesTheNextArgument) {
  EXPECT_EQ(FillParams("Test $ at $^end", {"$x", "B"}), "Test Bx at $\rend");
}

TEST(FillParamsTest, SurplusMarksStayAndSurplusArgumentsDoNothing) {
  EXPECT_EQ(FillParams("$ and $", {"one"}), "one and $");
  EXPECT_EQ(FillParams("only $", {"1", "2", "3"}), "only 1");
  EXPECT_EQ(FillParams("none", {"1"}), "none");
  EXPECT_EQ(FillParams("$", {}), "$");
}

TEST(FillParamsTest, CaretInsideArgumentIsNotExpanded) { EXPECT_EQ(FillParams("a^$", {"b^c"}), "a\rb^c"); }

TEST(FillParamTest, FillsOnlyTheFirstMark) {
  EXPECT_EQ(FillParam("$ min^$", "5"), "5 min\r$");
  EXPECT_EQ(FillParam("", "5"), "");
}

TEST(ExpandLineBreaksTest, ReplacesEveryCaret) {
  EXPECT_EQ(ExpandLineBreaks("^a^^b^"), "\ra\r\rb\r");
  EXPECT_EQ(ExpandLineBreaks("plain"), "plain");
}

}  // namespace
}  // namespace keep
