// The event dispatcher on a test server: the configured lists, the order and choice of actions and
// the log lines they leave in the installation's log file.
#include "server/services/event_dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/server/server_test_env.h"

namespace keep::server {
namespace {

// The log line prefix of the test clock's moment.
constexpr char kStamp[] = "08/12/2026 14:30:05  ";

class EventDispatchTest : public ::testing::Test {
 protected:
  EventDispatchTest() {
    ServerContext& context = env_.context();
    context.Setup.InstallPath = env_.install();
    context.Setup.LanguageFile = env_.install() + "languages/test.lng";
    context.SchedulerPrefix = "Scheduler: ";
    test::WriteFileText(context.Setup.LanguageFile,
                        "[LOGS]\n"
                        "6=Mains failure\n"
                        "7=Mains back on $ after $ s^done\n"
                        "8=Low battery\n"
                        "10=Shutdown\n"
                        "11=Shutdown in $ min\n"
                        "SchedulerName=Scheduler\n");
  }

  void Configure(std::vector<TStringList> lists) { env_.context().Setup.UpsSetup.Events = std::move(lists); }
  bool Raise(uint8_t event, const TStringList& arguments = {}, bool pending = false) {
    return RaiseEvent(env_.context(), event, arguments, pending);
  }
  std::string Log() const { return env_.LogText(); }
  static std::string Line(const std::string& text) { return kStamp + text + "\r\n"; }

  test::ServerTestEnv env_;
};

TEST_F(EventDispatchTest, NothingConfiguredRunsNothingAndKeepsPending) {
  EXPECT_FALSE(Raise(6));
  EXPECT_TRUE(Raise(6, {}, true));
  // A list holding only its event number has no action either.
  Configure({{"6"}});
  EXPECT_FALSE(Raise(6));
  EXPECT_TRUE(Raise(6, {}, true));
  EXPECT_EQ(Log(), "");
}

TEST_F(EventDispatchTest, OnlyTheFirstListOfAnEventRuns) {
  Configure({{"8", "$LOG"}, {"6", "$LOG"}, {"6", "$LOG", "$LOG"}});
  Raise(6);
  EXPECT_EQ(Log(), Line("Mains failure"));
}

TEST_F(EventDispatchTest, ActionsOfTheListRunInOrderEachTime) {
  Configure({{"6", "$LOG", "$LOG"}, {"8", "$LOG"}});
  Raise(6);
  Raise(8);
  EXPECT_EQ(Log(), Line("Mains failure") + Line("Mains failure") + Line("Low battery"));
}

TEST_F(EventDispatchTest, UnknownOrMiscasedActionsAreSkippedAndTheRestStillRuns) {
  Configure({{"6", "$log", "$NOTHING,a,b", "", "$LOG", "LOG"}});
  EXPECT_FALSE(Raise(6));
  EXPECT_EQ(Log(), Line("Mains failure"));
}

TEST_F(EventDispatchTest, ActionFieldsAfterTheNameDoNotStopTheLogAction) {
  Configure({{"6", "$LOG,surplus,fields"}});
  Raise(6);
  EXPECT_EQ(Log(), Line("Mains failure"));
}

TEST_F(EventDispatchTest, ListsWhoseNumberIsNotTheEventNeverMatch) {
  // 262 would be 6 if the number were cut to a byte; -6 is not 6; text is no number at all.
  Configure({{"262", "$LOG"}, {"six", "$LOG"}, {"6x", "$LOG"}, {"-6", "$LOG"}, {"", "$LOG"}});
  Raise(6);
  EXPECT_EQ(Log(), "");
  Configure({{"six", "$LOG"}, {"06", "$LOG"}});
  Raise(6);
  EXPECT_EQ(Log(), Line("Mains failure"));
}

TEST_F(EventDispatchTest, ArgumentsFillThePlaceholdersInOrderAndCaretsBreakTheLine) {
  Configure({{"7", "$LOG"}});
  Raise(7, {"R", "42"});
  EXPECT_EQ(Log(), Line("Mains back on R after 42 s\rdone"));
}

TEST_F(EventDispatchTest, WithoutArgumentsOnlyTheLineBreaksChange) {
  Configure({{"7", "$LOG"}});
  Raise(7);
  EXPECT_EQ(Log(), Line("Mains back on $ after $ s\rdone"));
}

TEST_F(EventDispatchTest, AMissingLogTextStillWritesTheLine) {
  Configure({{"13", "$LOG"}});
  Raise(13);
  EXPECT_EQ(Log(), Line(""));
}

TEST_F(EventDispatchTest, ScheduledShutdownLinesBeginWithTheSchedulerPrefix) {
  Configure({{"10", "$LOG"}, {"11", "$LOG"}});
  env_.context().Server.ScheduledShutdownDue = true;
  Raise(10);
  Raise(11, {"5"});
  EXPECT_EQ(Log(), Line("Scheduler: Shutdown") + Line("Scheduler: Shutdown in 5 min"));
}

TEST_F(EventDispatchTest, AShutdownWarningDueAlsoMarksTheLines) {
  Configure({{"10", "$LOG"}, {"11", "$LOG"}});
  env_.context().Server.ShutdownWarningDue = true;
  Raise(11, {"5"});
  Raise(10);
  EXPECT_EQ(Log(), Line("Scheduler: Shutdown in 5 min") + Line("Scheduler: Shutdown"));
}

TEST_F(EventDispatchTest, OtherShutdownsAndOtherEventsCarryNoPrefix) {
  Configure({{"10", "$LOG"}, {"6", "$LOG"}});
  Raise(10);
  env_.context().Server.ScheduledShutdownDue = true;
  env_.context().Server.ShutdownWarningDue = true;
  Raise(6);
  EXPECT_EQ(Log(), Line("Shutdown") + Line("Mains failure"));
}

TEST_F(EventDispatchTest, ThePrefixIsNotTakenForAPlaceholder) {
  // The prefix goes in before the arguments are filled, so a "$" in it takes the first argument.
  env_.context().SchedulerPrefix = "Plan $: ";
  env_.context().Server.ScheduledShutdownDue = true;
  Configure({{"11", "$LOG"}});
  Raise(11, {"A", "5"});
  EXPECT_EQ(Log(), Line("Plan A: Shutdown in 5 min"));
}

TEST_F(EventDispatchTest, LogActionFollowsTheLogSwitch) {
  Configure({{"6", "$LOG"}});
  env_.context().Setup.RecordingSetup.LogEnabled = false;
  Raise(6);
  EXPECT_EQ(Log(), "");
}

}  // namespace
}  // namespace keep::server
