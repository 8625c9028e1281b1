#include "server/services/response_builder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "common/frames.h"
#include "server/records/command_codes.h"
#include "server/ups/sentinels.h"
#include "server/ups/ups_manager.h"

namespace keep::server {
namespace {

// Writes the fields of one answer, each after a "|", straight into the frame's body.
class Fields {
 public:
  explicit Fields(int code) {
    body_.reserve(128);
    body_ += kFrameOpen;
    // Codes go out with three digits at least.
    const std::string digits = std::to_string(code);
    if (code >= 0 && digits.size() < 3) body_.append(3 - digits.size(), '0');
    body_ += digits;
  }
  Fields& operator<<(std::string_view text) {
    body_ += '|';
    body_ += text;
    return *this;
  }
  template <std::size_t N>
  Fields& operator<<(const FixedText<N>& text) {
    return *this << text.view();
  }
  Fields& operator<<(int64_t value) {
    char digits[24];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), value);
    return *this << std::string_view(digits, static_cast<size_t>(result.ptr - digits));
  }
  // The module state is one character; an unset block has none.
  Fields& operator<<(char state) { return *this << (state == '\0' ? std::string_view() : std::string_view(&state, 1)); }
  std::string Frame() && {
    body_ += kFrameClose;
    return std::move(body_);
  }

 private:
  std::string body_;
};

// Counts arrive as text from the UPS; anything that is not a whole number counts as none.
int64_t CountOf(const std::string& text) {
  int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < 0) return 0;
  return value;
}

std::string JoinedOrNone(std::string text) { return text.find('&') != std::string::npos ? "&" : text; }

void AddEventList(Fields& out, const TUpsEventListData& events) {
  out << events.Count;
  const size_t n = std::min<size_t>(static_cast<size_t>(CountOf(events.Count)), events.Items.size());
  for (size_t i = 0; i < n; ++i) {
    const TUpsEventRecord& e = events.Items[i];
    out << JoinedOrNone(e.Day + "/" + e.Month + "/" + e.Year) + "," + JoinedOrNone(e.Hour + ":" + e.Minute) + "," +
               e.Code;
  }
}

// Adds the table's first `count` entries and empties it: each table goes out once per UPS reading.
void AddAndEmptyTable(Fields& out, TQuadrelAlarmsEventsTableData& table) {
  out << table.Count;
  const size_t n = std::min<size_t>(static_cast<size_t>(CountOf(table.Count)), table.Items.size());
  for (size_t i = 0; i < n; ++i) out << table.Items[i].Code + "," + table.Items[i].Text;
  table.Count = "0";
  table.Items.clear();
}

void AddAndEmptyEventLog(Fields& out, TQuadrelEventsList& log) {
  out << log.Selector << log.Count;
  const size_t n = std::min<size_t>(static_cast<size_t>(CountOf(log.Count)), log.Items.size());
  for (size_t i = 0; i < n; ++i) out << log.Items[i].Date + "," + log.Items[i].Time + "," + log.Items[i].Code;
  log.Count = "0";
  log.Items.clear();
}

void AddCalendar(Fields& out, const TUpsCalendarData& calendar) {
  out << calendar.Enabled << static_cast<int64_t>(calendar.StepCount);
  for (const TUpsCalendarStepData& s : calendar.Steps) {
    out << s.Index + "," + s.Bcd1 + "," + s.Bcd2 + "," + s.Mark + "," + s.Bcd3 + "," + s.Bcd4 + "," + s.Code;
  }
}

void AddSamples(Fields& out, const TUpsSamplesData& samples) {
  for (const std::string& point : samples.Wave1) out << point;
  for (const std::string& point : samples.Wave2) out << point;
}

// Voltage, active and apparent power, current, peak current and frequency of three phases, by
// quantity: the layout of 132 and 133.
template <typename Phase>
void AddThreePhases(Fields& out, const Phase& r, const Phase& s, const Phase& t) {
  for (auto field : {&Phase::Voltage, &Phase::ActivePower, &Phase::ApparentPower, &Phase::Current, &Phase::PeakCurrent,
                     &Phase::Frequency}) {
    out << r.*field << s.*field << t.*field;
  }
}

std::string CalibrationField(const ServerContext& context) {
  const int32_t protocol = context.Setup.UpsSetup.ProtocolSetup.ProtocolNumber;
  const TUpsMainData& main = context.Ups.Main;
  if ((protocol == 2 || protocol == 5 || protocol == 6) && main.AutonomyFromUps != 0) return "&";
  if (context.Ups.Test.AutonomyTestState == "3") return "0";
  return main.CalibrationState.str();
}

bool UpsIdentified(const ServerContext& context) {
  return context.Manager != nullptr && context.Manager->Connected && !context.Server.Info.UpsConnecting;
}

}  // namespace

