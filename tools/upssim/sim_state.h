// What the simulated UPS is doing: where its power comes from, its readings and its flags. The
// protocols read it to build their answers and change it for the commands they receive; the
// control interface changes it at run time. A plain record: one thread (the simulator's loop) owns it.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace keep::tools {

enum class PowerSource { kMains, kBattery, kLowBattery, kBypass };

// Duration of the battery test a UPS runs when asked for its short test.
inline constexpr int64_t kShortTestMs = 10000;

struct SimState {
  PowerSource power = PowerSource::kMains;
  int load_percent = 34;               // 0..999; above 100 is an overload
  double input_voltage = 230.4;        // V
  double input_fault_voltage = 140.0;  // V, the lowest input seen lately
  double output_voltage = 229.9;       // V
  double input_frequency = 50.1;       // Hz
  // V per cell on on-line types, V of the whole battery on standby types (as the UPS reports it).
  double battery_voltage = 2.27;
  double battery_nominal = 24.0;  // V of the whole battery, as the rating answer reports it
  double temperature = 35.0;      // degrees Celsius
  bool ups_failed = false;
  bool standby_type = false;  // standby (off-line) type rather than on-line
  bool beeper_on = true;
  // The battery test: held on by the control interface or a binary UPS's autonomy calibration (which
  // keeps that UPS on battery), or timed (running while now < test_ends_ms).
  bool test_held = false;
  int64_t test_ends_ms = 0;
  bool shutdown_active = false;  // a shutdown query arrived and was not cancelled
  std::string shutdown_query;    // the last one received, e.g. "S02R0010" or "delay 120 restart 600"
  // The Megatec identification answer without its CR ("#" first); empty: the model's own text.
  std::string ident;
  // Command numbers a binary UPS answers with its refusal frame instead of acting on them.
  std::bitset<256> refused_commands;

  bool TestInProgress(int64_t now_ms) const { return test_held || now_ms < test_ends_ms; }
};

// The state a fresh simulator of protocol variant `protocol` starts in: the standby types of the
// shipped database (7 and 8) and the binary variants (0, 2, 5 and 6) report the whole battery's
// voltage, the other Megatec variants volts per cell.
SimState DefaultSimState(int protocol);

// "mains", "battery", "lowbattery", "bypass".
std::string_view PowerSourceName(PowerSource power);
std::optional<PowerSource> ParsePowerSource(std::string_view name);

}  // namespace keep::tools
