// The Windows console: key events decode onto the scan-code key model; input that is not a console
// (a pipe) is read as it comes, lines and keys alike, and a waiting read honours its stop.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "platform/console_key_win.h"

namespace keep::platform {
namespace {

constexpr uint32_t kRightAltState = RIGHT_ALT_PRESSED;
constexpr uint32_t kLeftAltState = LEFT_ALT_PRESSED;
constexpr uint32_t kCtrlState = LEFT_CTRL_PRESSED;
constexpr uint32_t kShiftState = SHIFT_PRESSED;
constexpr uint32_t kEnhanced = ENHANCED_KEY;

KeyPress Char(char c) { return KeyPress{c, 0}; }
KeyPress Ext(int scan, int modifiers = 0) { return KeyPress{0, ExtendedKeyCode(scan, modifiers)}; }

TEST(WindowsConsoleKeyTest, EventsDecodeOntoTheScanCodeModel) {
  struct Case {
    const char* what;
    ConsoleKeyEvent event;
    std::vector<KeyPress> keys;
  };
  const Case cases[] = {
      {"letter", {true, 'A', 0x1E, u'a', 0}, {Char('a')}},
      {"shifted letter", {true, 'A', 0x1E, u'A', kShiftState}, {Char('A')}},
      {"Ctrl+C as a key", {true, 'C', 0x2E, 3, kCtrlState}, {Char(3)}},
      {"Alt+letter keeps its character", {true, 'X', 0x2D, u'x', kLeftAltState}, {Char('x')}},
      {"Enter", {true, VK_RETURN, 0x1C, 13, 0}, {Char(13)}},
      {"F1", {true, VK_F1, 0x3B, 0, 0}, {Ext(kScanF1)}},
      {"F11 renumbered", {true, VK_F11, 0x57, 0, 0}, {Ext(kScanF11)}},
      {"Shift+F12 renumbered", {true, VK_F12, 0x58, 0, kShiftState}, {Ext(kScanF12, kKeyShift)}},
      {"Up", {true, VK_UP, 0x48, 0, kEnhanced}, {Ext(kScanUp)}},
      {"Shift+Down", {true, VK_DOWN, 0x50, 0, kEnhanced | kShiftState}, {Ext(kScanDown, kKeyShift)}},
      {"Ctrl+Left", {true, VK_LEFT, 0x4B, 0, kEnhanced | kCtrlState}, {Ext(kScanLeft, kKeyCtrl)}},
      {"Alt+Right (right Alt)", {true, VK_RIGHT, 0x4D, 0, kEnhanced | kRightAltState}, {Ext(kScanRight, kKeyAlt)}},
      {"Delete", {true, VK_DELETE, 0x53, 0, kEnhanced}, {Ext(kScanDelete)}},
      {"Ctrl+Alt+Shift+End", {true, VK_END, 0x4F, 0, kCtrlState | kLeftAltState | kShiftState},
       {Ext(kScanEnd, kKeyShift | kKeyAlt | kKeyCtrl)}},
      {"AltGr character stays a character", {true, 'Q', 0x10, u'@', kRightAltState | kCtrlState}, {Char('@')}},
      {"AltGr character beyond ASCII as UTF-8", {true, 'E', 0x12, u'\u20AC', kRightAltState | kCtrlState},
       {Char('\xE2'), Char('\x82'), Char('\xAC')}},
      {"degree sign as UTF-8", {true, 0xDE, 0x28, u'\u00B0', kShiftState}, {Char('\xC2'), Char('\xB0')}},
      {"half a surrogate pair", {true, 0, 0, u'\xD83D', 0}, {}},
      {"key released", {false, 'A', 0x1E, u'a', 0}, {}},
      {"Shift alone", {true, VK_SHIFT, 0x2A, 0, kShiftState}, {}},
      {"Ctrl alone", {true, VK_CONTROL, 0x1D, 0, kCtrlState}, {}},
      {"Alt alone", {true, VK_MENU, 0x38, 0, kLeftAltState}, {}},
      {"right Ctrl alone", {true, VK_RCONTROL, 0x1D, 0, RIGHT_CTRL_PRESSED}, {}},
      {"Caps Lock", {true, VK_CAPITAL, 0x3A, 0, CAPSLOCK_ON}, {}},
      {"Num Lock", {true, VK_NUMLOCK, 0x45, 0, kEnhanced}, {}},
      {"Windows key", {true, VK_LWIN, 0x5B, 0, kEnhanced}, {}},
      {"Alt+keypad number arrives with Alt's release", {false, VK_MENU, 0x38, u'\u00E9', 0},
       {Char('\xC3'), Char('\xA9')}},
      {"no scan code, no character", {true, 0xFF, 0, 0, 0}, {}},
      {"scan code beyond a byte", {true, 0xFF, 0x1E0, 0, 0}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(KeyPressesOfEvent(c.event), c.keys) << c.what;
}

// Standard input replaced by a pipe for the lifetime of the object, as when input is redirected.
class PipedStandardInput {
 public:
  PipedStandardInput() {
    saved_ = GetStdHandle(STD_INPUT_HANDLE);
    EXPECT_NE(CreatePipe(&read_, &write_, nullptr, 0), 0);
    SetStdHandle(STD_INPUT_HANDLE, read_);
  }
  ~PipedStandardInput() {
    SetStdHandle(STD_INPUT_HANDLE, saved_);
    CloseWriter();
    CloseHandle(read_);
  }
  PipedStandardInput(const PipedStandardInput&) = delete;
  PipedStandardInput& operator=(const PipedStandardInput&) = delete;

  void Send(std::string_view bytes) {
    DWORD written = 0;
    ASSERT_NE(WriteFile(write_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr), 0);
    ASSERT_EQ(written, bytes.size());
  }
  void CloseWriter() {
    if (write_ != nullptr) CloseHandle(write_);
    write_ = nullptr;
  }

 private:
  HANDLE saved_ = nullptr;
  HANDLE read_ = nullptr;
  HANDLE write_ = nullptr;
};

TEST(WindowsConsoleTest, PipedInputGivesLinesAndKeysAsTheyComeUntilItsEnd) {
  PipedStandardInput pipe;
  std::unique_ptr<Terminal> terminal = Terminal::CreateStandard();
  std::stop_source never;

  // A line that arrives in two pieces, with a Windows line end, and keys behind it; a key read
  // decodes the bytes as a terminal's (ESC [ A is Up, DEL is backspace).
  pipe.Send("first ha");
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pipe.Send("lf\r\nq\x1b[A\x7f");
  });
  EXPECT_EQ(terminal->ReadLine(never.get_token()), "first half");
  late.join();
  EXPECT_EQ(terminal->ReadKey(never.get_token()), Char('q'));
  EXPECT_EQ(terminal->ReadKey(never.get_token()), Ext(kScanUp));
  EXPECT_EQ(terminal->ReadKey(never.get_token()), Char(8));

  // The last line without line end comes once the writer has gone; then the end.
  pipe.Send("last");
  pipe.CloseWriter();
  EXPECT_EQ(terminal->ReadLine(never.get_token()), "last");
  EXPECT_EQ(terminal->ReadLine(never.get_token()), std::nullopt);
  EXPECT_EQ(terminal->ReadKey(never.get_token()), std::nullopt);
}

// Stops `source` after a moment; the read it was given to ends soon after.
std::chrono::steady_clock::duration TimeToStop(std::stop_source& source, const std::function<void()>& read) {
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    source.request_stop();
  });
  const auto started = std::chrono::steady_clock::now();
  read();
  stopper.join();
  return std::chrono::steady_clock::now() - started;
}

