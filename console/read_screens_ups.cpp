// The screens of the data menu: identification, state, input, output, battery, hardware, history.
#include "console/menus.h"
#include "console/read_screens.h"
#include "console/ups_kinds.h"

namespace keep::console {

namespace {

constexpr const char* kPhaseNames[] = {"R", "S", "T"};

// The three per-phase lines of one quantity: `name` is padded with dots to the label width, e.g.
// "Voltage (\"R\" phase)........: ".
void AddPhaseLines(TStringList& lines, const std::string& name, const PhaseTexts& values, size_t width) {
  for (size_t p = 0; p < 3; ++p) {
    std::string label = name + " (\"" + kPhaseNames[p] + "\" phase)";
    if (label.size() < width) label += std::string(width - label.size(), '.');
    lines.push_back(label + ": " + values[p]);
  }
}

TStringList InfoLines(const ConsoleUpsData& ups, int) {
  const auto& i = ups.info;
  return {"UPS INFO DATA READ",
          "Model Name.................: " + i.model_name,
          "Family Name................: " + i.family_name,
          "Apparent Nominal Power.....: " + i.apparent_nominal_power,
          "Active Nominal Power.......: " + i.active_nominal_power_text,
          "Number of Installed Modules: " + i.installed_modules,
          "Firmware Version...........: " + i.firmware_version,
          "Serial Number..............: " + i.serial_number,
          "UPS/Computer Location......: " + i.location};
}

TStringList MainLines(const ConsoleUpsData& ups, int kind) {
  const auto& m = ups.main;
  TStringList lines{"UPS MAIN DATA READ", "UPS Status...............: " + m.status};
  if (kind != 0) lines.push_back("Current Anomaly..........: " + m.anomaly);
  if (kind == 4 || kind == 6) {
    lines.push_back("Total Load (\"R\" phase)...: " + m.load[0]);
    lines.push_back("Total Load (\"S\" phase)...: " + m.load[1]);
    lines.push_back("Total Load (\"T\" phase)...: " + m.load[2]);
  } else {
    lines.push_back("Total Load...............: " + m.load[0]);
  }
  lines.push_back("Autonomy Time............: " + m.autonomy_time);
  if (IsModularKind(kind)) lines.push_back("Autonomy Reserve Time....: " + m.autonomy_reserve_time);
  lines.push_back("Battery Capacity.........: " + m.battery_capacity);
  lines.push_back("Internal Temperature.....: " + m.temperature);
  if (IsStandardKind(kind)) lines.push_back("Autonomy Calibration Test: " + m.calibration_test);
  return lines;
}

TStringList InputLines(const ConsoleUpsData& ups, int kind) {
  const auto& in = ups.input;
  TStringList lines{"UPS INPUT DATA READ"};
  if (!IsModularKind(kind)) {
    lines.push_back("Voltage....................: " + in.voltage[0]);
    if (IsStandardKind(kind)) {
      lines.push_back("Apparent Power.............: " + in.apparent_power[0]);
      lines.push_back("Active Power...............: " + in.active_power[0]);
      lines.push_back("Current....................: " + in.current[0]);
      lines.push_back("Peak Current...............: " + in.peak_current[0]);
      lines.push_back("Stabiliser level...........: " + in.stabiliser_level);
      lines.push_back("Neutral Sense enabled......: " + in.neutral_sense);
      lines.push_back("Neutral Sense while running: " + in.neutral_sense_while_running);
      lines.push_back("PLL enabled................: " + in.pll_enabled);
      lines.push_back("PLL extended lock range....: " + in.pll_extended_range);
    }
    return lines;
  }
  if (kind == 5 || kind == 6) {
    constexpr size_t kWidth = 27;
    AddPhaseLines(lines, "Voltage", in.voltage, kWidth);
    AddPhaseLines(lines, "Active Power", in.active_power, kWidth);
    AddPhaseLines(lines, "Apparent Power", in.apparent_power, kWidth);
    AddPhaseLines(lines, "Current", in.current, kWidth);
    AddPhaseLines(lines, "Peak Current", in.peak_current, kWidth);
    AddPhaseLines(lines, "Frequency", in.frequency, kWidth);
  } else {
    lines.push_back("Voltage....................: " + in.voltage[0]);
    lines.push_back("Active Power...............: " + in.active_power[0]);
    lines.push_back("Apparent Power.............: " + in.apparent_power[0]);
    lines.push_back("Current....................: " + in.current[0]);
    lines.push_back("Peak Current...............: " + in.peak_current[0]);
    lines.push_back("Frequency..................: " + in.frequency[0]);
  }
  lines.push_back("PLL enabled................: " + in.pll_enabled);
  lines.push_back("PLL extended lock range....: " + in.pll_extended_range);
  lines.push_back("Nominal Frequency..........: " + in.nominal_frequency);
  lines.push_back("Mains Frequency Autoselect : " + in.frequency_autoselect);
  return lines;
}

TStringList OutputLines(const ConsoleUpsData& ups, int kind) {
  const auto& o = ups.output;
  TStringList lines{"UPS OUTPUT DATA READ"};
  if (!IsModularKind(kind)) {
    lines.push_back("Voltage...................: " + o.voltage[0]);
    if (IsStandardKind(kind)) {
      lines.push_back("Apparent Power............: " + o.apparent_power[0]);
      lines.push_back("Active Power..............: " + o.active_power[0]);
      lines.push_back("Current...................: " + o.current[0]);
      lines.push_back("Peak Current..............: " + o.peak_current[0]);
    }
    lines.push_back("Frequency.................: " + o.frequency[0]);
    if (IsStandardKind(kind)) {
      lines.push_back("Mains Frequency Autoselect: " + ups.input.frequency_autoselect);
      lines.push_back("Bypass enabled............: " + o.bypass_enabled);
      lines.push_back("Forced Bypass enabled.....: " + o.forced_bypass);
      lines.push_back("Bypass Dip Speed..........: " + o.dip_speed);
      lines.push_back("OFF Line Mode enabled.....: " + o.off_line_mode);
      lines.push_back("Load Waiting Mode.........: " + o.load_waiting_mode);
      lines.push_back("Load Waiting Threshold....: " + o.load_waiting_threshold);
    }
    return lines;
  }
  if (kind == 4 || kind == 6) {
    constexpr size_t kWidth = 26;
    AddPhaseLines(lines, "Voltage", o.voltage, kWidth);
    AddPhaseLines(lines, "Active Power", o.active_power, kWidth);
    AddPhaseLines(lines, "Apparent Power", o.apparent_power, kWidth);
    AddPhaseLines(lines, "Current", o.current, kWidth);
    AddPhaseLines(lines, "Peak Current", o.peak_current, kWidth);
    AddPhaseLines(lines, "Frequency", o.frequency, kWidth);
  } else {
    lines.push_back("Voltage...................: " + o.voltage[0]);
    lines.push_back("Active Power..............: " + o.active_power[0]);
    lines.push_back("Apparent Power............: " + o.apparent_power[0]);
    lines.push_back("Current...................: " + o.current[0]);
    lines.push_back("Peak Current..............: " + o.peak_current[0]);
    lines.push_back("Frequency.................: " + o.frequency[0]);
  }
  lines.push_back("Bypass enabled............: " + o.bypass_enabled);
  lines.push_back("Bypass Dip Speed..........: " + o.dip_speed);
  lines.push_back("Turn On Load With Bypass..: " + o.load_on_bypass_at_start);
  lines.push_back("Forced Bypass enabled.....: " + o.forced_bypass);
  lines.push_back("OFF Line Mode enabled.....: " + o.off_line_mode);
  lines.push_back("EPS Mode..................: " + o.eps_mode);
  return lines;
}

TStringList BatteryLines(const ConsoleUpsData& ups, int kind) {
  const auto& b = ups.battery;
  TStringList lines{"UPS BATTERY DATA READ"};
  if (!IsModularKind(kind)) {
    lines.push_back("Battery Voltage....................: " + b.voltage);
    lines.push_back("Reserve Threshold..................: " + b.reserve_threshold);
    lines.push_back("Exhaust Threshold..................: " + b.exhaust_threshold);
    lines.push_back("Thresholds mode....................: " + b.thresholds_mode);
    lines.push_back("Auto Battery Test enabled..........: " + b.auto_battery_test);
    lines.push_back("Max Time on Battery................: " + b.max_time_on_battery);
    lines.push_back("Max Time after Reserve.............: " + b.max_time_after_reserve);
    lines.push_back("Autorestart enabled................: " + b.autorestart);
    return lines;
  }
  lines.push_back("Battery Voltage....................: " + b.voltage);
  lines.push_back("Autonomy Reserve Time..............: " + ups.main.autonomy_reserve_time);
  lines.push_back("Number of KB Installed.............: " + b.battery_boxes);
  lines.push_back("KB Capacity........................: " + b.box_capacity);
  lines.push_back("Current on Batteries...............: " + b.current_on_batteries);
  lines.push_back("Charger Status.....................: " + b.charger_status);
  lines.push_back("Charger enabled with UPS Off.......: " + b.charger_with_ups_off);
  lines.push_back("Min. Battery Charge for UPS Restart: " + b.min_charge_for_restart);
  lines.push_back("Autorestart enabled................: " + b.autorestart);
  lines.push_back("Startup On Battery enabled.........: " + b.startup_on_battery);
  return lines;
}

TStringList HardwareLines(const ConsoleUpsData& ups, int kind) {
  const auto& h = ups.hardware;
  TStringList lines{"UPS HARDWARE DATA READ"};
  if (!IsModularKind(kind)) {
    lines.push_back("Faulty modules...................: " + h.faulty_modules);
    lines.push_back("Faulty type......................: " + h.faulty_type);
    lines.push_back("Vin A/D converter................: " + h.vin);
    lines.push_back("Iin A/D converter................: " + h.iin);
    lines.push_back("Vout A/D converter...............: " + h.vout);
    lines.push_back("Iout A/D converter...............: " + h.iout);
    lines.push_back("Positive BUS voltage.............: " + h.positive_bus);
    lines.push_back("Negative BUS voltage.............: " + h.negative_bus);
    lines.push_back("UPS Buzzer enabled...............: " + h.buzzer_enabled);
    lines.push_back("UPS Clock (hh:mm:ss dd/mm/yy)....: " + ups.clock);
    return lines;
  }
  const bool single = h.output_config == "Single Phase";
  lines.push_back("Input Configuration..............: " + h.input_config);
  lines.push_back("Output Configuration.............: " + h.output_config);
  if (!single) {
    lines.push_back("L1 installed modules number......: " + h.modules_installed[0]);
    lines.push_back("L2 installed modules number......: " + h.modules_installed[1]);
    lines.push_back("L3 installed modules number......: " + h.modules_installed[2]);
  } else {
    lines.push_back("Number of modules installed......: " + h.modules_installed[0]);
  }
  lines.push_back("L1 Output State..................: " + h.output_state[0]);
  if (!single) {
    lines.push_back("L2 Output State..................: " + h.output_state[1]);
    lines.push_back("L3 Output State..................: " + h.output_state[2]);
  }
  lines.push_back("Relay interface - Mains/Battery..: " + h.relay_mains_battery);
  lines.push_back("Relay interface - Battery Reserve: " + h.relay_battery_reserve);
  lines.push_back("Relay interface - General Alarm..: " + h.relay_general_alarm);
  lines.push_back("Relay interface - Overload.......: " + h.relay_overload);
  lines.push_back("UPS Clock (hh:mm:ss dd/mm/yy)....: " + ups.clock);
  return lines;
}

TStringList HistoryLines(const ConsoleUpsData& ups, int kind) {
  const auto& h = ups.history;
  TStringList lines{"UPS HISTORY DATA READ",
                    "UPS operating time.......: " + h.ups_operating_time,
                    "Inverter operating time..: " + h.inverter_operating_time,
                    "UPS interventions........: " + h.ups_interventions,
                    "Battery full discharges..: " + h.battery_full_discharges,
                    "Bypass/Stabiliser interv.: " + h.bypass_interventions};
  if (IsStandardKind(kind)) lines.push_back("Overheatings.............: " + h.overheatings);
  if (IsModularKind(kind)) {
    lines.push_back("Charger operating time...: " + h.charger_operating_time);
    lines.push_back("Battery Calibrations.....: " + h.battery_calibrations);
    lines.push_back("Battery Full Charges.....: " + h.battery_full_charges);
    lines.push_back("Battery Equalizations....: " + h.battery_equalizations);
  }
  return lines;
}

// The request of the standard kinds or of the modular ones.
std::vector<int> ByKind(int kind, std::vector<int> standard, std::vector<int> modular) {
  return IsModularKind(kind) ? modular : standard;
}

}  // namespace

ReadScreen InfoScreen(int) { return {{100}, false, InfoLines}; }
ReadScreen MainDataScreen(int kind) { return {ByKind(kind, {101}, {131}), true, MainLines}; }
ReadScreen InputDataScreen(int kind) { return {ByKind(kind, {103}, {133}), true, InputLines}; }
ReadScreen OutputDataScreen(int kind) { return {ByKind(kind, {102, 113}, {132}), true, OutputLines}; }
ReadScreen BatteryDataScreen(int kind) { return {ByKind(kind, {106}, {134}), true, BatteryLines}; }
ReadScreen HardwareDataScreen(int kind) { return {ByKind(kind, {108, 110, 111}, {138, 111}), true, HardwareLines}; }
ReadScreen HistoryScreen(int kind) { return {ByKind(kind, {107}, {135}), true, HistoryLines}; }

}  // namespace keep::console
