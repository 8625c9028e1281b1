#include "server/ups/quadrel_replies.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "common/text_lists.h"
#include "server/ups/quadrel_commands.h"
#include "server/ups/quadrel_identification.h"
#include "server/ups/quadrel_modules.h"
#include "server/ups/quadrel_parameters.h"
#include "server/ups/quadrel_requests.h"
#include "server/ups/quadrel_tables.h"
#include "server/ups/sentinels.h"

namespace keep::server {
namespace {

// Battery test states of reply 165.
constexpr uint8_t kTestIdle = 0;
constexpr uint8_t kTestRunning = 1;
constexpr uint8_t kTestImpossible = 2;
constexpr uint8_t kTestUnknown = 255;
constexpr int64_t kTestStart = 0;
constexpr int64_t kTestQuery = 1;

bool IsSentinel16(uint16_t raw) { return raw == kRaw16NotAvailable || raw == kRaw16Overrange; }

// "1" for 1, "0" for 0, "&" otherwise; `inverted` swaps the first two.
std::string Flag(uint8_t raw, bool inverted = false) {
  if (raw > 1) return std::string(kNotAvailable);
  return (raw == 1) != inverted ? "1" : "0";
}

TUpsOutputPhase* OutputPhase(TUpsData& ups, uint8_t phase) {
  TUpsOutputPhase* const phases[] = {&ups.Output.PhaseR, &ups.Output.PhaseS, &ups.Output.PhaseT};
  return phase < 3 ? phases[phase] : nullptr;
}

bool StoreStatus(TUpsData& ups, const QuadrelReply& reply) {
  if (!reply.Has(5)) return false;
  const uint8_t status = reply.Byte(3);
  const auto bit = [](unsigned flags, unsigned n) { return ((flags >> n) & 1u) != 0; };
  const char* code = "0";
  if (!bit(status, 6)) {
    code = "5";
  } else if (bit(status, 5)) {
    code = "6";
  } else if (bit(status, 2)) {
    code = "2";
  } else if (bit(status, 0)) {
    code = "1";
  } else if (bit(status, 4)) {
    code = "4";
  } else if (bit(status, 1)) {
    code = "3";
  }
  ups.Main.UpsStatus = code;
  ups.Battery.ChargerStatus = bit(status, 7) ? "1" : "0";

  const uint8_t anomaly = reply.Byte(4);
  const char* fault = "0";
  if (bit(anomaly, 0)) {
    fault = "1";
  } else if (bit(anomaly, 2)) {
    fault = "3";
  } else if (bit(anomaly, 1)) {
    fault = "2";
  } else if (bit(anomaly, 3)) {
    fault = "4";
  } else if (bit(anomaly, 4)) {
    fault = "5";
  }
  ups.Main.Anomaly = fault;
  ups.Main.Temperature = SentinelText8(reply.Byte(5));
  return true;
}

bool StoreOutputPhase(TUpsData& ups, const QuadrelReply& reply) {
  if (!reply.Has(19)) return false;
  const uint8_t index = reply.Byte(3);
  TUpsOutputPhase* const phase = OutputPhase(ups, index);
  if (phase == nullptr) return false;
  size_t low = 4;
  for (std::string* field :
       {&phase->NominalActivePower, &phase->NominalApparentPower, &phase->ActivePower, &phase->ApparentPower,
        &phase->Voltage, &phase->Current, &phase->PeakCurrent, &phase->Frequency}) {
    *field = SentinelText16(reply.Word(low));
    low += 2;
  }
  const float load =
      std::max(QuadrelLoadRatio(reply.Word(8), reply.Word(4)), QuadrelLoadRatio(reply.Word(10), reply.Word(6)));
  float* const loads[] = {&ups.Main.LoadR, &ups.Main.LoadS, &ups.Main.LoadT};
  *loads[index] = load;
  return true;
}

bool StoreInputPhase(TUpsData& ups, const QuadrelReply& reply) {
  if (!reply.Has(15)) return false;
  const uint8_t index = reply.Byte(3);
  TUpsInputPhase* const phases[] = {&ups.Input.PhaseR, &ups.Input.PhaseS, &ups.Input.PhaseT};
  if (index >= 3) return false;
  TUpsInputPhase& phase = *phases[index];
  size_t low = 4;
  for (std::string* field : {&phase.ActivePower, &phase.ApparentPower, &phase.Voltage, &phase.Current,
                             &phase.PeakCurrent, &phase.Frequency}) {
    *field = SentinelText16(reply.Word(low));
    low += 2;
  }
  return true;
}

std::optional<int64_t> Integer(std::string_view text) {
  int64_t value = 0;
  text = TrimBlanks(text);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool StoreBattery(DriverContext& context, const QuadrelReply& reply) {
  if (!reply.Has(13)) return false;
  TUpsData& ups = context.Ups;
  const uint16_t volts = reply.Word(3);
  if (ups.Info.BatteryBlocks == kBatteryBlocksNotReported) {
    ups.Battery.Voltage = kNotAvailable;
  } else if (IsSentinel16(volts)) {
    ups.Battery.Voltage = SentinelText16(volts);
  } else {
    ups.Battery.Voltage = std::to_string(int64_t{volts} * ups.Info.BatteryBlocks);
  }

  const uint8_t charge = reply.Byte(7);
  context.Setup.UpsSetup.UpsBatteryCapacity = ClampedCapacity(charge);
  // Far beyond any real autonomy; keeps the product inside the 32-bit field.
  const double autonomy = std::rint(static_cast<double>(reply.Dword(8)) * charge / 100.0);
  ups.Main.AutonomyTime = static_cast<int32_t>(std::min(autonomy, double{std::numeric_limits<int32_t>::max()}));

  const uint16_t reserve = reply.Word(12);
  ups.Main.AutonomyReserveTime = IsSentinel16(reserve) ? SentinelText16(reserve) : std::to_string(reserve / 60);

  const int16_t current = reply.SignedWord(5);
  const std::optional<int64_t> strings = Integer(ups.Battery.BatteryStrings);
  if (current == kRawSigned16NotAvailable || current == kRawSigned16Overrange) {
    ups.Battery.CurrentOnBattery = SentinelTextSigned16(current);
  } else if (!strings) {
    ups.Battery.CurrentOnBattery = kNotAvailable;
  } else {
    const int64_t product = int64_t{current} * *strings;
    ups.Battery.CurrentOnBattery = std::to_string(product < 0 ? -product : product);
  }
  return true;
}


bool StoreClock(TUpsData& ups, const QuadrelReply& reply) {
  if (!reply.Has(8)) return false;
  TUpsClockData& clock = ups.Clock;
  size_t n = 2;
  for (std::string* field : {&clock.Year, &clock.Month, &clock.Day, &clock.Hour, &clock.Minute, &clock.Second}) {
    *field = QuadrelBcdText(reply.Byte(n++));
  }
  clock.DayOfWeek = std::to_string(reply.Byte(8));
  return true;
}

bool StoreParameter(TUpsData& ups, const QuadrelReply& reply) {
  if (!reply.Has(5)) return false;
  const uint8_t status = reply.Byte(5);
  const bool unavailable = status == kQuadrelParamUnavailable1 || status == kQuadrelParamUnavailable2;
  if (!unavailable && !reply.Has(9)) return false;
  std::optional<uint32_t> value;
  if (!unavailable) value = reply.Dword(6);
  StoreQuadrelParameter(ups, reply.Word(3), value);
  return true;
}

bool StoreOutputOnOff(TUpsData& ups, const QuadrelReply& reply) {
  if (!reply.Has(4)) return false;
  const uint8_t phase = reply.Byte(3);
  const uint8_t state = reply.Byte(4);
  if (phase < 3 && state <= 1) {
    OutputPhase(ups, phase)->State = state == 1 ? "1" : "0";
  } else {
    for (uint8_t n = 0; n < 3; ++n) OutputPhase(ups, n)->State = kNotAvailable;
  }
  return true;
}

bool StoreOutputStates(TUpsData& ups, const QuadrelReply& reply) {
  if (!reply.Has(5)) return false;
  for (uint8_t n = 0; n < 3; ++n) OutputPhase(ups, n)->State = Flag(reply.Byte(3 + n));
  return true;
}

bool StoreBatteryTest(TUpsData& ups, const QuadrelReply& reply, const std::string& head,
                      std::optional<std::string>& next) {
  if (!reply.Has(3)) return false;
  TUpsTestData& test = ups.Test;
  switch (reply.Byte(3)) {
    case kTestIdle:
      if (test.BatteryTestState == "1") {
        if (!reply.Has(4)) return false;
        test.BatteryTestState = "0";
        test.BatteryTestResult = SentinelText8(reply.Byte(4));
      } else if (head != QuadrelItem(kQuadrelBatteryTest, {kTestStart})) {
        // Asked once only: a UPS that stays idle after the start request would otherwise be asked
        // again and again.
        next = QuadrelItem(kQuadrelBatteryTest, {kTestStart});
      }
      break;
    case kTestRunning:
      test.BatteryTestState = "1";
      test.BatteryTestResult = kNotAvailable;
      next = QuadrelItem(kQuadrelBatteryTest, {kTestQuery});
      break;
    case kTestImpossible:
      test.BatteryTestState = kOverrange;
      test.BatteryTestResult = kNotAvailable;
      break;
    case kTestUnknown:
      test.BatteryTestState = kNotAvailable;
      test.BatteryTestResult = kNotAvailable;
      break;
    default:
      break;
  }
  return true;
}

}  // namespace

float QuadrelLoadRatio(uint16_t measured, uint16_t nominal) {
  if (IsSentinel16(nominal)) return kLoadNotAvailable;
  if (IsSentinel16(measured)) return kLoadOverrange;
  if (nominal == 0) return 0.0f;
  return static_cast<float>(100.0 * measured / nominal);
}

bool StoreQuadrelReply(DriverContext& context, const QuadrelReplyInput& input, const QuadrelReply& reply,
                       std::optional<std::string>& next) {
  next.reset();
  if (!reply.Has(1)) return false;
  // A refusal has "Ko" where the data begin, once the command is put back in front.
  if (reply.Has(3) && reply.Byte(2) == kQuadrelRefusal[0] && reply.Byte(3) == kQuadrelRefusal[1]) return false;

  TUpsData& ups = context.Ups;
  const uint8_t cmd = reply.Byte(1);
  if (IsQuadrelModuleCommand(cmd)) return StoreQuadrelModuleReply(ups, reply);
  switch (cmd) {
    case kQuadrelIdentification:
      return StoreQuadrelIdentification(ups, context.Setup.UpsSetup.UpsModelName, reply);
    case kQuadrelStatus:
      return StoreStatus(ups, reply);
    case kQuadrelOutputPhase:
      return StoreOutputPhase(ups, reply);
    case kQuadrelInputPhase:
      return StoreInputPhase(ups, reply);
    case kQuadrelBattery:
      return StoreBattery(context, reply);
    case kQuadrelTimer:
      return true;
    case kQuadrelClock:
      return StoreClock(ups, reply);
    case kQuadrelWriteParameter:
    case kQuadrelReadParameter:
      return StoreParameter(ups, reply);
    case kQuadrelBeeper:
      if (!reply.Has(3)) return false;
      ups.Hardware.BuzzerEnabled = Flag(reply.Byte(3), true);
      return true;
    case kQuadrelModuleAlarms:
      return StoreQuadrelModuleAlarms(ups.ModuleAlarms, reply);
    case kQuadrelAlarmTexts:
      return StoreQuadrelTableEntry(ups.AlarmTexts, reply, next);
    case kQuadrelEventTexts:
      return StoreQuadrelTableEntry(ups.EventTexts, reply, next);
    case kQuadrelEventLog:
      return StoreQuadrelEventRecord(ups.EventLog, reply, input.format, next);
    case kQuadrelEventReset:
      if (!reply.Has(4)) return false;
      // Only the four lists exist; a larger byte would be cut to a wrong one-character code.
      ups.EventResetSelector = reply.Byte(3) <= 3 ? std::to_string(reply.Byte(3)) : std::string(kNotAvailable);
      ups.EventResetDone = reply.Byte(4) == 0 ? "1" : "0";
      return true;
    case kQuadrelForcedBypass:
      if (!reply.Has(3)) return false;
      ups.Output.ForcedBypass = Flag(reply.Byte(3));
      return true;
    case kQuadrelOutputOnOff:
      return StoreOutputOnOff(ups, reply);
    case kQuadrelOutputStates:
      return StoreOutputStates(ups, reply);
    case kQuadrelBatteryTest:
      return StoreBatteryTest(ups, reply, input.head, next);
    default:
      return false;
  }
}

}  // namespace keep::server
