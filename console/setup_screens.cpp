// The UPS setup screens that send values: input, output and battery settings. Each asks its
// questions in order, and an empty answer to a number leaves the screen before anything is sent.
#include "console/setup_screens.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "console/actions_screens.h"
#include "console/input.h"
#include "console/output.h"

namespace keep::console {

namespace {

constexpr std::string_view kInputTitle = "UPS INPUT DATA SET";
constexpr std::string_view kOutputTitle = "UPS OUTPUT DATA SET";
constexpr std::string_view kBatteryTitle = "UPS BATTERY DATA SET";

// Appends the yes/no answers of `prompts` to `fields`, in order.
void AskYesNoFields(ConsoleIo& io, std::initializer_list<std::string_view> prompts, TStringList& fields) {
  for (std::string_view prompt : prompts) fields.push_back(YesNoField(AskYesNo(io, prompt, false)));
}

// Asks a number; on an answer appends it to `fields`.
bool AskNumberField(ConsoleIo& io, std::string_view prompt, int min, int max, TStringList& fields) {
  int value = 0;
  if (!AskNumber(io, prompt, value, min, max)) return false;
  fields.push_back(std::to_string(value));
  return true;
}

void InputDataSetStandard(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  TStringList fields;
  if (!AskNumberField(io, "Stabiliser level (1=220V; 2=230V; 3=240V): ", 1, 3, fields)) return;
  AskYesNoFields(io,
                 {"Enable Neutral Sense [y/N] ? ", "Ignore Neutral Sense while running [y/N] ? ", "Enable PLL [y/N] ? ",
                  "Extend PLL lock range [y/N] ? "},
                 fields);
  if (!client.SendRequest(300, fields, true)) return;
  const ConsoleUpsData ups = UpsData(client);
  ShowResultScreen(io, kInputTitle,
                   {"Stabiliser level...........: " + ups.input.stabiliser_level,
                    "Neutral Sense enabled......: " + ups.input.neutral_sense,
                    "Neutral Sense while running: " + ups.input.neutral_sense_while_running,
                    "PLL enabled................: " + ups.input.pll_enabled,
                    "PLL extended lock range....: " + ups.input.pll_extended_range});
}

void InputDataSetModular(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  TStringList fields;
  AskYesNoFields(io, {"Enable PLL [y/N] ? ", "Extend PLL lock range [y/N] ? ", "Mains Frequency Autoselect [y/N] ? "},
                 fields);
  if (!client.SendRequest(310, fields, true)) return;
  const ConsoleUpsData ups = UpsData(client);
  ShowResultScreen(io, kInputTitle,
                   {"PLL enabled................: " + ups.input.pll_enabled,
                    "PLL extended lock range....: " + ups.input.pll_extended_range,
                    "Mains Frequency Autoselect : " + ups.input.frequency_autoselect});
}

void OutputDataSetStandard(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  TStringList fields;
  if (!AskNumberField(io, "Voltage [V]: ", 200, 250, fields)) return;
  if (!AskNumberField(io, "Frequency (0 = 50Hz; 1 = 60Hz): ", 0, 1, fields)) return;
  // The autoselect goes out in a request of its own, after the others were set.
  const std::string autoselect = YesNoField(AskYesNo(io, "Mains Frequency Autoselect [y/N] ? ", false));
  AskYesNoFields(io, {"Enable Bypass [y/N] ? ", "Forced Bypass [y/N] ? "}, fields);
  if (!AskNumberField(io, "Bypass Dip Speed [1 = fast; 2 = normal; 3 = slow]: ", 1, 3, fields)) return;
  AskYesNoFields(io, {"OFF Line Mode [y/N] ? ", "Load Waiting Mode [y/N] ? "}, fields);
  const int nominal_power = UpsData(client).info.active_nominal_power;
  if (!AskNumberField(io, "Load Waiting Threshold [W]: ", 0, nominal_power, fields)) return;
  if (!client.SendRequest(301, fields, true)) return;
  if (!client.SendRequest(306, {autoselect}, true)) return;
  const ConsoleUpsData ups = UpsData(client);
  ShowResultScreen(
      io, kOutputTitle,
      {"Voltage...................: " + ups.output.voltage[0], "Frequency.................: " + ups.output.frequency[0],
       "Mains Frequency Autoselect: " + ups.input.frequency_autoselect,
       "Bypass enabled............: " + ups.output.bypass_enabled,
       "Forced Bypass enabled.....: " + ups.output.forced_bypass, "Bypass Dip Speed..........: " + ups.output.dip_speed,
       "OFF Line Mode enabled.....: " + ups.output.off_line_mode,
       "Load Waiting Mode.........: " + ups.output.load_waiting_mode,
       "Load Waiting Threshold....: " + ups.output.load_waiting_threshold});
}

void OutputDataSetModular(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  TStringList fields;
  if (!AskNumberField(io, "Voltage [V]: ", 200, 250, fields)) return;
  if (!AskNumberField(io, "Frequency (0 = 50Hz; 1 = 60Hz): ", 0, 1, fields)) return;
  AskYesNoFields(io, {"Enable Bypass [y/N] ? "}, fields);
  if (!AskNumberField(io, "Bypass Dip Speed [1 = fast; 2 = normal; 3 = slow]: ", 1, 3, fields)) return;
  AskYesNoFields(io,
                 {"Bypass enabled during UPS startup [y/N] ? ", "Forced Bypass [y/N] ? ", "OFF Line Mode [y/N] ? ",
                  "Enable EPS mode [y/N] ? "},
                 fields);
  if (!client.SendRequest(311, fields, true)) return;
  const ConsoleUpsData ups = UpsData(client);
  ShowResultScreen(io, kOutputTitle,
                   {"Voltage...................: " + ups.output.nominal_voltage,
                    "Frequency.................: " + ups.input.nominal_frequency,
                    "Bypass enabled............: " + ups.output.bypass_enabled,
                    "Bypass Dip Speed..........: " + ups.output.dip_speed,
                    "Turn On Load With Bypass..: " + ups.output.load_on_bypass_at_start,
                    "Forced Bypass enabled.....: " + ups.output.forced_bypass,
                    "OFF Line Mode enabled.....: " + ups.output.off_line_mode,
                    "EPS Mode..................: " + ups.output.eps_mode});
}

void BatteryDataSetStandard(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  const bool automatic = AskYesNo(io, "Automatic Battery Thresholds [y/N] ? ", false);
  int reserve = 0;
  int exhaust = 0;
  if (!automatic) {
    double value = 0;
    if (!AskDecimal(io, "Reserve Threshold [V]: ", value)) return;
    reserve = ToTenths(value);
    if (!AskDecimal(io, "Exhaust Threshold [V]: ", value)) return;
    exhaust = ToTenths(value);
  }
  TStringList fields{std::to_string(reserve), std::to_string(exhaust), YesNoField(automatic)};
  AskYesNoFields(io, {"Automatic Battery Test at UPS startup [y/N] ? "}, fields);
  if (!AskNumberField(io, "Max Time on Battery (0 = unlimited) [s]: ", 0, -1, fields)) return;
  if (!AskNumberField(io, "Max Time after Reserve (0 = unlimited) [s]: ", 0, -1, fields)) return;
  AskYesNoFields(io, {"Enable Autorestart [y/N] ? "}, fields);
  if (!client.SendRequest(302, fields, true)) return;
  const ConsoleUpsData ups = UpsData(client);
  TStringList lines{"Thresholds mode....................: " + ups.battery.thresholds_mode};
  if (!automatic) {
    lines.push_back("Reserve Threshold..................: " + ups.battery.reserve_threshold);
    lines.push_back("Exhaust Threshold..................: " + ups.battery.exhaust_threshold);
  }
  lines.push_back("Auto Battery Test enabled..........: " + ups.battery.auto_battery_test);
  lines.push_back("Max Time on Battery................: " + ups.battery.max_time_on_battery);
  lines.push_back("Max Time after Reserve.............: " + ups.battery.max_time_after_reserve);
  lines.push_back("Autorestart enabled................: " + ups.battery.autorestart);
  ShowResultScreen(io, kBatteryTitle, lines);
}

void BatteryDataSetModular(ConsoleClient& client) {
  ConsoleIo& io = client.Io();
  TStringList fields;
  if (!AskNumberField(io, "Autonomy Reserve Time [m]: ", 0, -1, fields)) return;
  AskYesNoFields(io,
                 {"Enable Autorestart [y/N] ? ", "UPS Startup allowed in Battery [y/N] ? ",
                  "Charger Enabled with UPS Off [y/N] ? "},
                 fields);
  if (!AskNumberField(io, "Min. Charge for UPS Restart (0 = disabled) [%]: ", 0, 100, fields)) return;
  if (!client.SendRequest(312, fields, true)) return;
  const ConsoleUpsData ups = UpsData(client);
  ShowResultScreen(io, kBatteryTitle,
                   {"Autonomy Reserve Time..............: " + ups.main.autonomy_reserve_time,
                    "Autorestart enabled................: " + ups.battery.autorestart,
                    "Startup On Battery enabled.........: " + ups.battery.startup_on_battery,
                    "Charger enabled with UPS Off.......: " + ups.battery.charger_with_ups_off,
                    "Min. Battery Charge for UPS Restart: " + ups.battery.min_charge_for_restart});
}

}  // namespace

int ToTenths(double value) {
  if (!std::isfinite(value)) return 0;
  // One significant digit, formatted and read back: the same coarsening whatever the locale.
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 1);
  double rounded = value;
  if (written.ec == std::errc()) std::from_chars(text, written.ptr, rounded);
  const double tenths = std::round(rounded * 10.0);
  if (tenths >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (tenths <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(tenths);
}

int ClockYearField(int year) { return (year >= 1000 && year <= 9999) ? year % 100 : year; }

void RunInputDataSet(ConsoleClient& client) {
  ShowTitle(client.Io(), kInputTitle);
  if (IsModularKind(client.UpsKind())) {
    InputDataSetModular(client);
  } else {
    InputDataSetStandard(client);
  }
}

void RunOutputDataSet(ConsoleClient& client) {
  ShowTitle(client.Io(), kOutputTitle);
  if (IsModularKind(client.UpsKind())) {
    OutputDataSetModular(client);
  } else {
    OutputDataSetStandard(client);
  }
}

void RunBatteryDataSet(ConsoleClient& client) {
  ShowTitle(client.Io(), kBatteryTitle);
  if (IsModularKind(client.UpsKind())) {
    BatteryDataSetModular(client);
  } else {
    BatteryDataSetStandard(client);
  }
}

}  // namespace keep::console
