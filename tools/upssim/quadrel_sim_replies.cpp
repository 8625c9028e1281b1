#include "tools/upssim/quadrel_sim_replies.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "tools/upssim/quadrel_sim_format.h"

namespace keep::tools {
namespace {

constexpr double kBlockNominalVolts = 12;
constexpr double kEfficiency = 0.95;
// Below this the unit's own consumption sets the autonomy.
constexpr double kIdleWatts = 300;

void Zeros(std::string& out, size_t count) { out.append(count, '\0'); }

std::optional<uint8_t> PhaseOf(const BinaryRequest& request) {
  if (request.data.size() < 2 || QuadrelDataByte(request, 1) > 2) return std::nullopt;
  return QuadrelDataByte(request, 1);
}

void Words(std::string& out, std::initializer_list<double> values, bool present) {
  for (const double value : values) AppendQuadrelWord(out, present ? QuadrelWord(value) : kQuadrelWordNotAvailable);
}

}  // namespace

std::string QuadrelIdentification(const BinaryRequest& request, const QuadrelUnit& unit) {
  std::string reply = QuadrelReplyHead(request);
  Zeros(reply, 2);
  AppendQuadrelByte(reply, unit.configuration);
  AppendQuadrelWord(reply, unit.module_va);
  AppendQuadrelWord(reply, unit.module_w);
  for (const uint8_t modules : unit.modules_per_line) AppendQuadrelByte(reply, modules);
  AppendQuadrelByte(reply, unit.battery_blocks);
  Zeros(reply, 4);
  AppendQuadrelByte(reply, kQuadrelFirmwareMajor);
  AppendQuadrelByte(reply, kQuadrelFirmwareMinor);
  Zeros(reply, 1);
  reply += std::string_view(kQuadrelSerialNumber);
  return reply;
}

std::string QuadrelStatus(const BinaryRequest& request, const QuadrelMoment& moment, bool forced_bypass) {
  const SimState& state = moment.state;
  const bool testing = state.TestInProgress(moment.now_ms);
  unsigned flags = 0;
  for (int phase = 0; phase < moment.unit.output_phases; ++phase) {
    if (moment.output_on[static_cast<size_t>(phase)]) flags |= kQuadrelOutputOn;
  }
  if (QuadrelOnBattery(state)) flags |= kQuadrelOnBattery;
  if (state.power == PowerSource::kLowBattery) flags |= kQuadrelBatteryLow;
  if (state.power == PowerSource::kBypass || (forced_bypass && state.power == PowerSource::kMains)) {
    flags |= kQuadrelOnBypass;
  }
  if (testing) flags |= kQuadrelTestRunning;
  if (!QuadrelOnBattery(state) && !testing) flags |= kQuadrelChargerOn;

  unsigned anomaly = 0;
  if (state.load_percent > 100) anomaly |= kQuadrelAnomalyOverload;
  if (state.ups_failed) anomaly |= kQuadrelAnomalyHardware;

  std::string reply = QuadrelReplyHead(request);
  AppendQuadrelByte(reply, flags);
  AppendQuadrelByte(reply, anomaly);
  AppendQuadrelByte(reply, QuadrelByte(state.temperature));
  return reply;
}

std::optional<std::string> QuadrelOutputPhase(const BinaryRequest& request, const QuadrelMoment& moment) {
  const std::optional<uint8_t> phase = PhaseOf(request);
  if (!phase) return std::nullopt;
  const QuadrelOutputReading out = QuadrelOutput(moment, *phase);
  std::string reply = QuadrelReplyHead(request);
  AppendQuadrelByte(reply, *phase);
  Words(reply, {out.nominal_w, out.nominal_va, out.w, out.va, out.volts, out.amps, out.peak_amps, out.hz},
        *phase < moment.unit.output_phases);
  return reply;
}

std::optional<std::string> QuadrelInputPhase(const BinaryRequest& request, const QuadrelMoment& moment) {
  const std::optional<uint8_t> phase = PhaseOf(request);
  if (!phase) return std::nullopt;
  const QuadrelInputReading in = QuadrelInput(moment.unit, moment.state, QuadrelTotalOutputW(moment));
  std::string reply = QuadrelReplyHead(request);
  AppendQuadrelByte(reply, *phase);
  Words(reply, {in.w, in.va, in.volts, in.amps, in.peak_amps, in.hz}, *phase < moment.unit.input_phases);
  return reply;
}

std::string QuadrelBatteryReply(const BinaryRequest& request, const QuadrelMoment& moment,
                                const QuadrelBatterySettings& settings) {
  const QuadrelUnit& unit = moment.unit;
  const SimState& state = moment.state;
  const double output_w = QuadrelTotalOutputW(moment);
  const double strings = std::max<uint32_t>(settings.strings, 1);
  const double block_volts = std::max(state.battery_voltage, 0.0) * kQuadrelCellsPerBlock;
  const double amps = QuadrelBatteryAmps(unit, state, output_w, moment.now_ms) / strings;
  // The energy of all strings at their nominal voltage, spent on the present load.
  const double watt_hours = strings * settings.string_ah * kBlockNominalVolts * unit.battery_blocks * kEfficiency;
  const double autonomy = std::nearbyint(watt_hours * 3600 / std::max(output_w, kIdleWatts));

  std::string reply = QuadrelReplyHead(request);
  AppendQuadrelWord(reply, QuadrelWord(block_volts * 100));
  AppendQuadrelSignedWord(reply, QuadrelSignedWord(amps));
  AppendQuadrelByte(reply, static_cast<unsigned>(QuadrelChargePercent(state)));
  AppendQuadrelDword(reply, autonomy < 4294967293.0 ? static_cast<uint32_t>(autonomy) : kQuadrelDwordOverrange);
  AppendQuadrelWord(reply, QuadrelWord(static_cast<double>(settings.reserve_minutes) * 60));
  return reply;
}

}  // namespace keep::tools