StatusFields ReadStatusFields(const ServerContext& context) {
  const TUpsMainData& main = context.Ups.Main;
  return StatusFields{main.UpsStatus,    main.Anomaly,
                      main.LoadR,        main.Temperature,
                      main.AutonomyTime, context.Setup.UpsSetup.UpsBatteryCapacity,
                      CalibrationField(context)};
}

std::string TenthsText(float value) {
  if (!std::isfinite(value)) return std::string(kNotAvailable);
  // A float times ten is exact in double, so the rounding sees the value itself; the default
  // rounding mode takes halves to even. Adding 0.0 turns -0 into 0.
  const double tenths = std::rint(static_cast<double>(value) * 10.0) + 0.0;
  char buffer[64];
  // Whole numbers of ordinary size are written as integers: the same digits, far cheaper than
  // formatting a double, and every status answer has some.
  if (std::fabs(tenths) < 1e15) {
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<int64_t>(tenths));
    if (ec == std::errc()) return std::string(buffer, end);
  }
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, tenths, std::chars_format::fixed, 0);
  if (ec != std::errc()) return std::string(kNotAvailable);
  return std::string(buffer, end);
}

std::string LoadText(float value) {
  if (value == kLoadNotAvailable) return std::string(kNotAvailable);
  if (value == kLoadOverrange) return std::string(kOverrange);
  return TenthsText(value);
}

