// The driver of the binary protocol of the modular three-phase UPS family (protocol number 4). Every
// exchange is one framed request (quadrel_frame.h) answered by one framed reply that repeats its
// command; queue items are "CMD,f1,f2..." in decimal (quadrel_commands.h). Tables that the UPS hands
// out one entry at a time (alarm and event texts, the event log) and the battery test queue their
// next exchange from the reply, right after the one in progress.
//
// Main loop only, like the manager that calls it. Parse reads untrusted bytes and never reads past
// the buffer; it only ever removes bytes from the buffer's front.
#pragma once

#include <cstdint>
#include <string>

#include "common/format_settings.h"
#include "server/ups/protocol_driver.h"
#include "server/ups/quadrel_requests.h"

namespace keep::server {

// The data sample asks for the input phases through the server's queue; the event log's dates are
// written in the server's short date format. Without a queue the data sample reads battery and
// output only.
using QuadrelServices = DriverServices;

class QuadrelDriver final : public ProtocolDriver {
 public:
  explicit QuadrelDriver(QuadrelServices services = {});

  // 255 bytes of value 0; TUpsData is left as it is.
  std::string Init(DriverContext& context) override;
  // Appends the exchanges of UpsCommand.Code (quadrel_requests.h).
  bool BuildCommand(DriverContext& context) override;
  // Every exchange expects a reply, with no delay; ReplyTimeout := the model's reply time; ProtoCmd
  // := the head item's command. An empty queue gives an empty frame.
  void BuildNext(DriverContext& context, uint8_t& expect_reply, int32_t& delay_ms) override;
  // Takes the first frame out of the buffer and stores it. False, consuming nothing, while the queue
  // is empty. False, waiting, while the frame is incomplete (the noise before its start byte is
  // dropped; a buffer without any start byte is emptied). False with the frame removed for a bad
  // checksum, a refusal ("Ko"), a command we never send, a reply to another command than ProtoCmd
  // (66 and 67 answer each other) and a reply too short for what it must carry. True when stored.
  bool Parse(DriverContext& context, std::string& buffer) override;

 private:
  QuadrelServices services_;
};

// The command of a queue item ("CMD,..."), 0 when it has none.
int32_t QuadrelItemCommand(const std::string& item);

}  // namespace keep::server
