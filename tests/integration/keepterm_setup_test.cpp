// keepterm's scheduler editor as a person at a terminal uses it: on a pseudo-terminal of its own,
// against keepd with upssim playing the UPS. The plan typed in reaches keepd's scheduler file.
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
#include "tests/support/temp_dir.h"
#include "tests/support/upssim_process.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kLimit{10000};
constexpr char kHostPrompt[] = "Host IP address [default: localhost / Q=cancel]: ";
constexpr char kPortPrompt[] = "Host IP port [default: 5769 / Q=cancel]: ";
constexpr char kSchedulerMenu[] = "******** UPS SCHEDULER ********";

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

// The number the menu on `screen` gives the entry `text` (its last showing).
std::string EntryNumber(const std::string& screen, const std::string& text) {
  const size_t at = screen.rfind(" - " + text);
  if (at == std::string::npos) return "";
  size_t begin = at;
  while (begin > 0 && screen[begin - 1] >= '0' && screen[begin - 1] <= '9') --begin;
  return screen.substr(begin, at - begin);
}

class KeeptermSetup : public ::testing::Test {
 protected:
  ~KeeptermSetup() override {
    if (server_ != nullptr && server_->Running()) server_->Signal(SIGTERM);
    if (server_ != nullptr) server_->WaitForExit(kLimit);
  }

  std::string PlanFile() const { return tree_.InstallPath() + "data/sch_data.dat"; }

  // keepd on `port` with upssim as its UPS; returns once keepd has identified the UPS.
  void StartServer(int port) {
    sim_ = std::make_unique<UpsSimulator>(UpsSimulator::Link::kPty, 1, tree_.Folder());
    ASSERT_TRUE(sim_->Ready()) << sim_->Output();
    tree_.WriteHive(tree_.InstallPath(), "english.lng",
                    "\"UpsModelName\"=\"" + std::string(kMegatecTestModel) + "\"\n\"UpsDevice\"=\"" +
                        sim_->SlavePath() + "\"\n\"SrvListenPort\"=" + Dword(port) + "\n");
    server_ = std::make_unique<ChildProcess>(BuiltProgram("keepd"), std::vector<std::string>{}, tree_.Environment(),
                                             tree_.Folder());
    ASSERT_TRUE(server_->Started());
    std::unique_ptr<KeepdClient> client;
    ASSERT_TRUE(WaitUntil([&] { return (client = KeepdClient::Connect(port)) != nullptr; }, kLimit));
    ASSERT_TRUE(WaitUntil(
        [&] { return client->Ask("<|100|>").rfind("<|100|" + std::string(kMegatecTestModel) + "|", 0) == 0; }, kLimit))
        << server_->StandardError();
  }

  // keepterm connected to the server on `port`, at its main menu.
  std::unique_ptr<PtyProcess> StartConnected(int port) {
    auto term = std::make_unique<PtyProcess>(BuildFolder() + "/console/keepterm", std::vector<std::string>{},
                                             std::map<std::string, std::string>{});
    EXPECT_TRUE(term->Started());
    EXPECT_TRUE(term->WaitForScreen(kHostPrompt, kLimit));
    term->Type("127.0.0.1\n");
    EXPECT_TRUE(term->WaitForScreen(kPortPrompt, kLimit));
    term->Type(std::to_string(port) + "\n");
    EXPECT_TRUE(term->WaitForScreen("Selection [Q for exit]: ", kLimit)) << term->Screen();
    return term;
  }

  // Waits until `text` is shown for the `nth` time.
  static bool WaitForNth(PtyProcess& term, const std::string& text, size_t nth) {
    return WaitUntil([&] { return term.WaitForScreen(text, milliseconds(10)) && Count(term.Screen(), text) >= nth; },
                     kLimit);
  }

  InstallTree tree_;
  std::unique_ptr<UpsSimulator> sim_;
  std::unique_ptr<ChildProcess> server_;
};

TEST_F(KeeptermSetup, TheSchedulerEditorSavesAPlanThatKeepdStores) {
  const int port = ClosedLoopbackPort();
  ASSERT_NO_FATAL_FAILURE(StartServer(port));
  ASSERT_NO_FATAL_FAILURE(WriteFileText(PlanFile(), "SR|W|1|79200|2|28800\r\n"));
  auto term = StartConnected(port);

  const std::string actions = EntryNumber(term->Screen(), "Actions and Tests");
  ASSERT_FALSE(actions.empty()) << term->Screen();
  term->Type(actions + "\n");
  ASSERT_TRUE(term->WaitForScreen("******** ACTIONS AND TESTS MENU ********", kLimit)) << term->Screen();
  term->Type("1\n");
  ASSERT_TRUE(term->WaitForScreen(kSchedulerMenu, kLimit)) << term->Screen();

  // The downloaded plan, viewed.
  term->Type("1\n");
  ASSERT_TRUE(term->WaitForScreen("0 - Shutdown every Monday at 22:00:00 (restart every Tuesday at 08:00:00)", kLimit))
      << term->Screen();
  term->Type("\n");
  ASSERT_TRUE(WaitForNth(*term, kSchedulerMenu, 2));

  // A daily battery test at one o'clock, after a time that is not one.
  term->Type("2\n");
  ASSERT_TRUE(term->WaitForScreen("Type (0=Shutdown; 1=Battery Test; 2=Autonomy Calibration): ", kLimit));
  term->Type("1\n");
  ASSERT_TRUE(term->WaitForScreen("Frequency (0=Once; 1=Daily; 2=Weekly): ", kLimit));
  term->Type("1\n");
  ASSERT_TRUE(term->WaitForScreen("Test time [hh:mm:ss]: ", kLimit));
  term->Type("1 o'clock\n");
  ASSERT_TRUE(term->WaitForScreen("Invalid time !", kLimit)) << term->Screen();
  ASSERT_TRUE(WaitForNth(*term, "Test time [hh:mm:ss]: ", 2));
  term->Type("01:00:00\n");
  ASSERT_TRUE(term->WaitForScreen("1 - Battery Test every day at 01:00:00", kLimit)) << term->Screen();
  term->Type("\n");
  ASSERT_TRUE(WaitForNth(*term, kSchedulerMenu, 3));

  term->Type("4\n");
  ASSERT_TRUE(term->WaitForScreen(" Configuration properly saved", kLimit)) << term->Screen();
  EXPECT_EQ(std::string::npos, term->Screen().find("Error while saving configuration !"));
  EXPECT_EQ("SR|W|1|79200|2|28800\r\nBT|D|0|3600|-1|-1\r\n", ReadFileText(PlanFile()));

  term->Type("\n");
  ASSERT_TRUE(WaitForNth(*term, kSchedulerMenu, 4));
  term->Type("\n");
  ASSERT_TRUE(WaitForNth(*term, "******** ACTIONS AND TESTS MENU ********", 2));
  term->Type("\n");
  ASSERT_TRUE(WaitForNth(*term, "******** MAIN MENU ********", 2));
  term->Type("q\n");
  EXPECT_EQ(std::optional<int>(0), term->WaitForExit(kLimit)) << term->Screen();
}

}  // namespace
}  // namespace keep::test
