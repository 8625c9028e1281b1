#include "server/ups/megatec_driver.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "common/text_lists.h"
#include "common/time_text.h"
#include "server/ups/sentinels.h"

namespace keep::server {
namespace {

// The link type of the "UpsManType" setting that carries queries in USB feature reports.
constexpr uint8_t kUsbLinkType = 1;

// A decimal number, blanks around it allowed; the UPS prints "." whatever our locale is. Infinities,
// NaN and values beyond the float range of the record's numeric fields are no numbers.
std::optional<double> ReadNumber(std::string_view text) {
  text = TrimBlanks(text);
  // from_chars refuses a leading "+", which a UPS firmware may still print.
  if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0.0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (error != std::errc{} || stop != end || !std::isfinite(value)) return std::nullopt;
  if (std::fabs(value) > std::numeric_limits<float>::max()) return std::nullopt;
  return value;
}

// Nearest integer, halves to the even neighbour (the default floating-point rounding mode), as text.
std::string RoundedText(double value) {
  if (!std::isfinite(value)) return std::string(kOverrange);
  // Adding zero turns a rounded -0 into 0, which has no sign in the texts clients read.
  const double rounded = std::rint(value) + 0.0;
  // A finite double has at most 309 integer digits.
  char buffer[400];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::fixed, 0);
  if (error != std::errc{}) return std::string(kNotAvailable);
  return std::string(buffer, end);
}

// The delay field at `index` in whole minutes, at least one.
int64_t DelayMinutes(const TStringList& args, size_t index) {
  int64_t seconds = 0;
  if (index >= args.size() || !ParseDecimalInt64(TrimBlanks(args[index]), seconds)) return 1;
  const int64_t minutes = seconds / 60;
  return minutes < 1 ? 1 : minutes;
}

std::string ZeroPadded(int64_t value, size_t width) {
  std::string text = std::to_string(value);
  if (text.size() < width) text.insert(0, width - text.size(), '0');
  return text;
}

}  // namespace

std::optional<std::string> MegatecFirmwareVersion(std::string_view text) {
  TStringList fields;
  SplitText(' ', text, fields, true);
  // The names are padded with blanks to fixed widths, so runs of blanks separate them.
  std::erase_if(fields, [](const std::string& field) { return field.empty(); });
  if (fields.size() == kMegatecInfoFields) return fields[2];
  // A blank inside the company or model name splits it: only the columns tell the fields apart.
  if (text.size() <= kMegatecInfoVersionStart) return std::nullopt;
  const std::string_view version = TrimBlanks(text.substr(kMegatecInfoVersionStart, kMegatecInfoVersionWidth));
  if (version.empty()) return std::nullopt;
  return std::string(version);
}

std::string MegatecShutdownQuery(const TStringList& args) {
  return "S" + ZeroPadded(DelayMinutes(args, 1), 2) + "R" + ZeroPadded(DelayMinutes(args, 2), 4);
}

MegatecDriver::MegatecDriver(int32_t protocol_number)
    : protocol_(protocol_number == 1 || protocol_number == 7 || protocol_number == 8 ? protocol_number : 3),
      // Init sets it again; holding it from the start keeps a command built before the first
      // wake-up from queueing an empty query.
      poll_cmd_(protocol_ == 8 ? kMegatecQueryStatusQs : kMegatecQueryStatus) {}

