// Answers about one power module of a modular UPS (150-155). Entries 1 and 2 are the module's
// identifier and status; the values count only when the status is "0".
#include "console/message_parser.h"

namespace keep::console {

namespace {

std::string Choose3(const std::string& value, const char* zero, const char* one) {
  if (std::optional<std::string> mark = MarkText(value)) return *mark;
  if (value == "0") return zero;
  if (value == "1") return one;
  return std::string(kUnknown);
}

std::string PhaseName(const std::string& value) {
  if (value == "0") return "\"R\" or \"L1\"";
  if (value == "1") return "\"S\" or \"L2\"";
  if (value == "2") return "\"T\" or \"L3\"";
  return std::string(kUnknown);
}

std::string WorkMode(const std::string& value) {
  if (std::optional<std::string> mark = MarkText(value)) return *mark;
  if (value == "0") return "Mains";
  if (value == "1") return "Battery";
  if (value == "3") return "Bypass";
  return std::string(kUnknown);
}

size_t ExpectedCount(int code) {
  switch (code) {
    case 150:
      return 10;
    case 151:
    case 152:
      return 9;
    case 153:
      return 8;
    case 154:
      return 12;
    case 155:
      return 11;
    default:
      return 0;
  }
}

}  // namespace

bool ParseModuleAnswer(int code, const TStringList& e, ConsoleData& data, const RenderStyle& style) {
  const size_t expected = ExpectedCount(code);
  if (expected == 0 || e.size() != expected) return false;
  ConsoleUpsData::Module& module = data.ups.module;
  module.id = e[1];
  module.status = e[2];
  const bool present = e[2] == "0";
  // Every item of the block reads "Not available" when the module gave no values.
  auto value = [&](std::string text) { return present ? std::move(text) : std::string(kNotAvailable); };
  const std::string degrees = style.degree + "C";
  switch (code) {
    case 150: {
      auto& m = module.info;
      m.phase = value(PhaseName(e[3]));
      m.active_nominal_power = value(PlainValue(e[4], "W"));
      m.apparent_nominal_power = value(PlainValue(e[5], "VA"));
      m.charger_current = value(HundredthsValue(e[6], "A"));
      m.firmware_version = value(PlainValue(e[7]));
      m.hardware_version = value(PlainValue(e[8]));
      m.serial_number = value(PlainValue(e[9]));
      break;
    }
    case 151: {
      auto& m = module.main;
      m.work_mode = value(WorkMode(e[3]));
      m.battery_charger = value(Choose3(e[4], "Ok", "Failure"));
      m.inverter = value(Choose3(e[5], "Ok", "Failure"));
      m.booster = value(Choose3(e[6], "Ok", "Failure"));
      m.overload = value(Choose3(e[7], "No", "Yes"));
      m.overheat = value(Choose3(e[8], "No", "Yes"));
      break;
    }
    case 152: {
      auto& m = module.input;
      m.bypass_voltage = value(PlainValue(e[3], "V"));
      m.voltage = value(PlainValue(e[4], "V"));
      m.active_power = value(PlainValue(e[5], "W"));
      m.apparent_power = value(PlainValue(e[6], "VA"));
      m.current = value(HundredthsValue(e[7], "A"));
      m.peak_current = value(HundredthsValue(e[8], "A"));
      break;
    }
    case 153: {
      auto& m = module.output;
      m.voltage = value(PlainValue(e[3], "V"));
      m.active_power = value(PlainValue(e[4], "W"));
      m.apparent_power = value(PlainValue(e[5], "VA"));
      m.current = value(HundredthsValue(e[6], "A"));
      m.peak_current = value(HundredthsValue(e[7], "A"));
      break;
    }
    case 154: {
      auto& m = module.history;
      m.total_operating_time = value(MarkedDuration(e[3]));
      m.booster_operating_time = value(MarkedDuration(e[4]));
      m.booster_interventions = value(PlainValue(e[5]));
      m.bypass_interventions = value(PlainValue(e[6]));
      m.charger_operating_time = value(MarkedDuration(e[7]));
      m.overheatings = value(PlainValue(e[8]));
      m.overloads = value(PlainValue(e[9]));
      m.hv_bus_runaway = value(PlainValue(e[10]));
      m.output_dc_level = value(PlainValue(e[11]));
      break;
    }
    case 155: {
      auto& m = module.hardware;
      m.battery_voltage = value(PlainValue(e[3], "V"));
      m.charger_status = value(Choose3(e[4], "Standby", "Running"));
      m.battery_current = value(HundredthsValue(e[5], "A"));
      m.positive_bus = value(PlainValue(e[6], "V"));
      m.negative_bus = value(NegativePlainValue(e[7], "V"));
      m.inverter_heatsink = value(PlainValue(e[8], degrees));
      m.booster_heatsink = value(PlainValue(e[9], degrees));
      m.fan_speed = value(PlainValue(e[10], "%"));
      break;
    }
  }
  return true;
}

}  // namespace keep::console
