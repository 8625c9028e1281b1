// keepterm as a person at a terminal runs it: on a pseudo-terminal of its own, against keepd with
// upssim playing the UPS, or against a listener that never answers.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/scrambling.h"
#include "tests/support/keepterm_session.h"
#include "tests/support/loopback_listener.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

// A request that is never answered is given up after 400 polls of 100 ms.
constexpr milliseconds kAnswerTimeLimit{60000};

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

class KeeptermConnect : public KeeptermOnKeepd {};

TEST_F(KeeptermConnect, CreditsSwitchWritesOneLineAndEnds) {
  KeeptermSession term({"-cr"});
  ASSERT_TRUE(term.Started());
  EXPECT_EQ(std::optional<int>(0), term.WaitForExit());
  EXPECT_NE(std::string::npos, term.Plain().find("Voltrena Console")) << term.Plain();
  EXPECT_EQ(std::string::npos, term.Plain().find(kHostPrompt));
}

TEST_F(KeeptermConnect, QAtTheHostQuestionEndsTheProgram) {
  KeeptermSession term;
  ASSERT_TRUE(term.Shows(kHostPrompt)) << term.Plain();
  EXPECT_NE(std::string::npos, term.Plain().find(kStartupLine));
  EXPECT_EQ(std::optional<int>(0), term.Quit()) << term.Plain();
}

TEST_F(KeeptermConnect, QAtThePortQuestionEndsTheProgram) {
  KeeptermSession term;
  ASSERT_TRUE(term.Shows(kHostPrompt));
  ASSERT_TRUE(term.TypeAndWait("\n", kPortPrompt, 1));
  term.Type("Q\n");
  EXPECT_EQ(std::optional<int>(0), term.WaitForExit()) << term.Plain();
}

TEST_F(KeeptermConnect, PortsOutsideOneTo65535AreRefused) {
  KeeptermSession term;
  ASSERT_TRUE(term.Shows(kHostPrompt));
  term.Type("\n");
  const char* wrong[] = {"0", "65536", "port"};
  for (size_t i = 0; i < std::size(wrong); ++i) {
    ASSERT_TRUE(term.Shows(kPortPrompt, static_cast<int>(i) + 1)) << term.Plain();
    term.Type(std::string(wrong[i]) + "\n");
  }
  ASSERT_TRUE(term.Shows(kPortPrompt, 4)) << term.Plain();
  EXPECT_EQ(3, term.Count(" ERROR !  Number invalid or out of range (1 - 65535) !"));
  EXPECT_EQ(std::optional<int>(0), term.Quit());
}

TEST_F(KeeptermConnect, AServerThatNeverAnswersHasNoUps) {
  LoopbackListener silent;
  ASSERT_TRUE(silent.Ok());
  KeeptermSession term;
  ASSERT_TRUE(term.Shows(kHostPrompt));
  ASSERT_TRUE(term.TypeAndWait("127.0.0.1\n", kPortPrompt, 1));
  term.Type(std::to_string(silent.Port()) + "\n");
  ASSERT_TRUE(silent.Accept(kLimit));
  const std::string request = ScrambleText("<|100|>") + "\r\n";
  EXPECT_EQ(request, silent.Read(request.size()));

  ASSERT_TRUE(term.Shows("Connected with 127.0.0.1 but no UPS found !", 1, kAnswerTimeLimit)) << term.Plain();
  const std::string screen = term.Plain();
  const size_t timeout = screen.find(" ERROR !  Communication timeout with server module !");
  ASSERT_NE(std::string::npos, timeout);
  EXPECT_LT(timeout, screen.find("Connected with 127.0.0.1 but no UPS found !"));
  // Asked again for a server; the silent one is let go when the program ends.
  ASSERT_TRUE(term.TypeAndWait("\n", kHostPrompt, 2)) << term.Plain();
  EXPECT_EQ(std::optional<int>(0), term.Quit());
  EXPECT_TRUE(silent.SeesEnd(kLimit));
}

TEST_F(KeeptermConnect, AServerThatIsNotThereIsReported) {
  const int port = ClosedLoopbackPort();
  KeeptermSession term;
  ASSERT_TRUE(term.Shows(kHostPrompt));
  ASSERT_TRUE(term.TypeAndWait("127.0.0.1\n", kPortPrompt, 1));
  term.Type(std::to_string(port) + "\n");
  EXPECT_TRUE(term.Shows("Host 127.0.0.1 on port " + std::to_string(port) + " not found !")) << term.Plain();
  term.Type("\nq\n");
  EXPECT_EQ(std::optional<int>(0), term.WaitForExit());
}

TEST_F(KeeptermConnect, ReachesTheMainMenuOfKeepdAndLeavesItWithQ) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  KeeptermSession term;
  ASSERT_TRUE(term.Shows(kHostPrompt));
  ASSERT_TRUE(term.TypeAndWait("localhost\n", kPortPrompt, 1));
  term.Type(std::to_string(port_) + "\n");
  const std::string entry = "Disconnect from Powerkeep (localhost:" + std::to_string(port_) + ")";
  ASSERT_TRUE(term.Shows(entry)) << term.Plain();
  EXPECT_NE(std::string::npos, term.Plain().find(" Wait..... "));
  EXPECT_NE(std::string::npos, term.Plain().find("******** MAIN MENU ********"));
  EXPECT_EQ(std::optional<int>(0), term.Quit()) << term.Plain();
}

TEST_F(KeeptermConnect, EmptyHostAndPortReachTheDefaultServer) {
  if (!PortIsFree(5769)) GTEST_SKIP() << "port 5769 is taken on this machine; the unit tests cover the defaults";
  ASSERT_NO_FATAL_FAILURE(StartServer("", 5769));
  KeeptermSession term;
  ASSERT_TRUE(term.Shows(kHostPrompt));
  ASSERT_TRUE(term.TypeAndWait("\n", kPortPrompt, 1));
  term.Type("\n");
  ASSERT_TRUE(term.Shows("Disconnect from Powerkeep (127.0.0.1:5769)")) << term.Plain();
  EXPECT_EQ(std::optional<int>(0), term.Quit());
}

// keepterm run by a shell that reports the terminal's mode after it: cooked (line editing and
// echo) whether keepterm ended by itself or by Ctrl+C.
class KeeptermTerminalMode : public ::testing::Test {
 protected:
  std::unique_ptr<KeeptermSession> Shell() {
    const std::string script = "trap : INT; '" + KeeptermPath() + "'; echo \"status=$?\"; stty -a";
    auto shell = std::make_unique<KeeptermSession>("/bin/sh", std::vector<std::string>{"-c", script},
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
  auto shell = Shell();
  ASSERT_TRUE(shell->Shows(kHostPrompt));
  ASSERT_TRUE(shell->TypeAndWait("q\n", "status=0", 1)) << shell->Plain();
  EXPECT_EQ(std::optional<int>(0), shell->WaitForExit());
  ExpectCooked(shell->Screen());
}

TEST_F(KeeptermTerminalMode, CtrlCEndsKeeptermAndLeavesTheTerminalCooked) {
  auto shell = Shell();
  ASSERT_TRUE(shell->Shows(kHostPrompt));
  ASSERT_TRUE(shell->TypeAndWait("\x03", "status=130", 1)) << shell->Plain();
  EXPECT_EQ(std::optional<int>(0), shell->WaitForExit());
  ExpectCooked(shell->Screen());
}

}  // namespace
}  // namespace keep::test
