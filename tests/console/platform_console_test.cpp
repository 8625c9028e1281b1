// The terminal of the platform layer: key decoding, the locale check, and line and key reads on a
// pseudo-terminal, including the restoring of the terminal's mode.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/console.h"
#include "tests/support/pty_pair.h"

namespace keep::platform {
namespace {

using std::chrono::milliseconds;

KeyPress Decode(std::string_view bytes, size_t expected_used) {
  size_t used = 0;
  const std::optional<KeyPress> key = DecodeKeySequence(bytes, &used);
  EXPECT_EQ(expected_used, used) << bytes;
  return key.value_or(KeyPress{-1, -1});
}

TEST(DecodeKeySequenceTest, PlainBytesAreTheirCharacters) {
  EXPECT_EQ((KeyPress{'r', 0}), Decode("rest", 1));
  EXPECT_EQ((KeyPress{'\r', 0}), Decode("\r", 1));
  EXPECT_EQ((KeyPress{8, 0}), Decode("\x7f", 1)) << "DEL is the backspace key";
  EXPECT_EQ((KeyPress{27, 0}), Decode("\x1b", 1)) << "Escape alone";
  EXPECT_EQ((KeyPress{'x', 0}), Decode("\x1bx", 2)) << "Alt+x still gives x";
}

TEST(DecodeKeySequenceTest, CursorAndFunctionKeysGiveExtendedCodes) {
  EXPECT_EQ((KeyPress{0, ExtendedKeyCode(kScanUp, 0)}), Decode("\x1b[A", 3));
  EXPECT_EQ((KeyPress{0, ExtendedKeyCode(kScanLeft, 0)}), Decode("\x1bOD", 3));
  EXPECT_EQ((KeyPress{0, ExtendedKeyCode(kScanF1, 0)}), Decode("\x1bOP", 3));
  EXPECT_EQ((KeyPress{0, ExtendedKeyCode(kScanF1 + 4, 0)}), Decode("\x1b[15~", 5));
  EXPECT_EQ((KeyPress{0, ExtendedKeyCode(kScanF12, 0)}), Decode("\x1b[24~", 5));
  EXPECT_EQ((KeyPress{0, ExtendedKeyCode(kScanF1 + 2, 0)}), Decode("\x1b[[C", 4)) << "Linux console F3";
  EXPECT_EQ((KeyPress{0, ExtendedKeyCode(kScanDelete, 0)}), Decode("\x1b[3~x", 4));
  EXPECT_EQ((KeyPress{0, ExtendedKeyCode(kScanPageDown, 0)}), Decode("\x1b[6~", 4));
}

TEST(DecodeKeySequenceTest, ModifiersChangeTheCodeButNotItsLowByte) {
  const KeyPress ctrl_up = Decode("\x1b[1;5A", 6);
  EXPECT_EQ(ExtendedKeyCode(kScanUp, kKeyCtrl), ctrl_up.extended);
  EXPECT_EQ(kScanUp, ctrl_up.extended & 0xFF);
  EXPECT_EQ(ExtendedKeyCode(kScanDelete, kKeyShift), Decode("\x1b[3;2~", 6).extended);
  EXPECT_EQ(ExtendedKeyCode(kScanF1, kKeyAlt | kKeyShift), Decode("\x1b[1;4P", 6).extended);
  EXPECT_NE(Decode("\x1b[A", 3).extended, ctrl_up.extended);
  for (const int code : {ExtendedKeyCode(kScanUp, 0), ctrl_up.extended}) EXPECT_GE(code, 256);
}

TEST(DecodeKeySequenceTest, UnknownOrCutSequencesAreSkippedWhole) {
  size_t used = 0;
  EXPECT_FALSE(DecodeKeySequence("\x1b[99~rest", &used).has_value());
  EXPECT_EQ(5u, used);
  EXPECT_FALSE(DecodeKeySequence("\x1b[Z", &used).has_value());
  EXPECT_EQ(3u, used);
  EXPECT_FALSE(DecodeKeySequence("\x1b[1;5", &used).has_value());
  EXPECT_EQ(5u, used) << "no final byte came";
  EXPECT_FALSE(DecodeKeySequence("", &used).has_value());
  EXPECT_EQ(0u, used);
  EXPECT_FALSE(DecodeKeySequence("\x1b[99999999999999999999~", &used).has_value()) << "a runaway number";
}

TEST(LocaleIsUtf8Test, TheFirstNonEmptyVariableDecides) {
  EXPECT_TRUE(LocaleIsUtf8("", "", "en_US.UTF-8"));
  EXPECT_TRUE(LocaleIsUtf8("", "de_DE.utf8", "C"));
  EXPECT_FALSE(LocaleIsUtf8("C", "de_DE.utf8", "en_US.UTF-8"));
  EXPECT_FALSE(LocaleIsUtf8("", "", "en_US.ISO-8859-1"));
  EXPECT_FALSE(LocaleIsUtf8("", "", ""));
  EXPECT_TRUE(LocaleIsUtf8("C.UTF-8", "", ""));
}

// A pseudo-terminal with its slave in the usual cooked mode, and the terminal under test on it.
class PtyTerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok());
    termios t{};
    ASSERT_EQ(0, tcgetattr(pty_.Slave(), &t));
    t.c_iflag |= ICRNL;
    t.c_lflag |= ICANON | ECHO | ISIG;
    ASSERT_EQ(0, tcsetattr(pty_.Slave(), TCSANOW, &t));
    cooked_ = Mode();
    terminal_ = Terminal::OpenDevice(pty_.SlavePath());
    ASSERT_NE(nullptr, terminal_);
  }

  termios Mode() const {
    termios t{};
    tcgetattr(pty_.Slave(), &t);
    return t;
  }
  bool IsCooked() const {
    const termios t = Mode();
    return (t.c_lflag & ICANON) != 0 && (t.c_lflag & ECHO) != 0 && (t.c_iflag & ICRNL) != 0;
  }
  // Waits until the slave has left cooked mode (a key read has begun).
  bool WaitRaw() const {
    for (int i = 0; i < 5000; ++i) {
      if ((Mode().c_lflag & ICANON) == 0) return true;
      std::this_thread::sleep_for(milliseconds(1));
    }
    return false;
  }

  test::PtyPair pty_;
  termios cooked_{};
  std::unique_ptr<Terminal> terminal_;
};

