// The data screens, lists and module screens against a scripted server answering recorded frames.
#include "console/read_screens.h"

#include <gtest/gtest.h>

#include "tests/console/screen_fixture.h"

namespace keep::console {
namespace {

using test::ScreenTest;

// Three phases of one quantity as a modular answer carries them.
std::string Phases(const std::string& r, const std::string& s, const std::string& t) { return r + "|" + s + "|" + t; }

constexpr char kAnswer131[] = "<|131|0|0|955|420|333|31|3725|&|1000|>";
const std::string kAnswer132 = "<|132|" + Phases("230", "231", "232") + "|" + Phases("700", "710", "720") + "|" +
                               Phases("800", "810", "820") + "|" + Phases("31", "32", "33") + "|" +
                               Phases("60", "61", "62") + "|" + Phases("5000", "5001", "4999") + "|1|2|0|0|0|1|>";
const std::string kAnswer133 = "<|133|" + Phases("229", "230", "231") + "|" + Phases("700", "710", "720") + "|" +
                               Phases("800", "810", "820") + "|" + Phases("31", "32", "33") + "|" +
                               Phases("60", "61", "62") + "|" + Phases("5000", "5001", "4999") + "|1|0|0|1|>";

class DataScreens : public ScreenTest {};

TEST_F(DataScreens, MainScreenOfAStandardUpsShowsRenderedValuesAndRefreshes) {
  Connect(1);
  Answer("<|101|>", "<|101|0|1|955|31|3725|1000|0|>");
  TypeKey('r');
  TypeKey('\r');
  RunReadScreen(client_, MainDataScreen(1));
  EXPECT_EQ((std::vector<std::string>{"<|101|>", "<|101|>"}), RequestsAfterIdentification());
  EXPECT_EQ(2u, out_.Count("\n\nUPS MAIN DATA READ\n------------------\n"));
  EXPECT_TRUE(ShowsLine("UPS Status...............: Mains"));
  EXPECT_TRUE(ShowsLine("Current Anomaly..........: Overload"));
  EXPECT_TRUE(ShowsLine("Total Load...............: 95.5 %"));
  EXPECT_TRUE(ShowsLine("Autonomy Time............: 1 hour 2 minutes 5 seconds "));
  EXPECT_TRUE(ShowsLine("Battery Capacity.........: 100 %"));
  EXPECT_TRUE(
      ShowsLine("Internal Temperature.....: 31 \xC2\xB0"
                "C"));
  EXPECT_TRUE(ShowsLine("Autonomy Calibration Test: Done"));
  EXPECT_EQ(2u, out_.Count("\n< Press \"R\" to refresh or \"ENTER\" to continue > "));
  EXPECT_EQ(2, in_.KeysRead());
}

TEST_F(DataScreens, BasicUpsShowsOnlyItsFewItems) {
  Connect(0);
  Answer("<|101|>", "<|101|0|1|955|31|&|1000|0|>");
  Answer("<|103|>", "<|103|229|700|800|31|60|2|1|0|1|0|>");
  Answer("<|102|>", "<|102|230|700|800|31|60|0|1|0|2|0|1|300|>");
  Answer("<|113|>", "<|113|1|>");
  RunReadScreen(client_, MainDataScreen(0));
  RunReadScreen(client_, InputDataScreen(0));
  RunReadScreen(client_, OutputDataScreen(0));
  EXPECT_EQ((std::vector<std::string>{"<|101|>", "<|103|>", "<|102|>", "<|113|>"}), RequestsAfterIdentification());
  EXPECT_TRUE(ShowsLine("Autonomy Time............: Unknown"));
  EXPECT_FALSE(out_.Shows("Current Anomaly"));
  EXPECT_FALSE(out_.Shows("Autonomy Calibration Test"));
  EXPECT_EQ(
      "\n\nUPS INPUT DATA READ\n-------------------\nVoltage....................: 229 V\n"
      "\n< Press \"R\" to refresh or \"ENTER\" to continue > ",
      out_.Text().substr(out_.Text().find("\n\nUPS INPUT DATA READ"),
                         out_.Text().find("\n\nUPS OUTPUT") - out_.Text().find("\n\nUPS INPUT DATA READ")));
  EXPECT_TRUE(ShowsLine("Voltage...................: 230 V"));
  EXPECT_TRUE(ShowsLine("Frequency.................: 50 Hz"));
  EXPECT_FALSE(out_.Shows("Apparent Power............"));
  EXPECT_FALSE(out_.Shows("Mains Frequency Autoselect"));
}

TEST_F(DataScreens, ThreePhaseModularUpsShowsThreeLoadsAndEighteenPhaseLines) {
  Connect(6);
  Answer("<|131|>", kAnswer131);
  Answer("<|132|>", kAnswer132);
  Answer("<|133|>", kAnswer133);
  RunReadScreen(client_, MainDataScreen(6));
  RunReadScreen(client_, InputDataScreen(6));
  RunReadScreen(client_, OutputDataScreen(6));
  EXPECT_EQ((std::vector<std::string>{"<|131|>", "<|133|>", "<|132|>"}), RequestsAfterIdentification());
  EXPECT_TRUE(ShowsLine("Total Load (\"R\" phase)...: 95.5 %"));
  EXPECT_TRUE(ShowsLine("Total Load (\"S\" phase)...: 42 %"));
  EXPECT_TRUE(ShowsLine("Total Load (\"T\" phase)...: 33.3 %"));
  EXPECT_TRUE(ShowsLine("Autonomy Reserve Time....: Not available"));
  EXPECT_FALSE(out_.Shows("Total Load..............."));
  const std::string per_phase = out_.Text().substr(out_.Text().find("UPS INPUT DATA READ"));
  size_t phase_lines = 0;
  for (size_t at = per_phase.find(" phase)"); at != std::string::npos; at = per_phase.find(" phase)", at + 1)) {
    ++phase_lines;
  }
  EXPECT_EQ(36u, phase_lines);
  EXPECT_TRUE(ShowsLine("Voltage (\"R\" phase)........: 229 V"));
  EXPECT_TRUE(ShowsLine("Frequency (\"T\" phase)......: 49.99 Hz"));
  EXPECT_TRUE(ShowsLine("Frequency (\"R\" phase).....: 50 Hz"));
  EXPECT_TRUE(ShowsLine("Apparent Power (\"S\" phase): 810 VA"));
  EXPECT_TRUE(ShowsLine("Mains Frequency Autoselect : Yes"));
  EXPECT_TRUE(ShowsLine("EPS Mode..................: Yes"));
}

TEST_F(DataScreens, SinglePhaseModularKindsShowOneLinePerQuantity) {
  Connect(3);
  Answer("<|131|>", kAnswer131);
  Answer("<|132|>", kAnswer132);
  RunReadScreen(client_, MainDataScreen(3));
  RunReadScreen(client_, OutputDataScreen(3));
  EXPECT_TRUE(ShowsLine("Total Load...............: 95.5 %"));
  EXPECT_TRUE(ShowsLine("Frequency.................: 50 Hz"));
  EXPECT_EQ(0u, out_.Count(" phase)"));
}

TEST_F(DataScreens, InfoScreenIsNotRefreshable) {
  Connect(1);
  in_.AddLine("");
  RunReadScreen(client_, InfoScreen(1));
  EXPECT_EQ((std::vector<std::string>{"<|100|>"}), RequestsAfterIdentification());
  EXPECT_TRUE(ShowsLine("Active Nominal Power.......: 700 W"));
  EXPECT_TRUE(ShowsLine("Apparent Nominal Power.....: 1000 VA"));
  EXPECT_TRUE(ShowsLine("UPS/Computer Location......: Lab"));
  EXPECT_TRUE(out_.Shows("\n< Press \"ENTER\" to continue >"));
  EXPECT_FALSE(out_.Shows("refresh"));
}

TEST_F(DataScreens, InfoScreenShowsNominalPowersTheUpsDoesNotReportAsNotAvailable) {
  Connect(0);
  // A UPS without ratings sends "&" or nothing for both nominal powers.
  const char* const answers[] = {"&|&", "|", "&|", "|&"};  // active|apparent
  size_t shown = 0;
  for (const char* powers : answers) {
    Answer("<|100|>", std::string("<|100|Keep HomeShield 800|HomeShield|&|") + powers + "|V1.00|&|HS-800|0|Lab|pw|>");
    in_.AddLine("");
    RunReadScreen(client_, InfoScreen(0));
    ++shown;
    EXPECT_EQ(shown, out_.Count("\nApparent Nominal Power.....: Not available\n")) << powers;
    EXPECT_EQ(shown, out_.Count("\nActive Nominal Power.......: Not available\n")) << powers;
    EXPECT_EQ(shown, out_.Count("\nFirmware Version...........: V1.00\n")) << powers;
  }
  EXPECT_FALSE(out_.Shows(" VA\n"));
  EXPECT_FALSE(out_.Shows(": 0 W"));
}

TEST_F(DataScreens, FirstUnansweredRequestStopsTheScreenBeforeItIsShown) {
  Connect(1);
  Answer("<|113|>", "<|113|1|>");
  RunReadScreen(client_, OutputDataScreen(1));
  EXPECT_EQ((std::vector<std::string>{"<|102|>"}), RequestsAfterIdentification());
  EXPECT_TRUE(out_.Shows("Communication timeout with server module !"));
  EXPECT_FALSE(out_.Shows("UPS OUTPUT DATA READ"));
}

TEST_F(DataScreens, WriteErrorLeavesARefreshableScreenAtOnce) {
  Connect(1);
  link_.fail_writes = true;
  TypeKey('r');
  RunReadScreen(client_, MainDataScreen(1));
  EXPECT_EQ(1u, out_.Count("Error while sending request to server !"));
  EXPECT_EQ(0, in_.KeysRead());
}

TEST_F(DataScreens, StandardHardwareScreenAsksThreeRequestsAndShowsTheClock) {
  Connect(2);
  Answer("<|108|>", "<|108|0|0|1|2|3|4|380|375|>");
  Answer("<|110|>", "<|110|1|x|>");
  Answer("<|111|>", "<|111|26|5|17|9|8|7|9|>");
  RunReadScreen(client_, HardwareDataScreen(2));
  EXPECT_EQ((std::vector<std::string>{"<|108|>", "<|110|>", "<|111|>"}), RequestsAfterIdentification());
  EXPECT_TRUE(ShowsLine("Faulty type......................: None"));
  EXPECT_TRUE(ShowsLine("Negative BUS voltage.............: -375 V"));
  EXPECT_TRUE(ShowsLine("UPS Buzzer enabled...............: Yes"));
  EXPECT_TRUE(ShowsLine("UPS Clock (hh:mm:ss dd/mm/yy)....: 9:8:7 17/5/26 (Invalid parameter)"));
}

TEST_F(DataScreens, ModularHardwareScreenFollowsTheOutputConfiguration) {
  Connect(4);
  Answer("<|138|>", "<|138|0|1|2|2|1|1|0|1|1|0|1|0|>");
  Answer("<|111|>", "<|111|&|&|&|10|11|12|1|>");
  RunReadScreen(client_, HardwareDataScreen(4));
  EXPECT_EQ((std::vector<std::string>{"<|138|>", "<|111|>"}), RequestsAfterIdentification());
  EXPECT_TRUE(ShowsLine("Output Configuration.............: Three Phase (120\xC2\xB0)"));
  EXPECT_TRUE(ShowsLine("L3 installed modules number......: 1"));
  EXPECT_TRUE(ShowsLine("L2 Output State..................: Off"));
  EXPECT_TRUE(ShowsLine("Relay interface - Overload.......: Normally Closed"));
  EXPECT_TRUE(ShowsLine("UPS Clock (hh:mm:ss dd/mm/yy)....: 10:11:12 (Monday)"));
  EXPECT_FALSE(out_.Shows("Number of modules installed"));

  Answer("<|138|>", "<|138|0|0|3|0|0|1|0|0|1|0|1|0|>");
  RunReadScreen(client_, HardwareDataScreen(3));
  const std::string second = out_.Text().substr(out_.Text().rfind("UPS HARDWARE DATA READ"));
  EXPECT_NE(std::string::npos, second.find("\nNumber of modules installed......: 3\n"));
  EXPECT_EQ(std::string::npos, second.find("L2 "));
}

TEST_F(DataScreens, HistoryAndBatteryLinesDependOnTheKind) {
  Connect(1);
  Answer("<|107|>", "<|107|3600|&|4|5|6|7|>");
  Answer("<|106|>", "<|106|2730|2400|2200|1|0|0|90|1|>");
  RunReadScreen(client_, HistoryScreen(1));
  RunReadScreen(client_, BatteryDataScreen(1));
  EXPECT_TRUE(ShowsLine("UPS operating time.......: 1 hour 0 minutes 0 seconds "));
  EXPECT_TRUE(ShowsLine("Inverter operating time..: Not available"));
  EXPECT_TRUE(ShowsLine("Overheatings.............: 7"));
  EXPECT_FALSE(out_.Shows("Battery Equalizations"));
  EXPECT_TRUE(ShowsLine("Battery Voltage....................: 273 V"));
  EXPECT_TRUE(ShowsLine("Max Time on Battery................: Not limited"));
  EXPECT_TRUE(ShowsLine("Max Time after Reserve.............: 1 minute 30 seconds "));
}

TEST_F(DataScreens, ModularBatteryScreenShowsReserveTimeInMinutes) {
  Connect(5);
  Answer("<|134|>", "<|134|5432|2|4|72|-150|0|1|0|1|0|>");
  RunReadScreen(client_, BatteryDataScreen(5));
  EXPECT_TRUE(ShowsLine("Battery Voltage....................: 54.32 V"));
  EXPECT_TRUE(ShowsLine("Autonomy Reserve Time..............: 2 minutes 0 seconds "));
  EXPECT_TRUE(ShowsLine("Charger Status.....................: Standby"));
  EXPECT_TRUE(ShowsLine("Min. Battery Charge for UPS Restart: Disabled"));
}

TEST_F(DataScreens, CursorKeyLeavesTheScreenAndIsTakenByTheNextKeyPrompt) {
  Connect(1);
  Answer("<|101|>", "<|101|0|0|955|31|3725|1000|0|>");
  in_.AddKey(KeyPress{0, 0x148});
  RunReadScreen(client_, MainDataScreen(1));
  RunReadScreen(client_, MainDataScreen(1));
  EXPECT_EQ(2u, out_.Count("UPS MAIN DATA READ\n"));
  EXPECT_EQ(1, in_.KeysRead());
}

class ListScreens : public ScreenTest {};

TEST_F(ListScreens, LongStandardEventListPausesAfterFifteenLines) {
  Connect(1);
  std::string answer = "<|109|20|";
  for (int i = 1; i <= 20; ++i) answer += "01/02/26,10:00:" + std::to_string(10 + i) + "," + std::to_string(i) + "|";
  Answer("<|109|>", answer + ">");
  in_.AddLine("");
  RunEventsScreen(client_);
  const std::string text = out_.Text();
  const size_t more = text.find("\n< more >");
  ASSERT_NE(std::string::npos, more);
  EXPECT_EQ(1u, out_.Count("< more >"));
  // The count line and fourteen events come before the pause.
  EXPECT_NE(std::string::npos, text.rfind("- 01/02/26 10:00:24  HV Bus Runaway\n", more));
  EXPECT_EQ(std::string::npos, text.rfind("Output DC Level", more));
  EXPECT_NE(std::string::npos, text.find("- 01/02/26 10:00:30  Hardware Fault: Inverter P.F.C.\n", more));
  EXPECT_TRUE(ShowsLine("Total Count (most recent first): 20"));
}

TEST_F(ListScreens, StandardEventLinesLeaveOutMarkedDatesAndTimes) {
  Connect(1);
  Answer("<|109|>", "<|109|3|&,12:00:00,5|01/02/26,&,40|bad entry|>");
  RunEventsScreen(client_);
  EXPECT_TRUE(ShowsLine("Total Count (most recent first): 2"));
  EXPECT_TRUE(ShowsLine("- 12:00:00  Overload"));
  EXPECT_TRUE(ShowsLine("- 01/02/26 Unknown"));
  Answer("<|109|>", "<|109|0|>");
  RunEventsScreen(client_);
  EXPECT_TRUE(ShowsLine("- None"));
}

TEST_F(ListScreens, ModularEventListAsksForTheListAndDescribesCodes) {
  Connect(6);
  client_.State().Update([](ConsoleData& d) { d.event_codes = {{"E7", "Fan failure"}, {"E8", "Door open"}}; });
  Answer("<|139|2|>", "<|139|2|2|01/02/26,10:00:00,E7|01/02/26,11:00:00,E9|>");
  Answer("<|139|0|>", "<|139|0|&|>");
  in_.AddLine("5");
  in_.AddLine("2");
  TypeKey('R');
  TypeKey('x');
  in_.AddLine("0");
  TypeKey('x');
  in_.AddLine("");
  RunEventsScreen(client_);
  EXPECT_EQ((std::vector<std::string>{"<|139|2|>", "<|139|2|>", "<|139|0|>"}), RequestsAfterIdentification());
  EXPECT_TRUE(out_.Shows("Select List (0=all; 1=critical; 2=warning; 3=info) or <blank> to exit): "));
  EXPECT_TRUE(out_.Shows("Number invalid or out of range (0 - 3) !"));
  EXPECT_EQ(2u, out_.Count("\nUPS \"WARNING\" EVENTS LIST READ\n"));
  EXPECT_TRUE(ShowsLine(" 01/02/26 10:00:00 - Fan failure"));
  EXPECT_TRUE(ShowsLine(" 01/02/26 11:00:00 - "));
  EXPECT_TRUE(ShowsLine("UPS \"ALL\" EVENTS LIST READ"));
  EXPECT_TRUE(ShowsLine("- Not available"));
}

TEST_F(ListScreens, AlarmListShowsCountAndDescriptions) {
  Connect(4);
  client_.State().Update([](ConsoleData& d) { d.alarm_codes = {{"A1", "Overtemperature"}}; });
  Answer("<|137|>", "<|137|2|0,A1|3,A2|>");
  TypeKey('r');
  TypeKey('\r');
  RunAlarmsScreen(client_);
  EXPECT_EQ((std::vector<std::string>{"<|137|>", "<|137|>"}), RequestsAfterIdentification());
  EXPECT_EQ(2u, out_.Count("\nTotal Count: 2\n Module ID: 0  -  Alarm: Overtemperature\n Module ID: 3  -  Alarm: \n"));
  Answer("<|137|>", "<|137|0|>");
  RunAlarmsScreen(client_);
  EXPECT_TRUE(out_.Shows("\nTotal Count: 0\n- None\n"));
}

class ModuleScreens : public ScreenTest {};

TEST_F(ModuleScreens, NoInstalledModuleSendsNothing) {
  Connect(3, 0);
  RunModuleScreen(client_, 151);
  EXPECT_TRUE(out_.Shows("ERROR !  No Modules available"));
  EXPECT_TRUE(RequestsAfterIdentification().empty());
}

TEST_F(ModuleScreens, SingleModuleIsShownAtOnceAndRefreshed) {
  Connect(3, 1);
  Answer("<|151|0|>", "<|151|M0|0|1|0|1|&|0|1|>");
  TypeKey('r');
  TypeKey('\r');
  RunModuleScreen(client_, 151);
  EXPECT_EQ((std::vector<std::string>{"<|151|0|>", "<|151|0|>"}), RequestsAfterIdentification());
  EXPECT_EQ(2u, out_.Count("MODULE MAIN DATA READ\n"));
  EXPECT_TRUE(ShowsLine("Work mode......: Battery"));
  EXPECT_TRUE(ShowsLine("Inverter.......: Failure"));
  EXPECT_TRUE(ShowsLine("Booster........: Not available"));
  EXPECT_TRUE(ShowsLine("Overheat.......: Yes"));
  EXPECT_EQ(2u, out_.Count("\n< Press \"R\" to refresh or \"ENTER\" to continue > "));
}

TEST_F(ModuleScreens, SingleModuleInfoOffersOnlyEnter) {
  Connect(3, 1);
  Answer("<|150|0|>", "<|150|M0|0|1|3000|3300|250|1.2|A|SN1|>");
  TypeKey('\r');
  RunModuleScreen(client_, 150);
  EXPECT_TRUE(ShowsLine("Installed on Phase.....: \"S\" or \"L2\""));
  EXPECT_TRUE(ShowsLine("Battery charger Current: 2.5 A"));
  EXPECT_TRUE(out_.Shows("\n< Press \"ENTER\" to continue > "));
}

TEST_F(ModuleScreens, MissingSingleModuleShowsItsStatusAndLeaves) {
  Connect(5, 1);
  Answer("<|152|0|>", "<|152|M0|1|&|&|&|&|&|&|>");
  RunModuleScreen(client_, 152);
  EXPECT_TRUE(out_.Shows("ERROR !  Module is not present"));
  EXPECT_FALSE(out_.Shows("MODULE INPUT DATA READ"));
  EXPECT_EQ(1u, RequestsAfterIdentification().size());
}

TEST_F(ModuleScreens, SeveralModulesAreChosenRefreshedAndSwitched) {
  Connect(6, 3);
  Answer("<|153|2|>", "<|153|M2|0|230|700|800|312|400|>");
  Answer("<|153|1|>", "<|153|M1|2|&|&|&|&|&|>");
  Answer("<|153|0|>", "<|153|M0|0|231|710|810|313|401|>");
  for (const char* line : {"2", "r", "1", "0", "7", "x", ""}) in_.AddLine(line);
  RunModuleScreen(client_, 153);
  EXPECT_EQ((std::vector<std::string>{"<|153|2|>", "<|153|2|>", "<|153|1|>", "<|153|0|>"}),
            RequestsAfterIdentification());
  EXPECT_TRUE(out_.Shows("\n< Press 0-2 for Modules or \"ENTER\" to exit >"));
  EXPECT_TRUE(ShowsLine("Module ID.....: M2"));
  EXPECT_TRUE(ShowsLine("Current.......: 3.12 A"));
  EXPECT_TRUE(out_.Shows("ERROR !  No answer from Module"));
  EXPECT_TRUE(ShowsLine("Module ID.....: M0"));
  EXPECT_EQ(2u, out_.Count("ERROR !  Number invalid or out of range (0 - 2) !"));
  EXPECT_TRUE(out_.Shows("< Press \"R\" for refresh; 0-2 for Modules; \"ENTER\" to exit >"));
}

TEST(ModuleStatus, NamesEveryStatus) {
  EXPECT_EQ("Module is not present", ModuleStatusText("1"));
  EXPECT_EQ("No answer from Module", ModuleStatusText("2"));
  EXPECT_EQ("Function not supported by Module", ModuleStatusText("3"));
  EXPECT_EQ("Unknown Module Status", ModuleStatusText("4"));
}

}  // namespace
}  // namespace keep::console
