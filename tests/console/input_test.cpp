#include "console/input.h"

#include <gtest/gtest.h>

#include "tests/console/console_fakes.h"

namespace keep::console {
namespace {

using test::RecordingOutput;
using test::ScriptedInput;

class ConsoleInputTest : public ::testing::Test {
 protected:
  ScriptedInput in_;
  RecordingOutput out_;
  ConsoleIo io_{in_, out_};
};

TEST_F(ConsoleInputTest, ReadLineWritesThePromptWithoutLineEnd) {
  in_.AddLine("abc");
  EXPECT_EQ("abc", ReadLine(io_, "Name: ", false));
  in_.AddLine("");
  EXPECT_EQ("", ReadLine(io_, "Again: ", true));
  EXPECT_EQ("Name: \nAgain: ", out_.Text());
  EXPECT_FALSE(io_.InputEnded());
}

TEST_F(ConsoleInputTest, AtTheEndOfInputEveryQuestionGivesUp) {
  EXPECT_EQ("", ReadLine(io_, "Name: ", false));
  EXPECT_TRUE(io_.InputEnded());
  int value = 7;
  EXPECT_FALSE(AskNumber(io_, "N: ", value, 0, 9));
  EXPECT_EQ(7, value);
  double decimal = 1.5;
  EXPECT_FALSE(AskDecimal(io_, "D: ", decimal));
  EXPECT_FALSE(AskYesNo(io_, "Sure? ", false));
  EXPECT_EQ(0, ReadKeyPrompt(io_, "Key", false));
}

TEST_F(ConsoleInputTest, YesOnlyForY) {
  for (const char* answer : {"Y", "y"}) {
    in_.AddLine(answer);
    EXPECT_TRUE(AskYesNo(io_, "Sure [y/N] ? ", false)) << answer;
  }
  for (const char* answer : {"", "n", "yes", " y", "N"}) {
    in_.AddLine(answer);
    EXPECT_FALSE(AskYesNo(io_, "Sure [y/N] ? ", false)) << answer;
  }
}

TEST_F(ConsoleInputTest, AskNumberRepeatsUntilInRange) {
  in_.AddLine("199");
  in_.AddLine("volts");
  in_.AddLine("251");
  in_.AddLine("230");
  int value = 0;
  EXPECT_TRUE(AskNumber(io_, "Voltage [V]: ", value, 200, 250));
  EXPECT_EQ(230, value);
  EXPECT_EQ(3u, out_.Count("\a\n ERROR !  Number invalid or out of range (200 - 250) !\n\n"));
  EXPECT_EQ(4u, out_.Count("Voltage [V]: "));
}

TEST_F(ConsoleInputTest, AskNumberCancelsOnAnEmptyAnswer) {
  in_.AddLine("x");
  in_.AddLine("");
  in_.AddLine("5");
  int value = 42;
  EXPECT_FALSE(AskNumber(io_, "N: ", value, 0, 9));
  EXPECT_EQ(42, value);
  EXPECT_EQ(2, in_.LinesRead()) << "the answer after the empty one is left for the next question";
}

TEST_F(ConsoleInputTest, MinusOneLeavesASideOfTheRangeOpen) {
  int value = 0;
  in_.AddLine("-5");
  in_.AddLine("100000");
  EXPECT_TRUE(AskNumber(io_, "Max: ", value, 0, -1));
  // -5 is below 0; 100000 has no upper bound.
  EXPECT_EQ(100000, value);
  EXPECT_TRUE(out_.Shows("(0 - -1)"));

  in_.AddLine("-123456");
  EXPECT_TRUE(AskNumber(io_, "Any: ", value, -1, -1));
  EXPECT_EQ(-123456, value);

  in_.AddLine("2147483648");
  in_.AddLine("");
  EXPECT_FALSE(AskNumber(io_, "Any: ", value, -1, -1)) << "beyond an integer is not a number";
}

TEST_F(ConsoleInputTest, AskDecimalTakesACommaForThePoint) {
  double value = 0;
  in_.AddLine("10,5");
  EXPECT_TRUE(AskDecimal(io_, "Reserve Threshold [V]: ", value));
  EXPECT_DOUBLE_EQ(10.5, value);
  in_.AddLine("12.25");
  EXPECT_TRUE(AskDecimal(io_, "T: ", value));
  EXPECT_DOUBLE_EQ(12.25, value);
  in_.AddLine(",5");
  in_.AddLine("1,2,3");
  in_.AddLine("nan");
  in_.AddLine("7");
  EXPECT_TRUE(AskDecimal(io_, "T: ", value));
  EXPECT_DOUBLE_EQ(7, value);
  EXPECT_EQ(3u, out_.Count(" ERROR !  Number invalid !\n"));
}

TEST_F(ConsoleInputTest, ReadKeyPromptWritesThePromptAndABlank) {
  in_.AddKey({'r', 0});
  EXPECT_EQ('r', ReadKeyPrompt(io_, "< Press \"R\" to refresh or \"ENTER\" to continue >", true));
  EXPECT_EQ("\n< Press \"R\" to refresh or \"ENTER\" to continue > ", out_.Text());
}

TEST_F(ConsoleInputTest, AnExtendedKeyLeavesItsCodeForTheNextRead) {
  const int up = platform::ExtendedKeyCode(platform::kScanUp, 0);
  in_.AddKey({0, up});
  in_.AddKey({'x', 0});
  EXPECT_EQ(0, ReadKeyPrompt(io_, "A", false));
  // Taken at once, without reading a key.
  EXPECT_EQ(static_cast<char>(platform::kScanUp), ReadKeyPrompt(io_, "B", false));
  EXPECT_EQ(1, in_.KeysRead());
  EXPECT_EQ('x', ReadKeyPrompt(io_, "C", false));
}

TEST_F(ConsoleInputTest, ParseWholeNumberAcceptsOnlyIntegers) {
  EXPECT_EQ(std::optional<int>(5769), ParseWholeNumber("5769"));
  EXPECT_EQ(std::optional<int>(12), ParseWholeNumber(" 12 "));
  EXPECT_EQ(std::optional<int>(-3), ParseWholeNumber("-3"));
  EXPECT_FALSE(ParseWholeNumber("").has_value());
  EXPECT_FALSE(ParseWholeNumber("12a").has_value());
  EXPECT_FALSE(ParseWholeNumber("1.0").has_value());
  EXPECT_FALSE(ParseWholeNumber("99999999999").has_value());
}

}  // namespace
}  // namespace keep::console
