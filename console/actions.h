// The console's screens that change something on the server or the UPS. The menu tree (menus.h)
// leads here from the main menu: "Actions and Tests" runs RunActionsMenu and "UPS Setup" runs
// RunSetupMenu; those two menus lead on to the clock and scheduler screens.
//
// Threads: menu thread only. Each returns to its caller when the user leaves it, and a menu loop
// also ends by itself once the client is no longer connected or the UPS is no longer present
// (RunSubMenu in menus.h does that).
#pragma once

#include "console/console_client.h"

namespace keep::console {

// "ACTIONS AND TESTS MENU": scheduler, battery test, autonomy calibration test (kinds 1-2), server
// shutdown.
void RunActionsMenu(ConsoleClient& client);
// "UPS SETUP MENU": the setting screens and resets of the UPS kind.
void RunSetupMenu(ConsoleClient& client);
// The "UPS Clock Set" screen of the setup menu.
void RunClockMenu(ConsoleClient& client);
// The scheduler editor of the actions menu.
void RunSchedulerEditor(ConsoleClient& client);

}  // namespace keep::console