std::string MegatecDriver::Init(DriverContext& context) {
  TUpsData& ups = context.Ups;
  const std::string na(kNotAvailable);

  if (protocol_ == 1) {
    poll_cmd_ = kMegatecQueryStatus;
    ups.Main.Temperature = na;
    ups.Hardware.BuzzerEnabled = "1";
  } else if (protocol_ == 8) {
    poll_cmd_ = kMegatecQueryStatusQs;
    ups.Info.FirmwareVersion = na;
    ups.Main.LoadR = kLoadNotAvailable;
    ups.Main.Temperature = na;
  } else {
    poll_cmd_ = kMegatecQueryStatus;
    ups.Info.FirmwareVersion = na;
    ups.Output.PhaseR.Frequency = na;
  }

  ups.Info.ModelName = context.Setup.UpsSetup.UpsModelName;
  ups.Info.SerialNumber = na;
  ups.Info.InstalledModules = na;
  ups.Info.ModuleCount = na;

  TUpsOutputData& out = ups.Output;
  out.PhaseR.ActivePower = na;
  out.PhaseR.ApparentPower = na;
  out.PhaseR.Current = na;
  out.PhaseR.PeakCurrent = na;
  out.BypassEnabled = na;
  out.ForcedBypass = na;
  out.BypassDipSpeed = na;
  out.OffLineMode = na;
  out.LoadWaitingMode = na;
  out.LoadWaitingThreshold = na;

  TUpsInputData& in = ups.Input;
  in.PhaseR.ActivePower = na;
  in.PhaseR.ApparentPower = na;
  in.PhaseR.Current = na;
  in.PhaseR.PeakCurrent = na;
  in.PhaseR.Frequency = na;
  in.StabiliserLevel = na;
  in.NeutralSenseEnabled = na;
  in.NeutralSenseWhileRunning = na;
  in.PllEnabled = na;
  in.PllExtendedRange = na;
  in.FrequencyAutoselect = na;

  for (TUpsSamplesData* samples : {&ups.Samples.Samples1, &ups.Samples.Samples2}) {
    samples->Wave1.fill(na);
    samples->Wave2.fill(na);
  }

  TUpsBatteryData& battery = ups.Battery;
  battery.ReserveThreshold = na;
  battery.ExhaustThreshold = na;
  battery.ThresholdsMode = na;
  battery.AutoBatteryTest = na;
  battery.MaxTimeOnBattery = na;
  battery.MaxTimeAfterReserve = na;
  battery.Autorestart = na;
  battery.HistoryResetResult = na;

  TUpsHistoryData& history = ups.History;
  history.UpsOperatingTime = na;
  history.InverterOperatingTime = na;
  history.UpsInterventions = na;
  history.BatteryFullDischarges = na;
  history.BypassInterventions = na;
  history.Overheatings = na;

  TUpsHardwareData& hardware = ups.Hardware;
  hardware.FaultyModules = na;
  hardware.FaultyType = na;
  hardware.Converters.Input.Voltage = na;
  hardware.Converters.Input.Current = na;
  hardware.Converters.Output.Voltage = na;
  hardware.Converters.Output.Current = na;
  hardware.Bus.Positive = na;
  hardware.Bus.Negative = na;

  ups.Events.ResetResult = na;
  ups.Events.Count = na;
  ups.Events.Items.clear();

  TUpsClockData& clock = ups.Clock;
  for (std::string* text :
       {&clock.Year, &clock.Month, &clock.Day, &clock.Hour, &clock.Minute, &clock.Second, &clock.DayOfWeek}) {
    *text = na;
  }

  ups.Calendar.StepCount = 0;
  ups.Calendar.Enabled = na;
  ups.Calendar.Steps.clear();

  return std::string(1, kMegatecEnd);
}

bool MegatecDriver::BuildCommand(DriverContext& context) {
  TStringList& queue = context.UpsCommand.Exchange.Queue;
  TUpsData& ups = context.Ups;
  const bool has_beeper = protocol_ != 1;

  switch (context.UpsCommand.Code) {
    case 100:
      if (protocol_ == 1) queue.emplace_back(kMegatecQueryInfo);
      if (protocol_ == 7 || protocol_ == 8) queue.emplace_back(kMegatecQueryRating);
      queue.push_back(poll_cmd_);
      break;
    case 1:
    case 101:
    case 102:
    case 103:
    case 106:
      queue.push_back(poll_cmd_);
      break;
    case 2:
      queue.emplace_back(kMegatecShutdownItem);
      break;
    case 110:
      if (has_beeper) queue.push_back(poll_cmd_);
      break;
    case 303:
      if (has_beeper) {
        queue.emplace_back(kMegatecQueryBeeper);
        queue.push_back(poll_cmd_);
      }
      break;
    case 400: {
      // The QS models cannot test a battery that is already low.
      const std::optional<double> volts = ReadNumber(ups.Battery.Voltage);
      const bool charged = protocol_ != 8 || (volts && *volts >= kMegatecQsMinTestVoltage);
      if (ups.Main.UpsStatus == "0" && charged) {
        ups.Test.BatteryTestResult = "0";
        queue.emplace_back(kMegatecQueryTest);
        queue.push_back(poll_cmd_);
      } else {
        ups.Test.BatteryTestResult = kOverrange;
      }
      break;
    }
    default:
      break;
  }
  return !queue.empty();
}

void MegatecDriver::BuildNext(DriverContext& context, uint8_t& expect_reply, int32_t& delay_ms) {
  context.ReplyTimeout = context.Server.ModelTime1;
  expect_reply = 0;
  delay_ms = 0;
  TUpsManUpsCommand& exchange = context.UpsCommand.Exchange;
  if (exchange.Queue.empty()) {
    exchange.Frame.clear();
    return;
  }

  const std::string& head = exchange.Queue.front();
  std::string query = head;
  if (head == kMegatecQueryInfo || head == kMegatecQueryRating || head == poll_cmd_) {
    expect_reply = 1;
  } else if (head == kMegatecQueryTest) {
    delay_ms = kMegatecTestDelayMs;
  } else if (head == kMegatecShutdownItem) {
    query = MegatecShutdownQuery(context.UpsCommand.Args);
  }
  query += kMegatecEnd;

  if (protocol_ == 7 && context.Setup.ServerSetup.UpsManType == kUsbLinkType) {
    std::string frame;
    frame += kMegatecUsbReportId;
    frame += expect_reply != 0 ? kMegatecUsbExpectReply : kMegatecUsbNoReply;
    // A query is a handful of characters, far below the one byte the report gives its length.
    frame += static_cast<char>(static_cast<unsigned char>(query.size() & 0xFF));
    frame += query;
    exchange.Frame = std::move(frame);
  } else {
    exchange.Frame = std::move(query);
  }
}

