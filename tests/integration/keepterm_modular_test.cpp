// keepterm as a person at a terminal sees it with the UPS kinds the simulator cannot play: a standard
// UPS (kind 1) and a three-phase modular one (kind 6), served by a stand-in for keepd that answers
// with recorded frames and records every request keepterm sends.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/keepterm_session.h"
#include "tests/support/scripted_keepd.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;
using Lines = std::vector<std::string>;

constexpr milliseconds kLimit = KeeptermSession::kLimit;
constexpr char kUtf8Locale[] = "C.UTF-8";

std::string Identification(int kind, int modules) {
  return "<|100|Keep LineGuard 1000|LineGuard|" + std::to_string(modules) + "|700|1000|2.1|SN42|LG1000|" +
         std::to_string(kind) + "|Lab|secret|>";
}

// Each line followed by a line end.
std::string Join(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// A screen as its title, underlined, and its lines are written.
std::string Block(const std::string& title, const Lines& lines) {
  return title + "\n" + std::string(title.size(), '-') + "\n" + Join(lines);
}

// The label of `quantity` of `phase` padded with dots to `width`, as the per-phase screens align them.
std::string PhaseLabel(const std::string& quantity, char phase, size_t width) {
  std::string label = quantity + " (\"" + phase + "\" phase)";
  if (label.size() < width) label += std::string(width - label.size(), '.');
  return label + ": ";
}

// The eighteen per-phase lines of a three-phase input or output screen for the values given per
// quantity (R, S, T).
Lines PhaseLines(size_t width, const std::vector<std::array<std::string, 3>>& values) {
  static const char* const kQuantities[] = {"Voltage", "Active Power", "Apparent Power",
                                            "Current", "Peak Current", "Frequency"};
  Lines lines;
  for (size_t q = 0; q < std::size(kQuantities); ++q) {
    for (size_t p = 0; p < 3; ++p) lines.push_back(PhaseLabel(kQuantities[q], "RST"[p], width) + values[q][p]);
  }
  return lines;
}

class KeeptermModular : public ::testing::Test {
 protected:
  // keepterm in `locale`, connected to the scripted server that identifies a UPS of `kind`.
  void StartAndConnect(int kind, int modules, const std::string& locale) {
    ASSERT_TRUE(server_.Ok());
    server_.Answer("<|100|>", Identification(kind, modules));
    term_ = std::make_unique<KeeptermSession>(Lines{}, std::map<std::string, std::string>{{"LC_ALL", locale}});
    ASSERT_TRUE(term_->Started());
    ASSERT_TRUE(term_->ConnectTo(server_.Port())) << term_->Plain();
  }

  // Picks `entry` of the menu shown and waits for `text` to show once more.
  bool Choose(int entry, const std::string& text) { return term_->TypeAndWaitNext(std::to_string(entry) + "\n", text); }

  // The screen shown last under `title`, from the title on; empty when none was.
  std::string Shown(const std::string& title) {
    const std::string from = term_->From("\n" + title + "\n");
    return from.empty() ? from : from.substr(1);
  }
  // Whether the screen shown last under `title` is `lines` and then `prompt`, waiting for the user.
  ::testing::AssertionResult ShowsScreen(const std::string& title, const Lines& lines, const std::string& prompt) {
    const std::string expected = Block(title, lines) + "\n" + prompt;
    const std::string shown = Shown(title);
    if (shown == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected:\n" << expected << "\nshown:\n" << shown;
  }
  // Opens read screen `entry` of the data menu: whether it shows `lines` under `title`, then `prompt`.
  ::testing::AssertionResult OpensScreen(int entry, const std::string& title, const Lines& lines,
                                         const std::string& prompt = kRefreshPrompt) {
    if (!Choose(entry, prompt)) return ::testing::AssertionFailure() << "no " << title << ":\n" << term_->Plain();
    return ShowsScreen(title, lines, prompt);
  }
  // Leaves a refreshable screen with a key other than R, back to the menu.
  bool LeaveScreen() { return term_->TypeAndWaitNext("\r", kSubPrompt); }

  // Answers each prompt in turn, the first one showing now: types the answer, then waits for the
  // next prompt (after the last answer: `end`) to show once more.
  bool Dialogue(const std::vector<std::pair<std::string, std::string>>& steps, const std::string& end) {
    for (size_t i = 0; i < steps.size(); ++i) {
      if (!term_->TypeAndWaitNext(steps[i].second + "\n", i + 1 < steps.size() ? steps[i + 1].first : end)) {
        return false;
      }
    }
    return true;
  }

  ScriptedKeepd server_;
  std::unique_ptr<KeeptermSession> term_;
};

TEST_F(KeeptermModular, StandardUpsReadScreensShowEveryLabelAndRenderedValue) {
  server_.Answer("<|101|>", "<|101|0|1|955|31|3725|1000|@|>");
  server_.Answer("<|103|>", "<|103|229|700|800|31|60|2|1|0|1|0|>");
  server_.Answer("<|102|>", "<|102|230|700|800|31|60|1|1|0|3|0|1|300|>");
  server_.Answer("<|113|>", "<|113|0|>");
  server_.Answer("<|106|>", "<|106|2730|2405|2200|0|1|0|90|1|>");
  server_.Answer("<|108|>", "<|108|1|5|1|2|3|4|380|375|>");
  server_.Answer("<|110|>", "<|110|0|>");
  server_.Answer("<|111|>", "<|111|26|5|17|9|8|7|9|>");
  server_.Answer("<|107|>", "<|107|3600|&|4|5|6|7|>");
  ASSERT_NO_FATAL_FAILURE(StartAndConnect(1, 1, kUtf8Locale));
  EXPECT_NE(std::string::npos,
            term_->From("******** MAIN MENU ********")
                .find(" 2 - UPS Data Read\n 3 - Actions and Tests\n 4 - UPS Setup\n\n" + std::string(kMainPrompt)))
      << term_->Plain();

  ASSERT_TRUE(Choose(2, kSubPrompt)) << term_->Plain();
  EXPECT_NE(std::string::npos,
            term_->From("******** UPS DATA READ MENU ********")
                .find("\n 1 - Info Read\n 2 - Main Data Read\n 3 - Input Data Read\n 4 - Output Data Read\n"
                      " 5 - Battery Data Read\n 6 - Hardware Data Read\n 7 - History Read\n 8 - Events List Read\n\n"))
      << term_->Plain();
  const size_t before_screens = server_.Requests().size();

  EXPECT_TRUE(OpensScreen(
      1, "UPS INFO DATA READ",
      {"Model Name.................: Keep LineGuard 1000", "Family Name................: LineGuard",
       "Apparent Nominal Power.....: 1000 VA", "Active Nominal Power.......: 700 W", "Number of Installed Modules: 1",
       "Firmware Version...........: 2.1", "Serial Number..............: SN42", "UPS/Computer Location......: Lab"},
      kEnterPrompt));
  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kSubPrompt));

  EXPECT_TRUE(OpensScreen(
      2, "UPS MAIN DATA READ",
      {"UPS Status...............: Mains", "Current Anomaly..........: Overload", "Total Load...............: 95.5 %",
       "Autonomy Time............: 1 hour 2 minutes 5 seconds ", "Battery Capacity.........: 100 %",
       "Internal Temperature.....: 31 \xC2\xB0"
       "C",
       "Autonomy Calibration Test: Never executed or must be repeated"}));
  // R reads and shows the screen again.
  ASSERT_TRUE(term_->TypeAndWaitNext("r", kRefreshPrompt));
  EXPECT_EQ(2, term_->Count("\nUPS MAIN DATA READ\n"));
  ASSERT_TRUE(LeaveScreen());

  EXPECT_TRUE(OpensScreen(
      3, "UPS INPUT DATA READ",
      {"Voltage....................: 229 V", "Apparent Power.............: 800 VA",
       "Active Power...............: 700 W", "Current....................: 3.1 A", "Peak Current...............: 6 A",
       "Stabiliser level...........: 230 V", "Neutral Sense enabled......: Yes", "Neutral Sense while running: No",
       "PLL enabled................: Yes", "PLL extended lock range....: No"}));
  ASSERT_TRUE(LeaveScreen());

  EXPECT_TRUE(OpensScreen(
      4, "UPS OUTPUT DATA READ",
      {"Voltage...................: 230 V", "Apparent Power............: 800 VA", "Active Power..............: 700 W",
       "Current...................: 3.1 A", "Peak Current..............: 6 A", "Frequency.................: 60 Hz",
       "Mains Frequency Autoselect: No", "Bypass enabled............: Yes", "Forced Bypass enabled.....: No",
       "Bypass Dip Speed..........: Low", "OFF Line Mode enabled.....: No", "Load Waiting Mode.........: Yes",
       "Load Waiting Threshold....: 300 W"}));
  ASSERT_TRUE(LeaveScreen());

  EXPECT_TRUE(OpensScreen(
      5, "UPS BATTERY DATA READ",
      {"Battery Voltage....................: 273 V", "Reserve Threshold..................: 240.5 V",
       "Exhaust Threshold..................: 220 V", "Thresholds mode....................: Manual",
       "Auto Battery Test enabled..........: Yes", "Max Time on Battery................: Not limited",
       "Max Time after Reserve.............: 1 minute 30 seconds ", "Autorestart enabled................: Yes"}));
  ASSERT_TRUE(LeaveScreen());

  EXPECT_TRUE(
      OpensScreen(6, "UPS HARDWARE DATA READ",
                  {"Faulty modules...................: 1", "Faulty type......................: Inverter & Booster",
                   "Vin A/D converter................: 1", "Iin A/D converter................: 2",
                   "Vout A/D converter...............: 3", "Iout A/D converter...............: 4",
                   "Positive BUS voltage.............: 380 V", "Negative BUS voltage.............: -375 V",
                   "UPS Buzzer enabled...............: No",
                   "UPS Clock (hh:mm:ss dd/mm/yy)....: 9:8:7 17/5/26 (Invalid parameter)"}));
  ASSERT_TRUE(LeaveScreen());

  EXPECT_TRUE(
      OpensScreen(7, "UPS HISTORY DATA READ",
                  {"UPS operating time.......: 1 hour 0 minutes 0 seconds ", "Inverter operating time..: Not available",
                   "UPS interventions........: 4", "Battery full discharges..: 5", "Bypass/Stabiliser interv.: 6",
                   "Overheatings.............: 7"}));
  ASSERT_TRUE(LeaveScreen());

  // Each screen asked for its data, the output screen for the autoselect as well, the hardware
  // screen for the buzzer and the clock.
  EXPECT_EQ((Lines{"<|100|>", "<|101|>", "<|101|>", "<|103|>", "<|102|>", "<|113|>", "<|106|>", "<|108|>", "<|110|>",
                   "<|111|>", "<|107|>"}),
            server_.RequestsAfter(before_screens));
  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kMainPrompt));
  EXPECT_EQ(std::optional<int>(0), term_->Quit()) << term_->Plain();
}

