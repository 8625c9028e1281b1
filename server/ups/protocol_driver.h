// What a protocol driver offers the UPS manager, and what the manager lends it. A driver knows its
// protocol's frames and fills TUpsData itself; the manager knows nothing of either. Main loop only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/format_settings.h"
#include "common/text_lists.h"
#include "server/records/server_data.h"
#include "server/records/setup_data.h"
#include "server/ups/ups_data.h"

namespace keep::server {

// The protocol exchange state of the command in progress.
struct TUpsManUpsCommand {
  int32_t ProtoCmd = 0;  // protocol command code of the exchange on the wire (Quadrel)
  std::string Frame;     // the bytes to send for the current exchange
  TStringList Queue;     // pending exchanges, head first; the item form belongs to the driver
};

// The client command in progress.
struct TUpsManCommandRecord {
  int32_t Code = 0;  // client request code
  TStringList Args;  // the command's fields as received, item 0 the code's text
  TUpsManUpsCommand Exchange;
};

// Everything a driver may read or change, lent for the duration of one call.
struct DriverContext {
  TUpsManCommandRecord& UpsCommand;
  uint16_t& ReplyTimeout;  // ms armed on the reply timer for the next exchange
  TUpsData& Ups;
  TSetupData& Setup;  // the battery charge estimate lives here
  TServerData& Server;
};

class ProtocolDriver {
 public:
  virtual ~ProtocolDriver() = default;

  // The wake-up text (may be empty); may reset TUpsData fields.
  virtual std::string Init(DriverContext& context) = 0;
  // Fills the exchange queue from UpsCommand.Code/Args (and, where no exchange is needed, TUpsData
  // directly). True when at least one exchange was queued.
  virtual bool BuildCommand(DriverContext& context) = 0;
  // Builds Frame for the head of the queue; may set ReplyTimeout. expect_reply 0 means send and move
  // on, waiting delay_ms first when it is above 0.
  virtual void BuildNext(DriverContext& context, uint8_t& expect_reply, int32_t& delay_ms) = 0;
  // Consumes from `buffer` what belongs to the reply to the head exchange; true when a complete
  // reply was taken in. Every byte is untrusted: never read past the buffer.
  virtual bool Parse(DriverContext& context, std::string& buffer) = 0;
};

// What a driver may need from the server beyond DriverContext, given when it is made.
struct DriverServices {
  // Queues a request of the server's own (a data sample may want more than one exchange group).
  // May be empty: that request is then not asked for.
  std::function<void(int code, const TStringList& fields)> queue_internal_request;
  // Dates the UPS reports are written in the server's short date format.
  TFormatSettings format;
};

// The driver of a protocol number: Halvora for 0, 2, 5, 6, Megatec for 1, 3, 7, 8, Quadrel for 4; null
// for a number without a driver, which makes every command answer at once and no data be accepted.
std::unique_ptr<ProtocolDriver> CreateProtocolDriver(int32_t protocol_number, const DriverServices& services = {});

// The longest restart delay, in seconds, that the switch-off command of a protocol number carries:
// Megatec's field of four digits of minutes; a 32-bit count of seconds for the binary protocols.
int64_t MaxRestartDelaySeconds(int32_t protocol_number);

}  // namespace keep::server
