// The menu prompt of the console: a titled, numbered list of entries and a selection. Menu thread.
#pragma once

#include <functional>
#include <string_view>

#include "common/text_lists.h"
#include "console/console_io.h"

namespace keep::console {

inline constexpr int kMenuQuit = -1;
inline constexpr int kMenuStale = -2;

// `entries` holds the title first, then the entries. Writes three empty lines, the title as
// "******** title ********" and an empty line (when the title is not empty), each entry as
// " n - text" numbered from 1 (one more leading blank below 10 when there are 10 or more), an empty
// line, then asks `prompt`. Returns the index of the entry chosen, or kMenuQuit when the
// upper-cased answer equals `quit_answer` (or the input ended). Any other answer beeps and shows
// the menu again. The menu is a screen of its own (ConsoleIo::BeginScreen): a notice that comes
// while it waits shows it again once dismissed.
int SelectFromMenu(ConsoleIo& io, const TStringList& entries, std::string_view prompt, std::string_view quit_answer);
// As above, but before showing the menu again after a wrong answer `stale` is asked: when it says
// the entries no longer fit the client's state (the UPS was lost or came back meanwhile),
// kMenuStale is returned so that the caller builds them anew.
int SelectFromMenu(ConsoleIo& io, const TStringList& entries, std::string_view prompt, std::string_view quit_answer,
                   const std::function<bool()>& stale);

}  // namespace keep::console
