// POSIX has no service manager, no service-process registration and no network message service;
// the answers are those of a Windows system where each is missing, which the callers already handle.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/services.h"

namespace keep::platform {

uint32_t ServiceState(std::string_view /*name*/) { return 0; }

bool SetServiceProcess(bool /*register_process*/) { return false; }

std::string WorkgroupName() { return {}; }

bool SendNetworkMessage(std::string_view /*recipient*/, std::string_view /*sender*/, std::string_view /*text*/) {
  return false;
}

}  // namespace keep::platform
