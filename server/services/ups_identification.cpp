#include "server/services/ups_identification.h"

namespace keep::server {

void IdentifyUps(ServerContext& context) {
  UpsManager* manager = context.Manager.get();
  if (manager == nullptr) return;
  manager->WakeUp([manager] { manager->SendCommand({"100"}); });
}

}  // namespace keep::server
