// Identifying the UPS: at start and whenever communication with it was lost.
#pragma once

#include "server/services/server_context.h"

namespace keep::server {

// The manager's wake-up, then the identification request (code 100) once its pause is over.
void IdentifyUps(ServerContext& context);

}  // namespace keep::server
