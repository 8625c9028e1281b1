// The module screens of modular UPS kinds: one module at a time, chosen by its number.
#include <optional>

#include "console/input.h"
#include "console/output.h"
#include "console/read_screens.h"

namespace keep::console {

namespace {

std::string RangeText(const char* format_head, int last, const char* format_tail) {
  return std::string(format_head) + "0-" + std::to_string(last) + format_tail;
}

// Asks for a module 0..last after an empty line; nothing when the answer is empty.
std::optional<int> ChooseModule(ConsoleIo& io, int last) {
  io.WriteLine();
  int module = 0;
  if (!AskNumber(io, RangeText("< Press ", last, " for Modules or \"ENTER\" to exit >"), module, 0, last)) {
    return std::nullopt;
  }
  return module;
}

// The prompt under a module screen with several modules: "R" (refresh: the same module), another
// module's number, or empty (leave, nothing returned).
std::optional<int> RefreshOrChoose(ConsoleIo& io, int current, int last) {
  const std::string prompt = RangeText("< Press \"R\" for refresh; ", last, " for Modules; \"ENTER\" to exit >");
  bool blank_first = true;
  for (;;) {
    const std::string answer = ReadLine(io, prompt, blank_first);
    blank_first = false;
    if (TrimBlanks(answer).empty() || io.InputEnded()) return std::nullopt;
    if (answer == "R" || answer == "r") return current;
    const std::optional<int> number = ParseWholeNumber(answer);
    if (number && *number >= 0 && *number <= last) return *number;
    ShowErrorLine(io, "Number invalid or out of range (0 - " + std::to_string(last) + ") !");
  }
}

}  // namespace

std::string ModuleScreenTitle(int request) {
  switch (request) {
    case 150:
      return "MODULE INFO DATA READ";
    case 151:
      return "MODULE MAIN DATA READ";
    case 152:
      return "MODULE INPUT DATA READ";
    case 153:
      return "MODULE OUTPUT DATA READ";
    case 154:
      return "MODULE HISTORY DATA READ";
    case 155:
      return "MODULE HARDWARE DATA READ";
    default:
      return {};
  }
}

std::string ModuleStatusText(const std::string& status) {
  if (status == "1") return "Module is not present";
  if (status == "2") return "No answer from Module";
  if (status == "3") return "Function not supported by Module";
  return "Unknown Module Status";
}

TStringList ModuleLines(int request, const ConsoleUpsData& data) {
  const auto& m = data.module;
  TStringList lines{ModuleScreenTitle(request)};
  switch (request) {
    case 150:
      lines.insert(
          lines.end(),
          {"Module ID..............: " + m.id, "Installed on Phase.....: " + m.info.phase,
           "Active Nominal Power...: " + m.info.active_nominal_power,
           "Apparent Nominal Power : " + m.info.apparent_nominal_power,
           "Battery charger Current: " + m.info.charger_current, "Firmware Version.......: " + m.info.firmware_version,
           "Hardware Version.......: " + m.info.hardware_version, "Serial Number..........: " + m.info.serial_number});
      break;
    case 151:
      lines.insert(lines.end(), {"Work mode......: " + m.main.work_mode, "Battery charger: " + m.main.battery_charger,
                                 "Inverter.......: " + m.main.inverter, "Booster........: " + m.main.booster,
                                 "Overload.......: " + m.main.overload, "Overheat.......: " + m.main.overheat});
      break;
    case 152:
      lines.insert(lines.end(), {"Module ID.....: " + m.id, "Bypass Voltage: " + m.input.bypass_voltage,
                                 "Voltage.......: " + m.input.voltage, "Active Power..: " + m.input.active_power,
                                 "Apparent Power: " + m.input.apparent_power, "Current.......: " + m.input.current,
                                 "Peak Current..: " + m.input.peak_current});
      break;
    case 153:
      lines.insert(lines.end(),
                   {"Module ID.....: " + m.id, "Voltage.......: " + m.output.voltage,
                    "Active Power..: " + m.output.active_power, "Apparent Power: " + m.output.apparent_power,
                    "Current.......: " + m.output.current, "Peak Current..: " + m.output.peak_current});
      break;
    case 154:
      lines.insert(lines.end(), {"Total operating time..: " + m.history.total_operating_time,
                                 "Booster operating time: " + m.history.booster_operating_time,
                                 "Booster interventions : " + m.history.booster_interventions,
                                 "Bypass interventions..: " + m.history.bypass_interventions,
                                 "Charger operating time: " + m.history.charger_operating_time,
                                 "Overheatings..........: " + m.history.overheatings,
                                 "Overloads.............: " + m.history.overloads,
                                 "HV Bus Runaway........: " + m.history.hv_bus_runaway,
                                 "Output DC Level.......: " + m.history.output_dc_level});
      break;
    case 155:
      lines.insert(lines.end(), {"Module ID.....................: " + m.id,
                                 "Battery voltage...............: " + m.hardware.battery_voltage,
                                 "Charger status................: " + m.hardware.charger_status,
                                 "Battery current...............: " + m.hardware.battery_current,
                                 "Positive BUS voltage..........: " + m.hardware.positive_bus,
                                 "Negative BUS voltage..........: " + m.hardware.negative_bus,
                                 "Inverter heat sink temperature: " + m.hardware.inverter_heatsink,
                                 "Booster heat sink temperature : " + m.hardware.booster_heatsink,
                                 "Fan speed.....................: " + m.hardware.fan_speed});
      break;
    default:
      break;
  }
  return lines;
}

void RunModuleScreen(ConsoleClient& client, int request) {
  ConsoleIo& io = client.Io();
  const int count = client.State().Inspect([](const ConsoleData& d) { return d.ups.info.installed_module_count; });
  if (count <= 0) {
    ShowErrorLine(io, "No Modules available");
    return;
  }
  const int last = count - 1;
  std::optional<int> module = 0;
  if (count > 1 && !(module = ChooseModule(io, last))) return;
  for (;;) {
    // A failed request leaves: with the connection gone it would fail again at once.
    if (!client.SendRequest(request, {std::to_string(*module)}, true)) return;
    const auto [status, lines] = client.State().Inspect(
        [request](const ConsoleData& d) { return std::make_pair(d.ups.module.status, ModuleLines(request, d.ups)); });
    if (status != "0") {
      ShowErrorLine(io, ModuleStatusText(status));
      if (count == 1 || !(module = ChooseModule(io, last))) return;
      continue;
    }
    ShowLines(io, lines, false);
    if (count == 1) {
      const char key = ReadKeyPrompt(io, request == 150 ? kEnterPrompt : std::string_view(kRefreshPrompt), true);
      if (!IsRefreshKey(key)) return;
      io.WriteLine();
    } else if (!(module = RefreshOrChoose(io, *module, last))) {
      return;
    }
  }
}

}  // namespace keep::console