TEST_F(KeeptermModular, LongStandardEventListPausesAfterFifteenLinesAndLeavesOutMarkedDates) {
  // Twenty events whose codes are their numbers; the third has no date.
  static const char* const kTexts[] = {"Odd Turn Off",
                                       "Memory Error!",
                                       "Battery Limit",
                                       "Battery Charger",
                                       "Overload",
                                       "Long Overload",
                                       "Neutral Wrong",
                                       "Neutral Wrong while running",
                                       "Modules Number",
                                       "Programmed battery time expired",
                                       "Programmed reserve time expired",
                                       "Earth Fault",
                                       "Load Waiting",
                                       "HV Bus Runaway",
                                       "Output DC Level",
                                       "Bad Wiring",
                                       "Hardware Fault: Unknown",
                                       "Hardware Fault: Inverter",
                                       "Hardware Fault:          P.F.C.",
                                       "Hardware Fault: Inverter P.F.C."};
  std::string answer = "<|109|20|";
  Lines events;
  for (int i = 1; i <= 20; ++i) {
    const std::string time = "10:" + std::to_string(10 + i);
    answer += (i == 3 ? "&" : "01/02/26") + ("," + time + "," + std::to_string(i) + "|");
    events.push_back("- 01/02/26 " + time + "  " + kTexts[i - 1]);
  }
  events[2] = "- 10:13  Battery Limit";
  server_.Answer("<|109|>", answer + ">");
  ASSERT_NO_FATAL_FAILURE(StartAndConnect(1, 1, kUtf8Locale));
  ASSERT_TRUE(Choose(2, kSubPrompt)) << term_->Plain();

  // The count line and fourteen events, then the pause after an empty line.
  ASSERT_TRUE(Choose(8, "< more >")) << term_->Plain();
  Lines first{"Total Count (most recent first): 20"};
  first.insert(first.end(), events.begin(), events.begin() + 14);
  EXPECT_TRUE(ShowsScreen("UPS EVENTS LIST READ", first, "< more >"));

  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kRefreshPrompt)) << term_->Plain();
  const std::string after = term_->From("< more >");
  EXPECT_NE(std::string::npos,
            after.find("\n" + Join(Lines(events.begin() + 14, events.end())) + "\n" + kRefreshPrompt))
      << after;
  EXPECT_EQ(1, term_->Count("< more >"));
  EXPECT_EQ((Lines{"<|100|>", "<|109|>"}), server_.Requests());
  ASSERT_TRUE(LeaveScreen());
  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kMainPrompt));
  EXPECT_EQ(std::optional<int>(0), term_->Quit()) << term_->Plain();
}

