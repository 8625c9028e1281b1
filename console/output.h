// The output conventions every screen of the console follows. The console never clears the screen
// or moves the cursor: everything scrolls. Menu thread.
#pragma once

#include <string>
#include <string_view>

#include "console/console_io.h"

namespace keep::console {

inline constexpr std::string_view kEnterPrompt = "< Press \"ENTER\" to continue >";

// Two empty lines, the text, then a line of "-" as long as the text. A screen begins with its title.
void ShowTitle(ConsoleIo& io, std::string_view text);
// One line: a blank and the text.
void ShowInfo(ConsoleIo& io, std::string_view text);
// A beep, an empty line, " ERROR !  " and the text, an empty line.
void ShowErrorLine(ConsoleIo& io, std::string_view text);
// An empty line, the ENTER prompt, and one line of input (whatever is typed). Returns at once when
// the input has ended.
void WaitEnter(ConsoleIo& io);

}  // namespace keep::console
