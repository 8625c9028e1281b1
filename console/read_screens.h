// The screens that read and show UPS data: each sends its requests, waits for every answer and
// shows the lines built from the client's data. A screen whose request fails (write error or
// time-out, already shown by SendRequest) is not shown and is left.
//
// The line builders are pure functions of the data and the UPS kind; the Run* functions talk to
// the server and the user. Threads: menu thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/text_lists.h"
#include "console/console_client.h"
#include "console/console_data.h"

namespace keep::console {

inline constexpr char kRefreshPrompt[] = "< Press \"R\" to refresh or \"ENTER\" to continue >";
inline constexpr int kLinesPerPage = 15;

// Writes a screen: `lines` holds the title first (ShowTitle when not empty), then one line per
// entry. With `paging`, after every 15 lines "< more >" is asked (an empty line before) and an
// empty line follows.
void ShowLines(ConsoleIo& io, const TStringList& lines, bool paging);
// ShowLines, then with `refreshable` the refresh key prompt (an empty line written after "R" or
// "r"), else the ENTER prompt. Returns the key read (0 without refresh).
char ShowScreen(ConsoleIo& io, const TStringList& lines, bool refreshable, bool paging);
bool IsRefreshKey(char key);

// Sends `requests` one after the other, each waiting for its answer; the first failure stops
// (false).
bool SendAll(ConsoleClient& client, const std::vector<int>& requests);

// A screen of the data menu: the requests, then the lines of `build`; refreshable screens are
// built again (new requests) while the key is "R" or "r".
struct ReadScreen {
  std::vector<int> requests;
  bool refreshable = true;
  std::function<TStringList(const ConsoleUpsData&, int kind)> build;
};
void RunReadScreen(ConsoleClient& client, const ReadScreen& screen);

// The screens of the data menu, by UPS kind (title first, then the lines).
ReadScreen InfoScreen(int kind);
ReadScreen MainDataScreen(int kind);
ReadScreen InputDataScreen(int kind);
ReadScreen OutputDataScreen(int kind);
ReadScreen BatteryDataScreen(int kind);
ReadScreen HardwareDataScreen(int kind);
ReadScreen HistoryScreen(int kind);

// The lines of the list screens (title first).
TStringList StandardEventLines(const ConsoleData& data);
TStringList ModularEventLines(const ConsoleData& data);
TStringList AlarmLines(const ConsoleData& data);

// "Events List Read": the standard list (109) for kinds 1-2, the modular lists (139) for 3-6.
void RunEventsScreen(ConsoleClient& client);
// "Alarms List Read" (137).
void RunAlarmsScreen(ConsoleClient& client);

// The module screens of modular kinds, by their request (150 info, 151 main, 152 input, 153 output,
// 154 history, 155 hardware).
std::string ModuleScreenTitle(int request);
TStringList ModuleLines(int request, const ConsoleUpsData& data);
// The module screen of `request`: chooses the module (none installed: "No Modules available"),
// asks for it and shows it, with refresh and the choice of another module.
void RunModuleScreen(ConsoleClient& client, int request);
// The error text of a module status other than "0".
std::string ModuleStatusText(const std::string& status);

}  // namespace keep::console
