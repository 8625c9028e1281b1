#include "server/services/recording.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "common/log_file.h"

namespace keep::server {
namespace {

constexpr char kNotAvailable[] = "&";
constexpr char kOverrange[] = "@";
// Load percentages use these for "not available" and "overrange".
constexpr float kLoadNotAvailable = -1.0f;
constexpr float kLoadOverrange = -2.0f;
// The protocol whose UPS reports the battery voltage in hundredths of a volt rather than tenths.
constexpr int32_t kHundredthsProtocol = 4;
// Significant digits a load percentage is taken to before it is rounded for the file.
constexpr int kPercentPrecision = 7;
// Significant digits of the general number form.
constexpr int kGeneralPrecision = 15;

bool IsMarker(const std::string& text) { return text == kNotAvailable || text == kOverrange; }

// `digits` (a whole number in decimal, possibly empty or with leading zeros) read as that number
// divided by 10^decimals, written with exactly `decimals` decimals and "." as the mark.
std::string PlaceDecimalPoint(std::string digits, int decimals, bool negative) {
  const size_t first = digits.find_first_not_of('0');
  digits.erase(0, first == std::string::npos ? digits.size() : first);
  if (digits.size() < static_cast<size_t>(decimals) + 1) digits.insert(0, decimals + 1 - digits.size(), '0');
  if (decimals > 0) digits.insert(digits.size() - decimals, ".");
  // A value that rounds to zero is written without a sign.
  const bool zero = digits.find_first_not_of("0.") == std::string::npos;
  return negative && !zero ? "-" + digits : digits;
}

// `value` taken to `precision` significant digits, then rounded half away from zero to `decimals`
// decimals: the value a person reads from the reported number, not from its binary neighbour, so
// 42.35 becomes 42.4. Empty for a value that is not finite.
std::string FormatFixed(double value, int precision, int decimals) {
  if (!std::isfinite(value)) return "";
  std::array<char, 64> buffer{};
  const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), std::fabs(value),
                                          std::chars_format::scientific, precision - 1);
  if (error != std::errc()) return "";
  // "d.ddddde+XX": the significant digits and the power of ten of the first of them.
  const std::string_view text(buffer.data(), static_cast<size_t>(end - buffer.data()));
  const size_t e = text.find('e');
  if (e == std::string_view::npos) return "";
  std::string digits;
  for (const char c : text.substr(0, e)) {
    if (c != '.') digits.push_back(c);
  }
  const int exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
  // Digits to keep: the integer digits plus the decimals.
  const int keep = exponent + 1 + decimals;
  if (keep < 0) return PlaceDecimalPoint("", decimals, false);
  if (static_cast<size_t>(keep) >= digits.size()) {
    digits.append(static_cast<size_t>(keep) - digits.size(), '0');
  } else {
    const bool round_up = digits[static_cast<size_t>(keep)] >= '5';
    digits.resize(static_cast<size_t>(keep));
    if (round_up) {
      size_t i = digits.size();
      while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
      if (i == 0) {
        digits.insert(0, "1");
      } else {
        ++digits[i - 1];
      }
    }
  }
  return PlaceDecimalPoint(digits, decimals, value < 0);
}

// The battery voltage text (a whole number of tenths, or hundredths for the protocol that reports
// them) in volts with one decimal. Hundredths are rounded half away from zero. Empty for a marker
// or any text that is not a whole number.
std::string BatteryVoltageField(const std::string& source, int32_t protocol) {
  int64_t raw = 0;
  const char* end = source.data() + source.size();
  const auto [rest, error] = std::from_chars(source.data(), end, raw);
  if (source.empty() || error != std::errc() || rest != end) return "";
  const bool negative = raw < 0;
  // Kept unsigned so the most negative number still has a magnitude.
  uint64_t tenths = negative ? 0 - static_cast<uint64_t>(raw) : static_cast<uint64_t>(raw);
  if (protocol == kHundredthsProtocol) tenths = tenths / 10 + (tenths % 10 >= 5 ? 1 : 0);
  return PlaceDecimalPoint(std::to_string(tenths), 1, negative);
}

// The charge estimate rounded to one decimal, ties to the even tenth, in general number form with
// `decimal_mark`. Empty for a value that is not finite.
std::string BatteryChargeField(float charge, char decimal_mark) {
  if (!std::isfinite(charge)) return "";
  // A float times ten is exact in a double, so a tie is seen as a tie.
  double rounded = std::rint(static_cast<double>(charge) * 10.0) / 10.0;
  if (rounded == 0.0) rounded = 0.0;  // no "-0"
  std::array<char, 64> buffer{};
  const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), rounded,
                                          std::chars_format::general, kGeneralPrecision);
  if (error != std::errc()) return "";
  std::string text(buffer.data(), end);
  for (char& c : text) {
    if (c == '.') c = decimal_mark;
  }
  return text;
}

}  // namespace

