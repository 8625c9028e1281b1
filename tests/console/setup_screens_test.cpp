// The UPS setup screens against a scripted server: what each sends for the answers typed, and what
// it shows of the server's answer.
#include "console/setup_screens.h"

#include <climits>

#include "console/actions.h"
#include "console/actions_screens.h"
#include "tests/console/actions_fixture.h"

namespace keep::console {
namespace {

using Strings = std::vector<std::string>;

class SetupScreensTest : public test::ActionsFixture {};

TEST(ToTenthsTest, RoundsToOneSignificantDigitBeforeScaling) {
  EXPECT_EQ(100, ToTenths(10.5));
  EXPECT_EQ(100, ToTenths(12.34));
  EXPECT_EQ(90, ToTenths(9.4));
  EXPECT_EQ(6, ToTenths(0.55));
  EXPECT_EQ(3, ToTenths(0.26));
  EXPECT_EQ(0, ToTenths(0.0));
  EXPECT_EQ(-30, ToTenths(-3.2));
  EXPECT_EQ(INT_MAX, ToTenths(1e300)) << "clamped, not overflowed";
}

TEST(ClockYearFieldTest, FourDigitYearsKeepTheirLastTwoDigits) {
  EXPECT_EQ(26, ClockYearField(2026));
  EXPECT_EQ(5, ClockYearField(2005));
  EXPECT_EQ(99, ClockYearField(99));
  EXPECT_EQ(12345, ClockYearField(12345));
}

TEST_F(SetupScreensTest, OutputVoltageOutOfRangeIsAskedAgainAndAnEmptyAnswerSendsNothing) {
  Connect(1);
  Echo(301);
  Type({"199", ""});
  RunOutputDataSet(client_);
  EXPECT_TRUE(out_.Shows("UPS OUTPUT DATA SET"));
  EXPECT_TRUE(out_.Shows("Number invalid or out of range (200 - 250) !"));
  EXPECT_EQ(2u, out_.Count("Voltage [V]: "));
  EXPECT_FALSE(out_.Shows("Frequency (0 = 50Hz"));
  EXPECT_TRUE(Sent().empty());
}

TEST_F(SetupScreensTest, OutputSetSendsTheSettingsThenTheAutoselectAndShowsBoth) {
  Connect(1);
  Echo(301);
  Echo(306);
  // voltage, frequency, autoselect, bypass, forced bypass, dip speed, off-line, load waiting, threshold
  Type({"230", "1", "y", "y", "n", "2", "n", "y", "701", "650", ""});
  RunOutputDataSet(client_);
  EXPECT_EQ((Strings{"<|301|230|1|1|0|2|0|1|650|>", "<|306|1|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Number invalid or out of range (0 - 700) !")) << "the threshold is bounded by the power";
  EXPECT_TRUE(out_.Shows("Voltage...................: 230 V\n"));
  EXPECT_TRUE(out_.Shows("Frequency.................: 60 Hz\n"));
  EXPECT_TRUE(out_.Shows("Mains Frequency Autoselect: Yes\n"));
  EXPECT_TRUE(out_.Shows("Forced Bypass enabled.....: No\n"));
  EXPECT_TRUE(out_.Shows("Bypass Dip Speed..........: Normal\n"));
  EXPECT_TRUE(out_.Shows("Load Waiting Threshold....: 650 W\n"));
  EXPECT_TRUE(out_.Shows("< Press \"ENTER\" to continue >"));
}

TEST_F(SetupScreensTest, OutputSetOfAModularUpsSendsItsEightFields) {
  Connect(4);
  Echo(311);
  // voltage, frequency, bypass, dip speed, bypass at startup, forced, off-line, EPS
  Type({"220", "0", "y", "3", "y", "n", "n", "y", ""});
  RunOutputDataSet(client_);
  EXPECT_EQ((Strings{"<|311|220|0|1|3|1|0|0|1|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Turn On Load With Bypass..: Yes\n"));
  EXPECT_TRUE(out_.Shows("EPS Mode..................: Yes\n"));
  EXPECT_TRUE(out_.Shows("Bypass Dip Speed..........: Low\n"));
}

TEST_F(SetupScreensTest, AutomaticThresholdsSendZeroAndZeroWithoutAskingForThem) {
  Connect(2);
  Echo(302);
  Type({"y", "n", "0", "120", "y", ""});
  RunBatteryDataSet(client_);
  EXPECT_EQ((Strings{"<|302|0|0|1|0|0|120|1|>"}), Sent());
  EXPECT_FALSE(out_.Shows("Reserve Threshold [V]: "));
  EXPECT_TRUE(out_.Shows("Thresholds mode....................: Automatic\n"));
  EXPECT_FALSE(out_.Shows("Reserve Threshold..................: "));
  EXPECT_TRUE(out_.Shows("Max Time on Battery................: Not limited\n"));
  EXPECT_TRUE(out_.Shows("Max Time after Reserve.............: 2 minutes 0 seconds \n"));
}

TEST_F(SetupScreensTest, ManualThresholdsAcceptACommaAndAreSentInCoarseTenths) {
  Connect(1);
  Echo(302);
  Type({"n", "10,5", "abc", "9.4", "n", "60", "0", "n", ""});
  RunBatteryDataSet(client_);
  EXPECT_EQ((Strings{"<|302|100|90|0|0|60|0|0|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Number invalid !"));
  EXPECT_TRUE(out_.Shows("Thresholds mode....................: Manual\n"));
  EXPECT_TRUE(out_.Shows("Reserve Threshold..................: 10 V\n"));
  EXPECT_TRUE(out_.Shows("Exhaust Threshold..................: 9 V\n"));
}

TEST_F(SetupScreensTest, ModularBatterySetSendsReserveMinutesAndMinimumCharge) {
  Connect(3);
  Echo(312);
  Type({"5", "y", "n", "y", "101", "40", ""});
  RunBatteryDataSet(client_);
  EXPECT_EQ((Strings{"<|312|5|1|0|1|40|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Number invalid or out of range (0 - 100) !"));
  EXPECT_TRUE(out_.Shows("Autonomy Reserve Time..............: 5 minutes 0 seconds \n"));
  EXPECT_TRUE(out_.Shows("Min. Battery Charge for UPS Restart: 40 %\n"));
}

TEST_F(SetupScreensTest, InputSetsSendTheFieldsOfTheKind) {
  Connect(1);
  Echo(300);
  Type({"2", "y", "n", "y", "n", ""});
  RunInputDataSet(client_);
  EXPECT_EQ((Strings{"<|300|2|1|0|1|0|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Stabiliser level...........: 230 V\n"));
  EXPECT_TRUE(out_.Shows("Neutral Sense while running: No\n"));
}

TEST_F(SetupScreensTest, ModularInputSetAsksOnlyThePllAndAutoselect) {
  Connect(5);
  Echo(310);
  Type({"n", "y", "y", ""});
  RunInputDataSet(client_);
  EXPECT_EQ((Strings{"<|310|0|1|1|>"}), Sent());
  EXPECT_FALSE(out_.Shows("Stabiliser level"));
  EXPECT_TRUE(out_.Shows("Mains Frequency Autoselect : Yes\n"));
}

TEST_F(SetupScreensTest, ClockSendsTheYearInTwoDigitsAndTheWeekdayLast) {
  Connect(1);
  Echo(307);
  Type({"2026", "13", "3", "9", "4", "22", "5", "7", ""});
  RunClockMenu(client_);
  EXPECT_EQ((Strings{"<|307|26|3|9|22|5|7|4|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Number invalid or out of range (1 - 12) !"));
  EXPECT_TRUE(out_.Shows("22:5:7 9/3/26 (Thursday)\n"));
}

TEST_F(SetupScreensTest, ClockKeepsATwoDigitYearAndLeavesOnAnEmptyAnswer) {
  Connect(1);
  Echo(307);
  Type({"99", "1", "1", "5", "0", "0", "0", ""});
  RunClockMenu(client_);
  Type({"2026", "1", ""});
  RunClockMenu(client_);
  EXPECT_EQ((Strings{"<|307|99|1|1|0|0|0|5|>"}), Sent());
}

TEST_F(SetupScreensTest, RelayContactsAreSentOnlyWhenAllFourWereGiven) {
  Connect(6);
  Echo(314);
  Type({"1", "", "0", "1"});
  RunRelayContactsSet(client_);
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(out_.Shows("Overload        (0 = nc;  1 = na): ")) << "all four are asked";

  Type({"1", "0", "0", "1", ""});
  RunRelayContactsSet(client_);
  EXPECT_EQ((Strings{"<|314|1|0|0|1|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Mains/Battery..: Normally Opened\n"));
  EXPECT_TRUE(out_.Shows("General Alarm..: Normally Closed\n"));
}

TEST_F(SetupScreensTest, BuzzerBeepsAtOtherAnswersAndShowsTheNewState) {
  Connect(0);
  Echo(303);
  Type({"5", "1", ""});
  RunBuzzerSet(client_);
  EXPECT_EQ((Strings{"<|303|0|>"}), Sent());
  EXPECT_EQ(2u, out_.Count("Selection (1 = mute; 2 = restore): "));
  EXPECT_TRUE(out_.Shows("\a"));
  EXPECT_TRUE(out_.Shows("\n Mute\n"));
}

TEST_F(SetupScreensTest, BuzzerAsksAgainWhenTheRequestFailed) {
  Connect(1);
  int calls = 0;
  On(303, [&calls](const std::string& request) {
    // The first request goes unanswered; the second is answered.
    return ++calls == 1 ? Strings{} : Strings{request};
  });
  Type({"2", "2", ""});
  RunBuzzerSet(client_);
  EXPECT_EQ((Strings{"<|303|1|>", "<|303|1|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Communication timeout with server module !"));
  EXPECT_TRUE(out_.Shows("\n Unmute\n"));
}

TEST_F(SetupScreensTest, ResetsAskFirstAndShowTheResult) {
  Connect(1);
  On(304, {"<|304|1|>"});
  On(305, {"<|305|0|>"});
  Type({"n"});
  RunHistoryReset(client_);
  EXPECT_TRUE(Sent().empty());

  Type({"y", "", "Y", ""});
  RunHistoryReset(client_);
  RunEventsListReset(client_);
  EXPECT_EQ((Strings{"<|304|>", "<|305|>"}), Sent());
  EXPECT_TRUE(out_.Shows("BATTERY HISTORY RESET"));
  EXPECT_TRUE(out_.Shows("\n Executed\n\n"));
  EXPECT_TRUE(out_.Shows("\n Not executed\n\n"));
}

TEST_F(SetupScreensTest, ModularEventsListResetSendsTheListNumber) {
  Connect(3);
  On(313, {"<|313|2|1|>"});
  Type({"4", "2", ""});
  RunEventsListReset(client_);
  EXPECT_EQ((Strings{"<|313|2|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Select List (0=all; 1=critical; 2=warning; 3=info) or <blank> to exit): "));
  EXPECT_TRUE(out_.Shows("Events List \"WARNING\": Executed"));
}

TEST_F(SetupScreensTest, AFailedRequestShowsNoResultScreen) {
  Connect(2);
  Type({"1", "n", "n", "n", "n", ""});
  RunInputDataSet(client_);
  EXPECT_EQ((Strings{"<|300|1|0|0|0|0|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Communication timeout with server module !"));
  EXPECT_FALSE(out_.Shows("Stabiliser level...........: "));
}

TEST(SetupEntriesTest, TheMenuFollowsTheKind) {
  auto texts = [](int kind) {
    Strings result;
    for (const MenuEntry& entry : SetupEntries(kind)) result.push_back(entry.text);
    return result;
  };
  EXPECT_EQ((Strings{"Buzzer Set"}), texts(0));
  EXPECT_EQ((Strings{"Buzzer Set", "Input Data Set", "Output Data Set", "Battery Data Set", "UPS Clock Set",
                     "UPS History Reset", "Events List Reset"}),
            texts(2));
  EXPECT_EQ((Strings{"Buzzer Set", "Input Data Set", "Output Data Set", "Battery Data Set", "UPS Clock Set",
                     "Relay Port Contacts Set", "Events List Reset"}),
            texts(5));
}

}  // namespace
}  // namespace keep::console
