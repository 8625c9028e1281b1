#include "tools/upssim/quadrel_sim_unit.h"

#include <algorithm>

namespace keep::tools {
namespace {

// Losses and wave shape of a double-conversion unit, enough for readings that add up.
constexpr double kEfficiency = 0.95;
constexpr double kInputPowerFactor = 0.98;
constexpr double kCrestFactor = 1.4;
constexpr double kFloatChargeAmps = 2.0;

double Amps(double va, double volts) { return volts > 0 ? va / volts : 0; }

}  // namespace

int QuadrelUnit::InstalledModules() const {
  int installed = 0;
  for (int phase = 0; phase < output_phases; ++phase) installed += modules_per_line[static_cast<size_t>(phase)];
  return installed;
}

int QuadrelUnit::ModulesOnPhase(int phase) const {
  return phase >= 0 && phase < output_phases ? modules_per_line[static_cast<size_t>(phase)] : 0;
}

int QuadrelUnit::PhaseOfModule(int module) const {
  int first = 0;
  for (int phase = 0; phase < output_phases; ++phase) {
    const int count = modules_per_line[static_cast<size_t>(phase)];
    if (module >= first && module < first + count) return phase;
    first += count;
  }
  return -1;
}

QuadrelUnit MakeQuadrelUnit(uint8_t configuration) {
  QuadrelUnit unit;
  switch (configuration) {
    case 1:
    case 3:
    case 5:
    case 7:
      unit.configuration = configuration;
      unit.input_phases = configuration >= 4 ? 3 : 1;
      unit.output_phases = 3;
      unit.modules_per_line = {2, 2, 2};
      break;
    case 4:
      unit.configuration = configuration;
      unit.input_phases = 3;
      unit.modules_per_line = {3, 0, 0};
      break;
    default:
      unit.modules_per_line = {3, 0, 0};
      break;
  }
  return unit;
}

bool QuadrelOnBattery(const SimState& state) {
  return state.power == PowerSource::kBattery || state.power == PowerSource::kLowBattery;
}

QuadrelOutputReading QuadrelOutput(const QuadrelMoment& moment, int phase) {
  QuadrelOutputReading reading;
  const SimState& state = moment.state;
  const int modules = moment.unit.ModulesOnPhase(phase);
  const bool on = phase >= 0 && phase < 3 && moment.output_on[static_cast<size_t>(phase)];
  reading.nominal_va = static_cast<double>(moment.unit.module_va) * modules;
  reading.nominal_w = static_cast<double>(moment.unit.module_w) * modules;
  if (!on || modules == 0) return reading;
  // Active and apparent power in the same proportion: the load percent the peer computes from either
  // is the state's.
  const double share = state.load_percent / 100.0;
  reading.va = reading.nominal_va * share;
  reading.w = reading.nominal_w * share;
  reading.volts = state.output_voltage;
  reading.amps = Amps(reading.va, reading.volts);
  reading.peak_amps = reading.amps * kCrestFactor;
  reading.hz = QuadrelOnBattery(state) ? moment.nominal_hz : state.input_frequency;
  return reading;
}

double QuadrelTotalOutputW(const QuadrelMoment& moment) {
  double total = 0;
  for (int phase = 0; phase < moment.unit.output_phases; ++phase) total += QuadrelOutput(moment, phase).w;
  return total;
}

QuadrelInputReading QuadrelInput(const QuadrelUnit& unit, const SimState& state, double output_w) {
  QuadrelInputReading reading;
  reading.volts = state.input_voltage;
  reading.hz = state.input_frequency;
  if (QuadrelOnBattery(state)) return reading;
  reading.w = output_w / kEfficiency / std::max(unit.input_phases, 1);
  reading.va = reading.w / kInputPowerFactor;
  reading.amps = Amps(reading.va, reading.volts);
  reading.peak_amps = reading.amps * kCrestFactor;
  return reading;
}

double QuadrelBatteryVolts(const QuadrelUnit& unit, const SimState& state) {
  return std::max(state.battery_voltage, 0.0) * kQuadrelCellsPerBlock * unit.battery_blocks;
}

double QuadrelBatteryAmps(const QuadrelUnit& unit, const SimState& state, double output_w, int64_t now_ms) {
  // A battery test runs the inverter from the battery as a mains failure does.
  if (!QuadrelOnBattery(state) && !state.TestInProgress(now_ms)) return kFloatChargeAmps;
  const double volts = QuadrelBatteryVolts(unit, state);
  return volts > 0 ? -(output_w / kEfficiency) / volts : 0;
}

int QuadrelChargePercent(const SimState& state) {
  switch (state.power) {
    case PowerSource::kBattery:
      return 80;
    case PowerSource::kLowBattery:
      return 15;
    default:
      return 100;
  }
}

}  // namespace keep::tools
