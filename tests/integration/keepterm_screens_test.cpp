// keepterm's menus and read screens as a person at a terminal sees them, against keepd with upssim
// playing a basic UPS (kind 0: the simulated protocol reports no more).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "tests/support/keepterm_session.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

// keepd notices a silent UPS only after its own retries.
constexpr milliseconds kUpsLossLimit{60000};

class KeeptermScreens : public KeeptermOnKeepd {
 protected:
  // keepd with upssim as its UPS (read every second), and keepterm connected to it at its main menu.
  void StartAndConnect() {
    ASSERT_NO_FATAL_FAILURE(StartServer(Dword("SrvPollingUps", 1)));
    term_ = std::make_unique<KeeptermSession>();
    ASSERT_TRUE(term_->Started());
    ASSERT_TRUE(term_->ConnectTo(port_)) << term_->Plain();
  }

  std::unique_ptr<KeeptermSession> term_;
};

TEST_F(KeeptermScreens, BasicUpsReadScreensShowLabelsAndValues) {
  ASSERT_NO_FATAL_FAILURE(StartAndConnect());
  ASSERT_EQ("OK\n", sim_->Command("set load 42"));
  const std::string main_menu = term_->From("******** MAIN MENU ********");
  EXPECT_NE(std::string::npos, main_menu.find(" 2 - UPS Data Read\n 3 - Actions and Tests\n 4 - UPS Setup\n"))
      << main_menu;

  ASSERT_TRUE(term_->TypeAndWait("2\n", kSubPrompt, 1)) << term_->Plain();
  EXPECT_NE(std::string::npos, term_->Plain().find(" 5 - Battery Data Read\n\n" + std::string(kSubPrompt)))
      << term_->Plain();

  // The main data screen, refreshed once: a new request, the screen written again.
  ASSERT_TRUE(WaitUntil(
      [&] {
        if (!term_->TypeAndWaitNext("2\n", kRefreshPrompt)) return false;
        if (term_->Plain().find("Total Load...............: 42 %") != std::string::npos) return true;
        term_->Type("x");  // keepd had not read the new load yet: leave and ask again
        return false;
      },
      kLimit))
      << term_->Plain();
  const std::string screen = term_->From("UPS MAIN DATA READ\n------------------\n");
  EXPECT_NE(std::string::npos, screen.find("\nUPS Status...............: Mains\n")) << screen;
  EXPECT_NE(std::string::npos, screen.find("\nAutonomy Time............: ")) << screen;
  EXPECT_NE(std::string::npos, screen.find("\nBattery Capacity.........: ")) << screen;
  EXPECT_EQ(std::string::npos, screen.find("Current Anomaly")) << screen;
  EXPECT_EQ(std::string::npos, screen.find("Autonomy Calibration Test")) << screen;
  ASSERT_TRUE(term_->TypeAndWaitNext("r", "UPS MAIN DATA READ\n")) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWaitNext("\r", kSubPrompt)) << term_->Plain();

  // The info screen is not refreshable and names the model.
  ASSERT_TRUE(term_->TypeAndWait("1\n", "< Press \"ENTER\" to continue >", 1)) << term_->Plain();
  EXPECT_NE(std::string::npos,
            term_->Plain().find("Model Name.................: " + std::string(kMegatecTestModel) + "\n"));
  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kSubPrompt)) << term_->Plain();

  // The output screen needs two answers.
  ASSERT_TRUE(term_->TypeAndWait("4\n", "UPS OUTPUT DATA READ", 1)) << term_->Plain();
  ASSERT_TRUE(term_->Shows(kRefreshPrompt));
  const std::string output = term_->From("UPS OUTPUT DATA READ");
  EXPECT_NE(std::string::npos, output.find("\nVoltage...................: ")) << output;
  EXPECT_NE(std::string::npos, output.find("\nFrequency.................: ")) << output;
  EXPECT_EQ(std::string::npos, output.find("Mains Frequency Autoselect")) << output;
  term_->Type("\r");
  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kMainPrompt)) << term_->Plain();
  term_->Type("q\n");
  EXPECT_EQ(std::optional<int>(0), term_->WaitForExit()) << term_->Plain();
}

