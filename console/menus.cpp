#include "console/menus.h"

#include "console/menu_select.h"
#include "console/read_screens.h"

namespace keep::console {

namespace {

// An entry that runs the data screen `make(kind)` of the kind at the moment it is chosen.
MenuEntry ScreenEntry(std::string text, ReadScreen (*make)(int)) {
  return {std::move(text), [make](ConsoleClient& client) { RunReadScreen(client, make(client.UpsKind())); }};
}

MenuEntry ModuleEntry(std::string text, int request) {
  return {std::move(text), [request](ConsoleClient& client) { RunModuleScreen(client, request); }};
}

}  // namespace

void RunSubMenu(ConsoleClient& client, const std::string& title,
                const std::function<std::vector<MenuEntry>(ConsoleClient&)>& entries) {
  while (UpsReachable(client)) {
    const std::vector<MenuEntry> shown = entries(client);
    TStringList texts{title};
    for (const MenuEntry& entry : shown) texts.push_back(entry.text);
    const int choice =
        SelectFromMenu(client.Io(), texts, kSubMenuPrompt, "", [&client] { return !UpsReachable(client); });
    if (choice == kMenuQuit || choice == kMenuStale) return;
    if (const MenuEntry& entry = shown[static_cast<size_t>(choice)]; entry.run) entry.run(client);
  }
}

std::vector<MenuEntry> DataReadEntries(int kind) {
  std::vector<MenuEntry> entries{ScreenEntry("Info Read", InfoScreen), ScreenEntry("Main Data Read", MainDataScreen),
                                 ScreenEntry("Input Data Read", InputDataScreen),
                                 ScreenEntry("Output Data Read", OutputDataScreen),
                                 ScreenEntry("Battery Data Read", BatteryDataScreen)};
  // The basic kind keeps no hardware data, history or events.
  if (IsStandardKind(kind) || IsModularKind(kind)) {
    entries.push_back(ScreenEntry("Hardware Data Read", HardwareDataScreen));
    entries.push_back(ScreenEntry("History Read", HistoryScreen));
    entries.push_back({"Events List Read", RunEventsScreen});
  }
  if (IsModularKind(kind)) entries.push_back({"Alarms List Read", RunAlarmsScreen});
  return entries;
}

std::vector<MenuEntry> ModulesReadEntries() {
  return {ModuleEntry("Info Read", 150),          ModuleEntry("Main Data Read", 151),
          ModuleEntry("Input Data Read", 152),    ModuleEntry("Output Data Read", 153),
          ModuleEntry("Hardware Data Read", 155), ModuleEntry("History Read", 154)};
}

void RunDataReadMenu(ConsoleClient& client) {
  RunSubMenu(client, "UPS DATA READ MENU", [](ConsoleClient& c) { return DataReadEntries(c.UpsKind()); });
}

void RunModulesMenu(ConsoleClient& client) {
  RunSubMenu(client, "MODULES DATA READ MENU", [](ConsoleClient&) { return ModulesReadEntries(); });
}

std::vector<MenuEntry> UpsMenuEntries(int kind, const SubMenus& sub_menus) {
  std::vector<MenuEntry> entries{{"UPS Data Read", RunDataReadMenu}};
  if (IsModularKind(kind)) entries.push_back({"MODULES Data Read", RunModulesMenu});
  if (kind >= 0 && kind <= 6) {
    entries.push_back({"Actions and Tests", sub_menus.actions});
    entries.push_back({"UPS Setup", sub_menus.setup});
  }
  return entries;
}

UpsEntriesFn MakeUpsEntries(SubMenus sub_menus) {
  return
      [sub_menus = std::move(sub_menus)](ConsoleClient& client) { return UpsMenuEntries(client.UpsKind(), sub_menus); };
}

}  // namespace keep::console