bool MegatecDriver::Parse(DriverContext& context, std::string& buffer) {
  const TStringList& queue = context.UpsCommand.Exchange.Queue;
  if (queue.empty()) return false;

  constexpr char kMarks[] = {kMegatecStatusMark, kMegatecInfoMark};
  const size_t marker = buffer.find_first_of(std::string_view(kMarks, sizeof kMarks));
  if (marker == std::string::npos) return false;
  buffer.erase(0, marker);
  const size_t end = buffer.find(kMegatecEnd);
  if (end == std::string::npos) return false;

  // The columns of an information answer count from the marker, so that text stays untrimmed.
  const std::string text = buffer.substr(1, end - 1);
  buffer.erase(0, end + 1);
  const std::string_view line = TrimBlanks(text);

  const std::string& head = queue.front();
  if (head == kMegatecQueryInfo) {
    std::optional<std::string> version = MegatecFirmwareVersion(text);
    if (!version) return false;
    context.Ups.Info.FirmwareVersion = std::move(*version);
    return true;
  }

  TStringList fields;
  SplitText(' ', line, fields, true);
  if (head == poll_cmd_) {
    if (fields.size() != kMegatecStatusFields) return false;
    return StoreStatus(context, fields);
  }
  if (head == kMegatecQueryRating) {
    if (fields.size() != kMegatecRatingFields) return false;
    const double volts = ReadNumber(fields[2]).value_or(0.0);
    // Rounding the tenths avoids the error a division before rounding would add. Within the float
    // range, as ReadNumber guarantees, the result stays within it.
    context.Ups.Battery.NominalVoltage = static_cast<float>(std::rint(volts * 10.0) / 10.0);
    return true;
  }
  return false;
}

bool MegatecDriver::StoreStatus(DriverContext& context, const TStringList& fields) const {
  const std::string& bits = fields[7];
  // Every flag is read by its position; a shorter or longer field would shift them all.
  if (bits.size() != 8) return false;
  const char utility_fail = bits[0];
  const char battery_low = bits[1];
  const char bypass_active = bits[2];
  const char ups_failed = bits[3];
  const char standby_type = bits[4];
  const char test_running = bits[5];
  const char beeper_on = bits[7];

  TUpsData& ups = context.Ups;
  // Storing stops at the first field that should be a number and is not: what was stored before it
  // stays, and the exchange ends through the reply timer.
  if (test_running != '1') {
    if (utility_fail != '0') {
      ups.Main.UpsStatus = battery_low != '1' ? "1" : "2";
    } else {
      ups.Main.UpsStatus = standby_type == '0' && bypass_active == '1' ? "3" : "0";
    }
    if (ups_failed == '1') {
      ups.Main.Anomaly = "3";
    } else if (protocol_ != 8) {
      // A load with a fraction is compared by its value, which gives the same answer as comparing
      // its integer part.
      const std::optional<double> load = ReadNumber(fields[3]);
      if (!load) return false;
      ups.Main.Anomaly = *load < 101.0 ? "0" : "1";
    }
  }

  if (protocol_ != 8) {
    const std::optional<double> load = ReadNumber(fields[3]);
    if (!load) return false;
    ups.Main.LoadR = static_cast<float>(*load);
  }

  const std::optional<double> input_volts = ReadNumber(fields[0]);
  if (!input_volts) return false;
  ups.Input.PhaseR.Voltage = RoundedText(*input_volts);
  const std::optional<double> output_volts = ReadNumber(fields[2]);
  if (!output_volts) return false;
  ups.Output.PhaseR.Voltage = RoundedText(*output_volts);

  if (protocol_ == 1) {
    // Only the 60 Hz code means anything; a frequency the UPS did not print is read as 50 Hz.
    const std::optional<double> hertz = ReadNumber(fields[6]);
    ups.Output.PhaseR.Frequency = hertz && std::rint(*hertz) == 60.0 ? "1" : "0";
  } else {
    if (protocol_ != 8) {
      const std::string& temperature = fields[6];
      ups.Main.Temperature = temperature.substr(0, temperature.find_first_of(".,"));
    }
    ups.Hardware.BuzzerEnabled = beeper_on == '1' ? "1" : "0";
  }

  // On-line models report the voltage of one cell, six cells to a 12 V block: without the nominal
  // voltage (the variants that never ask "F", or a rating answer without it) the battery's voltage
  // is unknown, not 0 V.
  const bool per_cell = standby_type == '0';
  const std::optional<double> battery = ReadNumber(fields[5]);
  if (!battery || (per_cell && ups.Battery.NominalVoltage == 0.0f)) {
    ups.Battery.Voltage = kNotAvailable;
  } else {
    double tenths = *battery * 10.0;
    if (per_cell) tenths = tenths * 6.0 * (ups.Battery.NominalVoltage / 12.0);
    ups.Battery.Voltage = RoundedText(tenths);
  }
  return true;
}

}  // namespace keep::server
