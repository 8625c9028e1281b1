#include "server/services/battery_estimate.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include "server/services/settings.h"

namespace keep::server {
namespace {

// Which way the server comes by the charge and the autonomy of a protocol.
enum class EstimateKind {
  kNone,         // unknown protocol: nothing is estimated
  kFromTime,     // the server counts the charge down on battery and up on mains
  kFromUps,      // the UPS reports its autonomy (and a reserve to keep)
  kFromVoltage,  // the charge follows the battery voltage
};

EstimateKind KindOf(const ServerContext& context) {
  switch (context.Setup.UpsSetup.ProtocolSetup.ProtocolNumber) {
    case 0:
    case 1:
    case 3:
    case 7:
      return EstimateKind::kFromTime;
    case 2:
    case 5:
    case 6:
      return context.Ups.Main.AutonomyFromUps != 0 ? EstimateKind::kFromUps : EstimateKind::kFromTime;
    case 4:
      return EstimateKind::kFromUps;
    case 8:
      return EstimateKind::kFromVoltage;
    default:
      return EstimateKind::kNone;
  }
}

float& Charge(ServerContext& context) { return context.Setup.UpsSetup.UpsBatteryCapacity; }

// Round to the nearest whole number, halves to even, clamped so that a charge or time read from a
// damaged hive can never overflow the conversion.
int32_t RoundToInt32(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kMin = std::numeric_limits<int32_t>::min();
  constexpr double kMax = std::numeric_limits<int32_t>::max();
  if (value <= kMin) return std::numeric_limits<int32_t>::min();
  if (value >= kMax) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(std::rint(value));
}

double Round1(double value) { return std::rint(value * 10.0) / 10.0; }

// The percentage `part` is of `whole`; 0 when either is 0, never negative.
float Percent(int32_t part, int32_t whole) {
  if (part == 0 || whole == 0) return 0.0f;
  const double result = static_cast<double>(part) / whole * 100.0;
  return result < 0.0 ? 0.0f : static_cast<float>(result);
}

// The share of `seconds` that a charge of `charge` percent stands for.
int32_t Share(int32_t seconds, float charge) { return RoundToInt32(static_cast<double>(charge) / 100.0 * seconds); }

// The calibrated autonomy applies when the user trusts it unconditionally or a calibration is
// stored and the UPS can tell whether the load still matches it.
bool UseCalibration(const ServerContext& context) {
  const TUpsSetup& setup = context.Setup.UpsSetup;
  if (setup.UpsSmartAutonomy) return true;
  return context.Ups.Main.CalibrationState != "&" && setup.UpsLoadPercent != -1.0f;
}

// The UPS's texts are untrusted: the whole text must be a decimal number.
std::optional<double> ParseDecimal(std::string_view text) {
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  if (text.empty() || result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

int32_t RechargeSeconds(int32_t configured) { return configured > 0 ? configured : kDefaultRechargeSeconds; }

uint16_t ReserveSeconds(std::string_view text) {
  int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (text.empty() || result.ec != std::errc() || result.ptr != end) return 0;
  // Only the low 16 bits count, as in the UPS's own word.
  return static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
}

void UpdateAutonomy(ServerContext& context) {
  const EstimateKind kind = KindOf(context);
  if (kind != EstimateKind::kFromTime && kind != EstimateKind::kFromVoltage) return;
  const int32_t full =
      UseCalibration(context) ? context.Setup.UpsSetup.UpsAutonomyTime : context.Setup.ServerSetup.UpsFixedTime;
  const int32_t seconds = Share(full, Charge(context));
  context.Ups.Main.AutonomyTime = seconds < 0 ? 0 : seconds;
}

void CapacityFromAutonomy(ServerContext& context) {
  const int32_t full =
      UseCalibration(context) ? context.Setup.UpsSetup.UpsAutonomyTime : context.Setup.ServerSetup.UpsFixedTime;
  // An autonomy above the full one (settings changed since, a reading of the UPS) is a full battery.
  Charge(context) = ClampedCapacity(Percent(context.Ups.Main.AutonomyTime, full));
}

void CapacityFromVoltage(ServerContext& context) {
  const double nominal = context.Ups.Battery.NominalVoltage;
  if (nominal == 0.0 || !std::isfinite(nominal)) return;
  const std::optional<double> tenths = ParseDecimal(context.Ups.Battery.Voltage);
  // No reading ("&", "@" or garbage): the last estimate stands rather than a made-up one.
  if (!tenths) return;
  // A battery that holds some charge is judged on its discharge curve, an empty one on its
  // recharge curve, which lies higher.
  double low = 0.0;
  double high = 0.0;
  if (Charge(context) > 0.0f) {
    low = Round1(104.0 * nominal / 120.0);
    high = Round1(130.0 * nominal / 120.0);
  } else {
    low = Round1(nominal);
    high = Round1(1.15 * nominal);
  }
  // A tiny or negative nominal voltage leaves no range to scale into.
  if (!(high > low)) return;
  const double volts = Round1(*tenths / 10.0);
  double charge = Round1((volts - low) * 100.0 / (high - low));
  if (charge < 0.0) charge = 0.0;
  if (charge > 100.0) charge = 100.0;
  Charge(context) = static_cast<float>(charge);
}

void RechargeStep(ServerContext& context) {
  switch (KindOf(context)) {
    case EstimateKind::kFromTime: {
      float& charge = Charge(context);
      if (charge < 100.0f) {
        const double next =
            static_cast<double>(charge) + 100.0 / RechargeSeconds(context.Setup.UpsSetup.UpsRechargeTime);
        charge = next > 100.0 ? 100.0f : static_cast<float>(next);
      }
      UpdateAutonomy(context);
      return;
    }
    case EstimateKind::kFromVoltage:
      CapacityFromVoltage(context);
      context.Ups.Main.AutonomyTime = Share(context.Setup.ServerSetup.UpsFixedTime, Charge(context));
      return;
    case EstimateKind::kFromUps:
    case EstimateKind::kNone:
      return;
  }
}

int32_t DischargeStep(ServerContext& context) {
  int32_t& autonomy = context.Ups.Main.AutonomyTime;
  switch (KindOf(context)) {
    case EstimateKind::kFromTime:
      if (autonomy < 1) return 0;
      --autonomy;
      CapacityFromAutonomy(context);
      return autonomy;
    case EstimateKind::kFromUps: {
      const int64_t left = static_cast<int64_t>(autonomy) - ReserveSeconds(context.Ups.Main.AutonomyReserveTime);
      return left < 0 ? 0 : static_cast<int32_t>(left);
    }
    case EstimateKind::kFromVoltage:
      CapacityFromVoltage(context);
      if (autonomy < 1) return 0;
      --autonomy;
      return autonomy;
    case EstimateKind::kNone:
      return 0;
  }
  return 0;
}

void SaveBatteryCapacity(ServerContext& context) {
  // Each write reads and rewrites the store: at full charge the estimate stays put for days, and
  // writing it again every second would cost an idle server most of its time. A failed write only
  // costs the estimate across a restart; the next second writes again.
  const float charge = Charge(context);
  std::optional<float>& saved = context.Server.SavedBatteryCapacity;
  if (saved.has_value() && *saved == charge) return;
  if (SaveBatteryCapacity(context.env.registry, charge)) {
    saved = charge;
  } else {
    saved.reset();
  }
}

void StartCalibrationTest(ServerContext& context) {
  context.Ups.Main.CalibrationState = "1";
  context.Ups.Main.AutonomyTime = 0;
  Charge(context) = 0.0f;
}

void EndCalibrationTest(ServerContext& context) {
  TUpsSetup& setup = context.Setup.UpsSetup;
  Charge(context) = 0.0f;
  setup.UpsLoadPercent = context.Ups.Main.LoadR;
  setup.UpsAutonomyTime = context.Ups.Main.AutonomyTime;
  platform::Registry& registry = context.env.registry;
  SaveBatteryCapacity(registry, Charge(context));
  SaveAutonomyTime(registry, setup.UpsAutonomyTime);
  SaveLoadPercent(registry, setup.UpsLoadPercent);
  // The test has emptied the battery; the estimate starts again from nothing and recharges.
  context.Ups.Main.AutonomyTime = 0;
  Charge(context) = 0.0f;
  context.Ups.Test.AutonomyTestState = "3";
}

}  // namespace keep::server
