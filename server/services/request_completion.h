// The completion of a request the UPS manager has finished: who receives its answer (the requester,
// every client or nobody) and the status evaluation after the server's own requests. Main loop only.
#pragma once

#include <functional>
#include <string>

#include "server/services/server_context.h"

namespace keep::server {

// How answers find their clients, so the request machinery does not depend on the client server.
// SendToClient answers the first client whose peer address is `target` (false when none matched);
// NotifyAllClients answers every connected client once. `parameter` may be null. Either may be
// empty, in which case nothing is sent. Called on the main loop.
struct AnswerRouter {
  std::function<bool(const std::string& target, const std::string* parameter, int code)> SendToClient;
  std::function<void(int code, const std::string* parameter)> NotifyAllClients;
};

// Answers `requester` with the response to `code`. The server's own requests ("@") and an empty
// requester are answered to nobody. False when nothing was sent.
bool AnswerRequester(const AnswerRouter& router, const std::string& requester, int code);

// Processes the completion of the request in context.Server.Command. Clears LinkFailed; does
// nothing more while no request has completed yet (empty requester). While the first identification
// is pending (UpsConnecting) it records the identification as answered, runs `evaluate` and leaves
// CompletionDone false, so the completion is processed again at the next step. Otherwise it routes
// the answer, runs `evaluate` after the server's own requests when the code asks for it, and sets
// CompletionDone. On the way it logs battery test results, UPS resets and the start and end of the
// autonomy calibration test (which it also starts and ends in the estimate), and notifies every
// client of setting changes and of the calibration test (401 with "1" started, "3" stopped by a
// client, "4" ended by the server). `evaluate` may be empty.
void CompleteRequest(ServerContext& context, const AnswerRouter& router, const std::function<void()>& evaluate);

}  // namespace keep::server