TEST_F(PtyTerminalTest, ReadsTypedLinesOneByOne) {
  pty_.WriteMaster("first\nsecond\r\n");
  EXPECT_EQ("first", terminal_->ReadLine({}).value_or("?"));
  EXPECT_EQ("second", terminal_->ReadLine({}).value_or("?"));
}

TEST_F(PtyTerminalTest, AStopRequestEndsAWaitingRead) {
  std::stop_source stop;
  auto read = std::async(std::launch::async, [&] { return terminal_->ReadLine(stop.get_token()); });
  std::this_thread::sleep_for(milliseconds(20));
  stop.request_stop();
  ASSERT_EQ(std::future_status::ready, read.wait_for(std::chrono::seconds(5)));
  EXPECT_FALSE(read.get().has_value());
  pty_.WriteMaster("later\n");
  EXPECT_EQ("later", terminal_->ReadLine({}).value_or("?")) << "nothing was lost";
}

TEST_F(PtyTerminalTest, TwoReadersShareTheLinesWithoutLosingAny) {
  auto first = std::async(std::launch::async, [&] { return terminal_->ReadLine({}); });
  auto second = std::async(std::launch::async, [&] { return terminal_->ReadLine({}); });
  std::this_thread::sleep_for(milliseconds(20));
  pty_.WriteMaster("a\n");
  std::this_thread::sleep_for(milliseconds(20));
  pty_.WriteMaster("b\n");
  ASSERT_EQ(std::future_status::ready, first.wait_for(std::chrono::seconds(5)));
  ASSERT_EQ(std::future_status::ready, second.wait_for(std::chrono::seconds(5)));
  const std::string got = first.get().value_or("?") + second.get().value_or("?");
  EXPECT_TRUE(got == "ab" || got == "ba") << got;
}

TEST_F(PtyTerminalTest, AKeyIsReadInRawModeAndTheModeIsRestored) {
  auto read = std::async(std::launch::async, [&] { return terminal_->ReadKey({}); });
  ASSERT_TRUE(WaitRaw());
  EXPECT_EQ(0u, Mode().c_lflag & ECHO);
  EXPECT_NE(0u, Mode().c_lflag & ISIG) << "Ctrl+C must still interrupt";
  pty_.WriteMaster("r");
  ASSERT_EQ(std::future_status::ready, read.wait_for(std::chrono::seconds(5)));
  EXPECT_EQ((KeyPress{'r', 0}), read.get().value_or(KeyPress{}));
  EXPECT_TRUE(IsCooked());
  EXPECT_EQ("", pty_.ReadMaster(1, milliseconds(50))) << "no echo";
}

TEST_F(PtyTerminalTest, EnterIsCarriageReturnAndCursorKeysAreExtended) {
  auto read = std::async(std::launch::async, [&] { return terminal_->ReadKey({}); });
  ASSERT_TRUE(WaitRaw());
  pty_.WriteMaster("\r");
  EXPECT_EQ((KeyPress{'\r', 0}), read.get().value_or(KeyPress{}));

  pty_.WriteMaster("\x1b[B");
  EXPECT_EQ((KeyPress{0, ExtendedKeyCode(kScanDown, 0)}), terminal_->ReadKey({}).value_or(KeyPress{}));
  EXPECT_TRUE(IsCooked());
}

TEST_F(PtyTerminalTest, SigintDuringAKeyReadRestoresTheModeAndEndsTheProcess) {
  const std::string path = pty_.SlavePath();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::unique_ptr<Terminal> terminal = Terminal::OpenDevice(path);
    if (terminal != nullptr) terminal->ReadKey({});
    _exit(3);
  }
  ASSERT_TRUE(WaitRaw());
  kill(child, SIGINT);
  int status = 0;
  for (int i = 0; i < 5000 && waitpid(child, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(milliseconds(1));
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  EXPECT_EQ(SIGINT, WTERMSIG(status));
  EXPECT_TRUE(IsCooked());
}

TEST_F(PtyTerminalTest, IsUtf8FollowsTheEnvironment) {
  const char* saved = getenv("LC_ALL");
  const std::string before = saved == nullptr ? "" : saved;
  setenv("LC_ALL", "en_GB.UTF-8", 1);
  EXPECT_TRUE(terminal_->IsUtf8());
  setenv("LC_ALL", "POSIX", 1);
  EXPECT_FALSE(terminal_->IsUtf8());
  if (saved == nullptr) {
    unsetenv("LC_ALL");
  } else {
    setenv("LC_ALL", before.c_str(), 1);
  }
}

}  // namespace
}  // namespace keep::platform
