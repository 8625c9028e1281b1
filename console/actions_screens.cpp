#include "console/actions_screens.h"

#include "console/output.h"

namespace keep::console {

bool UpsReachable(ConsoleClient& client) { return client.State().connected && client.State().ups_present; }

ConsoleUpsData UpsData(ConsoleClient& client) {
  return client.State().Inspect([](const ConsoleData& data) { return data.ups; });
}

void ShowResultScreen(ConsoleIo& io, std::string_view title, const TStringList& lines) {
  ShowTitle(io, title);
  for (const std::string& line : lines) io.WriteLine(line);
  WaitEnter(io);
}

void ShowFramedInfo(ConsoleIo& io, std::string_view text) {
  io.WriteLine();
  ShowInfo(io, text);
  io.WriteLine();
}

}  // namespace keep::console
