// The actions and tests screens against a scripted server: battery test, autonomy calibration test
// and the server shutdown.
#include "console/actions.h"

#include "console/actions_screens.h"
#include "tests/console/actions_fixture.h"

namespace keep::console {
namespace {

using Strings = std::vector<std::string>;

class ActionsTest : public test::ActionsFixture {};

// Answer 101 with the calibration state field `state`.
std::string MainData(const std::string& state) { return "<|101|0|0|340|25|1200|1000|" + state + "|>"; }

TEST_F(ActionsTest, BatteryTestOfAStandardUpsSendsFourHundredAndShowsTheResult) {
  Connect(1);
  On(400, {"<|400|255|>"});
  Type({""});
  RunBatteryTest(client_);
  EXPECT_EQ((Strings{"<|400|>"}), Sent());
  EXPECT_TRUE(out_.Shows("UPS BATTERY TEST\n----------------\n Wait..... Result: battery must be replaced !\n"));
  EXPECT_TRUE(out_.Shows("< Press \"ENTER\" to continue >"));
}

TEST_F(ActionsTest, BatteryTestOfAModularUpsSendsFourHundredTwo) {
  Connect(3);
  On(402, {"<|402|0|87|>"});
  Type({""});
  RunBatteryTest(client_);
  EXPECT_EQ((Strings{"<|402|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Result: 87 %\n"));
}

TEST_F(ActionsTest, AFailedBatteryTestStillWaitsForEnter) {
  Connect(2);
  Type({""});
  RunBatteryTest(client_);
  EXPECT_TRUE(out_.Shows("Communication timeout with server module !"));
  EXPECT_FALSE(out_.Shows("Result:"));
  EXPECT_EQ(1, in_.LinesRead()) << "the ENTER was read";
}

TEST_F(ActionsTest, AutonomyTestIsStartedWhenDoneAndShowsAnImpossibleRun) {
  Connect(1);
  On(101, {MainData("0")});
  On(401, {"<|401|0|0|>"});
  Type({"y", ""});
  RunAutonomyTest(client_);
  EXPECT_EQ((Strings{"<|101|>", "<|401|1|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Start test [y/N] ? "));
  EXPECT_TRUE(out_.Shows(" Autonomy Test impossible to run\n"));
}

TEST_F(ActionsTest, AutonomyTestInProgressIsStoppedAndItsBroadcastIsNotRepeated) {
  Connect(2);
  On(101, {MainData("1")});
  On(401, {"<|401|3|3725|>"});
  // The receive thread shows the stop as a broadcast and waits for its own ENTER.
  Type({"y", ""});
  RunAutonomyTest(client_);
  EXPECT_TRUE(out_.WaitFor("*** Broadcast message from Powerkeep ***"));
  EXPECT_EQ((Strings{"<|101|>", "<|401|0|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Stop test [y/N] ? "));
  EXPECT_EQ(1u, out_.Count("Autonomy Test stopped by user - new autonomy: 1 hour 2 minutes 5 seconds "));
}

TEST_F(ActionsTest, AutonomyTestSendsNothingWhenTheAnswerIsNoOrTheStateUnknown) {
  Connect(1);
  On(101, {MainData("@")});
  Type({"n"});
  RunAutonomyTest(client_);
  On(101, {MainData("&")});
  Type({""});
  RunAutonomyTest(client_);
  EXPECT_EQ((Strings{"<|101|>", "<|101|>"}), Sent());
  EXPECT_TRUE(out_.Shows(" Result: Not available\n"));
}

TEST_F(ActionsTest, ExecutedShutdownDisconnects) {
  Connect(1);
  On(309, {"<|309|1|>"});
  Type({"y", ""});
  EXPECT_TRUE(RunServerShutdown(client_));
  EXPECT_EQ((Strings{"<|309|>"}), Sent());
  EXPECT_TRUE(out_.Shows("POWERKEEP SHUTDOWN"));
  EXPECT_TRUE(out_.Shows("\n Executed\n\n"));
  EXPECT_FALSE(client_.State().connected);
  EXPECT_FALSE(UpsReachable(client_));
}

TEST_F(ActionsTest, ARefusedOrUnconfirmedShutdownKeepsTheConnection) {
  Connect(1);
  On(309, {"<|309|0|>"});
  Type({"N", "y", ""});
  EXPECT_FALSE(RunServerShutdown(client_));
  EXPECT_FALSE(RunServerShutdown(client_));
  EXPECT_EQ((Strings{"<|309|>"}), Sent());
  EXPECT_TRUE(out_.Shows("\n Not executed\n\n"));
  EXPECT_TRUE(client_.State().connected);
}

TEST_F(ActionsTest, TheActionsMenuEndsAfterAnExecutedShutdown) {
  Connect(1);
  On(309, {"<|309|1|>"});
  // Entry 4 of a standard UPS is the shutdown; nothing typed after its ENTER.
  Type({"4", "y", ""});
  RunActionsMenu(client_);
  EXPECT_EQ(1u, out_.Count("******** ACTIONS AND TESTS MENU ********"));
  EXPECT_EQ(3, in_.LinesRead());
  EXPECT_EQ(1, link_.Closes());
}

TEST(ActionsEntriesTest, OnlyStandardUpsUnitsOfferTheCalibrationTest) {
  auto texts = [](int kind) {
    Strings result;
    for (const MenuEntry& entry : ActionsEntries(kind)) result.push_back(entry.text);
    return result;
  };
  EXPECT_EQ((Strings{"Scheduler", "Battery Test", "Autonomy Calibration Test", "Execute Server Shutdown"}), texts(1));
  EXPECT_EQ((Strings{"Scheduler", "Battery Test", "Execute Server Shutdown"}), texts(0));
  EXPECT_EQ((Strings{"Scheduler", "Battery Test", "Execute Server Shutdown"}), texts(6));
}

}  // namespace
}  // namespace keep::console
