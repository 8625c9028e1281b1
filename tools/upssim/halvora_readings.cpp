#include "tools/upssim/halvora_readings.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/upssim/binary_bytes.h"

namespace keep::tools {
namespace {

constexpr double kOutputPowerFactor = 0.8;
constexpr double kInputPowerFactor = 0.98;  // the input stage corrects its power factor
constexpr double kEfficiency = 0.92;
constexpr int kChargerWatts = 20;
constexpr int kBypassLossWatts = 10;
constexpr double kCrestFactor = 1.41;
constexpr int kWavePoints = 32;
// A/D full scale of the converter readings.
constexpr double kAdVolts = 400;
constexpr double kAdAmperes = 20;
constexpr int kOverheatDegrees = 60;
// Seconds a full battery lasts at 1 % load; 12 minutes at the default 34 %.
constexpr int kAutonomyPercentSeconds = 24000;

int Round(double value) { return static_cast<int>(std::lround(value)); }

// A signed word as the peer reads it: -2 and -1 would mean "not available" and "overrange", so a
// measured value never lands on them.
int Sword(int value) {
  value = std::clamp(value, -32768, 32767);
  if (value == -1) return 0;
  if (value == -2) return -3;
  return value;
}

struct Phase {
  int watts = 0;
  int volts = 0;
  int tenths_amperes = 0;  // current
  double power_factor = 1;
};

Phase OutputPhase(const SimState& state) {
  Phase phase;
  phase.watts = Round(state.load_percent * kHalvoraNominalWatts / 100.0);
  phase.volts = Round(state.output_voltage);
  phase.power_factor = kOutputPowerFactor;
  if (phase.volts > 0) phase.tenths_amperes = Round(phase.watts / kOutputPowerFactor * 10 / phase.volts);
  return phase;
}

Phase InputPhase(const SimState& state) {
  Phase phase;
  phase.volts = Round(state.input_voltage);
  phase.power_factor = kInputPowerFactor;
  if (HalvoraOnBattery(state)) return phase;
  const int output = OutputPhase(state).watts;
  phase.watts =
      state.power == PowerSource::kBypass ? output + kBypassLossWatts : Round(output / kEfficiency) + kChargerWatts;
  if (phase.volts > 0) phase.tenths_amperes = Round(phase.watts / kInputPowerFactor * 10 / phase.volts);
  return phase;
}

std::string PhaseReply(const Phase& phase) {
  std::string data;
  PutWord(data, Sword(phase.watts));
  PutWord(data, Sword(phase.volts));
  PutWord(data, Sword(phase.tenths_amperes));
  PutWord(data, Sword(Round(phase.tenths_amperes * kCrestFactor)));
  return data;
}

uint8_t AdReading(double value, double full_scale) {
  return static_cast<uint8_t>(std::clamp(Round(value * 255 / full_scale), 0, 255));
}

}  // namespace

bool HalvoraOnBattery(const SimState& state) {
  return state.power == PowerSource::kBattery || state.power == PowerSource::kLowBattery ||
         (state.test_held && state.power == PowerSource::kMains);
}

std::string HalvoraOutputReply(const SimState& state) { return PhaseReply(OutputPhase(state)); }

std::string HalvoraInputReply(const SimState& state) { return PhaseReply(InputPhase(state)); }

std::string HalvoraStatusReply(const SimState& state) {
  int source = 0;
  switch (state.power) {
    case PowerSource::kMains:
      source = state.test_held ? 1 : 0;
      break;
    case PowerSource::kBattery:
      source = 1;
      break;
    case PowerSource::kLowBattery:
      source = 2;
      break;
    case PowerSource::kBypass:
      source = 3;
      break;
  }
  int anomaly = 0;
  if (state.ups_failed) {
    anomaly = 3;
  } else if (state.load_percent > 100) {
    anomaly = 1;
  } else if (state.temperature >= kOverheatDegrees) {
    anomaly = 2;
  }
  std::string data;
  PutByte(data, source);
  PutByte(data, anomaly);
  PutByte(data, std::clamp(Round(state.temperature) + 128, 0, 255));
  return data;
}

std::string HalvoraFaultReply(const SimState& state) {
  std::string data;
  PutByte(data, state.ups_failed ? 1 : 0);
  PutByte(data, state.ups_failed ? 3 : 0);
  return data;
}

std::string HalvoraWaveformReply(const SimState& state, bool input) {
  const Phase phase = input ? InputPhase(state) : OutputPhase(state);
  const double volts_peak = phase.volts * std::numbers::sqrt2;
  const double amperes_peak = phase.tenths_amperes * std::numbers::sqrt2;
  // The current lags the voltage by the angle of the power factor.
  const double lag = std::acos(phase.power_factor);
  std::string data;
  for (int k = 0; k < kWavePoints; ++k) {
    const double angle = 2 * std::numbers::pi * k / kWavePoints;
    PutWord(data, Sword(Round(volts_peak * std::sin(angle))));
    PutWord(data, Sword(Round(amperes_peak * std::sin(angle - lag))));
  }
  return data;
}

std::string HalvoraConvertersReply(const SimState& state) {
  const Phase in = InputPhase(state);
  const Phase out = OutputPhase(state);
  std::string data;
  PutByte(data, AdReading(in.volts, kAdVolts));
  PutByte(data, AdReading(in.tenths_amperes / 10.0, kAdAmperes));
  PutByte(data, AdReading(out.volts, kAdVolts));
  PutByte(data, AdReading(out.tenths_amperes / 10.0, kAdAmperes));
  return data;
}

std::string HalvoraBusReply(const SimState& state) {
  // The booster holds the bus a little lower while it draws on the battery.
  const bool battery = state.power == PowerSource::kBattery || state.power == PowerSource::kLowBattery;
  std::string data;
  PutWord(data, battery ? 368 : 382);
  PutWord(data, battery ? 366 : 379);
  return data;
}

int HalvoraChargePercent(const SimState& state) {
  // Lead-acid cells of 2 V: empty near 1.75 V, full from 2.25 V.
  const double cells = std::max(1.0, std::round(state.battery_nominal / 2));
  const double cell_volts = state.battery_voltage / cells;
  int charge = std::clamp(Round((cell_volts - 1.75) / 0.5 * 100), 0, 100);
  if (state.power == PowerSource::kLowBattery) charge = std::min(charge, 15);
  return charge;
}

int HalvoraAutonomySeconds(const SimState& state) {
  const int full = kAutonomyPercentSeconds / std::max(state.load_percent, 10);
  return std::clamp(full * HalvoraChargePercent(state) / 100, 0, 65535);
}

uint8_t HalvoraTestResult(const SimState& state) {
  if (state.ups_failed || HalvoraOnBattery(state)) return 255;
  const int charge = HalvoraChargePercent(state);
  if (charge < 10) return 254;
  return static_cast<uint8_t>(std::clamp((charge + 19) / 20, 1, 5));
}

}  // namespace keep::tools
