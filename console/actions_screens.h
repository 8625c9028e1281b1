// What the action, setup, clock and scheduler screens share: the screen entry points one by one (the
// menus of actions.h lead to them), and the small conventions of their dialogues.
//
// Threads: menu thread only. Every screen sends at most the requests of its own dialogue; a request
// that fails has shown its error (ConsoleClient::SendRequest) and the screen then ends without a
// result screen.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/text_lists.h"
#include "console/console_client.h"
#include "console/main_menu.h"
#include "console/ups_kinds.h"

namespace keep::console {

inline constexpr std::string_view kSubMenuPrompt = "Selection [<blank> to return to Main Menu]: ";

// True while connected with the UPS present: the menus of these screens end as soon as it is not.
bool UpsReachable(ConsoleClient& client);

// A copy of what the answers filled in.
ConsoleUpsData UpsData(ConsoleClient& client);

// The field of a yes/no answer: "1" for yes, "0" for no.
inline std::string YesNoField(bool yes) { return yes ? "1" : "0"; }

// The result screen: the title, the lines, then the ENTER prompt.
void ShowResultScreen(ConsoleIo& io, std::string_view title, const TStringList& lines);
// An empty line, the text as ShowInfo, an empty line: how resets and the shutdown show their result.
void ShowFramedInfo(ConsoleIo& io, std::string_view text);

// The entries of the actions and setup menus for a UPS of `kind`.
std::vector<MenuEntry> ActionsEntries(int kind);
std::vector<MenuEntry> SetupEntries(int kind);

// Actions and tests.
void RunBatteryTest(ConsoleClient& client);
void RunAutonomyTest(ConsoleClient& client);
// True when the server answered that it shuts down: the console has then disconnected.
bool RunServerShutdown(ConsoleClient& client);

// UPS setup.
void RunBuzzerSet(ConsoleClient& client);
void RunInputDataSet(ConsoleClient& client);
void RunOutputDataSet(ConsoleClient& client);
void RunBatteryDataSet(ConsoleClient& client);
void RunHistoryReset(ConsoleClient& client);
void RunRelayContactsSet(ConsoleClient& client);
void RunEventsListReset(ConsoleClient& client);

}  // namespace keep::console
