#include "console/status_texts.h"

#include <initializer_list>
#include <iterator>
#include <optional>
#include <utility>

#include "console/value_renderings.h"

namespace keep::console {

namespace {

constexpr std::string_view kEventTexts[] = {
    "Odd Turn Off",
    "Memory Error!",
    "Battery Limit",
    "Battery Charger",
    "Overload",
    "Long Overload",
    "Neutral Wrong",
    "Neutral Wrong while running",
    "Modules Number",
    "Programmed battery time expired",
    "Programmed reserve time expired",
    "Earth Fault",
    "Load Waiting",
    "HV Bus Runaway",
    "Output DC Level",
    "Bad Wiring",
    "Hardware Fault: Unknown",
    "Hardware Fault: Inverter",
    "Hardware Fault:          P.F.C.",
    "Hardware Fault: Inverter P.F.C.",
    "Hardware Fault:                 Booster",
    "Hardware Fault: Inverter        Booster",
    "Hardware Fault:          P.F.C. Booster",
    "Hardware Fault: Inverter P.F.C. Booster",
    "Hardware Fault:                         Overheat",
    "Hardware Fault: Inverter                Overheat",
    "Hardware Fault:          P.F.C.         Overheat",
    "Hardware Fault: Inverter P.F.C.         Overheat",
    "Hardware Fault:                 Booster Overheat",
    "Hardware Fault: Inverter        Booster Overheat",
    "Hardware Fault:          P.F.C. Booster Overheat",
    "Hardware Fault: Inverter P.F.C. Booster Overheat",
    "Hardware Fault: Battery charger",
    "Hardware Fault: Overheat & Battery charger",
    "Output Plug Removed",
    "Main Input too high",
    "Watchdog Reset",
    "Battery not present or damaged during UPS startup",
    "Battery Calibration Failed",
};
static_assert(std::size(kEventTexts) == 39);

std::string Pick(std::string_view value, std::initializer_list<std::pair<std::string_view, std::string_view>> list) {
  for (const auto& [key, text] : list) {
    if (key == value) return std::string(text);
  }
  return std::string(kUnknown);
}

}  // namespace

std::string UpsStatusText(std::string_view value, bool modular) {
  if (modular && value == "5") return "UPS is OFF";
  if (modular && value == "6") return "A Test is Running";
  return Pick(value,
              {{"0", "Mains"}, {"1", "Battery"}, {"2", "Low Battery"}, {"3", "Bypass"}, {"4", "Maintenance Bypass"}});
}

std::string AnomalyText(std::string_view value) {
  return Pick(value, {{"0", "None"},
                      {"1", "Overload"},
                      {"2", "Overheat"},
                      {"3", "Hardware Fault"},
                      {"4", "Battery Charger"},
                      {"5", "Battery fault"}});
}

std::string CalibrationText(std::string_view value) {
  return Pick(
      value,
      {{"&", "Not available"}, {"@", "Never executed or must be repeated"}, {"0", "Done"}, {"1", "in progress"}});
}

std::string StageName(int index) {
  if (index == 16) return "Battery charger";
  if (index == 17) return "Overheat & Battery charger";
  if (index < 0 || index > 17) return "???";
  if (index == 0) return "Unknown or None";
  static constexpr std::string_view kStages[] = {"Inverter", "P.F.C.", "Booster", "Overheat"};
  std::string text;
  for (int bit = 0; bit < 4; ++bit) {
    if ((index & (1 << bit)) == 0) continue;
    if (!text.empty()) text += " & ";
    text += kStages[bit];
  }
  return text;
}

std::string FaultyTypeText(std::string_view faulty_modules, std::string_view faulty_type) {
  if (std::optional<std::string> mark = MarkText(faulty_type)) return *mark;
  if (faulty_type == "0" && faulty_modules == "0") return "None";
  const std::optional<int64_t> index = ParseInteger(faulty_type);
  if (!index || *index < 0 || *index > 17) return "???";
  return StageName(static_cast<int>(*index));
}

std::string EventText(std::string_view code) {
  const std::optional<int64_t> n = ParseInteger(code);
  if (!n || *n < 1 || *n > 39) return std::string(kUnknown);
  return std::string(kEventTexts[*n - 1]);
}

}  // namespace keep::console
