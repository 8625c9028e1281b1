#include "server/services/nut/nut_variables.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <system_error>

#include "server/ups/sentinels.h"

namespace keep::server::nut {
namespace {

constexpr int32_t kModularProtocol = 4;

// A stored text as a number: the whole text, finite; the markers and anything else are no number.
std::optional<double> Number(std::string_view text) {
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

// Shortest fixed form with at most `decimals` places: 230, 13.6, 87.5.
std::string Decimal(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  value = std::rint(value * scale) / scale + 0.0;
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (ec != std::errc()) return std::string();
  return std::string(buffer, end);
}

class Builder {
 public:
  void Text(std::string_view name, std::string_view value) {
    if (value.empty() || value == kNotAvailable || value == kOverrange) return;
    variables_.push_back({std::string(name), std::string(value), false});
  }
  // `text` divided by `divisor` (1, 10 or 100 for whole units, tenths, hundredths).
  void Scaled(std::string_view name, std::string_view text, int divisor) {
    const std::optional<double> value = Number(text);
    if (!value) return;
    Value(name, *value / divisor, divisor == 100 ? 2 : divisor == 10 ? 1 : 0);
  }
  void Value(std::string_view name, double value, int decimals) {
    if (!std::isfinite(value)) return;
    std::string text = Decimal(value, decimals);
    if (!text.empty()) variables_.push_back({std::string(name), std::move(text), true});
  }
  std::vector<NutVariable> Take() {
    std::sort(variables_.begin(), variables_.end(),
              [](const NutVariable& a, const NutVariable& b) { return a.name < b.name; });
    return std::move(variables_);
  }

 private:
  std::vector<NutVariable> variables_;
};

// The model database names a model "<maker> <family> <rating>": the maker is what stands before the
// family name. A model named otherwise has no maker we could tell.
std::string Maker(const TUpsInfoData& info) {
  const std::string& model = info.ModelName;
  const std::string& family = info.FamilyName;
  if (family.empty()) return std::string();
  const size_t at = model.find(" " + family);
  if (at == std::string::npos || at == 0) return std::string();
  return model.substr(0, at);
}

// The single-phase families keep the output frequency as a code: 0 for 50 Hz, 1 for 60 Hz.
std::string FrequencyOfCode(std::string_view code) {
  if (code == "0") return "50";
  if (code == "1") return "60";
  return std::string();
}

void AddLoad(Builder& out, const TUpsMainData& main, bool modular) {
  float load = main.LoadR;
  if (modular) load = std::max({main.LoadR, main.LoadS, main.LoadT});
  // The sentinels are negative, so a phase that reports wins over one that does not.
  if (load >= 0.0f) out.Value("ups.load", load, 1);
}

}  // namespace

std::string NutStatusWords(const NutSource& source) {
  const TUpsMainData& main = source.ups.Main;
  const std::string_view status = main.UpsStatus.view();
  std::string words;
  if (status == "0" || status == "6") {
    words = "OL";
  } else if (status == "1") {
    words = "OB";
  } else if (status == "2") {
    words = "OB LB";
  } else if (status == "3" || status == "4") {
    words = "OL BYPASS";
  } else if (status == "5") {
    words = "OFF";
  } else {
    return std::string();
  }
  const std::string_view autonomy_test = source.ups.Test.AutonomyTestState.view();
  if (status == "6" || main.CalibrationState == "1" || autonomy_test == "1" || autonomy_test == "2") words += " CAL";
  const std::string_view anomaly = main.Anomaly.view();
  if (anomaly == "1") words += " OVER";
  if (anomaly == "5" || source.ups.Test.BatteryTestResult == "255") words += " RB";
  if (anomaly == "2" || anomaly == "3" || anomaly == "4") words += " ALARM";
  if (source.shutdown_active) words += " FSD";
  return words;
}

std::vector<NutVariable> NutVariables(const NutSource& source) {
  const TUpsData& ups = source.ups;
  const TUpsSetup& setup = source.setup.UpsSetup;
  const bool modular = setup.ProtocolSetup.ProtocolNumber == kModularProtocol;
  Builder out;

  out.Text("ups.status", NutStatusWords(source));
  out.Value("battery.charge", ClampedCapacity(setup.UpsBatteryCapacity), 1);
  if (ups.Main.AutonomyTime >= 0) out.Value("battery.runtime", ups.Main.AutonomyTime, 0);
  out.Scaled("battery.voltage", ups.Battery.Voltage, modular ? 100 : 10);
  if (ups.Battery.NominalVoltage > 0.0f) out.Value("battery.voltage.nominal", ups.Battery.NominalVoltage, 1);

  out.Scaled("input.voltage", ups.Input.PhaseR.Voltage, 1);
  out.Scaled("output.voltage", ups.Output.PhaseR.Voltage, 1);
  if (modular) {
    out.Scaled("input.frequency", ups.Input.PhaseR.Frequency, 100);
    out.Scaled("output.frequency", ups.Output.PhaseR.Frequency, 100);
  } else {
    out.Scaled("output.frequency", FrequencyOfCode(ups.Output.PhaseR.Frequency), 1);
  }
  AddLoad(out, ups.Main, modular);
  out.Scaled("ups.temperature", ups.Main.Temperature, 1);
  const std::string_view buzzer = ups.Hardware.BuzzerEnabled.view();
  out.Text("ups.beeper.status", buzzer == "1" ? "enabled" : buzzer == "0" ? "disabled" : "");
  out.Scaled("ups.realpower.nominal", ups.Info.ActiveNominalPower, 1);
  out.Scaled("ups.power.nominal", ups.Info.ApparentNominalPower, 1);
  // The delays keepd gives the UPS when it switches it off and on again.
  if (setup.UpsOffEnabled) out.Value("ups.delay.shutdown", setup.UpsOffDelay, 0);
  if (setup.UpsOnEnabled) out.Value("ups.delay.start", setup.UpsOnDelay, 0);

  const std::string maker = Maker(ups.Info);
  out.Text("device.mfr", maker);
  out.Text("ups.mfr", maker);
  out.Text("device.model", ups.Info.ModelName);
  out.Text("ups.model", ups.Info.ModelName);
  out.Text("device.serial", ups.Info.SerialNumber.view());
  out.Text("ups.serial", ups.Info.SerialNumber.view());
  out.Text("ups.firmware", ups.Info.FirmwareVersion);
  out.Text("device.type", "ups");
  out.Text("driver.name", "keepd");
  out.Text("driver.version", source.server_version);
  return out.Take();
}

std::string_view NutVariableDescription(std::string_view name) {
  static constexpr std::pair<std::string_view, std::string_view> kDescriptions[] = {
      {"battery.charge", "Battery charge (percent)"},
      {"battery.runtime", "Battery runtime (seconds)"},
      {"battery.voltage", "Battery voltage (V)"},
      {"battery.voltage.nominal", "Nominal battery voltage (V)"},
      {"device.mfr", "Device manufacturer"},
      {"device.model", "Device model"},
      {"device.serial", "Device serial number"},
      {"device.type", "Device type"},
      {"driver.name", "Driver name"},
      {"driver.version", "Driver version"},
      {"input.frequency", "Input line frequency (Hz)"},
      {"input.voltage", "Input voltage (V)"},
      {"output.frequency", "Output frequency (Hz)"},
      {"output.voltage", "Output voltage (V)"},
      {"ups.beeper.status", "UPS beeper status"},
      {"ups.delay.shutdown", "Interval to wait after shutdown with delay command (seconds)"},
      {"ups.delay.start", "Interval to wait before restarting the load (seconds)"},
      {"ups.firmware", "UPS firmware"},
      {"ups.load", "Load on UPS (percent)"},
      {"ups.mfr", "UPS manufacturer"},
      {"ups.model", "UPS model"},
      {"ups.power.nominal", "Nominal value of apparent power (VA)"},
      {"ups.realpower.nominal", "Nominal value of real power (W)"},
      {"ups.serial", "UPS serial number"},
      {"ups.status", "UPS status"},
      {"ups.temperature", "UPS temperature (degrees C)"},
  };
  for (const auto& [known, text] : kDescriptions) {
    if (known == name) return text;
  }
  return std::string_view();
}

}  // namespace keep::server::nut
