// The argument text handed to the suite's e-mail sender (bin/mailout), which the mail action starts.
#pragma once

#include <string>
#include <string_view>

#include "server/records/setup_data.h"

namespace keep::server {

// With EmailUseAuth:
//   ` -a:"<server>" -p:"<port>" -l:"<login>" -w:"<password>" -s:"<sender>" -r:"<recipients>"
//    -o:"<subject>" -b:"<time_stamp> - <message>" -z`
// without it the same less the -l and -w words (all on one line, single blanks between words).
// The text starts with a blank so it can follow the program path directly. Values are inserted as
// they are: the sender tool expects them unescaped, so a value holding a double quote splits the
// words differently; callers must not pass untrusted text. Pure function, any thread.
std::string BuildMailArguments(const TEmailSetup& email, std::string_view recipients, std::string_view subject,
                               std::string_view time_stamp, std::string_view message);

}  // namespace keep::server