TEST_F(KeeptermScreens, LostUpsSendsTheMenusBackAndRestoredUpsBringsThemBack) {
  ASSERT_NO_FATAL_FAILURE(StartAndConnect());
  ASSERT_TRUE(term_->TypeAndWait("2\n", kSubPrompt, 1)) << term_->Plain();
  ASSERT_TRUE(term_->TypeAndWait("2\n", kRefreshPrompt, 1)) << term_->Plain();

  ASSERT_EQ("OK\n", sim_->Command("fault silent on"));
  ASSERT_TRUE(term_->Shows(" Communication lost with ups\n", 1, kUpsLossLimit)) << term_->Plain();
  // ENTER dismisses the broadcast, then leaves the screen shown again; it is pressed until the main
  // menu shows only its connection entry (the broadcast comes after keepd's own retries).
  const std::string disconnect_only =
      "******** MAIN MENU ********\n\n 1 - Disconnect from Powerkeep (127.0.0.1:" + std::to_string(port_) + ")\n\n" +
      kMainPrompt;
  ASSERT_TRUE(WaitUntil(
      [&] {
        if (term_->Shows(disconnect_only, 1, milliseconds(300))) return true;
        term_->Type("\r");
        return false;
      },
      kLimit))
      << term_->Plain();
  EXPECT_EQ(1, term_->Count("******** UPS DATA READ MENU ********"));

  ASSERT_EQ("OK\n", sim_->Command("fault silent off"));
  // The receive thread reads nothing more until the loss's broadcast has had its ENTER; an ENTER
  // typed before the next broadcast reaches the menu, which only shows itself again.
  ASSERT_TRUE(WaitUntil(
      [&] {
        if (term_->Shows(" Communication restored with ups\n", 1, milliseconds(1000))) return true;
        term_->Type("\n");
        return false;
      },
      kUpsLossLimit))
      << term_->Plain();
  // The next answer to the menu (a wrong one here) shows the UPS's entries again.
  ASSERT_TRUE(WaitUntil(
      [&] {
        if (term_->From("******** MAIN MENU ********").find(" 2 - UPS Data Read\n") != std::string::npos) {
          return true;
        }
        term_->Type("\n");
        return term_->Shows("\n 2 - UPS Data Read\n", 1, milliseconds(300)) &&
               term_->From("******** MAIN MENU ********").find(" 2 - UPS Data Read\n") != std::string::npos;
      },
      kLimit))
      << term_->Plain();
  // The return's broadcast may still wait for its ENTER and take the first answer typed.
  ASSERT_TRUE(WaitUntil(
      [&] { return term_->TypeAndWait("2\n", "******** UPS DATA READ MENU ********", 2, milliseconds(1000)); }, kLimit))
      << term_->Plain();
  // Back to the main menu and out; an answer the broadcast took is given again.
  std::optional<int> status;
  for (int tries = 0; tries < 4 && !status; ++tries) {
    term_->Type("\nq\n");
    status = term_->WaitForExit(milliseconds(2000));
  }
  EXPECT_EQ(std::optional<int>(0), status) << term_->Plain();
}

// A standard UPS of the single-phase binary family: the main data screen carries what the simulated
// UPS reports, the load reckoned on the model's nominal active power (1050 W).
TEST_F(KeeptermScreens, SinglePhaseBinaryUpsMainScreenShowsTheSimulatorsValues) {
  ups_protocol_ = 0;
  ups_model_ = "Keep SineGuard 1500";
  ASSERT_NO_FATAL_FAILURE(StartAndConnect());
  // 35 % of the simulator's 1500 W is 525 W: half of the model's 1050 W.
  ASSERT_EQ("OK\n", sim_->Command("set load 35"));
  ASSERT_EQ("OK\n", sim_->Command("set temp 31"));
  ASSERT_TRUE(term_->TypeAndWait("2\n", kSubPrompt, 1)) << term_->Plain();
  ASSERT_TRUE(WaitUntil(
      [&] {
        if (!term_->TypeAndWaitNext("2\n", kRefreshPrompt)) return false;
        const std::string screen = term_->From("UPS MAIN DATA READ\n");
        if (screen.find("Total Load...............: 50 %") != std::string::npos &&
            screen.find("Internal Temperature.....: 31") != std::string::npos) {
          return true;
        }
        term_->Type("x");
        return false;
      },
      kLimit))
      << term_->Plain();
  const std::string screen = term_->From("UPS MAIN DATA READ\n------------------\n");
  EXPECT_NE(std::string::npos, screen.find("\nUPS Status...............: Mains\n")) << screen;
  EXPECT_NE(std::string::npos, screen.find("\nCurrent Anomaly..........: ")) << screen;
  EXPECT_NE(std::string::npos, screen.find("\nAutonomy Calibration Test: ")) << screen;
  term_->Type("\r");
  ASSERT_TRUE(term_->TypeAndWaitNext("\n", kMainPrompt)) << term_->Plain();
  term_->Type("q\n");
  EXPECT_EQ(std::optional<int>(0), term_->WaitForExit()) << term_->Plain();
}

}  // namespace
}  // namespace keep::test
