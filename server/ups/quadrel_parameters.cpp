#include "server/ups/quadrel_parameters.h"

#include <string>

#include "server/ups/sentinels.h"

namespace keep::server {
namespace {

// How a coded parameter's value maps to its code.
enum class Coding {
  kStraight,  // 1 '1', 0 '0'
  kInverted,  // 0 '1', 1 '0'
  kDipSpeed,  // 1, 2, 3
};

std::string Coded(Coding coding, const std::optional<uint32_t>& value) {
  if (!value || *value == kRaw32NotAvailable || *value == kRaw32Overrange) return std::string(kNotAvailable);
  switch (coding) {
    case Coding::kStraight:
      if (*value <= 1) return std::to_string(*value);
      break;
    case Coding::kInverted:
      if (*value <= 1) return std::to_string(1 - *value);
      break;
    case Coding::kDipSpeed:
      if (*value >= 1 && *value <= 3) return std::to_string(*value);
      break;
  }
  return std::string(kNotAvailable);
}

std::string Plain(const std::optional<uint32_t>& value) {
  return value ? SentinelText32(*value) : std::string(kNotAvailable);
}

}  // namespace

void StoreQuadrelParameter(TUpsData& ups, int parameter, std::optional<uint32_t> value) {
  TUpsHistoryData& history = ups.History;
  switch (parameter) {
    case 2:
      ups.Battery.Autorestart = Coded(Coding::kInverted, value);
      break;
    case 3:
      ups.Input.NominalFrequency = Coded(Coding::kStraight, value);
      break;
    case 4:
      ups.Input.TriPllEnabled = Coded(Coding::kInverted, value);
      break;
    case 5:
      ups.Input.TriPllExtendedRange = Coded(Coding::kStraight, value);
      break;
    case 9:
      ups.Output.OffLineMode = Coded(Coding::kStraight, value);
      break;
    case 10:
      ups.Input.TriFrequencyAutoselect = Coded(Coding::kStraight, value);
      break;
    case kQuadrelParamRelays: {
      TUpsHardwareData& hardware = ups.Hardware;
      TCode* const relays[] = {&hardware.RelayMainsBattery, &hardware.RelayBatteryReserve, &hardware.RelayGeneralAlarm,
                               &hardware.RelayOverload};
      const bool known = value && *value != kRaw32NotAvailable && *value != kRaw32Overrange;
      for (unsigned bit = 0; bit < 4; ++bit) {
        *relays[bit] = !known ? kNotAvailable : ((*value >> bit) & 1u) != 0 ? "1" : "0";
      }
      break;
    }
    case 13:
      ups.Output.LoadOnBypassAtStart = Coded(Coding::kStraight, value);
      break;
    case 14:
      ups.Battery.ChargerWithUpsOff = Coded(Coding::kStraight, value);
      break;
    case 22:
      ups.Battery.StartupOnBattery = Coded(Coding::kStraight, value);
      break;
    case 25:
      ups.Output.BypassDipSpeed = Coded(Coding::kDipSpeed, value);
      break;
    case 29:
      ups.Main.AutonomyReserveTime = Plain(value);
      break;
    case 34:
      ups.Battery.MinChargeForRestart = Plain(value);
      break;
    case kQuadrelParamBatteryStrings:
      ups.Battery.BatteryStrings = Plain(value);
      break;
    case kQuadrelParamStringCapacity:
      ups.Battery.StringCapacity = Plain(value);
      break;
    case 44:
      ups.Output.BypassEnabled = Coded(Coding::kInverted, value);
      break;
    case 45:
      ups.Output.NominalVoltage = Plain(value);
      break;
    case 57:
      history.UpsOperatingTime = Plain(value);
      break;
    case 58:
      history.InverterOperatingTime = Plain(value);
      break;
    case 59:
      history.ChargerOperatingTime = Plain(value);
      break;
    case 60:
      history.BypassInterventions = Plain(value);
      break;
    case 61:
      history.UpsInterventions = Plain(value);
      break;
    case 62:
      history.BatteryFullDischarges = Plain(value);
      break;
    case 63:
      history.BatteryCalibrations = Plain(value);
      break;
    case 64:
      history.BatteryFullCharges = Plain(value);
      break;
    case 65:
      history.BatteryEqualizations = Plain(value);
      break;
    case 67:
      ups.Output.EpsMode = Coded(Coding::kStraight, value);
      break;
    default:
      break;
  }
}

}  // namespace keep::server