TEST(WindowsConsoleTest, WaitingReadsEndWhenStoppedAndLoseNothing) {
  PipedStandardInput pipe;
  std::unique_ptr<Terminal> terminal = Terminal::CreateStandard();
  pipe.Send("par");
  std::stop_source line_stop;
  EXPECT_LT(TimeToStop(line_stop, [&] { EXPECT_EQ(terminal->ReadLine(line_stop.get_token()), std::nullopt); }),
            std::chrono::seconds(3));
  pipe.Send("tial\n");
  std::stop_source never;
  EXPECT_EQ(terminal->ReadLine(never.get_token()), "partial");

  std::stop_source key_stop;
  EXPECT_LT(TimeToStop(key_stop, [&] { EXPECT_EQ(terminal->ReadKey(key_stop.get_token()), std::nullopt); }),
            std::chrono::seconds(3));
  pipe.Send("y");
  EXPECT_EQ(terminal->ReadKey(never.get_token()), Char('y'));
}

TEST(WindowsConsoleTest, OnlyTheConsoleOpensAsADevice) {
  EXPECT_EQ(Terminal::OpenDevice("COM1"), nullptr);
  EXPECT_EQ(Terminal::OpenDevice("CONSOLE"), nullptr);
  EXPECT_EQ(Terminal::OpenDevice(""), nullptr);
}

}  // namespace
}  // namespace keep::platform
