#include "server/ups/quadrel_modules.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "server/ups/quadrel_commands.h"
#include "server/ups/sentinels.h"

namespace keep::server {
namespace {

// The last byte each module reply reads when the module's data are valid.
size_t ValuesEnd(uint8_t cmd) {
  switch (cmd) {
    case kQuadrelModuleInfo:
      return 30;
    case kQuadrelModuleMain:
      return 8;
    case kQuadrelModuleOutput:
      return 14;
    case kQuadrelModuleInput:
      return 16;
    case kQuadrelModuleBattery:
      return 8;
    case kQuadrelModuleHardware:
      return 11;
    default:
      return 28;  // history
  }
}

char ModuleState(uint8_t raw) {
  switch (raw) {
    case 0:
      return '0';
    case 1:
    case 2:
      return '1';
    case 4:
      return '2';
    case 255:
      return '3';
    default:
      return kQuadrelModuleStateUnknown;
  }
}

std::string TwoDigits(uint8_t value) { return value < 10 ? "0" + std::to_string(value) : std::to_string(value); }

std::string Bit(unsigned flags, unsigned bit) { return ((flags >> bit) & 1u) != 0 ? "1" : "0"; }

std::string Word16(const QuadrelReply& reply, size_t low) { return SentinelText16(reply.Word(low)); }

template <typename Block>
void Header(Block& block, const std::string& id, char state) {
  block.ModuleId = id;
  block.ModuleState = state;
}

void StoreInfo(TPowerModuleInfoData& info, const QuadrelReply& reply, bool valid) {
  const std::string na(kNotAvailable);
  info.Phase = valid ? SentinelText8(reply.Byte(5)) : na;
  info.ApparentNominalPower = valid ? Word16(reply, 7) : na;
  info.ActiveNominalPower = valid ? std::to_string(reply.Word(9)) : na;
  info.ChargerCurrent = valid ? std::to_string(reply.Word(11)) : na;
  info.FirmwareVersion = valid ? QuadrelVersion(reply.Byte(13), reply.Byte(14), reply.Byte(15)) : na;
  info.HardwareVersion = valid ? QuadrelVersion(reply.Byte(16), reply.Byte(17)) : na;
  info.SerialNumber = valid ? reply.Text(18, 30) : na;
}

void StoreMain(TPowerModuleMainData& main, const QuadrelReply& reply, bool valid) {
  if (!valid) {
    for (TCode* code : {&main.WorkMode, &main.ChargerStatus, &main.BatteryCharger, &main.Inverter, &main.Booster,
                        &main.Overheat, &main.Overload}) {
      *code = kNotAvailable;
    }
    return;
  }
  const unsigned a = reply.Word(5);
  const unsigned b = reply.Word(7);
  main.WorkMode = (a & 1u) != 0 ? "1" : (a & 2u) != 0 ? "3" : "0";
  main.ChargerStatus = Bit(a, 2);
  main.BatteryCharger = (b & 0x44u) != 0 ? "1" : "0";
  main.Inverter = Bit(b, 5);
  main.Booster = Bit(b, 4);
  main.Overheat = Bit(b, 1);
  main.Overload = Bit(b, 0);
}

// Stores consecutive 16-bit sentinel words from byte `first` on, "&" for each when not valid.
void Words(const QuadrelReply& reply, bool valid, size_t first, std::initializer_list<std::string*> fields) {
  size_t low = first;
  for (std::string* field : fields) {
    *field = valid ? Word16(reply, low) : std::string(kNotAvailable);
    low += 2;
  }
}

void StoreHistory(TPowerModuleHistoryData& history, const QuadrelReply& reply, bool valid) {
  const std::string na(kNotAvailable);
  history.TotalOperatingTime = valid ? SentinelText32(reply.Dword(5)) : na;
  history.BoosterOperatingTime = valid ? SentinelText32(reply.Dword(9)) : na;
  history.ChargerOperatingTime = valid ? SentinelText32(reply.Dword(13)) : na;
  size_t low = 17;
  for (std::string* field : {&history.BypassInterventions, &history.BoosterInterventions, &history.Overheatings,
                             &history.Overloads, &history.HvBusRunaway, &history.OutputDcLevel}) {
    *field = valid ? std::to_string(reply.Word(low)) : na;
    low += 2;
  }
}

}  // namespace

bool IsQuadrelModuleCommand(uint8_t cmd) {
  return cmd == kQuadrelModuleInfo || (cmd >= kQuadrelModuleMain && cmd <= kQuadrelModuleHistory);
}

std::string QuadrelVersion(uint8_t a, uint8_t b) {
  if (a == kRaw8NotAvailable || b == kRaw8NotAvailable) return std::string(kNotAvailable);
  return std::to_string(a) + "." + TwoDigits(b);
}

std::string QuadrelVersion(uint8_t a, uint8_t b, uint8_t d) {
  const std::string major = QuadrelVersion(a, b);
  if (major == kNotAvailable) return major;
  return major + "." + TwoDigits(d);
}

bool StoreQuadrelModuleReply(TUpsData& ups, const QuadrelReply& reply) {
  const uint8_t cmd = reply.Byte(1);
  if (!IsQuadrelModuleCommand(cmd) || !reply.Has(4)) return false;
  const char state = ModuleState(reply.Byte(4));
  const bool valid = state == '0';
  if (valid && !reply.Has(ValuesEnd(cmd))) return false;

  const std::string id = std::to_string(reply.Byte(3));
  if (valid) {
    std::vector<std::string>& ids = ups.Info.ModuleIds;
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }

  TPowerModuleData& module = ups.Module;
  switch (cmd) {
    case kQuadrelModuleInfo:
      Header(module.Info, id, state);
      StoreInfo(module.Info, reply, valid);
      break;
    case kQuadrelModuleMain:
      Header(module.Main, id, state);
      StoreMain(module.Main, reply, valid);
      break;
    case kQuadrelModuleOutput: {
      TPowerModuleOutputData& out = module.Output;
      Header(out, id, state);
      Words(reply, valid, 5, {&out.ActivePower, &out.ApparentPower, &out.Voltage, &out.Current, &out.PeakCurrent});
      break;
    }
    case kQuadrelModuleInput: {
      TPowerModuleInputData& in = module.Input;
      Header(in, id, state);
      Words(reply, valid, 5,
            {&in.ActivePower, &in.ApparentPower, &in.Voltage, &in.Current, &in.PeakCurrent, &in.BypassVoltage});
      break;
    }
    case kQuadrelModuleBattery: {
      TPowerModuleBatteryData& battery = module.Battery;
      Header(battery, id, state);
      battery.Voltage = valid ? std::to_string(reply.Word(5)) : std::string(kNotAvailable);
      battery.Current = valid ? SentinelTextSigned16(reply.SignedWord(7)) : std::string(kNotAvailable);
      break;
    }
    case kQuadrelModuleHardware: {
      TPowerModuleHardwareData& hardware = module.Hardware;
      Header(hardware, id, state);
      const std::string na(kNotAvailable);
      hardware.PositiveBus = valid ? std::to_string(reply.Word(5)) : na;
      hardware.NegativeBus = valid ? std::to_string(reply.Word(7)) : na;
      hardware.InverterHeatsinkTemp = valid ? SentinelText8(reply.Byte(9)) : na;
      hardware.BoosterHeatsinkTemp = valid ? SentinelText8(reply.Byte(10)) : na;
      hardware.FanSpeed = valid ? SentinelText8(reply.Byte(11)) : na;
      break;
    }
    default:
      Header(module.History, id, state);
      StoreHistory(module.History, reply, valid);
      break;
  }
  return true;
}

}  // namespace keep::server
