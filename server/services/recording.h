// The server's event log file "data/ups_log.txt" below the installation folder.
#pragma once

#include <string_view>

#include "server/core/server_context.h"

namespace keep::server {

inline constexpr char kLogFileName[] = "data/ups_log.txt";

// Appends one dated line when logging is enabled; a line that cannot be written is lost silently.
// Nothing is written while the installation folder is unknown, so a broken setup never scatters
// log files into whatever folder the process happens to run in.
void WriteLogLine(const ServerContext& context, std::string_view text);

}  // namespace keep::server
