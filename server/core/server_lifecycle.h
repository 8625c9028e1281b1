// The start and stop sequences of the server. Main loop only.
#pragma once

#include "server/core/server_context.h"

namespace keep::server {

inline constexpr char kLaunchedByServiceHost[] = "bin/svcrun";
inline constexpr char kLaunchedByItself[] = "bin/keepd";

// Brings the server up in its fixed order. Returns whether it runs; on a fatal error the error has
// been reported and the stop sequence has already run.
bool StartSequence(ServerContext& context);

// Undoes the start sequence in reverse. Runs at most once per context; later calls do nothing.
void StopSequence(ServerContext& context);

}  // namespace keep::server
