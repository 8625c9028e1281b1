#include "platform/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_folder_test.h"

namespace keep::platform {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

// No child of this process, running or ended, is left. Finished ones are looked at, not reaped.
bool HasNoChildren() {
  siginfo_t info{};
  return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD;
}

class StartProgramTest : public test::TempFolderTest {
 protected:
  const fs::path& dir_ = folder_;
  std::string out_ = (dir_ / "out.txt").string();

  // A shell script writing `body`'s output to out_.
  std::string WriteScript(const std::string& name, const std::string& body, bool executable) {
    const fs::path path = dir_ / name;
    std::ofstream(path) << "#!/bin/sh\n{\n" << body << "\n} > '" << out_ << "'\n";
    fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
    return path.string();
  }
  std::string ArgumentsScript(const std::string& name, bool executable) {
    return WriteScript(name, R"(for a in "$@"; do printf '%s\n' "$a"; done)", executable);
  }

  std::vector<std::string> OutputLines() const {
    std::ifstream in(out_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string Output() const {
    std::ostringstream text;
    text << std::ifstream(out_).rdbuf();
    return text.str();
  }

  static constexpr StartOptions kWait{.wait = true, .hidden = true};
};

TEST_F(StartProgramTest, MissingOrUnrunnableFileIsNotStarted) {
  EXPECT_FALSE(StartProgram((dir_ / "missing").string(), "", kWait));
  EXPECT_FALSE(StartProgram("", "", kWait));
  EXPECT_FALSE(StartProgram(dir_.string(), "", kWait));
  EXPECT_FALSE(StartProgram(ArgumentsScript("tool", /*executable=*/false), "a", kWait));
  EXPECT_FALSE(fs::exists(out_));
}

TEST_F(StartProgramTest, ProgramGetsTheExactWords) {
  const std::string script = ArgumentsScript("tool", true);
  ASSERT_TRUE(StartProgram(script, R"( plain "with  blanks" C:\dir\ "say \"hi\"" "" a\\\"b -b:"x - y")", kWait));
  EXPECT_THAT(OutputLines(),
              ElementsAre("plain", "with  blanks", R"(C:\dir\)", R"(say "hi")", "", R"(a\"b)", "-b:x - y"));
}

TEST_F(StartProgramTest, FirstArgumentIsTheProgramPath) {
  ASSERT_TRUE(StartProgram("/bin/sh", "-c \"printf '%s' \\\"$0\\\" > '" + out_ + "'\"", kWait));
  EXPECT_EQ(Output(), "/bin/sh");
}

TEST_F(StartProgramTest, ExitStatusDoesNotMatter) {
  EXPECT_TRUE(StartProgram(WriteScript("fails", "exit 3", true), "", kWait));
}

TEST_F(StartProgramTest, BatchFileRunsThroughShellWithoutExecuteBit) {
  ASSERT_TRUE(StartProgram(ArgumentsScript("lcldown.sh", /*executable=*/false), R"(one "two words")", kWait));
  EXPECT_THAT(OutputLines(), ElementsAre("one", "two words"));
}

TEST_F(StartProgramTest, BatchFileNamedLikeAnOptionIsStillTheScript) {
  ArgumentsScript("-x.sh", true);
  const fs::path old_dir = fs::current_path();
  fs::current_path(dir_);
  const bool started = StartProgram("-x.sh", "a", kWait);
  fs::current_path(old_dir);
  ASSERT_TRUE(started);
  EXPECT_THAT(OutputLines(), ElementsAre("a"));
}

TEST_F(StartProgramTest, HiddenProgramReadsFromDevNull) {
  ASSERT_TRUE(StartProgram(WriteScript("stdin", "readlink /proc/self/fd/0", true), "", kWait));
  EXPECT_EQ(Output(), "/dev/null\n");
}

TEST_F(StartProgramTest, ProgramLeadsAProcessGroupOfItsOwn) {
  ASSERT_TRUE(StartProgram(WriteScript("group",
                                       "read -r pid comm state ppid pgrp rest < /proc/$$/stat; "
                                       "echo \"$pid $pgrp\"",
                                       true),
                           "", kWait));
  std::istringstream fields(Output());
  pid_t pid = 0;
  pid_t group = 0;
  ASSERT_TRUE(fields >> pid >> group);
  EXPECT_EQ(pid, group);
  EXPECT_NE(group, ::getpgrp());
}

TEST_F(StartProgramTest, ProgramStartsWithoutTheServersBlockedOrIgnoredSignals) {
  // As the server does: stop signals blocked in every thread, SIGPIPE ignored.
  sigset_t stop_signals;
  sigset_t old_mask;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &stop_signals, &old_mask), 0);
  const auto old_pipe = ::signal(SIGPIPE, SIG_IGN);
  const bool started =
      StartProgram(WriteScript("signals", "grep -E '^Sig(Blk|Ign)' /proc/self/status", true), "", kWait);
  ::signal(SIGPIPE, old_pipe);
  ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  ASSERT_TRUE(started);
  std::istringstream status(Output());
  std::string label;
  unsigned long long blocked = 1;
  unsigned long long ignored = 1;
  ASSERT_TRUE(status >> label >> std::hex >> blocked >> label >> ignored);
  EXPECT_EQ(blocked, 0u);
  // Only signals 1-31: the C library keeps its own real-time ones to itself.
  EXPECT_EQ(ignored & 0x7FFFFFFFu, 0u);
}

TEST_F(StartProgramTest, WaitedProgramLeavesNoChild) {
  ASSERT_TRUE(StartProgram(WriteScript("quick", "echo done", true), "", kWait));
  EXPECT_TRUE(HasNoChildren());
  EXPECT_EQ(Output(), "done\n");
}

TEST_F(StartProgramTest, ProgramNotWaitedForIsReapedWhenItEnds) {
  ASSERT_TRUE(StartProgram(WriteScript("quick", "echo done", true), "", StartOptions{.wait = false, .hidden = true}));
  // A real process ends in real time: poll, bounded, instead of a fixed sleep.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!HasNoChildren() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(HasNoChildren()) << "the ended program stays a zombie";
  EXPECT_EQ(Output(), "done\n");
}

}  // namespace
}  // namespace keep::platform
