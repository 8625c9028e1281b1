#include "platform/dialogs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace keep::platform {
namespace {

constexpr int kAnsweredYes = 10;
constexpr int kAnsweredNo = 20;

// The child's exit code, or -1 when it did not end within the time (it is then killed).
int WaitForExit(pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MessageBoxTest, WritesCaptionAndTextWithLineBreaksToStandardError) {
  const auto dialogs = Dialogs::CreateSystem();
  ::testing::internal::CaptureStderr();
  const int answer = dialogs->ShowMessageBox("Voltrena", "Power failure\r\nOn battery\rSoon down", kMbIconError);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Voltrena: Power failure\nOn battery\nSoon down\n");
  EXPECT_EQ(answer, kIdOk);
}

TEST(AskYesNoTest, NoTerminalMeansNo) {
  const auto dialogs = Dialogs::CreateSystem();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A new session has no controlling terminal.
    ::setsid();
    ::_exit(dialogs->AskYesNo("Voltrena", "Stop?") ? kAnsweredYes : kAnsweredNo);
  }
  EXPECT_EQ(WaitForExit(child), kAnsweredNo);
}

// Asks in a child whose controlling terminal is a pty, types `answer` (or hangs up when it is
// null) and returns what the child was asked through `asked`.
int AskOnTerminal(const char* answer, std::string& asked) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return -1;
  const std::string slave = ::ptsname(master);
  const auto dialogs = Dialogs::CreateSystem();
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    ::close(master);
    // A hang-up would otherwise end the child before AskYesNo sees the terminal go.
    ::signal(SIGHUP, SIG_IGN);
    ::setsid();
    // The first terminal a session leader opens becomes its controlling terminal.
    if (::open(slave.c_str(), O_RDWR) < 0) ::_exit(1);
    ::_exit(dialogs->AskYesNo("Voltrena", "Stop the server?") ? kAnsweredYes : kAnsweredNo);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (asked.find("[y/N] ") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    asked.append(buffer, static_cast<size_t>(got));
  }
  if (answer != nullptr) {
    const std::string typed = answer;
    if (::write(master, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) asked += "<write failed>";
  } else {
    ::close(master);
  }
  const int code = WaitForExit(child);
  if (answer != nullptr) ::close(master);
  return code;
}

TEST(AskYesNoTest, AsksOnTheControllingTerminal) {
  std::string asked;
  EXPECT_EQ(AskOnTerminal("y\n", asked), kAnsweredYes);
  EXPECT_EQ(asked, "Voltrena: Stop the server? [y/N] ");
}

TEST(AskYesNoTest, OnlyYOrYesInAnyCaseIsYes) {
  for (const char* yes : {"Y\n", "yes\n", "  YeS \n", "yes\r\n"}) {
    std::string asked;
    EXPECT_EQ(AskOnTerminal(yes, asked), kAnsweredYes) << yes;
  }
  for (const char* no : {"\n", "n\n", "no\n", "yes please\n", "yy\n"}) {
    std::string asked;
    EXPECT_EQ(AskOnTerminal(no, asked), kAnsweredNo) << no;
  }
}

TEST(AskYesNoTest, HangUpMeansNo) {
  std::string asked;
  EXPECT_EQ(AskOnTerminal(nullptr, asked), kAnsweredNo);
}

}  // namespace
}  // namespace keep::platform
