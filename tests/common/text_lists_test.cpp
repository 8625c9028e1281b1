#include "common/text_lists.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace keep {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(SplitTextTest, FrameGivesMarksAsFirstAndLastFieldsAndKeepsInnerEmptyField) {
  TStringList list;
  SplitText('|', "<|123|a||b|>", list, true);
  EXPECT_THAT(list, ElementsAre("<", "123", "a", "", "b", ">"));
}

TEST(SplitTextTest, TrimsFieldsAndDropsOnlyABlankLastField) {
  TStringList list;
  SplitText(',', "  a , b ,  ", list, true);
  EXPECT_THAT(list, ElementsAre("a", "b"));
  SplitText(',', "a,,", list, true);
  EXPECT_THAT(list, ElementsAre("a", ""));
  SplitText('|', "|a", list, true);
  EXPECT_THAT(list, ElementsAre("", "a"));
  SplitText(' ', "x  y", list, true);
  EXPECT_THAT(list, ElementsAre("x", "", "y"));
}

TEST(SplitTextTest, TrimsControlCharactersIncludingZeroButNotHighBytes) {
  TStringList list;
  SplitText('|', std::string("\t\x01x\r\n|\xE9 |\0", 10), list, true);
  EXPECT_THAT(list, ElementsAre("x", "\xE9"));
}

TEST(SplitTextTest, EmptyOrBlankTextGivesNoEntry) {
  TStringList list;
  SplitText('|', "", list, true);
  EXPECT_THAT(list, IsEmpty());
  SplitText('|', " \t\r\n", list, true);
  EXPECT_THAT(list, IsEmpty());
}

TEST(SplitTextTest, AppendsUnlessAskedToClear) {
  TStringList list{"old"};
  SplitText('|', "a|b", list, false);
  EXPECT_THAT(list, ElementsAre("old", "a", "b"));
  SplitText('|', "c", list, true);
  EXPECT_THAT(list, ElementsAre("c"));
}

TEST(JoinTextTest, JoinsWithoutTrimmingAndSplitsBack) {
  EXPECT_EQ(JoinText({}, '|'), "");
  EXPECT_EQ(JoinText({"one"}, '|'), "one");
  EXPECT_EQ(JoinText({" a ", "", "b"}, ';'), " a ;;b");
  TStringList back;
  SplitText('|', JoinText({"<", "401", "", "x", ">"}, '|'), back, true);
  EXPECT_THAT(back, ElementsAre("<", "401", "", "x", ">"));
}

TEST(IndexOfKeyTest, MatchesTrimmedKeyExactlyAndFirstWins) {
  const TStringList list{"A|1", "B|2", " B |3"};
  EXPECT_EQ(IndexOfKey(list, "B"), 1);
  EXPECT_EQ(IndexOfKey(list, "A"), 0);
  EXPECT_EQ(IndexOfKey({" B |3", "B|2"}, "B"), 0);
  EXPECT_EQ(IndexOfKey(list, "b"), -1);
  EXPECT_EQ(IndexOfKey(list, "C"), -1);
}

TEST(IndexOfKeyTest, EntryWithoutBarNeverMatches) {
  EXPECT_EQ(IndexOfKey({"B"}, "B"), -1);
  EXPECT_EQ(IndexOfKey({"B", "x|y|z", "B|"}, "B"), 2);
  EXPECT_EQ(IndexOfKey({"|v"}, ""), 0);
  EXPECT_EQ(IndexOfKey({}, "B"), -1);
}

}  // namespace
}  // namespace keep
