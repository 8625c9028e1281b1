#include "server/ups/halvora_requests.h"

#include <optional>
#include <string_view>

#include "common/text_lists.h"
#include "common/time_text.h"
#include "server/records/command_codes.h"
#include "server/ups/halvora_commands.h"
#include "server/ups/quadrel_frame.h"
#include "server/ups/sentinels.h"

namespace keep::server {
namespace {

// The request's fields, f1 being Args item 1.
class Fields {
 public:
  explicit Fields(const TStringList& args) : args_(args) {}

  std::string_view Text(size_t n) const { return n < args_.size() ? TrimBlanks(args_[n]) : std::string_view(); }
  bool Is(size_t n, std::string_view value) const { return Text(n) == value; }
  // The field as a number; `absent` for "&", a missing field or one that is not a whole number.
  int64_t Number(size_t n, int64_t absent) const {
    int64_t value = 0;
    return ParseDecimalInt64(Text(n), value) ? value : absent;
  }
  // 1 when the field is "1", else 0.
  uint8_t Flag(size_t n) const { return Is(n, "1") ? 1 : 0; }

 private:
  const TStringList& args_;
};

std::optional<int64_t> CodeNumber(std::string_view text) {
  int64_t value = 0;
  if (!ParseDecimalInt64(TrimBlanks(text), value)) return std::nullopt;
  return value;
}

bool ReportsAutonomy(int protocol) { return protocol == 2 || protocol == 5 || protocol == 6; }

uint8_t OutputSettingsRead(int protocol) {
  return protocol == kHalvoraPagedEventsProtocol ? kHalvoraOutputSettingsP2 : kHalvoraOutputSettings;
}
uint8_t OutputSettingsWrite(int protocol) {
  return protocol == kHalvoraPagedEventsProtocol ? kHalvoraSetOutputSettingsP2 : kHalvoraSetOutputSettings;
}

void BuildDataSample(DriverContext& context, TStringList& queue) {
  const TRecordingSetup& recording = context.Setup.RecordingSetup;
  const TPhaseColumnFlags& phase_r = recording.PhaseColumns[kPhaseR];
  if (phase_r.InputVoltage) queue.push_back(HalvoraItemText(kHalvoraInput, 0));
  if (phase_r.OutputVoltage) queue.push_back(HalvoraItemText(kHalvoraOutput, 0));
  if (recording.BatteryVoltageColumn) queue.push_back(HalvoraItemText(kHalvoraBattery, 0));
}

void BuildEventList(DriverContext& context, int protocol, TStringList& queue) {
  TUpsEventListData& events = context.Ups.Events;
  events.ReadIndex = 1;
  if (protocol != kHalvoraPagedEventsProtocol) {
    events.Count = "0";
    events.Items.clear();
    queue.push_back(HalvoraItemText(kHalvoraEvents, 0));
    return;
  }
  // A fresh read (after a start or a restored link) rebuilds the list; otherwise only the events
  // newer than the first one held are put in front.
  if (context.Server.ProtocolReset) {
    events.Count = "0";
    events.Items.clear();
  }
  queue.push_back(HalvoraItemText(kHalvoraEventPage, kHalvoraFirstEntry));
}

// The calendar is switched off while its steps are written, then on again when the request asks.
void BuildCalendarWrite(DriverContext& context, TStringList& queue) {
  const TStringList& args = context.UpsCommand.Args;
  queue.push_back(HalvoraItemText(kHalvoraCalendarSwitch, 0));
  for (size_t field = 2; field < args.size(); ++field) {
    queue.push_back(HalvoraItemText(kHalvoraWriteCalendarStep, static_cast<int64_t>(field)));
  }
  if (Fields(args).Is(1, "1")) queue.push_back(HalvoraItemText(kHalvoraCalendarSwitch, 1));
}

void Add(TStringList& queue, std::initializer_list<uint8_t> commands) {
  for (uint8_t cmd : commands) queue.push_back(HalvoraItemText(cmd, 0));
}

std::vector<uint8_t> OutputSettingsBytes(const DriverContext& context, const Fields& f) {
  const TUpsData& ups = context.Ups;
  if (context.UpsCommand.Code == kCodeSetOutput) {
    return {FrameByte(f.Number(1, 230)), f.Flag(2), static_cast<uint8_t>(ups.Input.PllEnabled == "1" ? 0 : 1),
            FrameByte(CodeNumber(ups.Input.PllExtendedRange.view()).value_or(0)), FrameByte(f.Number(5, 2))};
  }
  // The input settings keep the output's voltage and frequency as the UPS last reported them.
  return {FrameByte(CodeNumber(ups.Output.PhaseR.Voltage).value_or(230)),
          static_cast<uint8_t>(ups.Output.PhaseR.Frequency == "1" ? 1 : 0), static_cast<uint8_t>(f.Is(4, "1") ? 0 : 1),
          FrameByte(f.Number(5, 0)), FrameByte(CodeNumber(ups.Output.BypassDipSpeed.view()).value_or(2))};
}

std::vector<uint8_t> ThresholdBytes(const DriverContext& context, const Fields& f) {
  const TUpsBatteryData& battery = context.Ups.Battery;
  int64_t reserve = 0;
  int64_t exhaust = 0;
  if (f.Is(3, "&")) {
    reserve = CodeNumber(battery.ReserveThreshold).value_or(0);
    exhaust = CodeNumber(battery.ExhaustThreshold).value_or(0);
  } else if (!f.Is(3, "1")) {
    reserve = f.Number(1, 0);
    exhaust = f.Number(2, 0);
  }
  std::vector<uint8_t> data;
  AppendLittleEndian(data, reserve, 2);
  AppendLittleEndian(data, exhaust, 2);
  data.push_back(FrameByte(f.Number(4, 0)));
  return data;
}

// One calendar step as clients write it: seven comma-separated values.
std::vector<uint8_t> CalendarStepBytes(const std::string& step) {
  TStringList values;
  SplitText(',', step, values, true);
  std::vector<uint8_t> data;
  const bool full = values.size() == 7;
  for (size_t i = 0; i < values.size() && i < 7; ++i) {
    const std::string value(TrimBlanks(values[i]));
    if (full && i >= 1 && i <= 5) {
      data.push_back(HalvoraBcdByte(value));
    } else {
      data.push_back(FrameByte(CodeNumber(value).value_or(0)));
    }
  }
  return data;
}

}  // namespace

HalvoraItem ParseHalvoraItem(const std::string& item) {
  HalvoraItem parsed;
  const size_t comma = item.find(',');
  parsed.cmd = FrameByte(CodeNumber(std::string_view(item).substr(0, comma)).value_or(0));
  if (comma != std::string::npos) parsed.hint = CodeNumber(std::string_view(item).substr(comma + 1)).value_or(0);
  return parsed;
}

std::string HalvoraItemText(uint8_t cmd, int64_t hint) {
  std::string text = std::to_string(cmd);
  if (hint != 0) text += "," + std::to_string(hint);
  return text;
}

uint8_t HalvoraBcdByte(const std::string& text) {
  if (TrimBlanks(text) == "*") return kHalvoraBcdAny;
  return QuadrelBcd(CodeNumber(text).value_or(0));
}

void BuildHalvoraExchanges(DriverContext& context, int protocol) {
  TStringList& queue = context.UpsCommand.Exchange.Queue;
  const uint8_t read_output = OutputSettingsRead(protocol);
  const uint8_t write_output = OutputSettingsWrite(protocol);
  switch (context.UpsCommand.Code) {
    case kCodeDataSample:
      BuildDataSample(context, queue);
      break;
    case kCodeUpsOff:
      Add(queue, {kHalvoraShutdown});
      break;
    case kCodeIdentification:
      Add(queue, {kHalvoraIdentification});
      break;
    case kCodeStatus:
      Add(queue, {kHalvoraStatus, kHalvoraFaults, kHalvoraOutput});
      if (ReportsAutonomy(protocol)) Add(queue, {kHalvoraAutonomy, kHalvoraReserveTime});
      break;
    case kCodeOutputData:
      Add(queue, {kHalvoraOutput, kHalvoraLoadWaiting, read_output, kHalvoraBypassFlags});
      break;
    case kCodeInputData:
      Add(queue, {kHalvoraInput, kHalvoraNeutralSense, kHalvoraStabiliser, read_output});
      break;
    case kCodeInputSamples:
      Add(queue, {kHalvoraInputSamples});
      break;
    case kCodeOutputSamples:
      Add(queue, {kHalvoraOutputSamples});
      break;
    case kCodeBatteryData:
      Add(queue, {kHalvoraBattery, kHalvoraBatteryTimes, kHalvoraThresholdFlags});
      break;
    case kCodeHistory:
      Add(queue, {kHalvoraCounters});
      break;
    case kCodeHardware:
      Add(queue, {kHalvoraFaults, kHalvoraConverters, kHalvoraBus});
      break;
    case kCodeEventList:
      BuildEventList(context, protocol, queue);
      break;
    case kCodeBuzzer:
    case kCodeSetBuzzer:
      Add(queue, {kHalvoraBeeper});
      break;
    case kCodeClock:
      Add(queue, {kHalvoraClock});
      break;
    case kCodeCalendar:
      context.Ups.Calendar.Steps.clear();
      context.Ups.Calendar.StepCount = 0;
      queue.push_back(HalvoraItemText(kHalvoraCalendarSwitch, kHalvoraReadState));
      queue.push_back(HalvoraItemText(kHalvoraReadCalendarStep, 0));
      break;
    case kCodeFrequencyAutoselect:
    case kCodeSetFrequencyAutoselect:
      Add(queue, {kHalvoraFrequencyAutoselect});
      break;
    case kCodeSetInput:
      Add(queue, {kHalvoraOutput, read_output, write_output, kHalvoraSetStabiliser, kHalvoraSetNeutralSense});
      break;
    case kCodeSetOutput:
      if (protocol == kHalvoraPagedEventsProtocol) {
        Add(queue, {read_output, write_output, kHalvoraSetBypassFlags, kHalvoraSetLoadWaiting});
      } else {
        Add(queue, {read_output, write_output, kHalvoraSetBypassFlags, kHalvoraSetLoadWaiting, kHalvoraOutput});
      }
      break;
    case kCodeSetBattery:
      Add(queue, {kHalvoraBattery, kHalvoraSetThresholds, kHalvoraSetBatteryTimes, kHalvoraBattery});
      break;
    case kCodeResetBatteryHistory:
      Add(queue, {kHalvoraHistoryReset});
      break;
    case kCodeResetEventList:
      Add(queue, {kHalvoraEventReset});
      break;
    case kCodeSetClock:
      Add(queue, {kHalvoraSetClock});
      break;
    case kCodeSetCalendar:
      context.Ups.Calendar.Steps.clear();
      context.Ups.Calendar.StepCount = 0;
      BuildCalendarWrite(context, queue);
      break;
    case kCodeBatteryTest:
      Add(queue, {kHalvoraBatteryTest});
      break;
    case kCodeAutonomyTest:
      Add(queue, {kHalvoraBatteryTest, kHalvoraStatus});
      break;
    default:
      break;
  }
}

std::vector<uint8_t> HalvoraDataBytes(const DriverContext& context, const HalvoraItem& item) {
  const int code = context.UpsCommand.Code;
  const TStringList& args = context.UpsCommand.Args;
  const Fields f(args);
  std::vector<uint8_t> data;
  switch (item.cmd) {
    case kHalvoraShutdown:
      for (size_t n : {1u, 2u}) {
        // "@" means no restart: the UPS reads four bytes 255 as "never".
        AppendLittleEndian(data, f.Is(n, std::string(kOverrange)) ? -1 : f.Number(n, 0), 4);
      }
      break;
    case kHalvoraSetNeutralSense:
      data = {f.Flag(2), f.Flag(3)};
      break;
    case kHalvoraSetBatteryTimes:
      AppendLittleEndian(data, f.Number(5, 0), 2);
      AppendLittleEndian(data, f.Number(6, 0), 2);
      data.push_back(FrameByte(f.Number(7, 1)));
      break;
    case kHalvoraBeeper:
      data = {code == kCodeBuzzer ? kHalvoraReadState : f.Flag(1)};
      break;
    case kHalvoraBatteryTest:
      data = {static_cast<uint8_t>(code == kCodeBatteryTest ? 0 : (f.Is(1, "1") ? 1 : 2))};
      break;
    case kHalvoraSetStabiliser:
      data = {FrameByte(f.Number(1, 2))};
      break;
    case kHalvoraSetLoadWaiting:
      AppendLittleEndian(data, f.Number(8, 0), 2);
      break;
    case kHalvoraSetOutputSettings:
    case kHalvoraSetOutputSettingsP2:
      data = OutputSettingsBytes(context, f);
      break;
    case kHalvoraSetBypassFlags:
      data = {FrameByte(f.Number(3, 1)), FrameByte(f.Number(4, 0)), FrameByte(f.Number(6, 0)), FrameByte(f.Number(7, 0))};
      break;
    case kHalvoraSetThresholds:
      data = ThresholdBytes(context, f);
      break;
    case kHalvoraFrequencyAutoselect:
      data = {code == kCodeFrequencyAutoselect ? kHalvoraReadState : FrameByte(f.Number(1, 0))};
      break;
    case kHalvoraEventPage:
    case kHalvoraReadCalendarStep:
    case kHalvoraCalendarSwitch:
      data = {FrameByte(item.hint)};
      break;
    case kHalvoraSetClock:
      for (size_t n = 1; n <= 6; ++n) data.push_back(f.Is(n, "&") ? 0 : HalvoraBcdByte(std::string(f.Text(n))));
      data.push_back(FrameByte(f.Number(7, 0)));
      break;
    case kHalvoraWriteCalendarStep:
      if (item.hint >= 0 && static_cast<size_t>(item.hint) < args.size()) {
        data = CalendarStepBytes(args[static_cast<size_t>(item.hint)]);
      }
      break;
    default:
      break;
  }
  return data;
}

}  // namespace keep::server
