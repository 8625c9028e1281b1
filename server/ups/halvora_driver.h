// The driver of the binary single-phase UPS protocol (protocol numbers 0, 2, 5 and 6). It shares the
// modular family's frame (quadrel_frame.h) but every request is one numbered command (0 ... 54)
// whose data bytes come from the client request's fields, and the reply repeats the command. Lists
// the UPS hands out one entry at a time (protocol 2's event list, the calendar) queue their next
// exchange from the reply, right after the one in progress.
//
// Main loop only, like the manager that calls it. Parse reads untrusted bytes and never reads past
// the buffer; it only ever removes bytes from the buffer's front.
#pragma once

#include <cstdint>
#include <string>

#include "server/ups/protocol_driver.h"

namespace keep::server {

class HalvoraDriver final : public ProtocolDriver {
 public:
  explicit HalvoraDriver(int protocol_number) : protocol_(protocol_number) {}

  // 255 bytes of value 0; TUpsData is left as it is.
  std::string Init(DriverContext& context) override;
  // Appends the commands of UpsCommand.Code (halvora_requests.h).
  bool BuildCommand(DriverContext& context) override;
  // Every exchange expects a reply, with no delay; ReplyTimeout := the model's reply time, its long
  // one for the short battery test; ProtoCmd := the head item's command.
  void BuildNext(DriverContext& context, uint8_t& expect_reply, int32_t& delay_ms) override;
  // Takes the first frame out of the buffer and stores it. False, consuming nothing, while the queue
  // is empty; false, waiting, while the frame is incomplete. False with the frame removed for a bad
  // checksum, a reply to another command than the one sent, a command that stores nothing and a
  // reply too short for its layout. A refusal ("Ko") is accepted.
  bool Parse(DriverContext& context, std::string& buffer) override;

 private:
  int protocol_;
};

}  // namespace keep::server
