// What keepterm's command line asks for. The console takes no arguments for its work (the server's
// address is asked for in the dialog); these only print a text and end.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace keep::console {

enum class KeeptermStart { kDialog, kCredits, kUsage };

// "--help", "-h" or "/?" (any letter case) anywhere: the usage text. Otherwise "-cr" as the first
// argument: the credits line. Anything else is ignored and the dialog starts.
KeeptermStart ParseKeeptermArguments(const std::vector<std::string>& arguments);

inline constexpr std::string_view kUsageText =
    "Usage: keepterm [-cr | --help | -h | /?]\n"
    "\n"
    "keepterm is the text console of the Powerkeep UPS server (keepd). It asks for the server's\n"
    "address (host, default 127.0.0.1; port, default 5769), connects over TCP and shows the UPS's\n"
    "data, tests and settings in numbered menus. It takes no arguments for its work.\n"
    "\n"
    "  -cr             print the credits line and end\n"
    "  --help, -h, /?  print this text and end\n"
    "\n"
    "Keys: type a menu entry's number and ENTER. To leave: Q and ENTER at the host or port\n"
    "question or in the main menu; ENTER alone in another menu goes back to the main menu;\n"
    "Ctrl+C ends keepterm at once.\n";

}  // namespace keep::console
