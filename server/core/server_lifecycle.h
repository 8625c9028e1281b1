// The start and stop sequences of the server. Main loop only.
#pragma once

#include <cstdint>
#include <functional>

#include "server/services/server_context.h"

namespace keep::server {

// The requester of the calibration-test stop sent while the server stops, and the pause that gives
// the UPS time to answer it.
inline constexpr char kLocalStopRequester[] = "127.0.0.1";
inline constexpr int64_t kAutonomyTestStopWaitMs = 2000;

// Brings the server up in its fixed order. Returns whether it runs; on a fatal error the error has
// been reported and the stop sequence has already run.
bool StartSequence(ServerContext& context);

// The way a running server is asked to stop: when a calibration test is running, the request that
// stops it goes to the UPS first and `finish` runs 2 s later, after its completion, with the loop
// serving the exchange meanwhile; otherwise `finish` runs at once. `finish` normally runs the stop
// sequence and ends the loop.
void BeginStop(ServerContext& context, std::function<void()> finish);

// Undoes the start sequence in reverse. Runs at most once per context; later calls do nothing.
void StopSequence(ServerContext& context);

}  // namespace keep::server