TEST_F(KeeptermModular, StandardUpsSetupScreensSendExactlyTheFieldsTyped) {
  server_.Echo(301);
  server_.Echo(302);
  server_.Echo(306);
  server_.Echo(307);
  ASSERT_NO_FATAL_FAILURE(StartAndConnect(1, 1, kUtf8Locale));
  ASSERT_TRUE(Choose(4, kSubPrompt)) << term_->Plain();
  EXPECT_NE(std::string::npos, term_->From("******** UPS SETUP MENU ********")
                                   .find("\n 1 - Buzzer Set\n 2 - Input Data Set\n 3 - Output Data Set\n"
                                         " 4 - Battery Data Set\n 5 - UPS Clock Set\n 6 - UPS History Reset\n"
                                         " 7 - Events List Reset\n\n"))
      << term_->Plain();
  const size_t before_screens = server_.Requests().size();

  // A voltage out of range is asked again; an empty answer leaves without sending anything.
  ASSERT_TRUE(Choose(3, "Voltage [V]: ")) << term_->Plain();
  ASSERT_TRUE(Dialogue({{"Voltage [V]: ", "199"}, {"Voltage [V]: ", ""}}, kSubPrompt)) << term_->Plain();
  const std::string output = term_->From("UPS OUTPUT DATA SET");
  EXPECT_NE(std::string::npos, output.find(" ERROR !  Number invalid or out of range (200 - 250) !")) << output;
  EXPECT_EQ(std::string::npos, output.find("Frequency (0 = 50Hz; 1 = 60Hz): ")) << output;
  EXPECT_TRUE(server_.RequestsAfter(before_screens).empty());

  // Manual thresholds with a decimal comma, coarsened to one significant digit.
  ASSERT_TRUE(Choose(4, "Automatic Battery Thresholds [y/N] ? ")) << term_->Plain();
  ASSERT_TRUE(Dialogue({{"Automatic Battery Thresholds [y/N] ? ", "n"},
                        {"Reserve Threshold [V]: ", "10,5"},
                        {"Exhaust Threshold [V]: ", "9.4"},
                        {"Automatic Battery Test at UPS startup [y/N] ? ", "n"},
                        {"Max Time on Battery (0 = unlimited) [s]: ", "60"},
                        {"Max Time after Reserve (0 = unlimited) [s]: ", "0"},
                        {"Enable Autorestart [y/N] ? ", "y"}},
                       kEnterPrompt))
      << term_->Plain();
  EXPECT_TRUE(
      ShowsScreen("UPS BATTERY DATA SET",
                  {"Thresholds mode....................: Manual", "Reserve Threshold..................: 10 V",
                   "Exhaust Threshold..................: 9 V", "Auto Battery Test enabled..........: No",
                   "Max Time on Battery................: 1 minute 0 seconds ",
                   "Max Time after Reserve.............: Not limited", "Autorestart enabled................: Yes"},
                  kEnterPrompt));
  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kSubPrompt));

  // A four-digit year is sent as its last two digits; the weekday goes last.
  ASSERT_TRUE(Choose(5, "Year: ")) << term_->Plain();
  ASSERT_TRUE(Dialogue({{"Year: ", "2026"},
                        {"Month: ", "3"},
                        {"Day: ", "9"},
                        {"Day of the Week (0 = Sunday ... 6 = Saturday): ", "4"},
                        {"Hour: ", "22"},
                        {"Minutes: ", "5"},
                        {"Seconds: ", "7"}},
                       kEnterPrompt))
      << term_->Plain();
  EXPECT_TRUE(ShowsScreen("UPS CLOCK SET", {"22:5:7 9/3/26 (Thursday)"}, kEnterPrompt));
  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kSubPrompt));

  EXPECT_EQ((Lines{"<|302|100|90|0|0|60|0|1|>", "<|307|26|3|9|22|5|7|4|>"}), server_.RequestsAfter(before_screens));
  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kMainPrompt));
  EXPECT_EQ(std::optional<int>(0), term_->Quit()) << term_->Plain();
}

