#include "console/output.h"

#include <gtest/gtest.h>

#include "console/broadcasts.h"
#include "console/menu_select.h"
#include "tests/console/console_fakes.h"

namespace keep::console {
namespace {

using test::RecordingOutput;
using test::ScriptedInput;

class ConsoleOutputTest : public ::testing::Test {
 protected:
  ScriptedInput in_;
  RecordingOutput out_;
  ConsoleIo io_{in_, out_};
};

TEST_F(ConsoleOutputTest, TitleIsUnderlinedAsLongAsItIs) {
  ShowTitle(io_, "UPS INFO DATA READ");
  EXPECT_EQ("\n\nUPS INFO DATA READ\n------------------\n", out_.Text());
}

TEST_F(ConsoleOutputTest, InfoAndErrorLines) {
  ShowInfo(io_, "Configuration properly saved");
  ShowErrorLine(io_, "Invalid date !");
  EXPECT_EQ(" Configuration properly saved\n\a\n ERROR !  Invalid date !\n\n", out_.Text());
}

TEST_F(ConsoleOutputTest, WaitEnterTakesOneLine) {
  in_.AddLine("anything");
  in_.AddLine("next");
  WaitEnter(io_);
  EXPECT_EQ("\n< Press \"ENTER\" to continue >", out_.Text());
  EXPECT_EQ(1, in_.LinesRead());
}

TEST_F(ConsoleOutputTest, BroadcastWaitsForEnter) {
  in_.AddLine("");
  ShowBroadcast(io_, "Communication lost with ups");
  EXPECT_EQ(
      "\n\n*** Broadcast message from Powerkeep ***\n Communication lost with ups\n\n\n< Press \"ENTER\" to "
      "continue >",
      out_.Text());
  EXPECT_EQ(1, in_.LinesRead());
}

TEST_F(ConsoleOutputTest, MenuNumbersItsEntriesAndReturnsTheIndex) {
  in_.AddLine("2");
  EXPECT_EQ(1, SelectFromMenu(io_, {"MAIN MENU", "First", "Second"}, "Selection [Q for exit]: ", "Q"));
  EXPECT_EQ("\n\n\n******** MAIN MENU ********\n\n 1 - First\n 2 - Second\n\nSelection [Q for exit]: ", out_.Text());
}

TEST_F(ConsoleOutputTest, MenuOfTenEntriesAlignsTheNumbers) {
  TStringList entries{""};
  for (int i = 1; i <= 10; ++i) entries.push_back("E" + std::to_string(i));
  in_.AddLine("10");
  EXPECT_EQ(9, SelectFromMenu(io_, entries, "Selection: ", ""));
  EXPECT_TRUE(out_.Shows("\n\n\n  1 - E1\n")) << "no title line for an empty title";
  EXPECT_TRUE(out_.Shows("\n 10 - E10\n"));
  EXPECT_FALSE(out_.Shows("********"));
}

TEST_F(ConsoleOutputTest, MenuBeepsAtAWrongAnswerAndQuitsOnItsQuitAnswer) {
  in_.AddLine("3");
  in_.AddLine("x");
  in_.AddLine("q");
  EXPECT_EQ(kMenuQuit, SelectFromMenu(io_, {"MAIN MENU", "First", "Second"}, "Selection [Q for exit]: ", "Q"));
  EXPECT_EQ(2u, out_.Count("\a"));
  EXPECT_EQ(3u, out_.Count("******** MAIN MENU ********"));

  in_.AddLine("");
  EXPECT_EQ(kMenuQuit, SelectFromMenu(io_, {"SUB", "A"}, "Selection [<blank> to return to Main Menu]: ", ""));
  EXPECT_EQ(kMenuQuit, SelectFromMenu(io_, {"SUB", "A"}, "P: ", "")) << "end of input";
}

}  // namespace
}  // namespace keep::console
