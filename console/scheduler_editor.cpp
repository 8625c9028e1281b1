// The scheduler editor: the server's scheduler file is downloaded into the client state's item list,
// edited there, and uploaded as a whole on "Save configuration".
#include "console/scheduler_editor.h"

#include <optional>

#include "console/actions.h"
#include "console/actions_screens.h"
#include "console/input.h"
#include "console/menu_select.h"
#include "console/output.h"

namespace keep::console {

namespace {

constexpr std::string_view kListTitle = "UPS SCHEDULER - CONFIGURED ITEMS LIST";
constexpr std::string_view kNoItems = "No items configured.";
constexpr char kDateHint[] = "dd/MM/yyyy";
constexpr char kTimeHint[] = "hh:mm:ss";

TStringList Items(ConsoleClient& client) {
  return client.State().Inspect([](const ConsoleData& data) { return data.scheduler_items; });
}

// Replaces the item list with the server's file. The download's own frames fill it.
bool Download(ConsoleClient& client) { return client.SendRequest(202, true); }

TStringList ItemLines(const TStringList& items) {
  TStringList lines;
  lines.reserve(items.size());
  for (size_t i = 0; i < items.size(); ++i) lines.push_back(ItemText(items[i], static_cast<int>(i)));
  return lines;
}

void ShowItems(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  const TStringList items = Items(client);
  if (items.empty()) {
    ShowTitle(io, kListTitle);
    ShowInfo(io, kNoItems);
    io.WriteLine();
    WaitEnter(io);
    return;
  }
  ShowResultScreen(io, kListTitle, ItemLines(items));
}

// The day of an item, asked with `label` ("Down", "Test", "Restart"); empty when the user left.
std::optional<std::string> AskDay(ConsoleIo& io, char frequency, const std::string& label) {
  if (frequency == 'D') return "0";
  if (frequency == 'W') {
    int weekday = 0;
    if (!AskNumber(io, label + " day (0 = Sunday ... 6 = Saturday): ", weekday, 0, 6)) return std::nullopt;
    return std::to_string(weekday);
  }
  for (;;) {
    const std::string answer = ReadLine(io, label + " date [" + kDateHint + "]: ", false);
    if (TrimBlanks(answer).empty()) return std::nullopt;
    if (const std::optional<int64_t> day = ParseDayText(answer)) return std::to_string(*day);
    ShowErrorLine(io, "Invalid date !");
  }
}

std::optional<std::string> AskTime(ConsoleIo& io, const std::string& label) {
  for (;;) {
    const std::string answer = ReadLine(io, label + " time [" + kTimeHint + "]: ", false);
    if (TrimBlanks(answer).empty()) return std::nullopt;
    if (const std::optional<int> seconds = ParseTimeText(answer)) return std::to_string(*seconds);
    ShowErrorLine(io, "Invalid time !");
  }
}

void InsertItem(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  ShowTitle(io, "UPS SCHEDULER - INSERT NEW ITEM");
  int type = 0;
  int frequency = 0;
  if (!AskNumber(io, "Type (0=Shutdown; 1=Battery Test; 2=Autonomy Calibration): ", type, 0, 2)) return;
  if (!AskNumber(io, "Frequency (0=Once; 1=Daily; 2=Weekly): ", frequency, 0, 2)) return;
  const char frequency_code = "ODW"[frequency];
  const std::string label = type == 0 ? "Down" : "Test";
  const std::optional<std::string> day = AskDay(io, frequency_code, label);
  if (!day) return;
  const std::optional<std::string> time = AskTime(io, label);
  if (!time) return;
  std::string restart_day = "-1";
  std::string restart_time = "-1";
  if (type == 0 && AskYesNo(io, "Restart UPS [y/N] ? ", true)) {
    const std::optional<std::string> rday = AskDay(io, frequency_code, "Restart");
    if (!rday) return;
    const std::optional<std::string> rtime = AskTime(io, "Restart");
    if (!rtime) return;
    restart_day = *rday;
    restart_time = *rtime;
  }
  static constexpr const char* kTypes[] = {"SR", "BT", "AT"};
  const std::string item =
      JoinText({kTypes[type], std::string(1, frequency_code), *day, *time, restart_day, restart_time}, '|');
  client.State().Update([&](ConsoleData& data) { data.scheduler_items.push_back(item); });
  ShowItems(client);
}

void DeleteItems(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  if (Items(client).empty()) {
    ShowItems(client);
    return;
  }
  bool removed = false;
  for (;;) {
    const TStringList items = Items(client);
    ShowTitle(io, kListTitle);
    for (const std::string& line : ItemLines(items)) io.WriteLine(line);
    io.WriteLine();
    int index = 0;
    if (!AskNumber(io, "Select item to delete [<blank> for cancel]: ", index, 0, static_cast<int>(items.size()) - 1)) {
      break;
    }
    const bool now_empty = client.State().Update([&](ConsoleData& data) {
      // The list is the one just shown: only this thread edits it while the editor runs.
      if (static_cast<size_t>(index) < data.scheduler_items.size()) {
        data.scheduler_items.erase(data.scheduler_items.begin() + index);
      }
      return data.scheduler_items.empty();
    });
    removed = true;
    if (now_empty) {
      io.WriteLine();
      io.WriteLine();
      ShowInfo(io, kNoItems);
      break;
    }
  }
  if (removed) ShowItems(client);
}

void SaveItems(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  const TStringList items = Items(client);
  // An empty list is answered inside UploadList; otherwise the answer is awaited here, bounded like
  // every other request so that a silent server cannot hold the console for ever.
  bool saved = client.UploadList(items) && (items.empty() || client.WaitForAnswer());
  saved = saved && UpsData(client).results.upload == "Yes" && Download(client);
  if (saved) {
    io.WriteLine();
    ShowInfo(io, "Configuration properly saved");
    io.WriteLine();
  } else {
    ShowErrorLine(io, "Error while saving configuration !");
  }
  WaitEnter(io);
}

}  // namespace

void RunSchedulerEditor(ConsoleClient& client) {
  if (!Download(client)) return;
  while (UpsReachable(client)) {
    const int choice = SelectFromMenu(
        client.Io(), {"UPS SCHEDULER", "View Configured Items", "Insert New Item", "Delete Item", "Save configuration"},
        kSubMenuPrompt, "");
    switch (choice) {
      case 0:
        ShowItems(client);
        break;
      case 1:
        InsertItem(client);
        break;
      case 2:
        DeleteItems(client);
        break;
      case 3:
        SaveItems(client);
        break;
      default:
        return;
    }
  }
}

}  // namespace keep::console
