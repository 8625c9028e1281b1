#include "console/broadcasts.h"

#include "console/output.h"

namespace keep::console {

void ShowBroadcast(ConsoleIo& io, std::string_view text, std::stop_token stop) {
  io.Write("\n\n*** Broadcast message from Powerkeep ***\n");
  ShowInfo(io, text);
  io.WriteLine();
  WaitEnter(io, stop);
}

}  // namespace keep::console
