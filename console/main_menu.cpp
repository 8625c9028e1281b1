#include "console/main_menu.h"

#include "console/menu_select.h"

namespace keep::console {

void MainMenu(ConsoleClient& client, const UpsEntriesFn& ups_entries) {
  for (;;) {
    ClientState& state = client.State();
    const bool ups_present = state.ups_present;
    TStringList texts{"MAIN MENU"};
    std::vector<MenuEntry> entries;
    if (state.connected) {
      texts.push_back("Disconnect from Powerkeep (" + state.host + ":" + state.port + ")");
      if (ups_present && ups_entries) entries = ups_entries(client);
    } else {
      texts.push_back("Connect to Powerkeep");
    }
    for (const MenuEntry& entry : entries) texts.push_back(entry.text);

    // A message of the server (UPS lost, UPS back) changes the entries while the menu waits.
    const int choice = SelectFromMenu(client.Io(), texts, "Selection [Q for exit]: ", "Q",
                                      [&state, ups_present] { return state.ups_present != ups_present; });
    if (choice == kMenuQuit) return;
    if (choice == kMenuStale) continue;
    if (choice == 0) {
      client.ToggleConnection();
    } else if (const MenuEntry& entry = entries[static_cast<size_t>(choice - 1)]; entry.run) {
      entry.run(client);
    }
  }
}

}  // namespace keep::console
