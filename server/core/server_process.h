// The life of the keepd process: command line, configuration check, single-instance guard, start
// sequence, main loop, stop on signal.
#pragma once

#include <string>
#include <vector>

namespace keep::server {

inline constexpr char kInstanceLockName[] = "HlvPowerkeep";
inline constexpr char kAlreadyRunningText[] = "Powerkeep already running !";

inline constexpr int kExitFailed = 1;

// The name keepd /SRV runs under when the system's service manager started it (Windows).
inline constexpr char kServiceName[] = "keepd";

// Runs the server with the real platform services until it is told to stop. Returns the process
// exit status: 0 after an orderly stop or the usage text asked for; kExitFailed when the hive or
// its installation is missing, another instance runs, the lock cannot be taken or start-up failed.
int RunServerProcess(const std::vector<std::string>& parameters);

}  // namespace keep::server
