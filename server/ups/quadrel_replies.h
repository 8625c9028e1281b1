// Storing the replies of the modular UPS (protocol number 4) into TUpsData, by command. Main loop
// only.
#pragma once

#include <optional>
#include <string>

#include "common/format_settings.h"
#include "server/ups/protocol_driver.h"
#include "server/ups/quadrel_frame.h"

namespace keep::server {

// What storing a reply needs beyond TUpsData.
struct QuadrelReplyInput {
  const std::string& head;  // the queue item the reply answers ("CMD,f1,...")
  const TFormatSettings& format;
};

// Stores `reply` (byte 1 its command) and says whether it is accepted: false for a refusal, a
// command we never send, and a reply too short for what it must carry (which then stores nothing).
// `next` receives the queue item of an exchange the reply asks for (the next table entry or event
// record, the battery test's next step); the caller queues it right after the one in progress.
bool StoreQuadrelReply(DriverContext& context, const QuadrelReplyInput& input, const QuadrelReply& reply,
                       std::optional<std::string>& next);

// The load percentage of one ratio: -1 when the nominal value is not a number, -2 when the measured
// one is not, 0 for a nominal 0, else 100 x measured / nominal.
float QuadrelLoadRatio(uint16_t measured, uint16_t nominal);

}  // namespace keep::server
