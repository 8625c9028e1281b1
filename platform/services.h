// Services of the operating system that only some platforms have: the service manager, the
// registration of a process as a service process on the old systems, and the network message
// service. POSIX has none of them, and each call answers the way a system without it does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace keep::platform {

// The service manager's state number of a running service.
inline constexpr uint32_t kServiceRunning = 4;

// The current state of the service `name` as the service manager reports it; 0 when the manager or
// the service cannot be opened (always on POSIX). Any thread.
uint32_t ServiceState(std::string_view name);

// Registers (true) or unregisters (false) the current process as a service process; false when the
// system has no such function (POSIX and the NT family). Any thread.
bool SetServiceProcess(bool register_process);

// The workgroup or domain of this computer for network messages; empty when unknown or when there
// is no network message service (always on POSIX). Any thread.
std::string WorkgroupName();

// Sends `text` from this computer to `recipient` through the network message service; false when
// the message could not be handed over (always on POSIX: there is no such service). Any thread.
bool SendNetworkMessage(std::string_view recipient, std::string_view sender, std::string_view text);

}  // namespace keep::platform
