// The local shutdown: the UPS is told to switch off (with its restart) and the installation's
// shutdown script runs, after any command to the other computers has gone out. Main loop only.
#pragma once

#include <string>

namespace keep::server {

struct ServerContext;

inline constexpr char kShutdownScript[] = "script/system/lcldown.sh";

// Queues the switch-off request (code 2) when UpsOffEnabled, then runs the shutdown script.
void ShutdownLocal(ServerContext& context, bool from_scheduler);

// Starts `path` with `parameters`; waits for its end only when `wait`. False when it could not be
// started (a missing program included).
bool RunProgram(ServerContext& context, bool wait, const std::string& path, const std::string& parameters);

}  // namespace keep::server
