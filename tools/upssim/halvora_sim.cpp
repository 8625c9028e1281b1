#include "tools/upssim/halvora_sim.h"

#include <cmath>
#include <string_view>

#include "tools/upssim/binary_bytes.h"
#include "tools/upssim/halvora_readings.h"

namespace keep::tools {
namespace {

struct Identity {
  int variant;
  uint8_t model_code;
  uint8_t firmware_major;
  uint8_t firmware_minor;
  std::string_view serial;  // 12 characters
};

constexpr Identity kIdentities[] = {
    {0, 10, 1, 5, "SP0418A03321"},
    {2, 20, 2, 10, "SP2219B01187"},
    {5, 50, 3, 2, "SP5121C00642"},
    {6, 60, 3, 21, "SP6322C00915"},
};

constexpr ClockTime kClockStart{2024, 6, 3, 8, 0, 0, 1};
constexpr uint16_t kAutonomyReserveMinutes = 3;
constexpr int64_t kMsPerHour = 3600 * 1000;
constexpr std::string_view kDone = "Ok";
constexpr uint8_t kRead = 2;

const Identity& IdentityOf(int variant) {
  for (const Identity& identity : kIdentities) {
    if (identity.variant == variant) return identity;
  }
  return kIdentities[0];
}

bool ReportsAutonomy(int variant) { return variant == 2 || variant == 5 || variant == 6; }
bool PagesEvents(int variant) { return variant == 2; }

std::string One(int value) {
  std::string data;
  PutByte(data, value);
  return data;
}

void Bump(uint16_t& counter) {
  if (counter < UINT16_MAX) ++counter;
}

std::string ClockReply(const ClockTime& time) {
  std::string data;
  for (const int field : {time.year, time.month, time.day, time.hour, time.minute, time.second, time.day_of_week}) {
    PutByte(data, ToBcd(field));
  }
  return data;
}

}  // namespace

bool IsHalvoraVariant(int protocol) { return protocol == 0 || protocol == 2 || protocol == 5 || protocol == 6; }

std::unique_ptr<BinaryDialect> CreateHalvoraDialect(int variant) { return std::make_unique<HalvoraDialect>(variant); }

HalvoraDialect::HalvoraDialect(int variant) : variant_(variant), clock_(kClockStart), events_(kClockStart) {}

std::optional<std::string> HalvoraDialect::Answer(const BinaryRequest& request, SimState& state, int64_t now_ms) {
  if (!first_ms_) first_ms_ = now_ms;
  const ClockTime now = clock_.Now(now_ms);
  Notice(state, now);
  if (IsHalvoraSettingCommand(request.cmd, variant_)) return AnswerHalvoraSetting(request, settings_, state);
  const std::string_view data = request.data;
  switch (request.cmd) {
    case 7:
      if (PagesEvents(variant_)) return std::nullopt;
      return events_.CodesReply();
    case 46:
      if (!PagesEvents(variant_) || data.size() != 1 || ByteAt(data, 0) > 1) return std::nullopt;
      return events_.PageReply(ByteAt(data, 0) == 0);
    case 10: {
      if (data.size() != 8) return std::nullopt;
      state.shutdown_active = true;
      state.shutdown_query =
          "delay " + std::to_string(DwordAt(data, 0)) + " restart " + std::to_string(DwordAt(data, 4));
      return std::string(data);
    }
    case 14:
      if (data.size() != 1) return std::nullopt;
      return BatteryTest(ByteAt(data, 0), state, now, now_ms);
    case 15:
      counters_.interventions = 0;
      counters_.full_discharges = 0;
      return std::string(kDone);
    case 18:
      events_.Clear();
      return std::string(kDone);
    case 48:
    case 49:
      return Clock(request, now_ms);
    case 52:
    case 53:
    case 54:
      return Calendar(request);
    default:
      return Measurement(request.cmd, state, now_ms);
  }
}

void HalvoraDialect::Notice(const SimState& state, const ClockTime& now) {
  for (const int code : events_.Observe(state, now)) {
    if (code == kEventMainsFailure) Bump(counters_.interventions);
    if (code == kEventLowBattery) Bump(counters_.full_discharges);
    if (code == kEventBypass) Bump(counters_.bypass_interventions);
  }
}

std::optional<std::string> HalvoraDialect::Measurement(uint8_t cmd, const SimState& state, int64_t now_ms) const {
  std::string data;
  switch (cmd) {
    case 0: {
      const Identity& identity = IdentityOf(variant_);
      PutByte(data, identity.model_code);
      PutByte(data, 1);  // installed modules
      PutWord(data, kHalvoraNominalWatts);
      PutByte(data, identity.firmware_major);
      PutByte(data, identity.firmware_minor);
      data.append(identity.serial);
      return data;
    }
    case 1:
      return HalvoraOutputReply(state);
    case 2:
      return HalvoraInputReply(state);
    case 3:
      return HalvoraStatusReply(state);
    case 4:
      PutWord(data, std::lround(state.battery_voltage * 10));
      PutWord(data, HalvoraReserveVolts(settings_, state));
      PutWord(data, HalvoraExhaustVolts(settings_, state));
      return data;
    case 5: {
      const auto hours = static_cast<uint32_t>((now_ms - first_ms_.value_or(now_ms)) / kMsPerHour);
      PutDword(data, counters_.ups_hours + hours);
      PutDword(data, counters_.inverter_hours + hours);
      for (const uint16_t counter : {counters_.interventions, counters_.full_discharges, counters_.bypass_interventions,
                                     counters_.overheatings}) {
        PutWord(data, counter);
      }
      return data;
    }
    case 27:
      return HalvoraFaultReply(state);
    case 28:
    case 29:
      return HalvoraWaveformReply(state, cmd == 29);
    case 30:
      return HalvoraConvertersReply(state);
    case 31:
      return HalvoraBusReply(state);
    case 37:
      if (!ReportsAutonomy(variant_)) return std::string{1, 0, 0, 0, 0};
      PutByte(data, 0);
      PutWord(data, HalvoraAutonomySeconds(state));
      PutByte(data, HalvoraChargePercent(state));
      return data;
    case 41:
      PutWord(data, kAutonomyReserveMinutes);
      return data;
    default:
      return std::nullopt;
  }
}

std::optional<std::string> HalvoraDialect::BatteryTest(uint8_t mode, SimState& state, const ClockTime& now,
                                                       int64_t now_ms) {
  switch (mode) {
    case 0: {
      const uint8_t result = HalvoraTestResult(state);
      if (result <= 5) {
        state.test_ends_ms = now_ms + kShortTestMs;
        events_.Add(kEventBatteryTest, now);
      }
      return One(result);
    }
    case 1:
      // The calibration discharges the battery at the present load until its peer stops it.
      if (!state.test_held && (state.ups_failed || HalvoraOnBattery(state))) return One(255);
      state.test_held = true;
      return One(mode);
    case 2:
      state.test_held = false;
      state.test_ends_ms = 0;
      return One(mode);
    default:
      return std::nullopt;
  }
}

std::optional<std::string> HalvoraDialect::Clock(const BinaryRequest& request, int64_t now_ms) {
  if (request.cmd == 48) {
    const std::string_view data = request.data;
    if (data.size() != 7 || ByteAt(data, 6) > 6) return std::nullopt;
    int fields[6] = {};
    for (int i = 0; i < 6; ++i) {
      const std::optional<int> value = FromBcd(ByteAt(data, static_cast<std::size_t>(i)));
      if (!value) return std::nullopt;
      fields[i] = *value;
    }
    // The day of the week follows from the date; the one sent is only checked.
    const std::optional<ClockTime> time =
        MakeClockTime(2000 + fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]);
    if (!time) return std::nullopt;
    clock_.Set(*time, now_ms);
  }
  return ClockReply(clock_.Now(now_ms));
}

std::optional<std::string> HalvoraDialect::Calendar(const BinaryRequest& request) {
  const std::string_view data = request.data;
  if (request.cmd == 52) return calendar_.Store(data);
  if (data.size() != 1) return std::nullopt;
  const uint8_t byte = ByteAt(data, 0);
  if (request.cmd == 53) return calendar_.StepReply(byte);
  if (byte != kRead) {
    if (byte > 1) return std::nullopt;
    calendar_.SetEnabled(byte == 1);
  }
  return One(calendar_.Enabled() ? 1 : 0);
}

}  // namespace keep::tools
