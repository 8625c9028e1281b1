#include "server/core/command_switches.h"

#include <algorithm>
#include <cctype>

#include "platform/hive_registry.h"

namespace keep::server {

CommandLine ParseCommandLine(const std::vector<std::string>& parameters) {
  CommandLine command;
  for (const std::string& given : parameters) {
    std::string parameter = given;
    std::transform(parameter.begin(), parameter.end(), parameter.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (parameter == "/DEBUG") {
      command.options.Debug = true;
    } else if (parameter == "/SRV") {
      command.options.ServiceMode = true;
    } else if (parameter == "/DRILL") {
      command.options.Drill = true;
    } else if (parameter == "--HELP" || parameter == "-H" || parameter == "/?") {
      return CommandLine{CommandLine::Action::kShowUsage, {}, {}};
    } else {
      command.ignored.push_back(given);
    }
  }
  return command;
}

namespace {

// Only where the settings are a hive file: on Windows they are the registry, and no variable moves them.
std::string HiveEnvironmentText() {
  return std::string("\nEnvironment:\n  ") + platform::kHivePathVariable +
         "  the hive file holding the settings (default " + platform::kDefaultHivePath +
         ");\n"
         "                     the single-instance lock HlvPowerkeep.lock is kept in its folder\n";
}

}  // namespace

std::string UsageText() {
  return std::string(
             "Usage: keepd [/SRV] [/DEBUG] [/DRILL]\n"
             "       keepd --help | -h | /?\n"
             "\n"
             "keepd, the Powerkeep server, watches one UPS, turns its changes into events with their\n"
             "configured actions (up to an orderly shutdown), keeps its log and serves the UPS data to\n"
             "clients over TCP. It runs in the foreground until SIGTERM (or SIGINT) stops it.\n"
             "\n"
             "Switches (any letter case, any order):\n"
             "  /SRV      run as a service: SIGINT (Ctrl+C) stops at once instead of asking first; started by\n"
             "            the Windows service manager, it reports to it and stops when it asks\n"
             "  /DEBUG    write the traffic of the UPS link to data/ups_debug.txt in the installation folder\n"
             "  /DRILL    rehearse a power failure on the configuration without switching anything off\n"
             "  --help, -h, /?\n"
             "            print this text and end\n") +
         (platform::SettingsInSystemRegistry() ? std::string() : HiveEnvironmentText());
}

}  // namespace keep::server