// The frames of a three-phase modular UPS: the code tables loaded at start and its data answers.
class KeeptermThreePhase : public KeeptermModular {
 protected:
  static constexpr char kAnswer131[] = "<|131|0|0|955|420|333|31|3725|&|1000|>";

  void SetUp() override {
    server_.Answer("<|136|>", "<|136|1|A1,Overtemperature|>");
    server_.Answer("<|140|>", "<|140|2|E7,Fan failure|E8,Door open|>");
  }
};

TEST_F(KeeptermThreePhase, ReadScreensShowThreeLoadsAndEighteenPhaseLines) {
  server_.Answer("<|131|>", kAnswer131);
  server_.Answer("<|133|>", "<|133|229|230|231|700|710|720|800|810|820|31|32|33|60|61|62|5000|5001|4999|1|0|0|1|>");
  server_.Answer("<|132|>", "<|132|230|231|232|700|710|720|800|810|820|31|32|33|60|61|62|5000|5001|4999|1|2|0|0|0|1|>");
  server_.Answer("<|139|2|>", "<|139|2|2|01/02/26,10:00:00,E7|01/02/26,11:00:00,E9|>");
  server_.Answer("<|137|>", "<|137|2|0,A1|2,A9|>");
  server_.Answer("<|153|1|>", "<|153|M1|0|230|700|800|312|400|>");
  // A terminal without UTF-8 gets the degree sign of the console code page.
  ASSERT_NO_FATAL_FAILURE(StartAndConnect(6, 3, "C"));
  // The code tables are loaded before the main menu.
  EXPECT_EQ((Lines{"<|100|>", "<|136|>", "<|140|>"}), server_.Requests());
  EXPECT_NE(std::string::npos, term_->From("******** MAIN MENU ********")
                                   .find(" 2 - UPS Data Read\n 3 - MODULES Data Read\n 4 - Actions and Tests\n"
                                         " 5 - UPS Setup\n\n" +
                                         std::string(kMainPrompt)))
      << term_->Plain();
  ASSERT_TRUE(Choose(2, kSubPrompt)) << term_->Plain();
  EXPECT_NE(std::string::npos, term_->From("******** UPS DATA READ MENU ********")
                                   .find(" 8 - Events List Read\n 9 - Alarms List Read\n\n" + std::string(kSubPrompt)))
      << term_->Plain();

  EXPECT_TRUE(
      OpensScreen(2, "UPS MAIN DATA READ",
                  {"UPS Status...............: Mains", "Current Anomaly..........: None",
                   "Total Load (\"R\" phase)...: 95.5 %", "Total Load (\"S\" phase)...: 42 %",
                   "Total Load (\"T\" phase)...: 33.3 %", "Autonomy Time............: 1 hour 2 minutes 5 seconds ",
                   "Autonomy Reserve Time....: Not available", "Battery Capacity.........: 100 %",
                   "Internal Temperature.....: 31 \xF8"
                   "C"}));
  ASSERT_TRUE(LeaveScreen());

  Lines input = PhaseLines(27, {{"229 V", "230 V", "231 V"},
                                {"700 W", "710 W", "720 W"},
                                {"800 VA", "810 VA", "820 VA"},
                                {"3.1 A", "3.2 A", "3.3 A"},
                                {"6 A", "6.1 A", "6.2 A"},
                                {"50 Hz", "50.01 Hz", "49.99 Hz"}});
  input.insert(input.end(), {"PLL enabled................: Yes", "PLL extended lock range....: No",
                             "Nominal Frequency..........: 50 Hz", "Mains Frequency Autoselect : Yes"});
  EXPECT_TRUE(OpensScreen(3, "UPS INPUT DATA READ", input));
  const std::string input_screen = term_->From("\nUPS INPUT DATA READ\n");
  EXPECT_NE(std::string::npos, input_screen.find("\nVoltage (\"R\" phase)........: 229 V\n"));
  EXPECT_NE(std::string::npos, input_screen.find("\nFrequency (\"T\" phase)......: 49.99 Hz\n"));
  ASSERT_TRUE(LeaveScreen());

  Lines output = PhaseLines(26, {{"230 V", "231 V", "232 V"},
                                 {"700 W", "710 W", "720 W"},
                                 {"800 VA", "810 VA", "820 VA"},
                                 {"3.1 A", "3.2 A", "3.3 A"},
                                 {"6 A", "6.1 A", "6.2 A"},
                                 {"50 Hz", "50.01 Hz", "49.99 Hz"}});
  output.insert(output.end(), {"Bypass enabled............: Yes", "Bypass Dip Speed..........: Normal",
                               "Turn On Load With Bypass..: No", "Forced Bypass enabled.....: No",
                               "OFF Line Mode enabled.....: No", "EPS Mode..................: Yes"});
  EXPECT_TRUE(OpensScreen(4, "UPS OUTPUT DATA READ", output));
  EXPECT_NE(std::string::npos,
            term_->From("\nUPS OUTPUT DATA READ\n").find("\nFrequency (\"T\" phase).....: 49.99 Hz\n"));
  ASSERT_TRUE(LeaveScreen());

  // The modular event list asks which list, and describes the codes from the table loaded at start.
  ASSERT_TRUE(Choose(8, "or <blank> to exit): ")) << term_->Plain();
  EXPECT_NE(std::string::npos,
            term_->Plain().find("Select List (0=all; 1=critical; 2=warning; 3=info) or <blank> to exit): "));
  ASSERT_TRUE(term_->TypeAndWaitNext("2\n", kRefreshPrompt)) << term_->Plain();
  EXPECT_TRUE(
      ShowsScreen("UPS \"WARNING\" EVENTS LIST READ",
                  {"Total Count (most recent first): 2", " 01/02/26 10:00:00 - Fan failure", " 01/02/26 11:00:00 - "},
                  kRefreshPrompt));
  // Another key than R asks for a list again; an empty answer leaves.
  ASSERT_TRUE(term_->TypeAndWaitNext("x", "or <blank> to exit): ")) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kSubPrompt)) << term_->Plain();

  EXPECT_TRUE(OpensScreen(9, "UPS ALARMS LIST READ",
                          {"Total Count: 2", " Module ID: 0  -  Alarm: Overtemperature", " Module ID: 2  -  Alarm: "}));
  ASSERT_TRUE(LeaveScreen());
  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kMainPrompt));

  // A module screen of a UPS with three modules asks which one.
  ASSERT_TRUE(Choose(3, kSubPrompt)) << term_->Plain();
  ASSERT_TRUE(Choose(4, "< Press 0-2 for Modules or \"ENTER\" to exit >")) << term_->Plain();
  const std::string module_prompt = "< Press \"R\" for refresh; 0-2 for Modules; \"ENTER\" to exit >";
  ASSERT_TRUE(term_->TypeAndWaitNext("1\n", module_prompt)) << term_->Plain();
  EXPECT_TRUE(ShowsScreen("MODULE OUTPUT DATA READ",
                          {"Module ID.....: M1", "Voltage.......: 230 V", "Active Power..: 700 W",
                           "Apparent Power: 800 VA", "Current.......: 3.12 A", "Peak Current..: 4 A"},
                          module_prompt));
  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kSubPrompt));
  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kMainPrompt));

  EXPECT_EQ((Lines{"<|131|>", "<|133|>", "<|132|>", "<|139|2|>", "<|137|>", "<|153|1|>"}), server_.RequestsAfter(3));
  EXPECT_EQ(std::optional<int>(0), term_->Quit()) << term_->Plain();
}

