// Who reads the keyboard when a notice comes: the notice takes it from the menu thread, its line is
// the notice's, the screen comes back after it and the menu thread reads what is typed next.
#include "console/console_io.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include "console/input.h"
#include "console/menu_select.h"
#include "console/output.h"
#include "tests/console/console_fakes.h"

namespace keep::console {
namespace {

using test::RecordingOutput;
using test::ScriptedInput;

const std::string kMenu = "\n\n\n******** MAIN MENU ********\n\n 1 - First\n 2 - Second\n\nSelection: ";

// The test thread and the futures it starts play the menu thread; Notices plays the receive thread.
class NoticeHandOver : public ::testing::Test {
 protected:
  NoticeHandOver() { in_.Hold(true); }
  // The input ends, so every wait still open gives up before the threads are joined.
  ~NoticeHandOver() override {
    in_.Hold(false);
    notices_.clear();
  }

  // Shows `texts` one after the other from a thread of its own, as the receive thread does.
  void Notices(std::vector<std::string> texts) {
    notices_.emplace_back([this, texts] {
      for (const std::string& text : texts) io_.ShowNotice(text, stop_.get_token());
    });
  }

  ScriptedInput in_;
  RecordingOutput out_;
  ConsoleIo io_{in_, out_};
  std::stop_source stop_;
  std::vector<std::jthread> notices_;
};

TEST_F(NoticeHandOver, NoticeTakesTheLineAQuestionWaitsForAndTheQuestionComesBackWithoutItsBeep) {
  auto month = std::async(std::launch::async, [this] {
    int value = 0;
    return AskNumber(io_, "Month: ", value, 1, 12) ? value : -1;
  });
  in_.AddLine("13");
  const std::string error = "\n ERROR !  Number invalid or out of range (1 - 12) !\n\nMonth: ";
  ASSERT_TRUE(out_.WaitFor(error));
  Notices({"[notice]"});
  ASSERT_TRUE(out_.WaitFor("[notice]"));
  in_.AddLine("");
  ASSERT_TRUE(out_.WaitFor("[notice]" + error));
  in_.AddLine("5");
  EXPECT_EQ(5, month.get());
  EXPECT_EQ("Month: \a" + error + "[notice]" + error, out_.Text());
  EXPECT_EQ(3, in_.LinesRead());
}

TEST_F(NoticeHandOver, NoticeStopsAKeyReadAndTheKeyTypedAfterItGoesToTheScreen) {
  auto key = std::async(std::launch::async, [this] {
    ShowTitle(io_, "UPS MAIN DATA READ");
    io_.WriteLine("Total Load...............: 42 %");
    return ReadKeyPrompt(io_, "< R or ENTER >", true);
  });
  const std::string screen =
      "\n\nUPS MAIN DATA READ\n------------------\nTotal Load...............: 42 %\n\n< R or ENTER > ";
  ASSERT_TRUE(out_.WaitFor(screen));
  Notices({"[notice]"});
  ASSERT_TRUE(out_.WaitFor("[notice]"));
  // Typed while the notice waits: the key is the screen's, read once the notice has its ENTER.
  in_.AddKey({'x', 0});
  in_.AddLine("");
  ASSERT_TRUE(out_.WaitFor("[notice]" + screen));
  EXPECT_EQ('x', key.get());
  EXPECT_EQ(screen + "[notice]" + screen, out_.Text());
}

TEST_F(NoticeHandOver, OutputOfTheMenuThreadWaitsBehindANoticeAndItsPromptComesAfterIt) {
  ShowTitle(io_, "UPS BATTERY TEST");
  io_.Write(" Wait..... ");
  Notices({"[notice]"});
  ASSERT_TRUE(out_.WaitFor("[notice]"));
  // The answer came while the notice waits: the screen goes on, but nothing of it shows yet.
  io_.WriteLine("Result: Ok");
  EXPECT_FALSE(out_.Shows("Result: Ok"));
  auto enter = std::async(std::launch::async, [this] { WaitEnter(io_); });
  in_.AddLine("");
  in_.AddLine("");
  enter.get();
  EXPECT_EQ(
      "\n\nUPS BATTERY TEST\n----------------\n Wait..... [notice]"
      "\n\nUPS BATTERY TEST\n----------------\n Wait..... Result: Ok\n\n< Press \"ENTER\" to continue >",
      out_.Text());
  EXPECT_EQ(2, in_.LinesRead());
}

TEST_F(NoticeHandOver, TwoNoticesInARowEachTakeTheirOwnLineAndTheMenuGetsTheNext) {
  auto choice = std::async(std::launch::async, [this] {
    return SelectFromMenu(io_, {"MAIN MENU", "First", "Second"}, "Selection: ", "Q");
  });
  ASSERT_TRUE(out_.WaitFor(kMenu));
  Notices({"[one]", "[two]"});
  ASSERT_TRUE(out_.WaitFor("[one]"));
  in_.AddLine("");
  ASSERT_TRUE(out_.WaitFor("[two]"));
  in_.AddLine("");
  ASSERT_TRUE(out_.WaitFor("[two]" + kMenu));
  in_.AddLine("2");
  EXPECT_EQ(1, choice.get());
  EXPECT_EQ(kMenu + "[one]" + kMenu + "[two]" + kMenu, out_.Text());
}

TEST_F(NoticeHandOver, EndOfInputOrAStopEndsANoticeAndNothingWaitsForever) {
  // Stopped (the client disconnects): the menu's question goes on and gets the next line.
  auto first = std::async(std::launch::async, [this] { return ReadLine(io_, "First: ", false); });
  ASSERT_TRUE(out_.WaitFor("First: "));
  Notices({"[stopped]"});
  ASSERT_TRUE(out_.WaitFor("[stopped]"));
  stop_.request_stop();
  ASSERT_TRUE(out_.WaitFor("[stopped]First: "));
  in_.AddLine("1");
  EXPECT_EQ("1", first.get());
  notices_.clear();

  // The input ends while a notice waits: the notice and the question both give up.
  stop_ = std::stop_source();
  auto second = std::async(std::launch::async, [this] { return ReadLine(io_, "Second: ", false); });
  ASSERT_TRUE(out_.WaitFor("Second: "));
  Notices({"[ended]", "[after the end]"});
  ASSERT_TRUE(out_.WaitFor("[ended]"));
  in_.Hold(false);
  EXPECT_EQ("", second.get());
  EXPECT_TRUE(io_.InputEnded());
  notices_.clear();
  EXPECT_TRUE(out_.Shows("[after the end]"));
  EXPECT_EQ(1, in_.LinesRead());
}

}  // namespace
}  // namespace keep::console
