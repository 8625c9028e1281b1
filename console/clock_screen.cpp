// The "UPS Clock Set" screen: seven numbers, one request, the clock the UPS now has.
#include "console/actions.h"
#include "console/actions_screens.h"
#include "console/input.h"
#include "console/output.h"
#include "console/setup_screens.h"

namespace keep::console {

void RunClockMenu(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  constexpr std::string_view kTitle = "UPS CLOCK SET";
  ShowTitle(io, kTitle);
  int year = 0, month = 0, day = 0, weekday = 0, hour = 0, minutes = 0, seconds = 0;
  if (!AskNumber(io, "Year: ", year, -1, -1)) return;
  if (!AskNumber(io, "Month: ", month, 1, 12)) return;
  if (!AskNumber(io, "Day: ", day, 1, 31)) return;
  if (!AskNumber(io, "Day of the Week (0 = Sunday ... 6 = Saturday): ", weekday, 0, 6)) return;
  if (!AskNumber(io, "Hour: ", hour, 0, 23)) return;
  if (!AskNumber(io, "Minutes: ", minutes, 0, 59)) return;
  if (!AskNumber(io, "Seconds: ", seconds, 0, 59)) return;
  const TStringList fields{std::to_string(ClockYearField(year)),
                           std::to_string(month),
                           std::to_string(day),
                           std::to_string(hour),
                           std::to_string(minutes),
                           std::to_string(seconds),
                           std::to_string(weekday)};
  if (!client.SendRequest(307, fields, true)) return;
  ShowResultScreen(io, kTitle, {UpsData(client).clock});
}

}  // namespace keep::console
