#include "server/core/command_switches.h"

#include <algorithm>
#include <cctype>

namespace keep::server {

ServerOptions ParseSwitches(const std::vector<std::string>& parameters) {
  ServerOptions options;
  for (std::string parameter : parameters) {
    std::transform(parameter.begin(), parameter.end(), parameter.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (parameter == "/DEBUG") options.Debug = true;
    if (parameter == "/SRV") options.ServiceMode = true;
    if (parameter == "/DRILL") options.Drill = true;
  }
  return options;
}

}  // namespace keep::server
