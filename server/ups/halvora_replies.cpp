#include "server/ups/halvora_replies.h"

#include <array>
#include <optional>
#include <string_view>

#include "common/text_lists.h"
#include "common/time_text.h"
#include "server/records/command_codes.h"
#include "server/ups/halvora_commands.h"
#include "server/ups/sentinels.h"

namespace keep::server {
namespace {

constexpr int16_t kSignedNotAvailable = -2;
constexpr int16_t kSignedOverrange = -1;

std::string Decimal(int64_t value) { return std::to_string(value); }
std::string NotAvailable() { return std::string(kNotAvailable); }

// The byte in decimal: a flag 0 or 1 gives "0" or "1".
std::string ByteText(const QuadrelReply& reply, size_t n) { return Decimal(reply.Byte(n)); }

std::optional<int64_t> Number(std::string_view text) {
  int64_t value = 0;
  if (!ParseDecimalInt64(TrimBlanks(text), value)) return std::nullopt;
  return value;
}

// Voltage x current / 10, exactly, with one decimal when it has one.
std::string ApparentPowerText(const std::string& voltage, const std::string& current) {
  const std::optional<int64_t> v = Number(voltage);
  const std::optional<int64_t> i = Number(current);
  if (!v || !i) return NotAvailable();
  const int64_t product = *v * *i;
  const int64_t whole = product / 10;
  const int64_t tenth = product % 10;
  if (tenth == 0) return Decimal(whole);
  const bool negative = product < 0;
  return (negative && whole == 0 ? "-" : "") + Decimal(whole) + "." + Decimal(negative ? -tenth : tenth);
}

// Active power, voltage, current and peak current as signed words from byte 2, then the apparent
// power computed from voltage and current.
template <typename Phase>
void StorePowerValues(Phase& phase, const QuadrelReply& reply) {
  phase.ActivePower = HalvoraSignedText(reply.SignedWord(2));
  phase.Voltage = HalvoraSignedText(reply.SignedWord(4));
  phase.Current = HalvoraSignedText(reply.SignedWord(6));
  phase.PeakCurrent = HalvoraSignedText(reply.SignedWord(8));
  phase.ApparentPower = ApparentPowerText(phase.Voltage, phase.Current);
}

bool StoreStatus(TUpsData& ups, const QuadrelReply& reply) {
  const uint8_t status = reply.Byte(2);
  ups.Main.UpsStatus = status <= 2 ? Decimal(status) : "3";
  const uint8_t anomaly = reply.Byte(3);
  if (anomaly <= 5) ups.Main.Anomaly = Decimal(anomaly);
  const uint8_t temperature = reply.Byte(4);
  ups.Main.Temperature = temperature == 0 ? "0" : Decimal(static_cast<int>(temperature) - 128);
  return true;
}

bool StoreCounters(TUpsHistoryData& history, const QuadrelReply& reply) {
  history.UpsOperatingTime = Decimal(reply.Dword(2));
  history.InverterOperatingTime = Decimal(reply.Dword(6));
  history.UpsInterventions = Decimal(reply.Word(10));
  history.BatteryFullDischarges = Decimal(reply.Word(12));
  history.BypassInterventions = HalvoraSignedText(reply.SignedWord(14));
  history.Overheatings = HalvoraSignedText(reply.SignedWord(16));
  return true;
}

// "1" when bytes 2 and 3 are "Ok", "0" for another reply, "&" for a refusal.
std::string ResetResult(const HalvoraReplyInput& input, const QuadrelReply& reply) {
  if (input.refused) return NotAvailable();
  return reply.Byte(2) == 'O' && reply.Byte(3) == 'k' ? "1" : "0";
}

void StoreOutputSettings(TUpsData& ups, const HalvoraReplyInput& input, const QuadrelReply& reply) {
  if (input.refused) {
    ups.Output.PhaseR.Voltage = NotAvailable();
    ups.Output.PhaseR.Frequency = NotAvailable();
    ups.Input.PllEnabled = kNotAvailable;
    ups.Input.PllExtendedRange = kNotAvailable;
    ups.Output.BypassDipSpeed = kNotAvailable;
    return;
  }
  ups.Output.PhaseR.Voltage = ByteText(reply, 2);
  ups.Output.PhaseR.Frequency = reply.Byte(3) != 0 ? "1" : "0";
  // The UPS keeps 0 for a PLL that is on (the byte the settings commands send); clients read "1" as on.
  ups.Input.PllEnabled = reply.Byte(4) == 0 ? "1" : "0";
  ups.Input.PllExtendedRange = ByteText(reply, 5);
  ups.Output.BypassDipSpeed = ByteText(reply, 6);
}

void StoreBypassFlags(TUpsOutputData& output, const HalvoraReplyInput& input, const QuadrelReply& reply) {
  TCode* const flags[] = {&output.BypassEnabled, &output.ForcedBypass, &output.OffLineMode, &output.LoadWaitingMode};
  for (size_t i = 0; i < 4; ++i) *flags[i] = input.refused ? NotAvailable() : ByteText(reply, 2 + i);
}

void StoreSamples(TUpsSamplesData& samples, const HalvoraReplyInput& input, const QuadrelReply& reply) {
  for (size_t k = 0; k < kSamplePoints; ++k) {
    samples.Wave1[k] = input.refused ? NotAvailable() : HalvoraSignedText(reply.SignedWord(2 + 4 * k));
    samples.Wave2[k] = input.refused ? NotAvailable() : HalvoraSignedText(reply.SignedWord(4 + 4 * k));
  }
}

void StoreThresholds(TUpsBatteryData& battery, const HalvoraReplyInput& input, const QuadrelReply& reply) {
  if (input.refused) {
    battery.ReserveThreshold = NotAvailable();
    battery.ExhaustThreshold = NotAvailable();
    battery.ThresholdsMode = kNotAvailable;
    battery.AutoBatteryTest = kNotAvailable;
    return;
  }
  battery.ReserveThreshold = Decimal(reply.Word(2));
  battery.ExhaustThreshold = Decimal(reply.Word(4));
  battery.ThresholdsMode = battery.ReserveThreshold != "0" || battery.ExhaustThreshold != "0" ? "0" : "1";
  battery.AutoBatteryTest = ByteText(reply, 6);
}

void StoreAutonomy(DriverContext& context, const QuadrelReply& reply) {
  TUpsMainData& main = context.Ups.Main;
  if (reply.Byte(2) != 0) {
    main.AutonomyFromUps = 0;
    return;
  }
  main.AutonomyFromUps = 1;
  main.AutonomyTime = reply.Word(3);
  context.Setup.UpsSetup.UpsBatteryCapacity = ClampedCapacity(reply.Byte(5));
}

std::string BatteryTestResult(const HalvoraReplyInput& input, const QuadrelReply& reply) {
  if (input.refused) return NotAvailable();
  const uint8_t result = reply.Byte(2);
  if (result >= 1 && result <= 5) return Decimal(result * 20);
  if (result == 254) return "255";
  if (result == 255) return std::string(kOverrange);
  return "0";
}

// The last byte each command's reply must hold; 0 for a command that stores nothing.
size_t LastByte(uint8_t cmd) {
  switch (cmd) {
    case kHalvoraIdentification:
      return 19;
    case kHalvoraOutput:
    case kHalvoraInput:
      return 9;
    case kHalvoraStatus:
      return 4;
    case kHalvoraBattery:
      return 7;
    case kHalvoraCounters:
      return 17;
    case kHalvoraBatteryTimes:
    case kHalvoraSetBatteryTimes:
      return 6;
    case kHalvoraNeutralSense:
    case kHalvoraSetNeutralSense:
    case kHalvoraHistoryReset:
    case kHalvoraEventReset:
    case kHalvoraFaults:
    case kHalvoraThresholdFlags:
    case kHalvoraLoadWaiting:
    case kHalvoraSetLoadWaiting:
    case kHalvoraReserveTime:
      return 3;
    case kHalvoraBeeper:
    case kHalvoraBatteryTest:
    case kHalvoraStabiliser:
    case kHalvoraSetStabiliser:
    case kHalvoraFrequencyAutoselect:
      return 2;
    case kHalvoraSetOutputSettings:
    case kHalvoraOutputSettings:
    case kHalvoraSetOutputSettingsP2:
    case kHalvoraOutputSettingsP2:
      return 6;
    case kHalvoraSetBypassFlags:
    case kHalvoraBypassFlags:
    case kHalvoraConverters:
      return 5;
    case kHalvoraOutputSamples:
    case kHalvoraInputSamples:
      return 5 + 4 * (kSamplePoints - 1);
    case kHalvoraBus:
      return 5;
    case kHalvoraSetThresholds:
      return 6;
    case kHalvoraAutonomy:
      return 5;
    case kHalvoraShutdown:
      return 1;
    default:
      return 0;
  }
}

}  // namespace

std::string HalvoraSignedText(int16_t raw) {
  if (raw == kSignedNotAvailable) return NotAvailable();
  if (raw == kSignedOverrange) return std::string(kOverrange);
  return Decimal(raw);
}

float HalvoraLoad(const std::string& active_power, const TUpsInfoData& info, const std::string& faulty_modules) {
  const std::optional<int64_t> power = Number(active_power);
  const std::optional<int64_t> nominal = Number(info.ActiveNominalPower);
  const std::optional<int64_t> modules = Number(info.ModuleCount);
  const std::optional<int64_t> faulty = Number(faulty_modules);
  // A module count of 0 or less would divide by zero or name no real unit: no load can be told.
  if (!power || !nominal || !modules || !faulty || *modules <= 0) return 0.0f;
  const int64_t available = *nominal - *nominal / *modules * *faulty;
  if (available < 1) return static_cast<float>(100 * *power);
  return static_cast<float>(100.0 * static_cast<double>(*power) / static_cast<double>(available));
}

bool StoreHalvoraReply(DriverContext& context, const HalvoraReplyInput& input, const QuadrelReply& reply,
                       std::optional<std::string>& next) {
  const uint8_t cmd = reply.Byte(1);
  if (cmd > kHalvoraLastCommand) return false;
  if (const std::optional<bool> list = StoreHalvoraListReply(context, input, reply, next)) return *list;
  const size_t last = LastByte(cmd);
  if (last == 0) return false;
  // A refusal carries nothing to read; a reply shorter than its layout stores nothing.
  if (!input.refused && !reply.Has(last)) return false;

  TUpsData& ups = context.Ups;
  switch (cmd) {
    case kHalvoraIdentification: {
      if (input.refused) return true;
      ups.Info.InstalledModules = ByteText(reply, 3);
      const std::string minor = Decimal(reply.Byte(7) % 100);
      ups.Info.FirmwareVersion = ByteText(reply, 6) + "." + (minor.size() < 2 ? "0" : "") + minor;
      const std::string serial = reply.Text(8, 19);
      ups.Info.SerialNumber = serial == kNotAvailable ? std::string_view() : std::string_view(serial);
      ups.Info.ModelName = context.Setup.UpsSetup.UpsModelName;
      return true;
    }
    case kHalvoraOutput:
      if (input.refused) return true;
      StorePowerValues(ups.Output.PhaseR, reply);
      ups.Main.LoadR = HalvoraLoad(ups.Output.PhaseR.ActivePower, ups.Info, ups.Hardware.FaultyModules);
      return true;
    case kHalvoraInput:
      if (!input.refused) StorePowerValues(ups.Input.PhaseR, reply);
      return true;
    case kHalvoraStatus:
      return input.refused || StoreStatus(ups, reply);
    case kHalvoraBattery:
      if (input.refused) return true;
      ups.Battery.Voltage = Decimal(reply.Word(2));
      ups.Battery.ReserveThreshold = Decimal(reply.Word(4));
      ups.Battery.ExhaustThreshold = Decimal(reply.Word(6));
      return true;
    case kHalvoraCounters:
      return input.refused || StoreCounters(ups.History, reply);
    case kHalvoraBatteryTimes:
    case kHalvoraSetBatteryTimes:
      if (input.refused) return true;
      ups.Battery.MaxTimeOnBattery = HalvoraSignedText(reply.SignedWord(2));
      ups.Battery.MaxTimeAfterReserve = HalvoraSignedText(reply.SignedWord(4));
      ups.Battery.Autorestart = ByteText(reply, 6);
      return true;
    case kHalvoraNeutralSense:
    case kHalvoraSetNeutralSense:
      ups.Input.NeutralSenseEnabled = input.refused ? NotAvailable() : ByteText(reply, 2);
      ups.Input.NeutralSenseWhileRunning = input.refused ? NotAvailable() : ByteText(reply, 3);
      return true;
    case kHalvoraBeeper:
      if (!input.refused) ups.Hardware.BuzzerEnabled = reply.Byte(2) == 0 ? "0" : "1";
      return true;
    case kHalvoraBatteryTest:
      // Only the short test reports a result; the calibration's start and stop do not.
      if (context.UpsCommand.Code == kCodeBatteryTest) ups.Test.BatteryTestResult = BatteryTestResult(input, reply);
      return true;
    case kHalvoraHistoryReset:
      ups.Battery.HistoryResetResult = ResetResult(input, reply);
      return true;
    case kHalvoraEventReset:
      ups.Events.ResetResult = ResetResult(input, reply);
      return true;
    case kHalvoraStabiliser:
    case kHalvoraSetStabiliser:
      ups.Input.StabiliserLevel = input.refused ? NotAvailable() : ByteText(reply, 2);
      return true;
    case kHalvoraSetLoadWaiting:
    case kHalvoraLoadWaiting:
      ups.Output.LoadWaitingThreshold = input.refused ? NotAvailable() : Decimal(reply.Word(2));
      return true;
    case kHalvoraSetOutputSettings:
    case kHalvoraOutputSettings:
    case kHalvoraSetOutputSettingsP2:
    case kHalvoraOutputSettingsP2:
      StoreOutputSettings(ups, input, reply);
      return true;
    case kHalvoraSetBypassFlags:
    case kHalvoraBypassFlags:
      StoreBypassFlags(ups.Output, input, reply);
      return true;
    case kHalvoraFaults:
      ups.Hardware.FaultyModules = input.refused ? NotAvailable() : ByteText(reply, 2);
      ups.Hardware.FaultyType = input.refused ? NotAvailable() : ByteText(reply, 3);
      return true;
    case kHalvoraOutputSamples:
      StoreSamples(ups.Samples.Samples1, input, reply);
      return true;
    case kHalvoraInputSamples:
      StoreSamples(ups.Samples.Samples2, input, reply);
      return true;
    case kHalvoraConverters: {
      TUpsAdInOutData& converters = ups.Hardware.Converters;
      std::string* const values[] = {&converters.Input.Voltage, &converters.Input.Current, &converters.Output.Voltage,
                                     &converters.Output.Current};
      for (size_t i = 0; i < 4; ++i) *values[i] = input.refused ? NotAvailable() : ByteText(reply, 2 + i);
      return true;
    }
    case kHalvoraBus:
      ups.Hardware.Bus.Positive = input.refused ? NotAvailable() : Decimal(reply.Word(2));
      ups.Hardware.Bus.Negative = input.refused ? NotAvailable() : Decimal(reply.Word(4));
      return true;
    case kHalvoraSetThresholds:
      StoreThresholds(ups.Battery, input, reply);
      return true;
    case kHalvoraThresholdFlags:
      ups.Battery.ThresholdsMode = input.refused ? NotAvailable() : ByteText(reply, 2);
      ups.Battery.AutoBatteryTest = input.refused ? NotAvailable() : ByteText(reply, 3);
      return true;
    case kHalvoraFrequencyAutoselect:
      ups.Input.FrequencyAutoselect = input.refused ? NotAvailable() : ByteText(reply, 2);
      return true;
    case kHalvoraAutonomy:
      if (!input.refused) StoreAutonomy(context, reply);
      return true;
    case kHalvoraReserveTime:
      if (!input.refused) ups.Main.AutonomyReserveTime = Decimal(reply.Word(2));
      return true;
    case kHalvoraShutdown:
      // Nothing to store, but the answer ends the exchange: left to the reply timer, the switch-off
      // would be sent again (restarting the UPS's countdown) and the link reported lost.
      return true;
    default:
      return false;
  }
}

}  // namespace keep::server
