// Delimited field lists: the form in which frames, settings lines and scheduler records are taken
// apart and put together. All text is 8-bit; nothing here allocates beyond the size of its input.
// Pure functions, callable from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace keep {

using TStringList = std::vector<std::string>;

// True for the characters that the list helpers trim: codes 0..32 (controls and the blank).
constexpr bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

// `text` without codes 0..32 at either end.
std::string_view TrimBlanks(std::string_view text);

// Appends the trimmed fields of `text` to `list` (emptied first when `clear_first`). Every field
// before a delimiter is appended even when empty; the field after the last delimiter only when it
// is not blank. So "a||b" gives a, "", b; "a|b|" gives a, b; "|a" gives "", a; blank text nothing.
void SplitText(char delimiter, std::string_view text, TStringList& list, bool clear_first);

// The entries joined with `delimiter`, not trimmed or escaped; empty for an empty list.
std::string JoinText(const TStringList& list, char delimiter);

// Index of the first entry "key|value" whose trimmed key equals `key` exactly (case-sensitive);
// entries without "|" never match. -1 when none matches.
int IndexOfKey(const TStringList& list, std::string_view key);

}  // namespace keep
