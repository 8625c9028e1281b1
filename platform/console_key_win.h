// Windows only: what a console key event stands for in the PC scan-code key model of console.h.
// Kept apart from the console itself so it can be table-tested without a console. Internal to
// platform/ and its Windows tests.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/console.h"

namespace keep::platform {

// The fields of a KEY_EVENT_RECORD that decide the key (wRepeatCount aside).
struct ConsoleKeyEvent {
  bool key_down = false;
  uint16_t virtual_key = 0;     // wVirtualKeyCode
  uint16_t scan_code = 0;       // wVirtualScanCode
  char16_t character = 0;       // uChar.UnicodeChar
  uint32_t control_state = 0;   // dwControlKeyState
};

// The key presses one event stands for: none for a released key, a modifier or lock key alone, or a
// key the model has no code for; one for a character of ASCII (Ctrl and Alt combinations that still
// produce one, such as Ctrl+A = 1 and AltGr characters, stay characters) or for a key without a
// character (ExtendedKeyCode of its scan code and the Shift/Alt/Ctrl state). A character beyond ASCII
// gives its UTF-8 bytes, one press each, as a UTF-8 terminal sends them; half of a surrogate pair
// gives none. A character typed as Alt+number on the keypad arrives with the release of Alt.
std::vector<KeyPress> KeyPressesOfEvent(const ConsoleKeyEvent& event);

}  // namespace keep::platform
