// The event and alarm list screens.
#include "console/input.h"
#include "console/menus.h"
#include "console/output.h"
#include "console/read_screens.h"
#include "console/ups_kinds.h"

namespace keep::console {

namespace {

// The count line and the lines, or "- None".
void AddListLines(TStringList& lines, const std::string& count_label, const TStringList& items) {
  lines.push_back(count_label + std::to_string(items.size()));
  if (items.empty()) {
    lines.push_back("- None");
  } else {
    lines.insert(lines.end(), items.begin(), items.end());
  }
}

// Empties the list, sends the request and shows the answer's lines until a key other than "R".
// Returns the last key, or nothing when the request failed.
std::optional<char> ShowListUntilLeft(ConsoleClient& client, int code, const TStringList& fields,
                                      TStringList (*build)(const ConsoleData&)) {
  for (;;) {
    client.State().Update([code](ConsoleData& data) {
      if (code == 137) {
        data.alarm_list.clear();
      } else {
        data.event_list.clear();
      }
    });
    if (!client.SendRequest(code, fields, true)) return std::nullopt;
    const TStringList lines = client.State().Inspect(build);
    const char key = ShowScreen(client.Io(), lines, true, true);
    if (!IsRefreshKey(key)) return key;
  }
}

void RunModularEvents(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  ShowTitle(io, "UPS EVENTS LIST READ");
  for (;;) {
    int list = 0;
    if (!AskNumber(io, "Select List (0=all; 1=critical; 2=warning; 3=info) or <blank> to exit): ", list, 0, 3)) {
      return;
    }
    if (!ShowListUntilLeft(client, 139, {std::to_string(list)}, ModularEventLines)) return;
    io.WriteLine();
  }
}

}  // namespace

TStringList StandardEventLines(const ConsoleData& data) {
  TStringList lines{"UPS EVENTS LIST READ"};
  AddListLines(lines, "Total Count (most recent first): ", data.event_list);
  return lines;
}

TStringList ModularEventLines(const ConsoleData& data) {
  TStringList lines{"UPS \"" + ListNameValue(data.ups.event_list_name) + "\" EVENTS LIST READ"};
  if (data.ups.event_list_count == "&") {
    lines.push_back("- Not available");
  } else {
    AddListLines(lines, "Total Count (most recent first): ", data.event_list);
  }
  return lines;
}

TStringList AlarmLines(const ConsoleData& data) {
  TStringList lines{"UPS ALARMS LIST READ"};
  if (data.ups.alarm_list_count == "&") {
    lines.push_back("- Not available");
  } else {
    AddListLines(lines, "Total Count: ", data.alarm_list);
  }
  return lines;
}

void RunEventsScreen(ConsoleClient& client) {
  if (IsModularKind(client.UpsKind())) {
    RunModularEvents(client);
  } else {
    ShowListUntilLeft(client, 109, {}, StandardEventLines);
  }
}

void RunAlarmsScreen(ConsoleClient& client) { ShowListUntilLeft(client, 137, {}, AlarmLines); }

}  // namespace keep::console
