// The main menu of the console: the connection entry, then the entries that lead to the UPS's
// screens, which the data, actions and setup menus provide through `ups_entries`.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "console/console_client.h"

namespace keep::console {

struct MenuEntry {
  std::string text;
  std::function<void(ConsoleClient&)> run;
};

// The entries shown after the connection entry while connected with the UPS present (by UPS
// kind); none when not given.
using UpsEntriesFn = std::function<std::vector<MenuEntry>(ConsoleClient&)>;

// "MAIN MENU": while connected "Disconnect from Powerkeep (host:port)" and, with the UPS present,
// the UPS entries; while not connected "Connect to Powerkeep". The connection entry runs
// ToggleConnection. Returns when the user answers "Q" (or the input ended).
void MainMenu(ConsoleClient& client, const UpsEntriesFn& ups_entries);

}  // namespace keep::console
