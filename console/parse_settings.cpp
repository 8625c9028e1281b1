// Answers of the setting requests, resets, tests, the server shutdown and the scheduler upload
// (203, 300-314, 400-402). The setting answers repeat the values the UPS now has.
#include "console/message_parser.h"

namespace keep::console {

namespace {

std::string BatteryTestResult(const std::string& value) {
  if (value == "0") return "Ok";
  if (value == "255") return "battery must be replaced !";
  if (value == "&") return std::string(kNotAvailable);
  if (value == "@") return "Test imposssible !";
  return value + " %";
}

std::string ModularBatteryTestResult(const std::string& state, const std::string& result) {
  if (state == "@") return "Test imposssible !";
  if (state == "&") return std::string(kNotAvailable);
  if (state == "1") return "Test is already running";
  if (state == "0") return PlainValue(result, "%");
  return std::string(kUnknown);
}

// "Autonomy Test ..." of answer 401; the states 1, 3 and 4 are also shown as broadcasts.
std::string AutonomyTestMessage(const std::string& state, const std::string& seconds) {
  std::string what;
  if (state == "0") {
    what = "impossible to run";
  } else if (state == "1") {
    what = "started...";
  } else if (state == "2") {
    what = "already running...";
  } else if (state == "3") {
    what = "stopped by user - new autonomy: " + DurationValue(seconds);
  } else if (state == "4") {
    what = "successfully completed - new autonomy: " + DurationValue(seconds);
  } else {
    what = kUnknown;
  }
  return "Autonomy Test " + what;
}

std::string ResetDone(const std::string& value) {
  if (value == "1") return "Executed";
  if (value == "0") return "Not executed";
  return std::string(kUnknown);
}

}  // namespace

bool ParseSettingAnswer(int code, const TStringList& e, ConsoleData& data, ParseResult& result) {
  ConsoleUpsData& ups = data.ups;
  switch (code) {
    case 300:
      if (e.size() != 6) return false;
      ups.input.stabiliser_level = StabiliserValue(e[1]);
      ups.input.neutral_sense = YesNoValue(e[2]);
      ups.input.neutral_sense_while_running = YesNoValue(e[3]);
      ups.input.pll_enabled = YesNoValue(e[4]);
      ups.input.pll_extended_range = YesNoValue(e[5]);
      return true;
    case 310:
      if (e.size() != 4) return false;
      ups.input.pll_enabled = YesNoValue(e[1]);
      ups.input.pll_extended_range = YesNoValue(e[2]);
      ups.input.frequency_autoselect = YesNoValue(e[3]);
      return true;
    case 301: {
      if (e.size() != 9) return false;
      auto& o = ups.output;
      o.voltage[0] = PlainValue(e[1], "V");
      o.frequency[0] = FrequencyValue(e[2]);
      o.bypass_enabled = YesNoValue(e[3]);
      o.forced_bypass = YesNoValue(e[4]);
      o.dip_speed = DipSpeedValue(e[5]);
      o.off_line_mode = YesNoValue(e[6]);
      o.load_waiting_mode = YesNoValue(e[7]);
      o.load_waiting_threshold = PlainValue(e[8], "W");
      return true;
    }
    case 311: {
      if (e.size() != 9) return false;
      auto& o = ups.output;
      o.nominal_voltage = PlainValue(e[1], "V");
      ups.input.nominal_frequency = FrequencyValue(e[2]);
      o.bypass_enabled = YesNoValue(e[3]);
      o.dip_speed = DipSpeedValue(e[4]);
      o.load_on_bypass_at_start = YesNoValue(e[5]);
      o.forced_bypass = YesNoValue(e[6]);
      o.off_line_mode = YesNoValue(e[7]);
      o.eps_mode = YesNoValue(e[8]);
      return true;
    }
    case 306:
      if (e.size() != 2) return false;
      ups.input.frequency_autoselect = YesNoValue(e[1]);
      return true;
    case 302: {
      if (e.size() != 8) return false;
      auto& b = ups.battery;
      b.reserve_threshold = TenthsValue(e[1], "V");
      b.exhaust_threshold = TenthsValue(e[2], "V");
      b.thresholds_mode = ThresholdModeValue(e[3]);
      b.auto_battery_test = YesNoValue(e[4]);
      b.max_time_on_battery = LimitValue(e[5]);
      b.max_time_after_reserve = LimitValue(e[6]);
      b.autorestart = YesNoValue(e[7]);
      return true;
    }
    case 312: {
      if (e.size() != 6) return false;
      auto& b = ups.battery;
      ups.main.autonomy_reserve_time = MarkedDuration(e[1], 60);
      b.autorestart = YesNoValue(e[2]);
      b.startup_on_battery = YesNoValue(e[3]);
      b.charger_with_ups_off = YesNoValue(e[4]);
      b.min_charge_for_restart = MinChargeValue(e[5]);
      return true;
    }
    case 303: {
      if (e.size() < 2) return false;
      std::string text = YesNoValue(e[1]);
      if (text == "Yes") text = "Unmute";
      if (text == "No") text = "Mute";
      ups.hardware.buzzer_text = text;
      return true;
    }
    case 307:
      if (e.size() != 8) return false;
      ups.clock = ClockValue(e[1], e[2], e[3], e[4], e[5], e[6], e[7]);
      return true;
    case 314:
      if (e.size() != 5) return false;
      ups.hardware.relay_mains_battery = ContactValue(e[1]);
      ups.hardware.relay_battery_reserve = ContactValue(e[2]);
      ups.hardware.relay_general_alarm = ContactValue(e[3]);
      ups.hardware.relay_overload = ContactValue(e[4]);
      return true;
    case 304:
    case 305:
    case 309: {
      if (e.size() != 2) return false;
      std::string& target =
          code == 304 ? ups.results.history_reset : (code == 305 ? ups.results.events_reset : ups.results.shutdown);
      target = ExecutedValue(e[1]);
      return true;
    }
    case 313:
      if (e.size() != 3) return false;
      ups.results.events_list_reset = "Events List \"" + ListNameValue(e[1]) + "\": " + ResetDone(e[2]);
      return true;
    case 400:
      if (e.size() < 2) return false;
      ups.results.battery_test = BatteryTestResult(e[1]);
      return true;
    case 402:
      if (e.size() < 3) return false;
      ups.results.battery_test = ModularBatteryTestResult(e[1], e[2]);
      return true;
    case 401:
      if (e.size() != 3) return false;
      ups.results.autonomy_test_code = e[1];
      ups.results.autonomy_test = AutonomyTestMessage(e[1], e[2]);
      if (e[1] == "1" || e[1] == "3" || e[1] == "4") result.broadcast = ups.results.autonomy_test;
      return true;
    case 203:
      if (e.size() != 2) return false;
      ups.results.upload = YesNoValue(e[1]);
      return true;
    default:
      return false;
  }
}

}  // namespace keep::console
