// keepterm's menus and read screens as a person at a terminal sees them, against keepd with upssim
// playing a basic UPS (kind 0: the simulated protocol reports no more).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/install_tree.h"
#include "tests/support/keepd_client.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/pty_process.h"
#include "tests/support/upssim_process.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kLimit{10000};
// keepd notices a silent UPS only after its own retries.
constexpr milliseconds kUpsLossLimit{60000};
constexpr char kHostPrompt[] = "Host IP address [default: localhost / Q=cancel]: ";
constexpr char kPortPrompt[] = "Host IP port [default: 5769 / Q=cancel]: ";
constexpr char kMainPrompt[] = "Selection [Q for exit]: ";
constexpr char kSubPrompt[] = "Selection [<blank> to return to Main Menu]: ";
constexpr char kRefreshPrompt[] = "< Press \"R\" to refresh or \"ENTER\" to continue > ";

std::string Dword(int value) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(value));
  return std::string("dword:") + hex;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// What the screen shows from the last occurrence of `part` on; empty when it never showed.
std::string From(const std::string& screen, const std::string& part) {
  const size_t at = screen.rfind(part);
  return at == std::string::npos ? std::string() : screen.substr(at);
}

class KeeptermScreens : public ::testing::Test {
 protected:
  ~KeeptermScreens() override {
    if (term_ != nullptr && term_->Running()) {
      term_->Type("\n\nq\n");
      term_->WaitForExit(kLimit);
    }
    if (server_ != nullptr && server_->Running()) server_->Signal(SIGTERM);
    if (server_ != nullptr) server_->WaitForExit(kLimit);
  }

  // keepd with upssim as its UPS, and keepterm connected to it at its main menu.
  void StartAndConnect() {
    port_ = ClosedLoopbackPort();
    sim_ = std::make_unique<UpsSimulator>(UpsSimulator::Link::kPty, 1, tree_.Folder());
    ASSERT_TRUE(sim_->Ready()) << sim_->Output();
    tree_.WriteHive(tree_.InstallPath(), "english.lng",
                    "\"UpsModelName\"=\"" + std::string(kMegatecTestModel) + "\"\n\"UpsDevice\"=\"" +
                        sim_->SlavePath() + "\"\n\"SrvListenPort\"=" + Dword(port_) +
                        "\n\"SrvPollingUps\"=" + Dword(1) + "\n");
    server_ = std::make_unique<ChildProcess>(BuiltProgram("keepd"), std::vector<std::string>{}, tree_.Environment(),
                                             tree_.Folder());
    ASSERT_TRUE(server_->Started());
    std::unique_ptr<KeepdClient> client;
    ASSERT_TRUE(WaitUntil([&] { return (client = KeepdClient::Connect(port_)) != nullptr; }, kLimit));
    ASSERT_TRUE(WaitUntil(
        [&] { return client->Ask("<|100|>").rfind("<|100|" + std::string(kMegatecTestModel) + "|", 0) == 0; }, kLimit))
        << server_->StandardError();
    term_ = std::make_unique<PtyProcess>(BuildFolder() + "/console/keepterm", std::vector<std::string>{},
                                         std::map<std::string, std::string>{});
    ASSERT_TRUE(term_->Started());
    ASSERT_TRUE(term_->WaitForScreen(kHostPrompt, kLimit));
    term_->Type("127.0.0.1\n");
    ASSERT_TRUE(term_->WaitForScreen(kPortPrompt, kLimit));
    term_->Type(std::to_string(port_) + "\n");
    ASSERT_TRUE(term_->WaitForScreen(kMainPrompt, kLimit)) << term_->Screen();
  }

  // The screen as written, without the carriage returns the terminal adds to each line end.
  std::string Plain() {
    std::string text;
    for (const char c : term_->Screen()) {
      if (c != '\r') text += c;
    }
    return text;
  }
  // Waits until `text` has been shown `times` times in all.
  bool Shows(const std::string& text, size_t times = 1, milliseconds limit = kLimit) {
    return WaitUntil(
        [&] {
          term_->WaitForScreen("\x01", milliseconds(10));  // only reads what arrived
          return Count(Plain(), text) >= times;
        },
        limit);
  }
  bool TypeAndWait(const std::string& keys, const std::string& text, size_t times, milliseconds limit = kLimit) {
    term_->Type(keys);
    return Shows(text, times, limit);
  }

  InstallTree tree_;
  int port_ = 0;
  std::unique_ptr<UpsSimulator> sim_;
  std::unique_ptr<ChildProcess> server_;
  std::unique_ptr<PtyProcess> term_;
};

