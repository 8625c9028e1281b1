// The questions every screen of the console asks. All run in the menu thread (the receive thread
// shows its notices through ConsoleIo::ShowNotice). At end of input every question reads as an
// empty answer, so each of them gives up instead of asking forever.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "console/console_io.h"

namespace keep::console {

// Optionally an empty line, then the prompt without line end, then one line of input.
std::string ReadLine(ConsoleIo& io, std::string_view prompt, bool blank_line_first);

// Optionally an empty line, then the prompt and one blank, then one key press (no ENTER, no echo).
// A key that produces a character returns it. A key without one returns 0 and leaves its extended
// code pending: the next call returns that code's low byte at once, without reading a key.
// At end of input: 0.
char ReadKeyPrompt(ConsoleIo& io, std::string_view prompt, bool blank_line_first);

// ReadLine; true only for the answers "Y" and "y".
bool AskYesNo(ConsoleIo& io, std::string_view prompt, bool blank_line_first);

// Asks until the answer is empty (false: cancelled, `value` unchanged) or a whole number within
// min..max (true, stored in `value`); -1 as min or max leaves that side open. A wrong answer shows
// "Number invalid or out of range (min - max) !" and asks again.
bool AskNumber(ConsoleIo& io, std::string_view prompt, int& value, int min, int max);

// As AskNumber for a decimal number without range; "," may stand for the decimal point (the
// first one is taken as such), but an answer may not start with it. The error is "Number invalid !".
bool AskDecimal(ConsoleIo& io, std::string_view prompt, double& value);

// The integer in `text` (blanks at either end allowed); empty when it is not one or out of range.
std::optional<int> ParseWholeNumber(std::string_view text);

}  // namespace keep::console
