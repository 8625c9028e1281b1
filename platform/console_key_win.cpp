#include "platform/console_key_win.h"

namespace keep::platform {

namespace {

// dwControlKeyState bits and the virtual keys that matter here (the values of the Windows headers,
// spelled out so that this file stays free of them and testable as plain code).
constexpr uint32_t kRightAlt = 0x0001;
constexpr uint32_t kLeftAlt = 0x0002;
constexpr uint32_t kRightCtrl = 0x0004;
constexpr uint32_t kLeftCtrl = 0x0008;
constexpr uint32_t kShift = 0x0010;

constexpr uint16_t kVkShift = 0x10;
constexpr uint16_t kVkControl = 0x11;
constexpr uint16_t kVkMenu = 0x12;  // Alt
constexpr uint16_t kVkCapital = 0x14;
constexpr uint16_t kVkLeftWin = 0x5B;
constexpr uint16_t kVkRightWin = 0x5C;
constexpr uint16_t kVkNumLock = 0x90;
constexpr uint16_t kVkScroll = 0x91;
constexpr uint16_t kVkLeftShift = 0xA0;
constexpr uint16_t kVkRightMenu = 0xA5;

// Windows reports F11 and F12 with their make codes; the key model numbers them as the PC BIOS did.
constexpr uint16_t kMakeF11 = 0x57;
constexpr uint16_t kMakeF12 = 0x58;

bool IsModifierOrLock(uint16_t vk) {
  return vk == kVkShift || vk == kVkControl || vk == kVkMenu || vk == kVkCapital || vk == kVkLeftWin ||
         vk == kVkRightWin || vk == kVkNumLock || vk == kVkScroll || (vk >= kVkLeftShift && vk <= kVkRightMenu);
}

int Modifiers(uint32_t state) {
  int sum = 0;
  if ((state & kShift) != 0) sum += kKeyShift;
  if ((state & (kLeftAlt | kRightAlt)) != 0) sum += kKeyAlt;
  if ((state & (kLeftCtrl | kRightCtrl)) != 0) sum += kKeyCtrl;
  return sum;
}

std::vector<KeyPress> CharacterPresses(char16_t c) {
  if (c >= 0xD800 && c <= 0xDFFF) return {};
  auto press = [](unsigned value) { return KeyPress{static_cast<char>(value), 0}; };
  if (c < 0x80) return {press(c)};
  if (c < 0x800) return {press(0xC0 | (c >> 6)), press(0x80 | (c & 0x3F))};
  return {press(0xE0 | (c >> 12)), press(0x80 | ((c >> 6) & 0x3F)), press(0x80 | (c & 0x3F))};
}

}  // namespace

std::vector<KeyPress> KeyPressesOfEvent(const ConsoleKeyEvent& event) {
  if (!event.key_down) {
    // The one release that carries input: Alt let go after a number typed on the keypad.
    if (event.virtual_key == kVkMenu && event.character != 0) return CharacterPresses(event.character);
    return {};
  }
  if (event.character != 0) return CharacterPresses(event.character);
  if (IsModifierOrLock(event.virtual_key)) return {};
  int scan = event.scan_code;
  if (scan == kMakeF11) scan = kScanF11;
  if (scan == kMakeF12) scan = kScanF12;
  // A code past one byte would not survive the model's "low byte is the scan code".
  if (scan == 0 || scan > 0xFF) return {};
  return {KeyPress{0, ExtendedKeyCode(scan, Modifiers(event.control_state))}};
}

}  // namespace keep::platform
