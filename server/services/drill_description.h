// What a rehearsal prints for each act the server would have done: one or more lines of plain
// text per act, the secrets of the settings left out. Pure functions, any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "server/records/setup_data.h"
#include "server/services/drill_environment.h"

namespace keep::server {

// `text` on one line: each line break (CR LF, CR or LF) becomes " / ", any other control character
// "?", so a text from the settings or the language files cannot move a terminal's cursor.
std::string OneLine(std::string_view text);

// The lines describing `act` (for programs: what the program is for, then its start).
std::vector<std::string> DescribeAct(const DrillAct& act, const TSetupData& setup);

}  // namespace keep::server
