#include "tools/upssim/sim_state.h"

#include <array>
#include <utility>

namespace keep::tools {
namespace {

constexpr std::array<std::pair<PowerSource, std::string_view>, 4> kPowerNames{{
    {PowerSource::kMains, "mains"},
    {PowerSource::kBattery, "battery"},
    {PowerSource::kLowBattery, "lowbattery"},
    {PowerSource::kBypass, "bypass"},
}};

}  // namespace

SimState DefaultSimState(int protocol) {
  SimState state;
  if (protocol == 7 || protocol == 8) {
    // A 12 V standby unit; 13.6 V is above the level variant 8 needs before it allows a battery test.
    state.standby_type = true;
    state.battery_voltage = 13.6;
    state.battery_nominal = 12.0;
  } else if (protocol == 0 || protocol == 2 || protocol == 5 || protocol == 6) {
    // A 24 V battery floating at 2.275 V per cell, as the binary units report it.
    state.battery_voltage = 27.3;
    state.battery_nominal = 24.0;
  }
  return state;
}

std::string_view PowerSourceName(PowerSource power) {
  for (const auto& [value, name] : kPowerNames) {
    if (value == power) return name;
  }
  return "mains";
}

std::optional<PowerSource> ParsePowerSource(std::string_view name) {
  for (const auto& [value, known] : kPowerNames) {
    if (known == name) return value;
  }
  return std::nullopt;
}

}  // namespace keep::tools
