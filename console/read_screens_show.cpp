// Writing screens and the refresh loop of the data screens.
#include "console/input.h"
#include "console/output.h"
#include "console/read_screens.h"

namespace keep::console {

void ShowLines(ConsoleIo& io, const TStringList& lines, bool paging) {
  if (lines.empty()) return;
  if (!lines.front().empty()) ShowTitle(io, lines.front());
  for (size_t i = 1; i < lines.size(); ++i) {
    io.WriteLine(lines[i]);
    if (paging && i % kLinesPerPage == 0) {
      ReadLine(io, "< more >", true);
      io.WriteLine();
    }
  }
}

bool IsRefreshKey(char key) { return key == 'R' || key == 'r'; }

char ShowScreen(ConsoleIo& io, const TStringList& lines, bool refreshable, bool paging) {
  ShowLines(io, lines, paging);
  if (!refreshable) {
    WaitEnter(io);
    return 0;
  }
  const char key = ReadKeyPrompt(io, kRefreshPrompt, true);
  if (IsRefreshKey(key)) io.WriteLine();
  return key;
}

bool SendAll(ConsoleClient& client, const std::vector<int>& requests) {
  for (const int code : requests) {
    if (!client.SendRequest(code, true)) return false;
  }
  return true;
}

void RunReadScreen(ConsoleClient& client, const ReadScreen& screen) {
  // A failed request leaves the screen: asking again at once would repeat a write error forever
  // once the connection is gone.
  for (;;) {
    if (!SendAll(client, screen.requests)) return;
    const int kind = client.UpsKind();
    const TStringList lines =
        client.State().Inspect([&](const ConsoleData& data) { return screen.build(data.ups, kind); });
    const char key = ShowScreen(client.Io(), lines, screen.refreshable, false);
    if (!screen.refreshable || !IsRefreshKey(key)) return;
  }
}

}  // namespace keep::console
