#include "console/keepterm_program.h"

#include "console/console_client.h"
#include "console/output.h"

namespace keep::console {

int RunConsoleProgram(ConsoleIo& io, ServerLink* link, Pause& pause, const RenderStyle& style,
                      const UpsEntriesFn& ups_entries) {
  io.WriteLine(kStartupLine);
  if (link == nullptr) {
    ShowErrorLine(io, "Internal error. Impossible to continue !");
    return 1;
  }
  ConsoleClient client(io, *link, pause, style);
  for (;;) {
    const int result = client.ConnectDialog();
    if (client.State().connected && client.State().ups_present) {
      io.Write(" Wait..... ");
      const int kind = client.UpsKind();
      if (kind >= 3 && kind <= 6) {
        client.State().Update([](ConsoleData& data) {
          data.alarm_codes.clear();
          data.event_codes.clear();
        });
        client.SendRequest(136, true);
        client.SendRequest(140, true);
      }
      MainMenu(client, ups_entries);
      break;
    }
    io.Write("\n\n\n");
    if (result == 0) break;
  }
  client.DisconnectFromServer();
  io.Write("\n\n");
  return 0;
}

}  // namespace keep::console
