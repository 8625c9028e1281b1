// Storing the replies of the binary single-phase protocol (protocol numbers 0, 2, 5 and 6) into
// TUpsData, by command. Main loop only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "server/ups/protocol_driver.h"
#include "server/ups/quadrel_frame.h"

namespace keep::server {

// What storing a reply needs beyond the context.
struct HalvoraReplyInput {
  int64_t hint = 0;       // the number of the queue item the reply answers (halvora_commands.h)
  bool refused = false;   // the UPS answered "Ko"; byte 1 still holds the command
};

// Stores `reply` (byte 1 its command) and says whether it is accepted: true for every command that
// stores something, refusals included; false for a command that stores nothing, one we never send
// and a reply too short for what it must carry (which then stores nothing). `next` receives the
// queue item of the exchange the reply asks for (the next event or calendar step); the caller
// queues it right after the one in progress.
bool StoreHalvoraReply(DriverContext& context, const HalvoraReplyInput& input, const QuadrelReply& reply,
                       std::optional<std::string>& next);

// A signed 16-bit value as stored: -2 not available ("&"), -1 overrange ("@"), else its decimal text.
std::string HalvoraSignedText(int16_t raw);

// LoadR from the output's active power: 100 x power / the power the working modules can give.
// 0 when a value is not a number or the module count is not positive.
float HalvoraLoad(const std::string& active_power, const TUpsInfoData& info, const std::string& faulty_modules);

// Storing the lists and clock replies (halvora_lists.cpp): event list (7, 46), calendar (52, 53,
// 54), clock (48, 49). Empty for another command; otherwise the contract of StoreHalvoraReply.
std::optional<bool> StoreHalvoraListReply(DriverContext& context, const HalvoraReplyInput& input, const QuadrelReply& reply,
                           std::optional<std::string>& next);

}  // namespace keep::server
