// The modular UPS the simulator plays: its build (how many phases in and out, the power modules on
// each output line, the battery) and the electrical readings that follow from the simulator's state.
// The readings are whole units as the dialect's words carry them (V, A, W, VA, Hz). Pure.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tools/upssim/sim_state.h"

namespace keep::tools {

// Configuration codes of the identification reply (byte 5).
inline constexpr uint8_t kQuadrelSingleInSingleOut = 0;
inline constexpr uint8_t kQuadrelThreeInThreeOut = 7;

// Cells of one 12 V battery block: SimState reports volts per cell on this on-line family.
inline constexpr int kQuadrelCellsPerBlock = 6;
inline constexpr int kQuadrelModuleSlots = 12;

struct QuadrelUnit {
  uint8_t configuration = kQuadrelSingleInSingleOut;
  int input_phases = 1;
  int output_phases = 1;
  std::array<uint8_t, 3> modules_per_line{};  // on output lines R, S, T
  uint16_t module_va = 10000;
  uint16_t module_w = 9000;
  uint8_t battery_blocks = 32;

  // The modules that count: all three lines on a three-phase output, line R alone otherwise.
  int InstalledModules() const;
  int ModulesOnPhase(int phase) const;
  // The output phase module `module` (numbered from 0, line by line) sits on; -1 when not installed.
  int PhaseOfModule(int module) const;
};

// The unit of `configuration` (0, 1, 3, 4, 5 or 7); any other code gives the single-phase unit.
QuadrelUnit MakeQuadrelUnit(uint8_t configuration);

struct QuadrelOutputReading {
  double nominal_w = 0, nominal_va = 0, w = 0, va = 0, volts = 0, amps = 0, peak_amps = 0, hz = 0;
};

struct QuadrelInputReading {
  double w = 0, va = 0, volts = 0, amps = 0, peak_amps = 0, hz = 0;
};

// What the readings of one moment follow: the unit, the state and the output switches.
struct QuadrelMoment {
  const QuadrelUnit& unit;
  const SimState& state;
  std::array<bool, 3> output_on;  // per output phase
  double nominal_hz;              // what the inverter makes while the mains are gone
  int64_t now_ms;
};

bool QuadrelOnBattery(const SimState& state);

// Output phase `phase` (0-2; none of its power beyond unit.output_phases).
QuadrelOutputReading QuadrelOutput(const QuadrelMoment& moment, int phase);
// The active power of all output phases together, W.
double QuadrelTotalOutputW(const QuadrelMoment& moment);
// One input phase while the whole output draws `output_w`, shared evenly among the input phases.
QuadrelInputReading QuadrelInput(const QuadrelUnit& unit, const SimState& state, double output_w);

// The whole battery's voltage, V.
double QuadrelBatteryVolts(const QuadrelUnit& unit, const SimState& state);
// Battery current in A, all strings together: negative while discharging into `output_w`.
double QuadrelBatteryAmps(const QuadrelUnit& unit, const SimState& state, double output_w, int64_t now_ms);
// Battery charge in percent, by where the power comes from.
int QuadrelChargePercent(const SimState& state);

}  // namespace keep::tools
