// keepterm as a person at a terminal runs it: on a pseudo-terminal of its own, against keepd with
// upssim playing the UPS, or against a listener that never answers.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "common/scrambling.h"
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
// A request that is never answered is given up after 400 polls of 100 ms.
constexpr milliseconds kAnswerTimeLimit{60000};
constexpr char kHostPrompt[] = "Host IP address [default: localhost / Q=cancel]: ";
constexpr char kPortPrompt[] = "Host IP port [default: 5769 / Q=cancel]: ";
constexpr char kStartupLine[] = "Voltrena - Voltrena Console [Version 1.1.4.9]";

std::string Dword(int value) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(value));
  return std::string("dword:") + hex;
}

// The console program of the build the tests belong to.
std::string KeeptermPath() { return BuildFolder() + "/console/keepterm"; }

// Whether a server could listen on `port` of every address now.
bool PortIsFree(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return free;
}

// How often `part` occurs in `text`.
size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class KeeptermConnect : public ::testing::Test {
 protected:
  ~KeeptermConnect() override {
    if (server_ != nullptr && server_->Running()) server_->Signal(SIGTERM);
    if (server_ != nullptr) server_->WaitForExit(kLimit);
  }

  std::unique_ptr<PtyProcess> StartKeepterm() {
    auto term =
        std::make_unique<PtyProcess>(KeeptermPath(), std::vector<std::string>{}, std::map<std::string, std::string>{});
    EXPECT_TRUE(term->Started());
    return term;
  }

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
        [&] {
          const std::string answer = client->Ask("<|100|>");
          return answer.rfind("<|100|" + std::string(kMegatecTestModel) + "|", 0) == 0;
        },
        kLimit))
        << server_->StandardError();
  }

  InstallTree tree_;
  std::unique_ptr<UpsSimulator> sim_;
  std::unique_ptr<ChildProcess> server_;
};

TEST_F(KeeptermConnect, CreditsSwitchWritesOneLineAndEnds) {
  PtyProcess term(KeeptermPath(), {"-cr"}, {});
  ASSERT_TRUE(term.Started());
  EXPECT_EQ(std::optional<int>(0), term.WaitForExit(kLimit));
  EXPECT_TRUE(term.Screen().find("Voltrena Console") != std::string::npos) << term.Screen();
  EXPECT_EQ(std::string::npos, term.Screen().find(kHostPrompt));
}

TEST_F(KeeptermConnect, QAtTheHostQuestionEndsTheProgram) {
  auto term = StartKeepterm();
  ASSERT_TRUE(term->WaitForScreen(kHostPrompt, kLimit)) << term->Screen();
  EXPECT_NE(std::string::npos, term->Screen().find(kStartupLine));
  term->Type("q\n");
  EXPECT_EQ(std::optional<int>(0), term->WaitForExit(kLimit)) << term->Screen();
}

TEST_F(KeeptermConnect, QAtThePortQuestionEndsTheProgram) {
  auto term = StartKeepterm();
  ASSERT_TRUE(term->WaitForScreen(kHostPrompt, kLimit));
  term->Type("\n");
  ASSERT_TRUE(term->WaitForScreen(kPortPrompt, kLimit));
  term->Type("Q\n");
  EXPECT_EQ(std::optional<int>(0), term->WaitForExit(kLimit)) << term->Screen();
}

TEST_F(KeeptermConnect, PortsOutsideOneTo65535AreRefused) {
  auto term = StartKeepterm();
  ASSERT_TRUE(term->WaitForScreen(kHostPrompt, kLimit));
  term->Type("\n");
  const char* wrong[] = {"0", "65536", "port"};
  for (size_t i = 0; i < std::size(wrong); ++i) {
    ASSERT_TRUE(WaitUntil(
        [&] {
          return term->WaitForScreen(kPortPrompt, milliseconds(10)) && Count(term->Screen(), kPortPrompt) == i + 1;
        },
        kLimit));
    term->Type(std::string(wrong[i]) + "\n");
  }
  ASSERT_TRUE(WaitUntil(
      [&] { return term->WaitForScreen(kPortPrompt, milliseconds(10)) && Count(term->Screen(), kPortPrompt) == 4; },
      kLimit))
      << term->Screen();
  EXPECT_EQ(3u, Count(term->Screen(), " ERROR !  Number invalid or out of range (1 - 65535) !"));
  term->Type("q\n");
  EXPECT_EQ(std::optional<int>(0), term->WaitForExit(kLimit));
}

TEST_F(KeeptermConnect, AServerThatNeverAnswersHasNoUps) {
  LoopbackListener silent;
  ASSERT_TRUE(silent.Ok());
  auto term = StartKeepterm();
  ASSERT_TRUE(term->WaitForScreen(kHostPrompt, kLimit));
  term->Type("127.0.0.1\n");
  ASSERT_TRUE(term->WaitForScreen(kPortPrompt, kLimit));
  term->Type(std::to_string(silent.Port()) + "\n");
  ASSERT_TRUE(silent.Accept(kLimit));
  const std::string request = ScrambleText("<|100|>") + "\r\n";
  EXPECT_EQ(request, silent.Read(request.size()));

  ASSERT_TRUE(term->WaitForScreen("Connected with 127.0.0.1 but no UPS found !", kAnswerTimeLimit)) << term->Screen();
  const std::string screen = term->Screen();
  const size_t timeout = screen.find(" ERROR !  Communication timeout with server module !");
  ASSERT_NE(std::string::npos, timeout);
  EXPECT_LT(timeout, screen.find("Connected with 127.0.0.1 but no UPS found !"));
  term->Type("\n");
  // Asked again for a server; the silent one is let go when the program ends.
  ASSERT_TRUE(WaitUntil(
      [&] { return term->WaitForScreen(kHostPrompt, milliseconds(10)) && Count(term->Screen(), kHostPrompt) == 2; },
      kLimit));
  term->Type("q\n");
  EXPECT_EQ(std::optional<int>(0), term->WaitForExit(kLimit));
  EXPECT_TRUE(silent.SeesEnd(kLimit));
}