std::string RoundedWholeText(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string_view number = text.substr(negative ? 1 : 0);
  const size_t point = number.find('.');
  const std::string_view whole = number.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? std::string_view() : number.substr(point + 1);
  const auto all_digits = [](std::string_view part) {
    return std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (whole.empty() || !all_digits(whole) || !all_digits(fraction) ||
      (point != std::string_view::npos && fraction.empty())) {
    return std::string(text);
  }

  // Rounded on the decimal digits themselves, so "2.5" is an exact half whatever binary would make
  // of it.
  std::string result(whole);
  bool up = false;
  if (!fraction.empty()) {
    const bool rest_zero = fraction.find_first_not_of('0', 1) == std::string_view::npos;
    if (fraction[0] > '5' || (fraction[0] == '5' && !rest_zero)) {
      up = true;
    } else if (fraction[0] == '5') {
      up = (result.back() - '0') % 2 == 1;
    }
  }
  if (up) {
    size_t i = result.size();
    while (i > 0 && result[i - 1] == '9') result[--i] = '0';
    if (i == 0) {
      result.insert(result.begin(), '1');
    } else {
      ++result[i - 1];
    }
  }
  const size_t first = result.find_first_not_of('0');
  result = first == std::string::npos ? "0" : result.substr(first);
  if (negative && result != "0") result.insert(0, "-");
  return result;
}

std::string BuildResponse(int code, const std::string* parameter, ServerContext& context) {
  TUpsData& ups = context.Ups;
  const TSetupData& setup = context.Setup;
  const TUpsOutputData& output = ups.Output;
  const TUpsInputData& input = ups.Input;
  const TUpsBatteryData& battery = ups.Battery;
  const TUpsHistoryData& history = ups.History;
  const TUpsHardwareData& hardware = ups.Hardware;
  const TPowerModuleData& module = ups.Module;
  Fields out(code);

  switch (code) {
    case kCodeIdentification: {
      const TUpsInfoData& info = ups.Info;
      out << (UpsIdentified(context) ? std::string_view(info.ModelName) : kNotAvailable) << info.FamilyName
          << info.InstalledModules << info.ActiveNominalPower << info.ApparentNominalPower << info.FirmwareVersion
          << info.SerialNumber << info.ModelCode << info.UpsType << setup.ServerSetup.SrvLocation
          << setup.ServerSetup.SrvMonitorPassword;
      break;
    }
    case kCodeStatus: {
      const StatusFields status = ReadStatusFields(context);
      out << status.status << status.anomaly << LoadText(status.load) << status.temperature
          << static_cast<int64_t>(status.autonomy) << TenthsText(status.battery_capacity) << status.calibration;
      break;
    }
    case kCodeOutputData: {
      const TUpsOutputPhase& r = output.PhaseR;
      out << r.Voltage << r.ActivePower << RoundedWholeText(r.ApparentPower) << r.Current << r.PeakCurrent
          << r.Frequency << output.BypassEnabled << output.ForcedBypass << output.BypassDipSpeed << output.OffLineMode
          << output.LoadWaitingMode << output.LoadWaitingThreshold;
      break;
    }
    case kCodeSetOutput:
      out << output.PhaseR.Voltage << output.PhaseR.Frequency << output.BypassEnabled << output.ForcedBypass
          << output.BypassDipSpeed << output.OffLineMode << output.LoadWaitingMode << output.LoadWaitingThreshold;
      break;
    case kCodeInputData: {
      const TUpsInputPhase& r = input.PhaseR;
      out << r.Voltage << r.ActivePower << RoundedWholeText(r.ApparentPower) << r.Current << r.PeakCurrent;
      [[fallthrough]];
    }
    case kCodeSetInput:
      out << input.StabiliserLevel << input.NeutralSenseEnabled << input.NeutralSenseWhileRunning << input.PllEnabled
          << input.PllExtendedRange;
      break;
    case kCodeInputSamples:
      AddSamples(out, ups.Samples.Samples2);
      break;
    case kCodeOutputSamples:
      AddSamples(out, ups.Samples.Samples1);
      break;
    case kCodeBatteryData:
      out << battery.Voltage;
      [[fallthrough]];
    case kCodeSetBattery:
      out << battery.ReserveThreshold << battery.ExhaustThreshold << battery.ThresholdsMode << battery.AutoBatteryTest
          << battery.MaxTimeOnBattery << battery.MaxTimeAfterReserve << battery.Autorestart;
      break;
    case kCodeHistory:
      out << history.UpsOperatingTime << history.InverterOperatingTime << history.UpsInterventions
          << history.BatteryFullDischarges << history.BypassInterventions << history.Overheatings;
      break;
    case kCodeHardware:
      out << hardware.FaultyModules << hardware.FaultyType << hardware.Converters.Input.Voltage
          << hardware.Converters.Input.Current << hardware.Converters.Output.Voltage
          << hardware.Converters.Output.Current << hardware.Bus.Positive << hardware.Bus.Negative;
      break;
    case kCodeEventList:
      AddEventList(out, ups.Events);
      break;
    case kCodeBuzzer:
    case kCodeSetBuzzer:
      out << hardware.BuzzerEnabled;
      break;
    case kCodeClock:
    case kCodeSetClock: {
      const TUpsClockData& c = ups.Clock;
      out << c.Year << c.Month << c.Day << c.Hour << c.Minute << c.Second << c.DayOfWeek;
      break;
    }
    case kCodeCalendar:
    case kCodeSetCalendar:
      AddCalendar(out, ups.Calendar);
      break;
    case kCodeFrequencyAutoselect:
    case kCodeSetFrequencyAutoselect:
      out << input.FrequencyAutoselect;
      break;
    case kCodeModules:
      out << ups.Info.ModuleCount;
      if (!ups.Info.ModuleIds.empty()) out << JoinText(ups.Info.ModuleIds, ',');
      break;
    case kCodeStatusThreePhase:
      out << ups.Main.UpsStatus << ups.Main.Anomaly << LoadText(ups.Main.LoadR) << LoadText(ups.Main.LoadS)
          << LoadText(ups.Main.LoadT) << ups.Main.Temperature << static_cast<int64_t>(ups.Main.AutonomyTime)
          << ups.Main.AutonomyReserveTime << TenthsText(setup.UpsSetup.UpsBatteryCapacity);
      break;
    case kCodeOutputThreePhase:
      AddThreePhases(out, output.PhaseR, output.PhaseS, output.PhaseT);
      out << output.BypassEnabled << output.BypassDipSpeed << output.LoadOnBypassAtStart << output.ForcedBypass
          << output.OffLineMode << output.EpsMode;
      break;
    case kCodeInputThreePhase:
      AddThreePhases(out, input.PhaseR, input.PhaseS, input.PhaseT);
      out << input.TriPllEnabled << input.TriPllExtendedRange << input.NominalFrequency << input.TriFrequencyAutoselect;
      break;
    case kCodeBatteryModular:
      out << battery.Voltage << ups.Main.AutonomyReserveTime << battery.BatteryStrings << battery.StringCapacity
          << battery.CurrentOnBattery << battery.ChargerStatus << battery.ChargerWithUpsOff
          << battery.MinChargeForRestart << battery.Autorestart << battery.StartupOnBattery;
      break;
    case kCodeHistoryModular:
      out << history.UpsOperatingTime << history.InverterOperatingTime << history.UpsInterventions
          << history.BatteryFullDischarges << history.BypassInterventions << history.ChargerOperatingTime
          << history.BatteryCalibrations << history.BatteryFullCharges << history.BatteryEqualizations;
      break;
    case kCodeAlarmTexts:
      AddAndEmptyTable(out, ups.AlarmTexts);
      break;
    case kCodeModuleAlarms:
      AddAndEmptyTable(out, ups.ModuleAlarms);
      break;
    case kCodeEventTexts:
      AddAndEmptyTable(out, ups.EventTexts);
      break;
    case kCodeEventLog:
      AddAndEmptyEventLog(out, ups.EventLog);
      break;
    case kCodeConfiguration:
      out << input.InputConfig << output.OutputConfig << hardware.ModulesL1 << hardware.ModulesL2 << hardware.ModulesL3
          << output.PhaseR.State << output.PhaseS.State << output.PhaseT.State << hardware.RelayMainsBattery
          << hardware.RelayBatteryReserve << hardware.RelayGeneralAlarm << hardware.RelayOverload;
      break;
    case kCodeModuleInfo: {
      const TPowerModuleInfoData& m = module.Info;
      out << m.ModuleId << m.ModuleState << m.Phase << m.ActiveNominalPower << m.ApparentNominalPower
          << m.ChargerCurrent << m.FirmwareVersion << m.HardwareVersion << m.SerialNumber;
      break;
    }
    case kCodeModuleMain: {
      const TPowerModuleMainData& m = module.Main;
      out << m.ModuleId << m.ModuleState << m.WorkMode << m.BatteryCharger << m.Inverter << m.Booster << m.Overload
          << m.Overheat;
      break;
    }
    case kCodeModuleInput: {
      const TPowerModuleInputData& m = module.Input;
      out << m.ModuleId << m.ModuleState << m.BypassVoltage << m.Voltage << m.ActivePower << m.ApparentPower
          << m.Current << m.PeakCurrent;
      break;
    }
    case kCodeModuleOutput: {
      const TPowerModuleOutputData& m = module.Output;
      out << m.ModuleId << m.ModuleState << m.Voltage << m.ActivePower << m.ApparentPower << m.Current << m.PeakCurrent;
      break;
    }
    case kCodeModuleHistory: {
      const TPowerModuleHistoryData& m = module.History;
      out << m.ModuleId << m.ModuleState << m.TotalOperatingTime << m.BoosterOperatingTime << m.BoosterInterventions
          << m.BypassInterventions << m.ChargerOperatingTime << m.Overheatings << m.Overloads << m.HvBusRunaway
          << m.OutputDcLevel;
      break;
    }
    case kCodeModuleHardware: {
      const TPowerModuleHardwareData& h = module.Hardware;
      out << h.ModuleId << h.ModuleState << module.Battery.Voltage << module.Main.ChargerStatus
          << module.Battery.Current << h.PositiveBus << h.NegativeBus << h.InverterHeatsinkTemp << h.BoosterHeatsinkTemp
          << h.FanSpeed;
      break;
    }
    case kCodeSendLogFile:
    case kCodeSendDataFile:
    case kCodeSendScheduleFile:
    case kCodeUploadSchedule:
    case kCodeShutdown:
      if (parameter != nullptr) out << *parameter;
      break;
    case kCodeResetBatteryHistory:
      out << battery.HistoryResetResult;
      break;
    case kCodeResetEventList:
      out << ups.Events.ResetResult;
      break;
    case kCodeSetInputThreePhase:
      out << input.TriPllEnabled << input.TriPllExtendedRange << input.TriFrequencyAutoselect;
      break;
    case kCodeSetOutputModular:
      out << output.NominalVoltage << input.NominalFrequency << output.BypassEnabled << output.BypassDipSpeed
          << output.LoadOnBypassAtStart << output.ForcedBypass << output.OffLineMode << output.EpsMode;
      break;
    case kCodeSetBatteryModular:
      out << ups.Main.AutonomyReserveTime << battery.Autorestart << battery.StartupOnBattery
          << battery.ChargerWithUpsOff << battery.MinChargeForRestart;
      break;
    case kCodeResetEventLog:
      out << ups.EventResetSelector << ups.EventResetDone;
      break;
    case kCodeSetRelays:
      out << hardware.RelayMainsBattery << hardware.RelayBatteryReserve << hardware.RelayGeneralAlarm
          << hardware.RelayOverload;
      break;
    case kCodeSetOutputPhases:
      out << output.PhaseR.State << output.PhaseS.State << output.PhaseT.State;
      break;
    case kCodeBatteryTest:
      out << ups.Test.BatteryTestResult;
      break;
    case kCodeAutonomyTest:
      // "3" and "4" report a finished test with the autonomy it measured.
      if (parameter != nullptr && (*parameter == "3" || *parameter == "4")) {
        out << *parameter << static_cast<int64_t>(setup.UpsSetup.UpsAutonomyTime);
      } else {
        out << ups.Test.AutonomyTestState << kNotAvailable;
      }
      break;
    case kCodeBatteryTestModular:
      out << ups.Test.BatteryTestState << ups.Test.BatteryTestResult;
      break;
    default:  // 500-502 and codes without an answer of their own
      break;
  }
  return std::move(out).Frame();
}

}  // namespace keep::server
