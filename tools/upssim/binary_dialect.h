// The binary UPS dialects (the single-phase family's numbered commands, protocol numbers 0, 2, 5 and
// 6, and the modular family's, protocol number 4) share one frame in both directions:
//
//   2, LEN, CMD, data..., CHK     LEN = bytes after it (CMD, data, CHK)
//                                 CHK = (LEN + CMD + sum of data) modulo 256
//
// and a refusal "Ko" in place of CMD and data. The framing, the record of what arrived and the
// refusal of a chosen command belong to the simulator's binary protocol; a dialect only says what
// the UPS answers to one request. A dialect keeps what the UPS stores beyond SimState (settings, the
// calendar, the event list) in itself. Not thread-safe: it belongs to the simulator's loop.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tools/upssim/sim_state.h"

namespace keep::tools {

// One request as it arrived, checksum verified.
struct BinaryRequest {
  uint8_t cmd = 0;
  std::string data;  // the data bytes between CMD and CHK
};

class BinaryDialect {
 public:
  virtual ~BinaryDialect() = default;

  // The data bytes of the reply to `request` (the reply repeats its CMD in front of them); empty
  // when the UPS does not answer this request. May change `state` (a test started, the beeper
  // switched) and the dialect's own stored values. Any request bytes are safe.
  virtual std::optional<std::string> Answer(const BinaryRequest& request, SimState& state, int64_t now_ms) = 0;
};

// The single-phase family, protocol `variant` 0, 2, 5 or 6 (2 answers its event list page by page
// and keeps its output settings under commands 45 and 44).
std::unique_ptr<BinaryDialect> CreateHalvoraDialect(int variant);
// The modular three-phase family (protocol number 4).
std::unique_ptr<BinaryDialect> CreateQuadrelDialect();

}  // namespace keep::tools
