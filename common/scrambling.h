// The text scrambling used on every socket line of the system and in the model database: each
// plain byte becomes two upper-case hexadecimal digits through a keyed byte cipher whose 16-bit
// running key is fed back from the scrambled bytes. It hides text; it is not encryption. The three
// constants must be identical on both sides of every link. Pure text functions, callable from any
// thread; neither can fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/text_lists.h"

namespace keep {

inline constexpr uint16_t kScrambleStartKey = 37159;
inline constexpr uint16_t kScrambleMultiplier = 28411;
inline constexpr uint16_t kScrambleSubtrahend = 6829;

// ReadScrambledFile refuses a line longer than this (a file without line ends, say).
inline constexpr size_t kScrambledLineLimit = 1024 * 1024;

// The key after scrambled byte `b` was produced or consumed: ((key + b) * 28411 - 6829) mod 65536.
constexpr uint16_t NextScrambleKey(uint16_t key, uint8_t b) {
  return static_cast<uint16_t>((uint32_t{key} + b) * kScrambleMultiplier - kScrambleSubtrahend);
}

// Two hexadecimal digits per byte of `plain` (any byte value 0..255); empty for empty text.
std::string ScrambleText(std::string_view plain);

// The plain text of `scrambled`, one byte per pair of characters. Hex digits of either case; a
// trailing odd character is ignored; a pair that is not two hex digits counts as byte 0, so bad
// input gives wrong characters from that place on but never an error.
std::string UnscrambleText(std::string_view scrambled);

// Empties `list` and fills it with the unscrambled lines of the file (each line scrambled on its
// own; LF or CR LF line ends; a last line without line end counts). Returns 0 on success, else an
// errno-style code: 2 (ENOENT) for a missing file, another non-zero code for an unreadable file, a
// read error or a line longer than kScrambledLineLimit. Lines read before a failure stay in `list`.
int ReadScrambledFile(TStringList& list, const std::string& file_name);

}  // namespace keep