TEST_F(KeeptermConnect, AServerThatIsNotThereIsReported) {
  const int port = ClosedLoopbackPort();
  auto term = StartKeepterm();
  ASSERT_TRUE(term->WaitForScreen(kHostPrompt, kLimit));
  term->Type("127.0.0.1\n");
  ASSERT_TRUE(term->WaitForScreen(kPortPrompt, kLimit));
  term->Type(std::to_string(port) + "\n");
  EXPECT_TRUE(term->WaitForScreen("Host 127.0.0.1 on port " + std::to_string(port) + " not found !", kLimit))
      << term->Screen();
  term->Type("\nq\n");
  EXPECT_EQ(std::optional<int>(0), term->WaitForExit(kLimit));
}

TEST_F(KeeptermConnect, ReachesTheMainMenuOfKeepdAndLeavesItWithQ) {
  const int port = ClosedLoopbackPort();
  ASSERT_NO_FATAL_FAILURE(StartServer(port));
  auto term = StartKeepterm();
  ASSERT_TRUE(term->WaitForScreen(kHostPrompt, kLimit));
  term->Type("localhost\n");
  ASSERT_TRUE(term->WaitForScreen(kPortPrompt, kLimit));
  term->Type(std::to_string(port) + "\n");
  const std::string entry = "Disconnect from Powerkeep (localhost:" + std::to_string(port) + ")";
  ASSERT_TRUE(term->WaitForScreen(entry, kLimit)) << term->Screen();
  EXPECT_NE(std::string::npos, term->Screen().find(" Wait..... "));
  EXPECT_NE(std::string::npos, term->Screen().find("******** MAIN MENU ********"));
  term->Type("q\n");
  EXPECT_EQ(std::optional<int>(0), term->WaitForExit(kLimit)) << term->Screen();
}

TEST_F(KeeptermConnect, EmptyHostAndPortReachTheDefaultServer) {
  if (!PortIsFree(5769)) GTEST_SKIP() << "port 5769 is taken on this machine; the unit tests cover the defaults";
  ASSERT_NO_FATAL_FAILURE(StartServer(5769));
  auto term = StartKeepterm();
  ASSERT_TRUE(term->WaitForScreen(kHostPrompt, kLimit));
  term->Type("\n");
  ASSERT_TRUE(term->WaitForScreen(kPortPrompt, kLimit));
  term->Type("\n");
  ASSERT_TRUE(term->WaitForScreen("Disconnect from Powerkeep (127.0.0.1:5769)", kLimit)) << term->Screen();
  term->Type("q\n");
  EXPECT_EQ(std::optional<int>(0), term->WaitForExit(kLimit));
}

// keepterm run by a shell that reports the terminal's mode after it: cooked (line editing and
// echo) whether keepterm ended by itself or by Ctrl+C.
class KeeptermTerminalMode : public ::testing::Test {
 protected:
  std::unique_ptr<PtyProcess> StartInShell() {
    const std::string script = "trap : INT; '" + KeeptermPath() + "'; echo \"status=$?\"; stty -a";
    auto shell = std::make_unique<PtyProcess>("/bin/sh", std::vector<std::string>{"-c", script},
                                              std::map<std::string, std::string>{});
    EXPECT_TRUE(shell->Started());
    return shell;
  }

  static void ExpectCooked(const std::string& screen) {
    const size_t report = screen.find("status=");
    ASSERT_NE(std::string::npos, report) << screen;
    const std::string mode = screen.substr(report);
    EXPECT_NE(std::string::npos, mode.find(" icanon")) << mode;
    EXPECT_EQ(std::string::npos, mode.find("-icanon")) << mode;
    EXPECT_EQ(std::string::npos, mode.find("-echo ")) << mode;
    EXPECT_EQ(std::string::npos, mode.find("-isig")) << mode;
  }
};

TEST_F(KeeptermTerminalMode, IsCookedAfterANormalEnd) {
  auto shell = StartInShell();
  ASSERT_TRUE(shell->WaitForScreen(kHostPrompt, kLimit));
  shell->Type("q\n");
  ASSERT_TRUE(shell->WaitForScreen("status=0", kLimit)) << shell->Screen();
  EXPECT_EQ(std::optional<int>(0), shell->WaitForExit(kLimit));
  ExpectCooked(shell->Screen());
}

TEST_F(KeeptermTerminalMode, CtrlCEndsKeeptermAndLeavesTheTerminalCooked) {
  auto shell = StartInShell();
  ASSERT_TRUE(shell->WaitForScreen(kHostPrompt, kLimit));
  shell->Type("\x03");
  ASSERT_TRUE(shell->WaitForScreen("status=130", kLimit)) << shell->Screen();
  EXPECT_EQ(std::optional<int>(0), shell->WaitForExit(kLimit));
  ExpectCooked(shell->Screen());
}

}  // namespace
}  // namespace keep::test
