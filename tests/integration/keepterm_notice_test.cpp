// keepterm's notices (messages the server sends unasked) as a person at a terminal sees them while a
// menu or a screen waits: the notice has the keyboard until its ENTER, then the screen it
// interrupted comes back and takes what is typed next. Served by the stand-in for keepd, which
// pushes the notices when the test says.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "tests/support/keepterm_session.h"
#include "tests/support/scripted_keepd.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

// How long a screen is watched for something that must not show.
constexpr milliseconds kQuiet{300};

std::string Notice(const std::string& text) {
  return "\n\n*** Broadcast message from Powerkeep ***\n " + text + "\n\n\n" + kEnterPrompt;
}

class KeeptermNotices : public ::testing::Test {
 protected:
  // keepterm connected to a standard UPS (kind 1), at its main menu.
  void StartAndConnect() {
    ASSERT_TRUE(server_.Ok());
    server_.Answer("<|100|>", "<|100|Keep LineGuard 1000|LineGuard|1|700|1000|2.1|SN42|LG1000|1|Lab|secret|>");
    server_.Answer("<|101|>", "<|101|0|1|955|31|3725|1000|@|>");
    term_ = std::make_unique<KeeptermSession>();
    ASSERT_TRUE(term_->Started());
    ASSERT_TRUE(term_->ConnectTo(server_.Port())) << term_->Plain();
  }

  std::string MainMenu() const {
    return "\n\n\n******** MAIN MENU ********\n\n 1 - Disconnect from Powerkeep (127.0.0.1:" +
           std::to_string(server_.Port()) + ")\n 2 - UPS Data Read\n 3 - Actions and Tests\n 4 - UPS Setup\n\n" +
           kMainPrompt;
  }

  ScriptedKeepd server_;
  std::unique_ptr<KeeptermSession> term_;
};

TEST_F(KeeptermNotices, NoticeWhileTheMenuWaitsTakesTheEnterAndTheMenuTakesWhatFollows) {
  ASSERT_NO_FATAL_FAILURE(StartAndConnect());
  ASSERT_TRUE(server_.Push("<|502|>"));
  ASSERT_TRUE(term_->Shows(kEnterPrompt)) << term_->Plain();
  // The menu asks again only once the notice has had its ENTER.
  EXPECT_FALSE(term_->Shows(kMainPrompt, 2, kQuiet)) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWait("\n", kMainPrompt, 2)) << term_->Plain();
  EXPECT_EQ(Notice("Unknown command") + "\n" + MainMenu(), term_->From(Notice("Unknown command")));
  ASSERT_TRUE(term_->TypeAndWait("2\n", kSubPrompt, 1)) << term_->Plain();

  // Typed ahead in one go: the notice's ENTER, then an entry for the data menu.
  ASSERT_TRUE(server_.Push("<|502|>"));
  ASSERT_TRUE(term_->Shows(kEnterPrompt, 2)) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWait("\n2\n", kRefreshPrompt, 1)) << term_->Plain();
  EXPECT_EQ(2, term_->Count(kSubPrompt)) << "shown once, then once after the notice";
  EXPECT_EQ(0, term_->Count("\a")) << "no answer went to a menu that did not expect it:\n" << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWait("\r", kSubPrompt, 3)) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWait("\n", kMainPrompt, 3)) << term_->Plain();
  EXPECT_EQ(std::optional<int>(0), term_->Quit()) << term_->Plain();
}

TEST_F(KeeptermNotices, TwoNoticesInARowEachTakeTheirOwnEnter) {
  ASSERT_NO_FATAL_FAILURE(StartAndConnect());
  ASSERT_TRUE(server_.Push("<|500|>"));
  ASSERT_TRUE(server_.Push("<|501|>"));
  ASSERT_TRUE(term_->Shows(Notice("Communication lost with ups"))) << term_->Plain();
  // The second waits behind the first.
  EXPECT_FALSE(term_->Shows("Communication restored with ups", 1, kQuiet)) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWait("\n", Notice("Communication restored with ups"), 1)) << term_->Plain();
  EXPECT_FALSE(term_->Shows(kMainPrompt, 3, kQuiet)) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWait("\n", kMainPrompt, 3)) << term_->Plain();
  EXPECT_EQ(Notice("Communication lost with ups") + "\n" + MainMenu() + Notice("Communication restored with ups") +
                "\n" + MainMenu(),
            term_->From(Notice("Communication lost with ups")));
  // The UPS is back: its entries lead on.
  ASSERT_TRUE(term_->TypeAndWait("2\n", kSubPrompt, 1)) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWait("\n", kMainPrompt, 4)) << term_->Plain();
  EXPECT_EQ(std::optional<int>(0), term_->Quit()) << term_->Plain();
}

TEST_F(KeeptermNotices, NoticeWhileAScreenWaitsForItsKeyShowsTheScreenAgainAfterIt) {
  ASSERT_NO_FATAL_FAILURE(StartAndConnect());
  ASSERT_TRUE(term_->TypeAndWait("2\n", kSubPrompt, 1)) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWait("2\n", kRefreshPrompt, 1)) << term_->Plain();
  const std::string screen = term_->From("\n\nUPS MAIN DATA READ\n");
  ASSERT_TRUE(server_.Push("<|502|>"));
  ASSERT_TRUE(term_->Shows(kEnterPrompt)) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWait("\n", kRefreshPrompt, 2)) << term_->Plain();
  const std::string shown = term_->Plain();
  EXPECT_EQ(screen + Notice("Unknown command") + "\n" + screen, shown.substr(shown.find(screen)));
  // The key typed after the notice refreshes the screen: one more request.
  ASSERT_TRUE(term_->TypeAndWait("r", kRefreshPrompt, 3)) << term_->Plain();
  EXPECT_TRUE(server_.WaitForRequest("<|101|>", 2));
  ASSERT_TRUE(term_->TypeAndWait("\r", kSubPrompt, 2)) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWait("\n", kMainPrompt, 2)) << term_->Plain();
  EXPECT_EQ(std::optional<int>(0), term_->Quit()) << term_->Plain();
}

}  // namespace
}  // namespace keep::test
