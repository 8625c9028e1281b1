// The switches of the server's command line.
#pragma once

#include <string>
#include <vector>

#include "server/services/server_context.h"

namespace keep::server {

struct CommandLine {
  enum class Action { kRun, kShowUsage, kUnknownSwitch };
  Action action = Action::kRun;
  ServerOptions options;
  std::string unknown;  // with kUnknownSwitch: the first parameter not understood, as given
};

// "/DEBUG" and "/SRV" in any letter case and any order. "--help", "-h" or "/?" anywhere asks for
// the usage text, whatever else is given; any other parameter is an unknown switch, so a mistyped
// one does not start a server that runs without it.
CommandLine ParseCommandLine(const std::vector<std::string>& parameters);

// What keepd takes: its switches and the environment variable naming its hive.
std::string UsageText();

}  // namespace keep::server
