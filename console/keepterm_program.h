// The console program from its start-up line to its end, on injected console, link and waits.
#pragma once

#include <string_view>

#include "console/console_io.h"
#include "console/main_menu.h"
#include "console/pause.h"
#include "console/server_link.h"
#include "console/value_renderings.h"

namespace keep::console {

inline constexpr std::string_view kStartupLine = "Voltrena - Voltrena Console [Version 1.1.4.9]";
inline constexpr std::string_view kCreditsLine =
    "Voltrena Console 1.1.4.9 - diagnostic console of the Powerkeep UPS server, by the Voltrena team.";

// Writes the start-up line, then runs the connection dialog until it is cancelled or a server with
// a UPS is reached; then, after loading the code tables of a modular UPS (requests 136 and 140),
// the main menu with `ups_entries`. A null `link` shows "Internal error. Impossible to
// continue !". Returns the process's exit status: 0, or 1 after the internal error.
int RunConsoleProgram(ConsoleIo& io, ServerLink* link, Pause& pause, const RenderStyle& style,
                      const UpsEntriesFn& ups_entries);

}  // namespace keep::console
