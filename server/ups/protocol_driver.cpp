#include "server/ups/protocol_driver.h"

#include <cstdint>

#include "server/ups/halvora_driver.h"
#include "server/ups/megatec_driver.h"
#include "server/ups/quadrel_driver.h"

namespace keep::server {

std::unique_ptr<ProtocolDriver> CreateProtocolDriver(int32_t protocol_number, const DriverServices& services) {
  switch (protocol_number) {
    case 0:
    case 2:
    case 5:
    case 6:
      return std::make_unique<HalvoraDriver>(protocol_number);
    case 1:
    case 3:
    case 7:
    case 8:
      return std::make_unique<MegatecDriver>(protocol_number);
    case 4:
      return std::make_unique<QuadrelDriver>(services);
    default:
      return nullptr;
  }
}

int64_t MaxRestartDelaySeconds(int32_t protocol_number) {
  switch (protocol_number) {
    case 1:
    case 3:
    case 7:
    case 8:
      return kMegatecMaxRestartMinutes * 60;
    default:
      return INT32_MAX;
  }
}

}  // namespace keep::server
