// The local shutdown: the UPS is told to switch off (with its restart) and the installation's
// shutdown script runs, after any command to the other computers has gone out. Main loop only.
#pragma once

#include <cstdint>
#include <string>

#include "server/records/setup_data.h"

namespace keep::server {

struct ServerContext;

// The installation's shutdown script below the installation folder: "script/system/lcldown" with the
// system's script extension (".sh" on POSIX, ".bat" on Windows).
std::string ShutdownScript();

// Marks the network protocol's status FSD and queues the switch-off request (code 2) when
// UpsOffEnabled, then runs the shutdown script once the remote commands started before have gone out
// (or after ScriptWaitLimitMs) and the logged-in secondaries have logged out (or after HostSyncLimitMs).
void ShutdownLocal(ServerContext& context, bool from_scheduler);

// How long the shutdown script waits for remote commands under way: the connection time-out of a
// remote command, and with a UPS switch-off at most half of its delay, so the script is well under
// way before the UPS cuts the power.
int64_t ScriptWaitLimitMs(const TSetupData& setup);

// How long the shutdown script waits for the secondaries logged in through the network protocol to
// log out: NutHostSyncSeconds, and with a UPS switch-off at most half of its delay.
int64_t HostSyncLimitMs(const TSetupData& setup);

// Starts `path` with `parameters`; waits for its end only when `wait`. False when it could not be
// started (a missing program included).
bool RunProgram(ServerContext& context, bool wait, const std::string& path, const std::string& parameters);

}  // namespace keep::server