void WriteLogLine(const ServerContext& context, std::string_view text) {
  const TSetupData& setup = context.Setup;
  if (!setup.RecordingSetup.LogEnabled || setup.InstallPath.empty()) return;
  if (context.env.write_log_line) {
    context.env.write_log_line(text);
    return;
  }
  AppendLogLine(setup.InstallPath + kLogFileName, "", ' ', context.Format, false, setup.RecordingSetup.LogMaxSize, text,
                context.env.wall.Now());
}

void DataField(bool enabled, const std::string& source, std::string& field) {
  if (!enabled) return;
  field = IsMarker(source) ? std::string() : source;
}

void PowerField(bool enabled, const std::string& watts, std::string& value, std::string& unit, float percent) {
  value.clear();
  unit.clear();
  if (!enabled) return;
  if (!IsMarker(watts)) {
    value = watts;
    unit = "W";
    return;
  }
  if (percent == kLoadNotAvailable || percent == kLoadOverrange) return;
  value = FormatFixed(percent, kPercentPrecision, 1);
  // A load that cannot be written is no load at all, so it carries no unit either.
  if (!value.empty()) unit = "%";
}

void WriteDataSample(const ServerContext& context) {
  const TSetupData& setup = context.Setup;
  if (setup.InstallPath.empty()) return;
  const TRecordingSetup& columns = setup.RecordingSetup;
  const TUpsData& ups = context.Ups;

  const std::array<const TUpsInputPhase*, kPhaseCount> inputs{&ups.Input.PhaseR, &ups.Input.PhaseS, &ups.Input.PhaseT};
  const std::array<const TUpsOutputPhase*, kPhaseCount> outputs{&ups.Output.PhaseR, &ups.Output.PhaseS,
                                                                &ups.Output.PhaseT};
  const std::array<float, kPhaseCount> loads{ups.Main.LoadR, ups.Main.LoadS, ups.Main.LoadT};
  constexpr std::array<char, kPhaseCount> kPhaseNames{'R', 'S', 'T'};

  std::array<std::string, kPhaseCount> input_voltage;
  std::array<std::string, kPhaseCount> output_voltage;
  std::array<std::string, kPhaseCount> power;
  std::array<std::string, kPhaseCount> unit;
  for (size_t phase = 0; phase < kPhaseCount; ++phase) {
    DataField(columns.PhaseColumns[phase].InputVoltage, inputs[phase]->Voltage, input_voltage[phase]);
    DataField(columns.PhaseColumns[phase].OutputVoltage, outputs[phase]->Voltage, output_voltage[phase]);
    PowerField(columns.PhaseColumns[phase].OutputPower, outputs[phase]->ActivePower, power[phase], unit[phase],
               loads[phase]);
  }
  const std::string battery_voltage =
      columns.BatteryVoltageColumn
          ? BatteryVoltageField(ups.Battery.Voltage, setup.UpsSetup.ProtocolSetup.ProtocolNumber)
          : std::string();
  const std::string battery_charge = columns.BatteryChargeColumn ? BatteryChargeField(setup.UpsSetup.UpsBatteryCapacity,
                                                                                      context.Format.DecimalSeparator)
                                                                 : std::string();
  std::string autonomy;
  DataField(columns.AutonomyTimeColumn, std::to_string(ups.Main.AutonomyTime), autonomy);

  const char separator = columns.DataSeparator;
  TStringList header{"Date", "Time"};
  for (const char name : kPhaseNames) header.push_back(std::string("InputVoltage_") + name + "(V)");
  for (const char name : kPhaseNames) header.push_back(std::string("OutputVoltage_") + name + "(V)");
  for (size_t phase = 0; phase < kPhaseCount; ++phase) {
    header.push_back(std::string("OutputPower_") + kPhaseNames[phase] + "(" + unit[phase] + ")");
  }
  header.insert(header.end(), {"BatteryVoltage(V)", "BatteryCharge(%)", "AutonomyTime(sec)"});

  TStringList row(input_voltage.begin(), input_voltage.end());
  row.insert(row.end(), output_voltage.begin(), output_voltage.end());
  row.insert(row.end(), power.begin(), power.end());
  row.insert(row.end(), {battery_voltage, battery_charge, autonomy});

  AppendLogLine(setup.InstallPath + kDataFileName, JoinText(header, separator), separator, context.Format, true,
                columns.DataMaxSize, JoinText(row, separator), context.env.wall.Now());
}

}  // namespace keep::server
