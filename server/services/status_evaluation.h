// The status evaluation: compares the UPS record and the server state with what they held at the
// previous evaluation and raises an event for every change, ending with the shutdown event when a
// trigger asked for it. Main loop only.
#pragma once

#include <cstdint>
#include <functional>

#include "common/text_lists.h"

namespace keep::server {

struct ServerContext;

// Runs the actions of one event and returns the pending flag as RaiseEvent does (true once an
// action asked for the shutdown event to follow).
using EventRaiser = std::function<bool(uint8_t event, const TStringList& arguments, bool pending)>;

// Runs one evaluation. Uses the context's clients (notices), request queue, main cycle and command
// step when they exist; any of them may be absent (before start, after stop, in tests).
void EvaluateUpsState(ServerContext& context);

// The same with the events handed to `raise` instead of the event dispatcher (tests watch the
// events and the state they are raised in through it).
void EvaluateUpsState(ServerContext& context, const EventRaiser& raise);

}  // namespace keep::server
