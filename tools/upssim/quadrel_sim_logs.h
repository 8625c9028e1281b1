// The lists of the simulated modular UPS: its alarm and event text tables (commands 97 and 100, read
// entry by entry), its event log (98, read record by record in one of four selections) and the
// log's reset (99). The log starts with a few records from before the simulation and gains one for
// each change it observes (a mains failure, the return of the mains, an overload, the output
// switched off, a battery test). Not thread-safe: part of one dialect object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "tools/upssim/binary_dialect.h"
#include "tools/upssim/sim_state.h"

namespace keep::tools {

// Event codes: indexes of the event text table.
inline constexpr uint8_t kQuadrelEventMainsFailure = 0;
inline constexpr uint8_t kQuadrelEventMainsRestored = 1;
inline constexpr uint8_t kQuadrelEventBatteryLow = 2;
inline constexpr uint8_t kQuadrelEventBypass = 3;
inline constexpr uint8_t kQuadrelEventOverload = 4;
inline constexpr uint8_t kQuadrelEventTestStarted = 5;
inline constexpr uint8_t kQuadrelEventTestEnded = 6;
inline constexpr uint8_t kQuadrelEventOutputOff = 9;

// Alarm codes: indexes of the alarm text table.
inline constexpr uint8_t kQuadrelAlarmOverload = 0;
inline constexpr uint8_t kQuadrelAlarmInverterFault = 2;

// The log keeps the newest records up to this many.
inline constexpr size_t kQuadrelMaxLogRecords = 64;

// The reply data to 97 (alarm texts) or 100 (event texts) for the entry the request's second data
// byte names: that index, its status (0 with a text, 64 without, 16 for an unused index, 128 past the
// end) and 35 bytes of text padded with blanks. Empty for a request without an index.
std::optional<std::string> QuadrelTextEntry(const BinaryRequest& request);

class QuadrelEventLog {
 public:
  // `start_seconds`: the UPS clock when the simulation starts; the first records lie before it.
  explicit QuadrelEventLog(uint32_t start_seconds);

  // Records what changed since the last call (nothing on the first), at clock time `seconds`.
  void Observe(const SimState& state, bool output_on, uint32_t seconds);
  void Add(uint8_t code, uint32_t seconds);

  // 98 with (0, selection, 4) returns the newest record of selection 0 (all), 1 (critical), 2
  // (warning) or 3 (info); with (0, selection, 1) the next one. Past the last record the first comes
  // again, which tells the reader the list is complete. Reply: byte 2 repeated, selection, the
  // request's third byte, status (0 a record, 2 the selection is empty, 1 no such selection), the
  // record's time (dword 6-9) and its code (byte 10). Empty for a request too short.
  std::optional<std::string> Answer(const BinaryRequest& request);

  // 99 with (0, selection) empties that selection (0: the whole log). Reply: byte 2 repeated, the
  // selection, 0 when done (1 for a selection that does not exist).
  std::optional<std::string> Reset(const BinaryRequest& request);

 private:
  struct Record {
    uint32_t seconds;
    uint8_t code;
  };

  std::deque<Record> records_;  // newest first
  size_t cursor_ = 0;           // the record of the selection the last read returned
  std::optional<PowerSource> last_power_;
  bool last_overload_ = false;
  bool last_output_on_ = true;
};

}  // namespace keep::tools
