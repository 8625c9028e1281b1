#include "server/ups/quadrel_requests.h"

#include <optional>
#include <string_view>

#include "common/text_lists.h"
#include "common/time_text.h"
#include "server/ups/quadrel_commands.h"
#include "server/ups/quadrel_frame.h"
#include "server/ups/quadrel_parameters.h"

namespace keep::server {
namespace {

// Fields of the request, item 0 being the code.
class RequestFields {
 public:
  explicit RequestFields(const TStringList& args) : args_(args) {}

  std::optional<std::string_view> Text(size_t n) const {
    if (n >= args_.size()) return std::nullopt;
    return TrimBlanks(args_[n]);
  }
  std::optional<int64_t> Number(size_t n) const {
    const std::optional<std::string_view> text = Text(n);
    int64_t value = 0;
    if (!text || !ParseDecimalInt64(*text, value)) return std::nullopt;
    return value;
  }
  // "0" gives 0, anything else 1.
  std::optional<int64_t> Straight(size_t n) const {
    const std::optional<std::string_view> text = Text(n);
    if (!text) return std::nullopt;
    return *text == "0" ? 0 : 1;
  }
  // "0" gives 1, anything else 0.
  std::optional<int64_t> Inverted(size_t n) const {
    const std::optional<int64_t> straight = Straight(n);
    if (!straight) return std::nullopt;
    return 1 - *straight;
  }

 private:
  const TStringList& args_;
};

class Exchanges {
 public:
  explicit Exchanges(TStringList& queue) : queue_(queue) {}

  void Add(int cmd, std::initializer_list<int64_t> fields = {}) { queue_.push_back(QuadrelItem(cmd, fields)); }
  void Read(int parameter) { Add(kQuadrelReadParameter, {parameter}); }
  void Write(int parameter, std::optional<int64_t> value) {
    if (value) Add(kQuadrelWriteParameter, {parameter, *value});
  }
  // Phase R always; S and T only where the output has three phases.
  void OutputPhases(const TUpsData& ups) {
    Add(kQuadrelOutputPhase, {0});
    if (!(ups.Output.OutputConfig == "0")) {
      Add(kQuadrelOutputPhase, {1});
      Add(kQuadrelOutputPhase, {2});
    }
  }
  void InputPhases(const TUpsData& ups) {
    Add(kQuadrelInputPhase, {0});
    if (ups.Input.InputConfig == "1") {
      Add(kQuadrelInputPhase, {1});
      Add(kQuadrelInputPhase, {2});
    }
  }

