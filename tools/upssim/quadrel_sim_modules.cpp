#include "tools/upssim/quadrel_sim_modules.h"

#include <algorithm>
#include <initializer_list>

#include "tools/upssim/quadrel_sim_format.h"
#include "tools/upssim/quadrel_sim_logs.h"

namespace keep::tools {
namespace {

constexpr size_t kModuleSerialBytes = 13;
constexpr double kModuleEfficiency = 0.95;
constexpr double kInputPowerFactor = 0.98;
constexpr double kCrestFactor = 1.4;
constexpr double kBusVolts = 400;
constexpr double kChargerAmps = 5;

// Work mode flags (A) and unit flags (B) of the module main block.
constexpr unsigned kModeOnline = 1u << 0;
constexpr unsigned kModeBypass = 1u << 1;
constexpr unsigned kModeCharging = 1u << 2;
constexpr unsigned kFlagOverload = 1u << 0;
constexpr unsigned kFlagCharger = 1u << 2;
constexpr unsigned kFlagBooster = 1u << 4;
constexpr unsigned kFlagInverter = 1u << 5;

bool IsModuleBlock(uint8_t cmd) {
  return cmd == kQuadrelModuleInfo || (cmd >= kQuadrelModuleMain && cmd <= kQuadrelModuleHistory);
}

void Words(std::string& out, std::initializer_list<double> values) {
  for (const double value : values) AppendQuadrelWord(out, QuadrelWord(value));
}

void Info(std::string& out, const QuadrelUnit& unit, int module, int phase) {
  AppendQuadrelByte(out, static_cast<unsigned>(phase));
  AppendQuadrelByte(out, 0);
  AppendQuadrelWord(out, unit.module_va);
  AppendQuadrelWord(out, unit.module_w);
  Words(out, {kChargerAmps});
  for (const unsigned version : {1u, 4u, 2u, 2u, 1u}) AppendQuadrelByte(out, version);  // firmware, hardware
  std::string serial = "KEEPM" + std::to_string(100000 + module);
  serial.resize(kModuleSerialBytes, ' ');
  out += serial;
}

void Main(std::string& out, const SimState& state, bool on, int64_t now_ms) {
  const bool battery = QuadrelOnBattery(state) || state.TestInProgress(now_ms);
  const bool bypass = state.power == PowerSource::kBypass;
  unsigned mode = 0;
  if (on) mode = bypass ? kModeBypass : kModeOnline;
  if (!battery) mode |= kModeCharging;
  unsigned flags = 0;
  if (!battery) flags |= kFlagCharger;
  if (on && !bypass) flags |= kFlagInverter;
  if (on && battery) flags |= kFlagBooster;
  if (state.load_percent > 100) flags |= kFlagOverload;
  AppendQuadrelWord(out, static_cast<uint16_t>(mode));
  AppendQuadrelWord(out, static_cast<uint16_t>(flags));
}

void History(std::string& out, int module) {
  const uint32_t hours = 21650u - static_cast<uint32_t>(module) * 30u;
  for (const uint32_t value : {hours, 310u, hours - 20u}) AppendQuadrelDword(out, value);
  // Bypass and booster interventions, overheatings, overloads, bus runaways, output DC faults.
  Words(out, {14, 37, 0, 3.0 + module % 2, 0, 0});
}

}  // namespace

std::optional<std::string> QuadrelModuleBlock(const BinaryRequest& request, const QuadrelMoment& moment) {
  if (!IsModuleBlock(request.cmd) || request.data.size() < 2) return std::nullopt;
  const uint8_t module = QuadrelDataByte(request, 1);
  const QuadrelUnit& unit = moment.unit;
  const SimState& state = moment.state;
  const int phase = module < kQuadrelModuleSlots ? unit.PhaseOfModule(module) : -1;
  std::string reply = QuadrelReplyHead(request);
  AppendQuadrelByte(reply, module);
  AppendQuadrelByte(reply, phase < 0 ? kQuadrelModuleAbsent : kQuadrelModuleValid);
  if (phase < 0) return reply;

  const bool on = moment.output_on[static_cast<size_t>(phase)];
  const double share = 1.0 / std::max(unit.ModulesOnPhase(phase), 1);
  const QuadrelOutputReading out = QuadrelOutput(moment, phase);
  const bool battery = QuadrelOnBattery(state);
  const double in_w = battery ? 0 : out.w * share / kModuleEfficiency;
  const double in_volts = state.input_voltage;
  const double in_va = in_w / kInputPowerFactor;
  const double in_amps = in_volts > 0 ? in_va / in_volts : 0;
  switch (request.cmd) {
    case kQuadrelModuleInfo:
      Info(reply, unit, module, phase);
      break;
    case kQuadrelModuleMain:
      Main(reply, state, on, moment.now_ms);
      break;
    case kQuadrelModuleOutput:
      Words(reply, {out.w * share, out.va * share, out.volts, out.amps * share, out.peak_amps * share});
      break;
    case kQuadrelModuleInput:
      Words(reply, {in_w, in_va, in_volts, in_amps, in_amps * kCrestFactor, state.input_voltage});
      break;
    case kQuadrelModuleBattery: {
      Words(reply, {QuadrelBatteryVolts(unit, state)});
      const double amps = QuadrelBatteryAmps(unit, state, out.w * share, moment.now_ms);
      AppendQuadrelSignedWord(reply, QuadrelSignedWord(amps));
      break;
    }
    case kQuadrelModuleHardware:
      Words(reply, {kBusVolts, kBusVolts});
      AppendQuadrelByte(reply, QuadrelByte(state.temperature + 8));
      AppendQuadrelByte(reply, QuadrelByte(state.temperature + 5));
      AppendQuadrelByte(reply, QuadrelByte(std::min(30 + state.load_percent / 2, 100)));  // fan, percent
      break;
    default:
      History(reply, module);
      break;
  }
  return reply;
}

std::string QuadrelModuleAlarms(const BinaryRequest& request, const QuadrelUnit& unit, const SimState& state) {
  std::string pairs;
  int count = 0;
  if (state.ups_failed) {
    AppendQuadrelByte(pairs, 0);
    AppendQuadrelByte(pairs, kQuadrelAlarmInverterFault);
    ++count;
  }
  if (state.load_percent > 100) {
    for (int module = 0; module < unit.InstalledModules(); ++module) {
      AppendQuadrelByte(pairs, static_cast<unsigned>(module));
      AppendQuadrelByte(pairs, kQuadrelAlarmOverload);
      ++count;
    }
  }
  std::string reply = QuadrelReplyHead(request);
  AppendQuadrelByte(reply, static_cast<unsigned>(count));
  return reply + pairs;
}

}  // namespace keep::tools
