// The console's menu tree below the main menu: the entries the main menu shows for the UPS, the
// "UPS DATA READ MENU" and the "MODULES DATA READ MENU", and the sub-menu loop that every menu
// below the main menu can run in.
//
// Threads: menu thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "console/actions_screens.h"
#include "console/console_client.h"
#include "console/main_menu.h"

namespace keep::console {

// Shows `title` with the entries `entries(client)` (asked again before each display, so they follow
// the UPS kind) and runs the one chosen, until the empty answer, the end of input, or until
// the UPS is no longer reachable (UpsReachable: tested before each display, so a lost UPS, message
// 500, or a disconnection sends every sub-menu back to the main menu). The kinds' groups
// (IsStandardKind, IsModularKind) and the prompt are those of actions_screens.h.
void RunSubMenu(ConsoleClient& client, const std::string& title,
                const std::function<std::vector<MenuEntry>(ConsoleClient&)>& entries);

// The entries of the two menus, by UPS kind.
std::vector<MenuEntry> DataReadEntries(int kind);
std::vector<MenuEntry> ModulesReadEntries();

// "UPS DATA READ MENU" and "MODULES DATA READ MENU".
void RunDataReadMenu(ConsoleClient& client);
void RunModulesMenu(ConsoleClient& client);

// The menus of the actions and setup screens, given from outside so that the tree can be driven
// without them.
struct SubMenus {
  std::function<void(ConsoleClient&)> actions;  // "Actions and Tests"
  std::function<void(ConsoleClient&)> setup;    // "UPS Setup"
};

// What the main menu shows after its connection entry with the UPS present: "UPS Data Read"; for
// kinds 0-2 "Actions and Tests", "UPS Setup"; for kinds 3-6 "MODULES Data Read", "Actions and
// Tests", "UPS Setup". Kinds outside 0-6 get "UPS Data Read" only.
std::vector<MenuEntry> UpsMenuEntries(int kind, const SubMenus& sub_menus);
UpsEntriesFn MakeUpsEntries(SubMenus sub_menus);

}  // namespace keep::console
