#include "console/broadcasts.h"

#include <string>

#include "console/output.h"

namespace keep::console {

void ShowBroadcast(ConsoleIo& io, std::string_view text, std::stop_token stop) {
  // The lines of ShowInfo and WaitEnter, written as one notice so nothing of the menu's comes between.
  std::string notice = "\n\n*** Broadcast message from Powerkeep ***\n ";
  notice += text;
  notice += "\n\n\n";
  notice += kEnterPrompt;
  io.ShowNotice(notice, stop);
}

}  // namespace keep::console
