#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>

#include "platform/console.h"
#include "platform/console_key_win.h"
#include "platform/wide_text_win.h"

namespace keep::platform {

namespace {

constexpr DWORD kWaitStepMs = 100;
// Pipes cannot be waited on; their contents are looked at in steps this long instead.
constexpr DWORD kPipeStepMs = 20;
// How long the rest of a control sequence may lag behind its ESC (input that is not a console).
constexpr DWORD kSequenceGapMs = 50;
// WriteConsoleW is given the text in pieces of at most this many UTF-16 units.
constexpr size_t kWritePiece = 8192;

// The input mode to restore when Ctrl+C, Ctrl+Break or closing the console ends the process in the
// middle of a key read. The control handler runs on a thread of its own and can reach it only
// through static storage; one console is in key mode at a time.
struct KeyModeRecord {
  std::atomic<HANDLE> input{nullptr};
  std::atomic<DWORD> mode{0};
};
KeyModeRecord g_key_mode;

BOOL WINAPI RestoreOnControl(DWORD) {
  const HANDLE input = g_key_mode.input.load();
  if (input != nullptr) SetConsoleMode(input, g_key_mode.mode.load());
  // Not handled: the next handler, in the end the system's, ends the process as it would have.
  return FALSE;
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// Single keys for the lifetime of the object: no line input, no echo. Processed input stays on:
// for ReadConsoleInput its only effect is that Ctrl+C stays a signal (as the POSIX raw mode keeps
// ISIG) instead of arriving as a key.
class KeyModeScope {
 public:
  explicit KeyModeScope(HANDLE input) {
    DWORD current = 0;
    if (GetConsoleMode(input, &current) == 0) return;
    g_key_mode.mode.store(current);
    g_key_mode.input.store(input);
    SetConsoleCtrlHandler(RestoreOnControl, TRUE);
    if (SetConsoleMode(input, current & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) == 0) {
      Leave();
      return;
    }
    input_ = input;
  }
  ~KeyModeScope() {
    if (input_ != nullptr) {
      SetConsoleMode(input_, g_key_mode.mode.load());
      Leave();
    }
  }
  KeyModeScope(const KeyModeScope&) = delete;
  KeyModeScope& operator=(const KeyModeScope&) = delete;

 private:
  void Leave() {
    g_key_mode.input.store(nullptr);
    SetConsoleCtrlHandler(RestoreOnControl, FALSE);
  }

  HANDLE input_ = nullptr;
};

class WindowsTerminal : public Terminal {
 public:
  WindowsTerminal(HANDLE input, HANDLE output, bool owns)
      : input_(input), output_(output), owns_(owns), input_is_console_(IsConsole(input)),
        input_is_pipe_(!input_is_console_ && GetFileType(input) == FILE_TYPE_PIPE) {}
  ~WindowsTerminal() override {
    if (owns_) {
      CloseHandle(input_);
      if (output_ != input_) CloseHandle(output_);
    }
  }
  WindowsTerminal(const WindowsTerminal&) = delete;
  WindowsTerminal& operator=(const WindowsTerminal&) = delete;

  std::optional<std::string> ReadLine(std::stop_token stop) override {
    for (;;) {
      {
        std::unique_lock lock(input_mutex_, std::defer_lock);
        if (!LockInput(lock, stop)) return std::nullopt;
        if (std::optional<std::string> line = TakeLine()) return line;
        if (ended_) return std::nullopt;
      }
      if (stop.stop_requested()) return std::nullopt;
      if (!WaitInput(kWaitStepMs)) continue;
      std::unique_lock lock(input_mutex_, std::defer_lock);
      if (!LockInput(lock, stop)) return std::nullopt;
      if (input_is_console_) {
        FillLineLocked();
      } else {
        FillBytesLocked(0);
      }
    }
  }

  std::optional<KeyPress> ReadKey(std::stop_token stop) override {
    if (!input_is_console_) return ReadByteKey(stop);
    KeyModeScope key_mode(input_);
    for (;;) {
      {
        std::unique_lock lock(input_mutex_, std::defer_lock);
        if (!LockInput(lock, stop)) return std::nullopt;
        if (!keys_.empty()) {
          const KeyPress key = keys_.front();
          keys_.pop_front();
          return key;
        }
        if (ended_) return std::nullopt;
      }
      if (stop.stop_requested()) return std::nullopt;
      if (!WaitInput(kWaitStepMs)) continue;
      std::unique_lock lock(input_mutex_, std::defer_lock);
      if (!LockInput(lock, stop)) return std::nullopt;
      INPUT_RECORD record{};
      if (!ReadRecordLocked(&record)) continue;
      if (record.EventType != KEY_EVENT) continue;
      const KEY_EVENT_RECORD& k = record.Event.KeyEvent;
      for (const KeyPress& key : KeyPressesOfEvent({k.bKeyDown != 0, k.wVirtualKeyCode, k.wVirtualScanCode,
                                                    static_cast<char16_t>(k.uChar.UnicodeChar),
                                                    k.dwControlKeyState})) {
        keys_.push_back(key);
      }
    }
  }

  void Write(std::string_view text) override {
    std::lock_guard lock(output_mutex_);
    if (IsConsole(output_)) {
      WriteConsoleText(text);
      return;
    }
    while (!text.empty()) {
      DWORD written = 0;
      const DWORD piece = static_cast<DWORD>(std::min<size_t>(text.size(), 1 << 20));
      if (WriteFile(output_, text.data(), piece, &written, nullptr) == 0 || written == 0) return;
      text.remove_prefix(written);
    }
  }

  // The console's programs write the degree sign as byte 248 when this is false: the degree in the
  // OEM code pages a console otherwise uses.
  bool IsUtf8() const override { return GetConsoleOutputCP() == CP_UTF8; }

 private:
  // Takes the input lock, giving up when `stop` is requested meanwhile (another thread may be in a
  // console line read, which lasts until its ENTER).
  bool LockInput(std::unique_lock<std::timed_mutex>& lock, const std::stop_token& stop) {
    while (!lock.try_lock_for(std::chrono::milliseconds(kWaitStepMs))) {
      if (stop.stop_requested()) return false;
    }
    return true;
  }

  // True when input (or its end) may be there within `timeout_ms`.
  bool WaitInput(DWORD timeout_ms) const {
    if (input_is_console_) return WaitForSingleObject(input_, timeout_ms) == WAIT_OBJECT_0;
    if (!input_is_pipe_) return true;  // a file or device: reading never waits long
    for (DWORD waited = 0;; waited += kPipeStepMs) {
      DWORD available = 0;
      // A failed look is a closed pipe: the read that follows reports the end.
      if (PeekNamedPipe(input_, nullptr, 0, nullptr, &available, nullptr) == 0 || available > 0) return true;
      if (waited >= timeout_ms) return false;
      Sleep(kPipeStepMs);
    }
  }

  // One console input record, when one is there now (another thread may have taken what was
  // announced; then the read would block, so it is not made).
  bool ReadRecordLocked(INPUT_RECORD* record) {
    DWORD count = 0;
    if (GetNumberOfConsoleInputEvents(input_, &count) == 0 || count == 0) return false;
    DWORD read = 0;
    return ReadConsoleInputW(input_, record, 1, &read) != 0 && read == 1;
  }

  // A console line read, but only once the user has started typing: until then the records that
  // are no typing (releases, modifiers, focus and mouse events) are taken away, so the handle does
  // not stay signalled and the wait stays a wait. The read itself lasts until ENTER.
  void FillLineLocked() {
    INPUT_RECORD record{};
    DWORD count = 0;
    if (PeekConsoleInputW(input_, &record, 1, &count) == 0 || count == 0) return;
    const bool typing = record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown != 0 &&
                        record.Event.KeyEvent.uChar.UnicodeChar != 0;
    if (!typing) {
      ReadRecordLocked(&record);
      return;
    }
    wchar_t chunk[1024];
    DWORD read = 0;
    if (ReadConsoleW(input_, chunk, static_cast<DWORD>(std::size(chunk)), &read, nullptr) == 0) {
      ended_ = true;
      return;
    }
    buffer_ += Utf8FromWide(std::wstring_view(chunk, read));
  }

  // Reads what has arrived within `timeout_ms` from input that is not a console.
  void FillBytesLocked(DWORD timeout_ms) {
    if (ended_ || !WaitInput(timeout_ms)) return;
    DWORD size = 4096;
    if (input_is_pipe_) {
      DWORD available = 0;
      if (PeekNamedPipe(input_, nullptr, 0, nullptr, &available, nullptr) != 0 && available > 0) {
        size = std::min<DWORD>(size, available);
      }
    }
    char chunk[4096];
    DWORD read = 0;
    if (ReadFile(input_, chunk, size, &read, nullptr) == 0 || read == 0) {
      ended_ = true;  // end of file, or the writer closed the pipe
      return;
    }
    buffer_.append(chunk, read);
  }

  // A key of input that is not a console: its bytes decoded as a terminal's.
  std::optional<KeyPress> ReadByteKey(std::stop_token stop) {
    for (;;) {
      {
        std::unique_lock lock(input_mutex_, std::defer_lock);
        if (!LockInput(lock, stop)) return std::nullopt;
        if (!buffer_.empty()) {
          if (buffer_.size() < 8 && buffer_[0] == 27) FillBytesLocked(kSequenceGapMs);
          size_t used = 0;
          const std::optional<KeyPress> key = DecodeKeySequence(buffer_, &used);
          buffer_.erase(0, used);
          if (key) return key;
          continue;  // a sequence that names no key is skipped
        }
        if (ended_) return std::nullopt;
      }
      if (stop.stop_requested()) return std::nullopt;
      if (!WaitInput(kWaitStepMs)) continue;
      std::unique_lock lock(input_mutex_, std::defer_lock);
      if (!LockInput(lock, stop)) return std::nullopt;
      FillBytesLocked(0);
    }
  }

  std::optional<std::string> TakeLine() { return TakeBufferedLine(&buffer_, ended_); }

  // The text is in the console's output code page: UTF-8, or the OEM page whose byte 248 is the
  // degree sign. Either way the console gets it as UTF-16, which it shows whatever its font.
  void WriteConsoleText(std::string_view text) {
    const UINT page = GetConsoleOutputCP();
    std::wstring wide;
    if (page == CP_UTF8 || text.empty()) {
      wide = WideFromUtf8(text);
    } else {
      const int size = static_cast<int>(std::min<size_t>(text.size(), 1 << 30));
      wide.resize(static_cast<size_t>(size));
      const int n = MultiByteToWideChar(page, 0, text.data(), size, wide.data(), size);
      wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
    }
    std::wstring_view rest(wide);
    while (!rest.empty()) {
      size_t piece = std::min(rest.size(), kWritePiece);
      // Never split a surrogate pair between two writes.
      if (piece < rest.size() && rest[piece - 1] >= 0xD800 && rest[piece - 1] <= 0xDBFF) --piece;
      DWORD written = 0;
      if (WriteConsoleW(output_, rest.data(), static_cast<DWORD>(piece), &written, nullptr) == 0 || written == 0) {
        return;
      }
      rest.remove_prefix(written);
    }
  }

  const HANDLE input_;
  const HANDLE output_;
  const bool owns_;
  const bool input_is_console_;
  const bool input_is_pipe_;
  std::timed_mutex input_mutex_;
  std::string buffer_;         // bytes read but not handed out yet (lines; keys of non-console input)
  std::deque<KeyPress> keys_;  // keys of a console event not handed out yet (a character's UTF-8)
  bool ended_ = false;
  std::mutex output_mutex_;
};

}  // namespace

std::unique_ptr<Terminal> Terminal::CreateStandard() {
  return std::make_unique<WindowsTerminal>(GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE), false);
}

// "CON" (any letter case) is the console the process is attached to, opened afresh through CONIN$
// and CONOUT$ whatever the standard handles are; Windows has no other device a terminal is reached
// through, so any other path gives null.
std::unique_ptr<Terminal> Terminal::OpenDevice(const std::string& path) {
  if (path.size() != 3 || CompareStringOrdinal(WideFromUtf8(path).c_str(), 3, L"CON", 3, TRUE) != CSTR_EQUAL) {
    return nullptr;
  }
  const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return nullptr;
  const HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (output == INVALID_HANDLE_VALUE) {
    CloseHandle(input);
    return nullptr;
  }
  return std::make_unique<WindowsTerminal>(input, output, true);
}

}  // namespace keep::platform
