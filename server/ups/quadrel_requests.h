// Which exchanges of the binary modular-UPS protocol (protocol number 4) each client request needs.
// Main loop only (it reads and resets TUpsData lists).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "common/text_lists.h"
#include "server/ups/protocol_driver.h"

namespace keep::server {

// Queues a request of the server's own (code, fields) in front of the client requests.
using QuadrelInternalRequest = std::function<void(int code, const TStringList& fields)>;

// The internal request the data sample asks for to refresh the input phases.
inline constexpr int kQuadrelInputRequest = 133;

// Appends the exchanges of UpsCommand.Code/Args to the queue, in the order they are to be sent, and
// resets the lists the request reads afresh (module identifiers, alarm and event tables, event
// log). A field that a value write needs and that is missing or not a decimal integer leaves that
// write out rather than sending a guessed value. `internal` may be empty: the data sample then
// cannot ask for the input phases.
void BuildQuadrelExchanges(DriverContext& context, const QuadrelInternalRequest& internal);

// "CMD" or "CMD,f1,f2..." in decimal.
std::string QuadrelItem(int cmd, std::initializer_list<int64_t> fields = {});

}  // namespace keep::server
