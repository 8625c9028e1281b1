// The event dispatcher: runs the actions the user configured for an event number, in order.
// Main loop only (it runs inside the status evaluation).
#pragma once

#include <cstdint>
#include <functional>

#include "common/text_lists.h"
#include "server/services/server_context.h"

namespace keep::server {

// Runs the first configured action list whose event number is `event`, filling the event's texts
// with `arguments` ("$" placeholders in order, "^" as a line break). Unknown action names are
// skipped. Returns `pending`, set when an action asks for the shutdown event (10) to follow in the
// same evaluation.
bool RaiseEvent(ServerContext& context, uint8_t event, const TStringList& arguments, bool pending);

// Told of each action entry of the event (split at ",": the name, then its arguments), known or
// not: `before` just ahead of it, `after` once it has run, with the pending flag as it then stands.
struct ActionWatcher {
  std::function<void(const TStringList& fields)> before;
  std::function<void(const TStringList& fields, bool pending)> after;
};

// The same, with `watcher` told of every action as it runs (a rehearsal describes them this way).
bool RaiseEvent(ServerContext& context, uint8_t event, const TStringList& arguments, bool pending,
                const ActionWatcher& watcher);

}  // namespace keep::server
