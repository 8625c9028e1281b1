#include "platform/console.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace keep::platform {

namespace {

constexpr char kEscape = 27;

// The scan code of the "~" sequences by their first parameter (VT220 and xterm numbering).
int TildeScanCode(int number) {
  switch (number) {
    case 1:
    case 7:
      return kScanHome;
    case 2:
      return kScanInsert;
    case 3:
      return kScanDelete;
    case 4:
    case 8:
      return kScanEnd;
    case 5:
      return kScanPageUp;
    case 6:
      return kScanPageDown;
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
      return kScanF1 + number - 11;
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
      return kScanF1 + 5 + number - 17;
    case 23:
      return kScanF11;
    case 24:
      return kScanF12;
    default:
      return 0;
  }
}

// The scan code of a sequence ending in a letter ("[A", "OP", "[1;5A"...).
int LetterScanCode(char final) {
  switch (final) {
    case 'A':
      return kScanUp;
    case 'B':
      return kScanDown;
    case 'C':
      return kScanRight;
    case 'D':
      return kScanLeft;
    case 'H':
      return kScanHome;
    case 'F':
      return kScanEnd;
    case 'P':
    case 'Q':
    case 'R':
    case 'S':
      return kScanF1 + (final - 'P');
    default:
      return 0;
  }
}

// The modifier sum of an xterm modifier parameter (2 = Shift, 3 = Alt, 5 = Ctrl, ...).
int ModifiersOf(int parameter) {
  if (parameter < 2 || parameter > 8) return 0;
  return parameter - 1;
}

// `bytes` starts with ESC and "[" or "O". Parses parameters up to the final byte.
std::optional<KeyPress> DecodeControlSequence(std::string_view bytes, size_t* used) {
  // The Linux console's F1-F5: ESC [ [ A..E.
  if (bytes.size() >= 4 && bytes[1] == '[' && bytes[2] == '[') {
    *used = 4;
    if (bytes[3] >= 'A' && bytes[3] <= 'E') return KeyPress{0, ExtendedKeyCode(kScanF1 + bytes[3] - 'A', 0)};
    return std::nullopt;
  }
  std::vector<int> parameters;
  size_t at = 2;
  int current = -1;
  while (at < bytes.size()) {
    const char c = bytes[at];
    if (c >= '0' && c <= '9') {
      // Parameters are small; a runaway digit string is simply capped.
      current = current < 0 ? c - '0' : (current < 1000 ? current * 10 + (c - '0') : current);
    } else if (c == ';') {
      parameters.push_back(current < 0 ? 1 : current);
      current = -1;
    } else {
      break;
    }
    ++at;
  }
  if (at >= bytes.size()) {
    // No final byte came: the sequence is cut off and names no key.
    *used = bytes.size();
    return std::nullopt;
  }
  if (current >= 0) parameters.push_back(current);
  const char final = bytes[at];
  *used = at + 1;
  int scan = 0;
  int modifiers = 0;
  if (final == '~') {
    if (parameters.empty()) return std::nullopt;
    scan = TildeScanCode(parameters[0]);
    if (parameters.size() >= 2) modifiers = ModifiersOf(parameters[1]);
  } else {
    scan = LetterScanCode(final);
    if (parameters.size() >= 2) modifiers = ModifiersOf(parameters[1]);
    // Some terminals send the modifier as the only parameter of an "O" sequence (ESC O 5 P).
    if (parameters.size() == 1 && bytes[1] == 'O') modifiers = ModifiersOf(parameters[0]);
  }
  if (scan == 0) return std::nullopt;
  return KeyPress{0, ExtendedKeyCode(scan, modifiers)};
}

bool ContainsUtf8Name(std::string_view name) {
  std::string lower;
  for (char c : name) {
    if (c != '-' && c != '_') lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower.find("utf8") != std::string::npos;
}

}  // namespace

std::optional<KeyPress> DecodeKeySequence(std::string_view bytes, size_t* used) {
  *used = 0;
  if (bytes.empty()) return std::nullopt;
  const char first = bytes[0];
  if (first != kEscape) {
    *used = 1;
    // Terminals send DEL for the backspace key; the console's programs expect backspace.
    if (first == 127) return KeyPress{8, 0};
    return KeyPress{first, 0};
  }
  if (bytes.size() == 1) {
    *used = 1;
    return KeyPress{kEscape, 0};
  }
  if (bytes[1] == '[' || bytes[1] == 'O') {
    if (bytes.size() == 2) {
      // ESC [ alone is Alt+[; ESC O alone is Alt+O.
      *used = 2;
      return KeyPress{bytes[1], 0};
    }
    return DecodeControlSequence(bytes, used);
  }
  // ESC then a character: the character typed with Alt, which still produces that character.
  *used = 2;
  if (bytes[1] == 127) return KeyPress{8, 0};
  return KeyPress{bytes[1], 0};
}

std::optional<std::string> TakeBufferedLine(std::string* buffer, bool ended) {
  size_t end = buffer->find('\n');
  size_t skip = 1;
  if (end == std::string::npos) {
    if (buffer->size() >= kConsoleLineLimit) {
      end = kConsoleLineLimit;
      skip = 0;
    } else if (ended && !buffer->empty()) {
      end = buffer->size();
      skip = 0;
    } else {
      return std::nullopt;
    }
  }
  std::string line = buffer->substr(0, end);
  buffer->erase(0, end + skip);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool LocaleIsUtf8(std::string_view lc_all, std::string_view lc_ctype, std::string_view lang) {
  for (std::string_view name : {lc_all, lc_ctype, lang}) {
    if (!name.empty()) return ContainsUtf8Name(name);
  }
  return false;
}

}  // namespace keep::platform
