// The switches of the server's command line.
#pragma once

#include <string>
#include <vector>

#include "server/services/server_context.h"

namespace keep::server {

struct CommandLine {
  enum class Action { kRun, kShowUsage };
  Action action = Action::kRun;
  ServerOptions options;
  std::vector<std::string> ignored;  // parameters not understood, as given
};

// "/DEBUG", "/SRV" and "/DRILL" in any letter case and any order. "--help", "-h" or "/?" anywhere asks for
// the usage text, whatever else is given. Other parameters are ignored, as they always were (service
// hosts may pass their own); the caller names them, so a mistyped switch does not go unnoticed.
CommandLine ParseCommandLine(const std::vector<std::string>& parameters);

// What keepd takes: its switches and the environment variable naming its hive.
std::string UsageText();

}  // namespace keep::server