TEST_F(KeeptermScreens, BasicUpsReadScreensShowLabelsAndValues) {
  ASSERT_NO_FATAL_FAILURE(StartAndConnect());
  ASSERT_EQ("OK\n", sim_->Command("set load 42"));
  const std::string main_menu = From(Plain(), "******** MAIN MENU ********");
  EXPECT_NE(std::string::npos, main_menu.find(" 2 - UPS Data Read\n 3 - Actions and Tests\n 4 - UPS Setup\n"))
      << main_menu;

  ASSERT_TRUE(TypeAndWait("2\n", kSubPrompt, 1)) << term_->Screen();
  EXPECT_NE(std::string::npos, Plain().find(" 5 - Battery Data Read\n\n" + std::string(kSubPrompt))) << Plain();

  // The main data screen, refreshed once: a new request, the screen written again.
  ASSERT_TRUE(WaitUntil(
      [&] {
        if (!TypeAndWait("2\n", kRefreshPrompt, Count(Plain(), kRefreshPrompt) + 1)) return false;
        if (Plain().find("Total Load...............: 42 %") != std::string::npos) return true;
        term_->Type("x");  // keepd had not read the new load yet: leave and ask again
        return false;
      },
      kLimit))
      << term_->Screen();
  const std::string screen = From(Plain(), "UPS MAIN DATA READ\n------------------\n");
  EXPECT_NE(std::string::npos, screen.find("\nUPS Status...............: Mains\n")) << screen;
  EXPECT_NE(std::string::npos, screen.find("\nAutonomy Time............: ")) << screen;
  EXPECT_NE(std::string::npos, screen.find("\nBattery Capacity.........: ")) << screen;
  EXPECT_EQ(std::string::npos, screen.find("Current Anomaly")) << screen;
  EXPECT_EQ(std::string::npos, screen.find("Autonomy Calibration Test")) << screen;
  const size_t screens = Count(Plain(), "UPS MAIN DATA READ\n");
  ASSERT_TRUE(TypeAndWait("r", "UPS MAIN DATA READ\n", screens + 1)) << term_->Screen();
  ASSERT_TRUE(TypeAndWait("\r", kSubPrompt, Count(Plain(), kSubPrompt) + 1)) << term_->Screen();

  // The info screen is not refreshable and names the model.
  ASSERT_TRUE(TypeAndWait("1\n", "< Press \"ENTER\" to continue >", 1)) << term_->Screen();
  EXPECT_NE(std::string::npos, Plain().find("Model Name.................: " + std::string(kMegatecTestModel) + "\n"));
  ASSERT_TRUE(TypeAndWait("\n", kSubPrompt, Count(Plain(), kSubPrompt) + 1)) << term_->Screen();

  // The output screen needs two answers.
  ASSERT_TRUE(TypeAndWait("4\n", "UPS OUTPUT DATA READ", 1)) << term_->Screen();
  ASSERT_TRUE(Shows(kRefreshPrompt));
  const std::string output = From(Plain(), "UPS OUTPUT DATA READ");
  EXPECT_NE(std::string::npos, output.find("\nVoltage...................: ")) << output;
  EXPECT_NE(std::string::npos, output.find("\nFrequency.................: ")) << output;
  EXPECT_EQ(std::string::npos, output.find("Mains Frequency Autoselect")) << output;
  term_->Type("\r");
  ASSERT_TRUE(TypeAndWait("\n", kMainPrompt, Count(Plain(), kMainPrompt) + 1)) << term_->Screen();
  term_->Type("q\n");
  EXPECT_EQ(std::optional<int>(0), term_->WaitForExit(kLimit)) << term_->Screen();
}

TEST_F(KeeptermScreens, LostUpsSendsTheMenusBackAndRestoredUpsBringsThemBack) {
  ASSERT_NO_FATAL_FAILURE(StartAndConnect());
  ASSERT_TRUE(TypeAndWait("2\n", kSubPrompt, 1)) << term_->Screen();
  ASSERT_TRUE(TypeAndWait("2\n", kRefreshPrompt, 1)) << term_->Screen();

  ASSERT_EQ("OK\n", sim_->Command("fault silent on"));
  ASSERT_TRUE(Shows(" Communication lost with ups\n", 1, kUpsLossLimit)) << term_->Screen();
  // The screen's key prompt and the broadcast both wait for the user; ENTER goes to either, so it is
  // pressed until the main menu shows only its connection entry.
  const std::string disconnect_only =
      "******** MAIN MENU ********\n\n 1 - Disconnect from Powerkeep (127.0.0.1:" + std::to_string(port_) + ")\n\n" +
      kMainPrompt;
  ASSERT_TRUE(WaitUntil(
      [&] {
        if (Shows(disconnect_only, 1, milliseconds(300))) return true;
        term_->Type("\r");
        return false;
      },
      kLimit))
      << term_->Screen();
  EXPECT_EQ(1u, Count(Plain(), "******** UPS DATA READ MENU ********"));

  ASSERT_EQ("OK\n", sim_->Command("fault silent off"));
  // The receive thread reads nothing more until the loss's broadcast has had its ENTER; an ENTER
  // that reaches the menu instead only shows it again.
  ASSERT_TRUE(WaitUntil(
      [&] {
        if (Shows(" Communication restored with ups\n", 1, milliseconds(1000))) return true;
        term_->Type("\n");
        return false;
      },
      kUpsLossLimit))
      << term_->Screen();
  // The next answer to the menu (a wrong one here) shows the UPS's entries again.
  ASSERT_TRUE(WaitUntil(
      [&] {
        if (From(Plain(), "******** MAIN MENU ********").find(" 2 - UPS Data Read\n") != std::string::npos) {
          return true;
        }
        term_->Type("\n");
        return Shows("\n 2 - UPS Data Read\n", 1, milliseconds(300)) &&
               From(Plain(), "******** MAIN MENU ********").find(" 2 - UPS Data Read\n") != std::string::npos;
      },
      kLimit))
      << term_->Screen();
  // The return's broadcast may still wait for its ENTER and take the first answer.
  ASSERT_TRUE(WaitUntil(
      [&] { return TypeAndWait("2\n", "******** UPS DATA READ MENU ********", 2, milliseconds(1000)); }, kLimit))
      << term_->Screen();
  // Back to the main menu and out; an answer the broadcast took is given again.
  std::optional<int> status;
  for (int tries = 0; tries < 4 && !status; ++tries) {
    term_->Type("\nq\n");
    status = term_->WaitForExit(milliseconds(2000));
  }
  EXPECT_EQ(std::optional<int>(0), status) << term_->Screen();
}

}  // namespace
}  // namespace keep::test