TEST_F(KeeptermThreePhase, NoticesWhileAScreenWaitsAreShownAndALostUpsSendsTheMenusBack) {
  ASSERT_NO_FATAL_FAILURE(StartAndConnect(6, 1, kUtf8Locale));
  ASSERT_TRUE(Choose(2, kSubPrompt)) << term_->Plain();

  // While the main screen waits for its answer, the UPS is lost and restored: each notice waits for
  // its ENTER, and the answer that follows still makes the screen.
  term_->Type("2\n");
  ASSERT_TRUE(server_.WaitForRequest("<|131|>", 1, kLimit));
  ASSERT_TRUE(server_.Push("<|500|>"));
  ASSERT_TRUE(term_->Shows(kEnterPrompt)) << term_->Plain();
  EXPECT_NE(std::string::npos,
            term_->Plain().find("\n\n*** Broadcast message from Powerkeep ***\n Communication lost with ups\n\n\n" +
                                std::string(kEnterPrompt)))
      << term_->Plain();
  term_->Type("\n");
  ASSERT_TRUE(server_.Push("<|501|>"));
  ASSERT_TRUE(term_->Shows(" Communication restored with ups\n")) << term_->Plain();
  ASSERT_TRUE(term_->Shows(kEnterPrompt, 2)) << term_->Plain();
  term_->Type("\n");
  ASSERT_TRUE(server_.Push(kAnswer131));
  ASSERT_TRUE(term_->Shows(kRefreshPrompt)) << term_->Plain();
  EXPECT_NE(std::string::npos, term_->From("\nUPS MAIN DATA READ\n").find("Total Load (\"T\" phase)...: 33.3 %\n"));
  // The UPS is back: the data menu stays.
  ASSERT_TRUE(LeaveScreen()) << term_->Plain();

  // Lost again while waiting: after the screen, the menus go back to the main menu, which offers
  // only the connection.
  const int data_menus = term_->Count("******** UPS DATA READ MENU ********");
  term_->Type("2\n");
  ASSERT_TRUE(server_.WaitForRequest("<|131|>", 2, kLimit));
  ASSERT_TRUE(server_.Push("<|500|>"));
  ASSERT_TRUE(term_->Shows(kEnterPrompt, 3)) << term_->Plain();
  term_->Type("\n");
  ASSERT_TRUE(server_.Push(kAnswer131));
  ASSERT_TRUE(term_->Shows(kRefreshPrompt, 2)) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWaitNext("\r", kMainPrompt)) << term_->Plain();
  EXPECT_EQ("******** MAIN MENU ********\n\n 1 - Disconnect from Powerkeep (127.0.0.1:" +
                std::to_string(server_.Port()) + ")\n\n" + kMainPrompt,
            term_->From("******** MAIN MENU ********"));
  EXPECT_EQ(data_menus, term_->Count("******** UPS DATA READ MENU ********")) << "the data menu is not shown again";
  EXPECT_EQ(std::optional<int>(0), term_->Quit()) << term_->Plain();
}

