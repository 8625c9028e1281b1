// The actions and tests menu and its screens: battery test, autonomy calibration test and the
// server shutdown. The scheduler editor has a file of its own.
#include "console/actions.h"

#include "console/actions_screens.h"
#include "console/input.h"
#include "console/menus.h"
#include "console/output.h"

namespace keep::console {

void RunBatteryTest(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  ShowTitle(io, "UPS BATTERY TEST");
  io.Write(" Wait..... ");
  const int code = IsModularKind(client.UpsKind()) ? 402 : 400;
  if (client.SendRequest(code, true)) io.WriteLine("Result: " + UpsData(client).results.battery_test);
  WaitEnter(io);
}

void RunAutonomyTest(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  ShowTitle(io, "UPS AUTONOMY CALIBRATION TEST");
  if (!client.SendRequest(101, true)) return;
  const std::string state = UpsData(client).main.calibration_test;
  std::string field;
  if (state == "Never executed or must be repeated" || state == "Done") {
    if (!AskYesNo(io, "Start test [y/N] ? ", false)) return;
    field = "1";
  } else if (state == "in progress") {
    if (!AskYesNo(io, "Stop test [y/N] ? ", false)) return;
    field = "0";
  } else {
    ShowInfo(io, "Result: Not available");
    WaitEnter(io);
    return;
  }
  if (!client.SendRequest(401, {field}, true)) return;
  // The other states reach the user as broadcasts, shown by the receive thread.
  const ConsoleUpsData ups = UpsData(client);
  if (ups.results.autonomy_test_code == "0" || ups.results.autonomy_test_code == "2") {
    ShowInfo(io, ups.results.autonomy_test);
    WaitEnter(io);
  }
}

bool RunServerShutdown(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  ShowTitle(io, "POWERKEEP SHUTDOWN");
  if (!AskYesNo(io, "Are you sure [y/N] ? ", false)) return false;
  if (!client.SendRequest(309, true)) {
    WaitEnter(io);
    return false;
  }
  const std::string result = UpsData(client).results.shutdown;
  ShowFramedInfo(io, result);
  WaitEnter(io);
  if (result != "Executed") return false;
  // The server is going away: nothing more can be asked of it.
  client.ConnectToServer(false);
  return true;
}

std::vector<MenuEntry> ActionsEntries(int kind) {
  std::vector<MenuEntry> entries{{"Scheduler", RunSchedulerEditor}, {"Battery Test", RunBatteryTest}};
  if (IsStandardKind(kind)) entries.push_back({"Autonomy Calibration Test", RunAutonomyTest});
  // A shutdown that was executed disconnects, which ends the menu by itself.
  entries.push_back({"Execute Server Shutdown", [](ConsoleClient& client) { RunServerShutdown(client); }});
  return entries;
}

void RunActionsMenu(ConsoleClient& client) {
  RunSubMenu(client, "ACTIONS AND TESTS MENU", [](ConsoleClient& c) { return ActionsEntries(c.UpsKind()); });
}

}  // namespace keep::console
