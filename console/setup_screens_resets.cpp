// The UPS setup menu and its screens that switch or reset something: buzzer, relay contacts, the
// history and event list resets.
#include <cstdio>

#include "console/actions.h"
#include "console/actions_screens.h"
#include "console/input.h"
#include "console/menus.h"
#include "console/output.h"

namespace keep::console {

namespace {

// Asks "Are you sure", sends `code` on yes and shows the result `read` picks from the answer.
template <typename Read>
void RunConfirmedReset(ConsoleClient& client, std::string_view title, int code, Read read) {
  ConsoleIo& io = client.Io();
  ShowTitle(io, title);
  if (!AskYesNo(io, "Are you sure [y/N] ? ", false)) return;
  if (client.SendRequest(code, true)) ShowFramedInfo(io, read(UpsData(client)));
  WaitEnter(io);
}

}  // namespace

void RunBuzzerSet(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  ShowTitle(io, "UPS BUZZER SETUP");
  for (;;) {
    const std::string answer = ReadLine(io, "Selection (1 = mute; 2 = restore): ", false);
    if (answer.empty()) break;
    if (answer != "1" && answer != "2") {
      io.Beep();
      continue;
    }
    if (!client.SendRequest(303, {answer == "1" ? "0" : "1"}, true)) continue;
    io.WriteLine();
    ShowInfo(io, UpsData(client).hardware.buzzer_text);
    break;
  }
  WaitEnter(io);
}

void RunHistoryReset(ConsoleClient& client) {
  RunConfirmedReset(client, "BATTERY HISTORY RESET", 304,
                    [](const ConsoleUpsData& ups) { return ups.results.history_reset; });
}

void RunEventsListReset(ConsoleClient& client) {
  if (!IsModularKind(client.UpsKind())) {
    RunConfirmedReset(client, "EVENTS LIST RESET", 305,
                      [](const ConsoleUpsData& ups) { return ups.results.events_reset; });
    return;
  }
  ConsoleIo& io = client.Io();
  ShowTitle(io, "EVENTS LIST RESET");
  char prompt[96];
  std::snprintf(prompt, sizeof prompt,
                "Select List (%s=all; %s=critical; %s=warning; %s=info) or <blank> to exit): ", "0", "1", "2", "3");
  int list = 0;
  if (!AskNumber(io, prompt, list, 0, 3)) return;
  if (client.SendRequest(313, {std::to_string(list)}, true)) {
    ShowFramedInfo(io, UpsData(client).results.events_list_reset);
  }
  WaitEnter(io);
}

void RunRelayContactsSet(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  ShowTitle(io, "RELAY INTERFACE CONTACTS SET");
  TStringList fields;
  bool complete = true;
  // All four are asked even after an empty answer: the user sees the whole set before nothing is sent.
  for (std::string_view prompt : {"Mains/Battery   (0 = nc;  1 = na): ", "Battery Reserve (0 = nc;  1 = na): ",
                                  "General Alarm   (0 = nc;  1 = na): ", "Overload        (0 = nc;  1 = na): "}) {
    int value = 0;
    if (AskNumber(io, prompt, value, 0, 1)) {
      fields.push_back(std::to_string(value));
    } else {
      complete = false;
    }
  }
  if (!complete || !client.SendRequest(314, fields, true)) return;
  const ConsoleUpsData ups = UpsData(client);
  ShowResultScreen(
      io, "RELAY INTERFACE CONTACTS SET",
      {"Mains/Battery..: " + ups.hardware.relay_mains_battery, "Battery Reserve: " + ups.hardware.relay_battery_reserve,
       "General Alarm..: " + ups.hardware.relay_general_alarm, "Overload.......: " + ups.hardware.relay_overload});
}

std::vector<MenuEntry> SetupEntries(int kind) {
  std::vector<MenuEntry> entries{{"Buzzer Set", RunBuzzerSet}};
  if (!IsStandardKind(kind) && !IsModularKind(kind)) return entries;
  entries.insert(entries.end(), {{"Input Data Set", RunInputDataSet},
                                 {"Output Data Set", RunOutputDataSet},
                                 {"Battery Data Set", RunBatteryDataSet},
                                 {"UPS Clock Set", RunClockMenu}});
  if (IsModularKind(kind)) {
    entries.push_back({"Relay Port Contacts Set", RunRelayContactsSet});
  } else {
    entries.push_back({"UPS History Reset", RunHistoryReset});
  }
  entries.push_back({"Events List Reset", RunEventsListReset});
  return entries;
}

void RunSetupMenu(ConsoleClient& client) {
  RunSubMenu(client, "UPS SETUP MENU", [](ConsoleClient& c) { return SetupEntries(c.UpsKind()); });
}

}  // namespace keep::console
