// The settings a simulated single-phase binary UPS stores and the commands that write and read
// them: each write is checked whole (length and the range of every byte) and either stored and
// echoed in its read layout, or refused by silence, storing nothing. Not thread-safe.
//
//   read / write   reply data
//   8 / 12         max time on battery s, max time after reserve s (words), autorestart
//   9 / 11         neutral sense enabled, neutral sense while running
//   13 (2 / 1, 0)  beeper on (kept in SimState)
//   19 / 20        stabiliser level 1..3
//   22 / 21        load waiting threshold W (word)
//   24 / 23        output V, 60 Hz, PLL off, PLL extended range, bypass dip speed 1..3
//     (45 / 44 on variant 2 instead); a write also sets the output voltage the UPS reports
//   26 / 25        bypass enabled, forced bypass, off-line mode, load waiting mode
//   4 and 33 / 32  reserve and exhaust threshold V (words; both 0: automatic), automatic test
//   36 (2 / 1, 0)  frequency autoselect
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/upssim/binary_dialect.h"
#include "tools/upssim/sim_state.h"

namespace keep::tools {

struct HalvoraSettings {
  uint16_t max_time_on_battery = 0;  // s, 0: not limited
  uint16_t max_time_after_reserve = 0;
  uint8_t autorestart = 1;
  uint8_t neutral_sense = 1;
  uint8_t neutral_sense_running = 0;
  uint8_t stabiliser_level = 2;
  uint16_t load_waiting_watts = 0;
  std::array<uint8_t, 5> output{230, 0, 0, 0, 2};
  std::array<uint8_t, 4> bypass{1, 0, 0, 0};
  uint16_t reserve_volts = 0;  // as written; 0 and 0 select the automatic thresholds
  uint16_t exhaust_volts = 0;
  uint8_t auto_battery_test = 1;
  uint8_t frequency_autoselect = 1;
};

// True for the commands AnswerHalvoraSetting serves on `variant`.
bool IsHalvoraSettingCommand(uint8_t cmd, int variant);

// The reply data to a setting command (see above); empty for a write that does not fit.
std::optional<std::string> AnswerHalvoraSetting(const BinaryRequest& request, HalvoraSettings& settings,
                                                SimState& state);

// The thresholds in force: as written, or in automatic mode derived from the nominal battery.
uint16_t HalvoraReserveVolts(const HalvoraSettings& settings, const SimState& state);
uint16_t HalvoraExhaustVolts(const HalvoraSettings& settings, const SimState& state);

}  // namespace keep::tools
