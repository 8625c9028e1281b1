// Messages the server sends on its own, shown at once from the receive thread.
#pragma once

#include <stop_token>
#include <string_view>

#include "console/console_io.h"

namespace keep::console {

// Two empty lines, "*** Broadcast message from Powerkeep ***", the text as ShowInfo, an empty line,
// an empty line and the ENTER prompt, as ConsoleIo::ShowNotice shows a notice: ahead of the menu
// thread's questions, which go on after it. The receive thread reads no further message until
// ENTER was pressed, `stop` was requested (the client disconnects) or the input ended.
void ShowBroadcast(ConsoleIo& io, std::string_view text, std::stop_token stop = {});

}  // namespace keep::console
