// The life of the keepd process: single-instance guard, start sequence, main loop, stop on signal.
#pragma once

#include <string>
#include <vector>

namespace keep::server {

inline constexpr char kInstanceLockName[] = "HlvPowerkeep";
inline constexpr char kAlreadyRunningText[] = "Powerkeep already running !";

// Runs the server with the real platform services until it is told to stop. Returns the process
// exit status: 0 after an orderly stop, 1 when another instance runs or start-up failed.
int RunServerProcess(const std::vector<std::string>& parameters);

}  // namespace keep::server