 private:
  TStringList& queue_;
};

// A delay field of the shutdown request in seconds; "@" (and anything that is no number) means the
// timer is not to run.
int64_t TimerDelay(const RequestFields& fields, size_t n) { return fields.Number(n).value_or(-1); }

void BuildDataSample(DriverContext& context, Exchanges& add, const QuadrelInternalRequest& internal) {
  const TRecordingSetup& recording = context.Setup.RecordingSetup;
  bool input = false;
  bool output = false;
  for (const TPhaseColumnFlags& phase : recording.PhaseColumns) {
    input = input || phase.InputVoltage;
    output = output || phase.OutputVoltage || phase.OutputPower;
  }
  if (input && internal) internal(kQuadrelInputRequest, {});
  if (recording.BatteryVoltageColumn) add.Add(kQuadrelBattery);
  if (output) add.OutputPhases(context.Ups);
}

}  // namespace

std::string QuadrelItem(int cmd, std::initializer_list<int64_t> fields) {
  std::string item = std::to_string(cmd);
  for (int64_t field : fields) item += "," + std::to_string(field);
  return item;
}

void BuildQuadrelExchanges(DriverContext& context, const QuadrelInternalRequest& internal) {
  TUpsData& ups = context.Ups;
  const RequestFields fields(context.UpsCommand.Args);
  Exchanges add(context.UpsCommand.Exchange.Queue);
  const int code = context.UpsCommand.Code;

  switch (code) {
    case 1:
      BuildDataSample(context, add, internal);
      break;
    case 2:
      add.Add(kQuadrelTimer, {kQuadrelShutdownTimer, TimerDelay(fields, 1)});
      add.Add(kQuadrelTimer, {kQuadrelRestartTimer, TimerDelay(fields, 2)});
      break;
    case 100:
      add.Add(kQuadrelIdentification);
      break;
    case 110:
      add.Add(kQuadrelBeeper, {2});
      break;
    case 111:
      add.Add(kQuadrelClock, {0, 0, 0, 0, 0, 0, 0, 0});
      break;
    case 130:
      ups.Info.ModuleIds.clear();
      for (int slot = 0; slot < kQuadrelModuleSlots; ++slot) add.Add(kQuadrelModuleInfo, {slot});
      break;
    case 131:
      add.Add(kQuadrelStatus);
      add.Read(kQuadrelParamBatteryStrings);
      add.Read(kQuadrelParamStringCapacity);
      add.Add(kQuadrelBattery);
      add.OutputPhases(ups);
      break;
    case 132:
      add.OutputPhases(ups);
      for (int parameter : {44, 25, 13}) add.Read(parameter);
      add.Add(kQuadrelForcedBypass, {2});
      for (int parameter : {9, 67}) add.Read(parameter);
      break;
    case 133:
      add.InputPhases(ups);
      for (int parameter : {4, 5, 3, 10}) add.Read(parameter);
      break;
    case 134:
      for (int parameter : {35, 37, 14, 34, 2, 22}) add.Read(parameter);
      add.Add(kQuadrelStatus);
      add.Add(kQuadrelBattery);
      break;
    case 135:
      for (int parameter = 57; parameter <= 65; ++parameter) add.Read(parameter);
      break;
    case 136:
      ups.AlarmTexts = TQuadrelAlarmsEventsTableData{"0", {}};
      add.Add(kQuadrelAlarmTexts, {0});
      break;
    case 137:
      ups.ModuleAlarms = TQuadrelAlarmsEventsTableData{"0", {}};
      add.Add(kQuadrelModuleAlarms);
      break;
    case 138:
      add.Add(kQuadrelIdentification);
      add.Add(kQuadrelOutputStates);
      add.Read(kQuadrelParamRelays);
      break;
    case 139: {
      ups.EventLog.Items.clear();
      const std::optional<std::string_view> selector = fields.Text(1);
      int64_t list = 0;
      if (selector == "1") list = 1;
      if (selector == "2") list = 2;
      if (selector == "3") list = 3;
      add.Add(kQuadrelEventLog, {list, 4});
      break;
    }
    case 140:
      ups.EventTexts = TQuadrelAlarmsEventsTableData{"0", {}};
      add.Add(kQuadrelEventTexts, {0});
      break;
    case 150:
    case 151:
    case 152:
    case 153:
    case 154: {
      constexpr int kModuleCommands[] = {kQuadrelModuleInfo, kQuadrelModuleMain, kQuadrelModuleInput,
                                         kQuadrelModuleOutput, kQuadrelModuleHistory};
      if (const std::optional<int64_t> module = fields.Number(1)) add.Add(kModuleCommands[code - 150], {*module});
      break;
    }
    case 155:
      if (const std::optional<int64_t> module = fields.Number(1)) {
        for (int cmd : {kQuadrelModuleMain, kQuadrelModuleBattery, kQuadrelModuleHardware}) add.Add(cmd, {*module});
      }
      break;
    case 303:
      add.Add(kQuadrelBeeper, {fields.Text(1) == "0" ? 1 : 0});
      break;
    case 307: {
      // Every field is needed: a clock set from a guess would be worse than none.
      std::optional<int64_t> values[7];
      for (size_t n = 0; n < 7; ++n) values[n] = fields.Number(n + 1);
      for (const std::optional<int64_t>& value : values) {
        if (!value) return;
      }
      add.Add(kQuadrelClock, {1, QuadrelBcd(*values[0]), QuadrelBcd(*values[1]), QuadrelBcd(*values[2]),
                              QuadrelBcd(*values[3]), QuadrelBcd(*values[4]), QuadrelBcd(*values[5]), *values[6]});
      break;
    }
    case 310:
      add.Write(4, fields.Inverted(1));
      add.Write(5, fields.Straight(2));
      add.Write(10, fields.Straight(3));
      break;
    case 311: {
      add.Write(45, fields.Number(1));
      add.Write(3, fields.Straight(2));
      add.Write(44, fields.Inverted(3));
      add.Write(25, fields.Number(4));
      add.Write(13, fields.Straight(5));
      add.Add(kQuadrelForcedBypass, {fields.Text(6) == "1" ? 1 : 0});
      add.Write(9, fields.Straight(7));
      add.Write(67, fields.Straight(8));
      break;
    }
    case 312:
      add.Write(29, fields.Number(1));
      add.Write(2, fields.Inverted(2));
      add.Write(22, fields.Straight(3));
      add.Write(14, fields.Straight(4));
      add.Write(34, fields.Number(5));
      break;
    case 313: {
      const std::optional<std::string_view> list = fields.Text(1);
      add.Add(kQuadrelEventReset, {list == "0" ? 0 : list == "1" ? 1 : list == "2" ? 2 : 3});
      break;
    }
    case 314: {
      int64_t relays = 0;
      for (size_t n = 1; n <= 4; ++n) {
        if (fields.Text(n) == "1") relays += int64_t{1} << (n - 1);
      }
      add.Write(kQuadrelParamRelays, relays);
      break;
    }
    case 315:
      for (int64_t phase = 0; phase < 3; ++phase) {
        const std::optional<std::string_view> state = fields.Text(static_cast<size_t>(phase) + 1);
        add.Add(kQuadrelOutputOnOff, {phase, state && *state != "0" ? 1 : 0});
      }
      break;
    case 402:
      add.Add(kQuadrelBatteryTest, {1});
      break;
    default:
      break;
  }
}

}  // namespace keep::server
