// Which commands of the binary single-phase protocol (protocol numbers 0, 2, 5 and 6) each client
// request needs, and the data bytes each command carries, taken from the request's fields when it
// is sent. Main loop only (it resets the TUpsData lists a request reads afresh).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/ups/protocol_driver.h"

namespace keep::server {

// Appends the commands of UpsCommand.Code to the queue in the order they are sent, and empties the
// lists the request reads again (event list, calendar). Requests the protocol has no command for
// queue nothing (they are answered at once).
void BuildHalvoraExchanges(DriverContext& context, int protocol);

// One queue item: its command and the number after it (0 when it has none).
struct HalvoraItem {
  uint8_t cmd = 0;
  int64_t hint = 0;
};
HalvoraItem ParseHalvoraItem(const std::string& item);
std::string HalvoraItemText(uint8_t cmd, int64_t hint);

// The data bytes of `item` for the request in UpsCommand (Code and Args, item 0 the code). Fields
// that are "&", missing or not a number take the default of their place.
std::vector<uint8_t> HalvoraDataBytes(const DriverContext& context, const HalvoraItem& item);

// The BCD byte of a two-digit value (the value modulo 100); "*" gives kHalvoraBcdAny.
uint8_t HalvoraBcdByte(const std::string& text);

}  // namespace keep::server
