// Answers of identification, state and measurement (100-113, 131-135, 138).
#include <limits>
#include <optional>
#include <string>

#include "console/message_parser.h"
#include "console/status_texts.h"

namespace keep::console {

namespace {

// Phases R, S, T of `entries` from `first` on, each rendered by `render`.
template <typename Render>
PhaseTexts Phases(const TStringList& entries, size_t first, Render render) {
  return {render(entries[first]), render(entries[first + 1]), render(entries[first + 2])};
}

bool FitsInt(int64_t n) { return n >= std::numeric_limits<int>::min() && n <= std::numeric_limits<int>::max(); }

bool ParseIdentification(const TStringList& e, ConsoleUpsData& ups) {
  if (e.size() != 12) return false;
  // A kind that is not a number makes the whole answer unusable: the screens depend on it.
  const std::optional<int64_t> kind = ParseInteger(e[9]);
  if (!kind || !FitsInt(*kind)) return false;
  auto& info = ups.info;
  info.model_name = e[1];
  info.family_name = e[2];
  info.installed_modules = PlainValue(e[3]);
  const std::optional<int64_t> modules = ParseInteger(e[3]);
  info.installed_module_count = modules && *modules >= 0 && FitsInt(*modules) ? static_cast<int>(*modules) : 0;
  const std::optional<int64_t> power = ParseInteger(e[4]);
  info.active_nominal_power = power && FitsInt(*power) ? static_cast<int>(*power) : 0;
  info.active_nominal_power_text = RatingValue(e[4], std::to_string(info.active_nominal_power) + " W");
  info.apparent_nominal_power = RatingValue(e[5], e[5] + " VA");
  info.firmware_version = PlainValue(e[6]);
  info.serial_number = PlainValue(e[7]);
  info.ups_kind = static_cast<int>(*kind);
  info.location = e[10];
  return true;
}

}  // namespace

bool ParseStatusAnswer(int code, const TStringList& e, ConsoleData& data, const RenderStyle& style) {
  ConsoleUpsData& ups = data.ups;
  const std::string degrees = style.degree + "C";
  auto tenths = [](std::string_view unit) { return [unit](const std::string& v) { return TenthsValue(v, unit); }; };
  auto hundredths = [](std::string_view unit) {
    return [unit](const std::string& v) { return HundredthsValue(v, unit); };
  };
  auto plain = [](std::string_view unit) { return [unit](const std::string& v) { return PlainValue(v, unit); }; };
  switch (code) {
    case 100:
      return ParseIdentification(e, ups);
    case 101: {
      if (e.size() != 8) return false;
      auto& m = ups.main;
      m.status = UpsStatusText(e[1], false);
      m.anomaly = AnomalyText(e[2]);
      m.load[0] = TenthsValue(e[3], "%");
      m.temperature = PlainValue(e[4], degrees);
      m.autonomy_time = DurationValue(e[5]);
      m.battery_capacity = TenthsValue(e[6], "%");
      m.calibration_test = CalibrationText(e[7]);
      return true;
    }
    case 131: {
      if (e.size() != 10) return false;
      auto& m = ups.main;
      m.status = UpsStatusText(e[1], true);
      m.anomaly = AnomalyText(e[2]);
      m.load = Phases(e, 3, tenths("%"));
      m.temperature = PlainValue(e[6], degrees);
      m.autonomy_time = MarkedDuration(e[7]);
      m.autonomy_reserve_time = MarkedDuration(e[8], 60);
      m.battery_capacity = TenthsValue(e[9], "%");
      return true;
    }
    case 102: {
      if (e.size() != 13) return false;
      auto& o = ups.output;
      o.voltage[0] = PlainValue(e[1], "V");
      o.active_power[0] = PlainValue(e[2], "W");
      o.apparent_power[0] = PlainValue(e[3], "VA");
      o.current[0] = TenthsValue(e[4], "A");
      o.peak_current[0] = TenthsValue(e[5], "A");
      o.frequency[0] = FrequencyValue(e[6]);
      o.bypass_enabled = YesNoValue(e[7]);
      o.forced_bypass = YesNoValue(e[8]);
      o.dip_speed = DipSpeedValue(e[9]);
      o.off_line_mode = YesNoValue(e[10]);
      o.load_waiting_mode = YesNoValue(e[11]);
      o.load_waiting_threshold = PlainValue(e[12], "W");
      return true;
    }
    case 113:
      if (e.size() != 2) return false;
      ups.input.frequency_autoselect = YesNoValue(e[1]);
      return true;
    case 132: {
      if (e.size() != 25) return false;
      auto& o = ups.output;
      o.voltage = Phases(e, 1, plain("V"));
      o.active_power = Phases(e, 4, plain("W"));
      o.apparent_power = Phases(e, 7, plain("VA"));
      o.current = Phases(e, 10, tenths("A"));
      o.peak_current = Phases(e, 13, tenths("A"));
      o.frequency = Phases(e, 16, hundredths("Hz"));
      o.bypass_enabled = YesNoValue(e[19]);
      o.dip_speed = DipSpeedValue(e[20]);
      o.load_on_bypass_at_start = YesNoValue(e[21]);
      o.forced_bypass = YesNoValue(e[22]);
      o.off_line_mode = YesNoValue(e[23]);
      o.eps_mode = YesNoValue(e[24]);
      return true;
    }
    case 103: {
      if (e.size() != 11) return false;
      auto& i = ups.input;
      i.voltage[0] = PlainValue(e[1], "V");
      i.active_power[0] = PlainValue(e[2], "W");
      i.apparent_power[0] = PlainValue(e[3], "VA");
      i.current[0] = TenthsValue(e[4], "A");
      i.peak_current[0] = TenthsValue(e[5], "A");
      i.stabiliser_level = StabiliserValue(e[6]);
      i.neutral_sense = YesNoValue(e[7]);
      i.neutral_sense_while_running = YesNoValue(e[8]);
      i.pll_enabled = YesNoValue(e[9]);
      i.pll_extended_range = YesNoValue(e[10]);
      return true;
    }
    case 133: {
      if (e.size() != 23) return false;
      auto& i = ups.input;
      i.voltage = Phases(e, 1, plain("V"));
      i.active_power = Phases(e, 4, plain("W"));
      i.apparent_power = Phases(e, 7, plain("VA"));
      i.current = Phases(e, 10, tenths("A"));
      i.peak_current = Phases(e, 13, tenths("A"));
      i.frequency = Phases(e, 16, hundredths("Hz"));
      i.pll_enabled = YesNoValue(e[19]);
      i.pll_extended_range = YesNoValue(e[20]);
      i.nominal_frequency = FrequencyValue(e[21]);
      i.frequency_autoselect = YesNoValue(e[22]);
      return true;
    }
    case 106: {
      if (e.size() != 9) return false;
      auto& b = ups.battery;
      b.voltage = TenthsValue(e[1], "V");
      b.reserve_threshold = TenthsValue(e[2], "V");
      b.exhaust_threshold = TenthsValue(e[3], "V");
      b.thresholds_mode = ThresholdModeValue(e[4]);
      b.auto_battery_test = YesNoValue(e[5]);
      b.max_time_on_battery = LimitValue(e[6]);
      b.max_time_after_reserve = LimitValue(e[7]);
      b.autorestart = YesNoValue(e[8]);
      return true;
    }
    case 134: {
      if (e.size() != 11) return false;
      auto& b = ups.battery;
      b.voltage = HundredthsValue(e[1], "V");
      ups.main.autonomy_reserve_time = MarkedDuration(e[2], 60);
      b.battery_boxes = PlainValue(e[3]);
      b.box_capacity = TenthsValue(e[4], "Ah");
      b.current_on_batteries = HundredthsValue(e[5], "A");
      if (std::optional<std::string> mark = MarkText(e[6])) {
        b.charger_status = *mark;
      } else {
        b.charger_status = e[6] == "0" ? "Standby" : "Running";
      }
      b.charger_with_ups_off = YesNoValue(e[7]);
      b.min_charge_for_restart = MinChargeValue(e[8]);
      b.autorestart = YesNoValue(e[9]);
      b.startup_on_battery = YesNoValue(e[10]);
      return true;
    }
    case 107:
    case 135: {
      if (e.size() != (code == 107 ? 7u : 10u)) return false;
      auto& h = ups.history;
      h.ups_operating_time = MarkedDuration(e[1]);
      h.inverter_operating_time = MarkedDuration(e[2]);
      h.ups_interventions = PlainValue(e[3]);
      h.battery_full_discharges = PlainValue(e[4]);
      h.bypass_interventions = PlainValue(e[5]);
      if (code == 107) {
        h.overheatings = PlainValue(e[6]);
      } else {
        h.charger_operating_time = MarkedDuration(e[6]);
        h.battery_calibrations = PlainValue(e[7]);
        h.battery_full_charges = PlainValue(e[8]);
        h.battery_equalizations = PlainValue(e[9]);
      }
      return true;
    }
    case 108: {
      if (e.size() != 9) return false;
      auto& h = ups.hardware;
      h.faulty_modules = PlainValue(e[1]);
      h.faulty_type = FaultyTypeText(e[1], e[2]);
      h.vin = PlainValue(e[3]);
      h.iin = PlainValue(e[4]);
      h.vout = PlainValue(e[5]);
      h.iout = PlainValue(e[6]);
      h.positive_bus = PlainValue(e[7], "V");
      h.negative_bus = NegativePlainValue(e[8], "V");
      return true;
    }
    case 110:
      if (e.size() < 2) return false;
      ups.hardware.buzzer_enabled = YesNoValue(e[1]);
      return true;
    case 111:
      if (e.size() != 8) return false;
      ups.clock = ClockValue(e[1], e[2], e[3], e[4], e[5], e[6], e[7]);
      return true;
    case 138: {
      if (e.size() < 13) return false;
      auto& h = ups.hardware;
      h.input_config = PhaseConfigValue(e[1], false, style);
      h.output_config = PhaseConfigValue(e[2], true, style);
      h.modules_installed = Phases(e, 3, plain(""));
      h.output_state = Phases(e, 6, [](const std::string& v) { return OnOffValue(v); });
      h.relay_mains_battery = ContactValue(e[9]);
      h.relay_battery_reserve = ContactValue(e[10]);
      h.relay_general_alarm = ContactValue(e[11]);
      h.relay_overload = ContactValue(e[12]);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace keep::console
