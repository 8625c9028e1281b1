// The text console of an interactive program: lines typed by the user, single key presses without
// echo (the terminal is put into raw mode only for the length of one key read) and text written
// back. The key decoder and the locale check are pure functions so that they can be tested without
// a terminal.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace keep::platform {

// One key press. A key that produces a character has `character` set and `extended` 0. A key
// without a character (cursor and function keys) has `character` 0 and an extended code of 256 or
// more: 256 * (1 + modifiers) + the key's scan code, where the modifiers are the sum of
// kKeyShift, kKeyAlt and kKeyCtrl. So the low byte of an extended code is always the scan code.
struct KeyPress {
  char character = 0;
  int extended = 0;
  bool operator==(const KeyPress&) const = default;
};

inline constexpr int kKeyShift = 1;
inline constexpr int kKeyAlt = 2;
inline constexpr int kKeyCtrl = 4;

// Scan codes of the keys without a character (the numbers the PC keyboard has always reported).
inline constexpr int kScanF1 = 59;  // F1..F10 are 59..68
inline constexpr int kScanF11 = 133;
inline constexpr int kScanF12 = 134;
inline constexpr int kScanHome = 71;
inline constexpr int kScanUp = 72;
inline constexpr int kScanPageUp = 73;
inline constexpr int kScanLeft = 75;
inline constexpr int kScanRight = 77;
inline constexpr int kScanEnd = 79;
inline constexpr int kScanDown = 80;
inline constexpr int kScanPageDown = 81;
inline constexpr int kScanInsert = 82;
inline constexpr int kScanDelete = 83;

// The extended code of the key with scan code `scan` and the modifier sum `modifiers`.
constexpr int ExtendedKeyCode(int scan, int modifiers) { return 256 * (1 + modifiers) + scan; }

// Decodes the first key of `bytes` as a terminal sends it: a plain byte is its character (DEL as
// backspace, 8); ESC followed by "[" or "O" starts a control sequence (cursor, editing and function
// keys, with an optional modifier parameter); ESC followed by another byte is that byte typed with
// Alt; ESC alone is the Escape key. *used tells how many bytes the key took (at least 1 when
// `bytes` is not empty). Empty when `bytes` is empty or the sequence names no key this decoder
// knows: those bytes are to be skipped.
std::optional<KeyPress> DecodeKeySequence(std::string_view bytes, size_t* used);

// A "line" without line end is cut at this length, so endless input cannot take all memory.
inline constexpr size_t kConsoleLineLimit = 64 * 1024;

// Takes the first whole line (without LF, and a CR before it) off the front of `buffer`; when
// `ended` (no more input will come) also a last line without line end. A line without line end
// that reaches kConsoleLineLimit is cut there. Empty when no line is complete yet.
std::optional<std::string> TakeBufferedLine(std::string* buffer, bool ended);

// Whether the locale named by the environment's LC_ALL, LC_CTYPE and LANG (the first one that is
// not empty wins, as the C library decides) uses UTF-8.
bool LocaleIsUtf8(std::string_view lc_all, std::string_view lc_ctype, std::string_view lang);

class Terminal {
 public:
  virtual ~Terminal() = default;

  // The process's standard input and output.
  static std::unique_ptr<Terminal> CreateStandard();
  // A terminal device opened by path for both reading and writing (tests use a pty); null when it
  // cannot be opened.
  static std::unique_ptr<Terminal> OpenDevice(const std::string& path);

  // One line without its line end (LF, and a CR before it). Empty when the input has ended (a
  // last line without line end is still returned first) or `stop` was requested. Several threads
  // may wait at once: each line goes to exactly one of them.
  virtual std::optional<std::string> ReadLine(std::stop_token stop) = 0;

  // One key press, without echo and without waiting for ENTER (which reads as character 13). For
  // the length of the call the terminal is in raw mode; the previous mode is restored when the call
  // returns and also when the process is ended by SIGINT, SIGTERM, SIGHUP or SIGQUIT meanwhile
  // (Ctrl+C still interrupts). Input that is not a terminal is read byte by byte as it is. Empty at
  // end of input or when `stop` was requested.
  virtual std::optional<KeyPress> ReadKey(std::stop_token stop) = 0;

  // Writes all of `text`; failures are dropped (there is nowhere to report them). Thread-safe.
  virtual void Write(std::string_view text) = 0;

  // Whether the user's locale (from the environment) uses UTF-8.
  virtual bool IsUtf8() const = 0;
};

}  // namespace keep::platform
