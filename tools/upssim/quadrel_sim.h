// The modular three-phase dialect (protocol number 4) as the simulated UPS answers it, behind the
// BinaryDialect interface. What it answers follows SimState (power source, load, voltages,
// frequency, battery voltage, temperature, failed, beeper, test, shutdown) and what it stores itself:
// the parameter table, the clock, the event log, the output switches of the three phases, the forced
// bypass, the shutdown and restart timers and the last battery test's result.
//
//   1 identification       32 status             33/34 output/input phase   35 battery
//   8, 40-45 module blocks  96 module alarms      97/100 alarm/event texts   98 event log
//   99 event log reset      64 timer              65 clock                   66/67 parameter write/read
//   68 beeper               162 forced bypass     163 output on/off          164 output states
//   165 battery test: (0, 0) starts it (refused with state 2 on battery or failed), (0, 1) asks:
//       state 1 while it runs, then 0 with the result in percent of a sound battery.
//
// Any other command, and a request too short for its command, gets no answer.
#pragma once

#include <cstdint>
#include <memory>

#include "tools/upssim/binary_dialect.h"
#include "tools/upssim/quadrel_sim_unit.h"

namespace keep::tools {

// The unit CreateQuadrelDialect() plays.
inline constexpr uint8_t kQuadrelDefaultConfiguration = kQuadrelSingleInSingleOut;

// A dialect playing a unit of identification configuration code `configuration`: 0 single-phase in
// and out, 1 and 3 single-phase in and three-phase out, 4 three-phase in and single-phase out, 5 and 7
// three-phase in and out; any other code plays code 0.
std::unique_ptr<BinaryDialect> CreateQuadrelDialect(uint8_t configuration);

}  // namespace keep::tools