TEST_F(KeeptermThreePhase, ReconnectingFromTheMenuIdentifiesAgainWithoutReloadingTheCodeTables) {
  ASSERT_NO_FATAL_FAILURE(StartAndConnect(6, 1, kUtf8Locale));
  ASSERT_EQ(3u, server_.Requests().size());
  ASSERT_TRUE(Choose(1, kMainPrompt)) << term_->Plain();
  EXPECT_EQ("******** MAIN MENU ********\n\n 1 - Connect to Powerkeep\n\n" + std::string(kMainPrompt),
            term_->From("******** MAIN MENU ********"));

  ASSERT_TRUE(Choose(1, kHostPrompt)) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWaitNext("127.0.0.1\n", kPortPrompt));
  ASSERT_TRUE(term_->TypeAndWaitNext(std::to_string(server_.Port()) + "\n", kMainPrompt)) << term_->Plain();
  EXPECT_NE(std::string::npos, term_->From("******** MAIN MENU ********").find(" 3 - MODULES Data Read\n"))
      << term_->Plain();
  EXPECT_EQ(2, server_.Connections());
  EXPECT_EQ((Lines{"<|100|>"}), server_.RequestsAfter(3));
  EXPECT_EQ(std::optional<int>(0), term_->Quit()) << term_->Plain();
}

}  // namespace
}  // namespace keep::test
