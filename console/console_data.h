// What the console knows about the UPS and the server: the display texts of the last answers (each
// answer overwrites the items it carries; the others keep their last texts), the lists and the code
// tables of modular UPS kinds. Plain data; ClientState guards it between the receive thread, which
// writes it, and the menu thread, which reads it. Compares member by member.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "common/text_lists.h"

namespace keep::console {

// Phases R, S, T; single-phase answers fill R only.
using PhaseTexts = std::array<std::string, 3>;

// (code text, description text) pairs of the modular alarm (136) and event (140) tables.
using CodeTable = std::vector<std::pair<std::string, std::string>>;

// The description of `code`: exact comparison, the last pair with the code wins, "" when none.
std::string LookUpCode(const CodeTable& table, const std::string& code);

struct ConsoleUpsData {
  struct Info {
    std::string model_name;  // as received: empty, "&" or "Not available" mean no UPS
    std::string family_name;
    std::string installed_modules;
    int installed_module_count = 0;         // the same field as an integer, 0 when it is not one
    int active_nominal_power = 0;           // 0 when it is not a number
    std::string active_nominal_power_text;  // as shown: "700 W", "Not available"
    std::string apparent_nominal_power;
    std::string firmware_version;
    std::string serial_number;
    int ups_kind = 0;  // 0 basic, 1-2 standard, 3-6 modular
    std::string location;
    bool operator==(const Info&) const = default;
  } info;

  struct Main {
    std::string status;
    std::string anomaly;
    PhaseTexts load;
    std::string temperature;
    std::string autonomy_time;
    std::string autonomy_reserve_time;  // 131, 134 and 312
    std::string battery_capacity;
    std::string calibration_test;
    bool operator==(const Main&) const = default;
  } main;

  struct Input {
    PhaseTexts voltage, active_power, apparent_power, current, peak_current, frequency;
    std::string stabiliser_level;
    std::string neutral_sense;
    std::string neutral_sense_while_running;
    std::string pll_enabled;           // 103, 133, 300, 310
    std::string pll_extended_range;    // 103, 133, 300, 310
    std::string nominal_frequency;     // 133, 311
    std::string frequency_autoselect;  // 113, 133, 306, 310
    bool operator==(const Input&) const = default;
  } input;

  struct Output {
    PhaseTexts voltage, active_power, apparent_power, current, peak_current, frequency;
    std::string nominal_voltage;  // 311
    std::string bypass_enabled;
    std::string forced_bypass;
    std::string dip_speed;
    std::string off_line_mode;
    std::string load_waiting_mode;
    std::string load_waiting_threshold;
    std::string load_on_bypass_at_start;
    std::string eps_mode;
    bool operator==(const Output&) const = default;
  } output;

  struct Battery {
    std::string voltage;
    std::string reserve_threshold;
    std::string exhaust_threshold;
    std::string thresholds_mode;
    std::string auto_battery_test;
    std::string max_time_on_battery;
    std::string max_time_after_reserve;
    std::string autorestart;
    std::string battery_boxes;
    std::string box_capacity;
    std::string current_on_batteries;
    std::string charger_status;
    std::string charger_with_ups_off;
    std::string min_charge_for_restart;
    std::string startup_on_battery;
    bool operator==(const Battery&) const = default;
  } battery;

  struct Hardware {
    std::string faulty_modules;
    std::string faulty_type;
    std::string vin, iin, vout, iout;
    std::string positive_bus;
    std::string negative_bus;
    std::string buzzer_enabled;  // 110
    std::string buzzer_text;     // 303: "Mute" or "Unmute"
    std::string input_config;
    std::string output_config;
    PhaseTexts modules_installed;  // L1, L2, L3
    PhaseTexts output_state;       // L1, L2, L3
    std::string relay_mains_battery;
    std::string relay_battery_reserve;
    std::string relay_general_alarm;
    std::string relay_overload;
    bool operator==(const Hardware&) const = default;
  } hardware;

  std::string clock;  // ClockValue of 111 and 307

  struct History {
    std::string ups_operating_time;
    std::string inverter_operating_time;
    std::string ups_interventions;
    std::string battery_full_discharges;
    std::string bypass_interventions;
    std::string overheatings;
    std::string charger_operating_time;
    std::string battery_calibrations;
    std::string battery_full_charges;
    std::string battery_equalizations;
    bool operator==(const History&) const = default;
  } history;

  struct Results {
    std::string battery_test = "Not available";  // 400, 402
    std::string autonomy_test_code;              // field 1 of 401
    std::string autonomy_test;                   // "Autonomy Test ..." of 401
    std::string history_reset;                   // 304
    std::string events_reset;                    // 305
    std::string events_list_reset;               // 313: "Events List "...": ..."
    std::string shutdown;                        // 309
    std::string upload;                          // 203: "Yes", "No"...; empty until answered
    bool operator==(const Results&) const = default;
  } results;

  // The module last asked for (answers 150-155). When its status is not "0" every item of the
  // answer's block reads "Not available".
  struct Module {
    std::string id;
    std::string status;
    struct Info {
      std::string phase, active_nominal_power, apparent_nominal_power, charger_current, firmware_version,
          hardware_version, serial_number;
      bool operator==(const Info&) const = default;
    } info;
    struct Main {
      std::string work_mode, battery_charger, inverter, booster, overload, overheat;
      bool operator==(const Main&) const = default;
    } main;
    struct Input {
      std::string bypass_voltage, voltage, active_power, apparent_power, current, peak_current;
      bool operator==(const Input&) const = default;
    } input;
    struct Output {
      std::string voltage, active_power, apparent_power, current, peak_current;
      bool operator==(const Output&) const = default;
    } output;
    struct History {
      std::string total_operating_time, booster_operating_time, booster_interventions, bypass_interventions,
          charger_operating_time, overheatings, overloads, hv_bus_runaway, output_dc_level;
      bool operator==(const History&) const = default;
    } history;
    struct Hardware {
      std::string battery_voltage, charger_status, battery_current, positive_bus, negative_bus, inverter_heatsink,
          booster_heatsink, fan_speed;
      bool operator==(const Hardware&) const = default;
    } hardware;
    bool operator==(const Module&) const = default;
  } module;

  // Heads of the lists: the modular event list's name and count (139), the alarm count (137) and
  // the counts of the code tables (136, 140), as received.
  std::string event_list_name;
  std::string event_list_count;
  std::string alarm_list_count;
  std::string alarm_table_count;
  std::string event_table_count;
  bool operator==(const ConsoleUpsData&) const = default;
};

struct ConsoleData {
  ConsoleUpsData ups;
  TStringList event_list;       // display lines of 109 or 139
  TStringList alarm_list;       // display lines of 137
  TStringList scheduler_items;  // six fields joined with "|" per item (202)
  CodeTable alarm_codes;        // 136
  CodeTable event_codes;        // 140
  bool operator==(const ConsoleData&) const = default;
};

}  // namespace keep::console
