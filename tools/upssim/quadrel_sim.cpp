#include "tools/upssim/quadrel_sim.h"

#include <algorithm>
#include <array>

#include "tools/upssim/quadrel_sim_clock.h"
#include "tools/upssim/quadrel_sim_format.h"
#include "tools/upssim/quadrel_sim_logs.h"
#include "tools/upssim/quadrel_sim_modules.h"
#include "tools/upssim/quadrel_sim_parameters.h"
#include "tools/upssim/quadrel_sim_replies.h"

namespace keep::tools {
namespace {

constexpr uint16_t kParamStringCapacity = 37;
// Cell voltages of an empty and of a fully charged battery, the span a test result measures.
constexpr double kEmptyCellVolts = 1.75;
constexpr double kFullCellVolts = 2.27;

class QuadrelDialect final : public BinaryDialect {
 public:
  explicit QuadrelDialect(uint8_t configuration)
      : unit_(MakeQuadrelUnit(configuration)), log_(QuadrelSecondsFromCivil(QuadrelClock::kStart).value_or(0)) {}

  std::optional<std::string> Answer(const BinaryRequest& request, SimState& state, int64_t now_ms) override {
    log_.Observe(state, OutputOn(), clock_.Now(now_ms));
    const QuadrelMoment moment{unit_, state, output_on_, NominalHz(), now_ms};
    switch (request.cmd) {
      case kQuadrelIdentification:
        return QuadrelIdentification(request, unit_);
      case kQuadrelStatus:
        return QuadrelStatus(request, moment, forced_bypass_);
      case kQuadrelOutputPhase:
        return QuadrelOutputPhase(request, moment);
      case kQuadrelInputPhase:
        return QuadrelInputPhase(request, moment);
      case kQuadrelBattery:
        return QuadrelBatteryReply(request, moment, BatterySettings());
      case kQuadrelModuleInfo:
      case kQuadrelModuleMain:
      case kQuadrelModuleOutput:
      case kQuadrelModuleInput:
      case kQuadrelModuleBattery:
      case kQuadrelModuleHardware:
      case kQuadrelModuleHistory:
        return QuadrelModuleBlock(request, moment);
      case kQuadrelModuleAlarms:
        return QuadrelModuleAlarms(request, unit_, state);
      case kQuadrelAlarmTexts:
      case kQuadrelEventTexts:
        return QuadrelTextEntry(request);
      case kQuadrelEventLog:
        return log_.Answer(request);
      case kQuadrelEventReset:
        return log_.Reset(request);
      case kQuadrelTimer:
        return Timer(request, state);
      case kQuadrelClock:
        return clock_.Answer(request, now_ms);
      case kQuadrelWriteParameter:
      case kQuadrelReadParameter:
        return parameters_.Answer(request);
      case kQuadrelBeeper:
        return Beeper(request, state);
      case kQuadrelForcedBypass:
        return ForcedBypass(request);
      case kQuadrelOutputOnOff:
        return OutputOnOff(request, state, now_ms);
      case kQuadrelOutputStates:
        return OutputStates(request);
      case kQuadrelBatteryTest:
        return BatteryTest(request, state, now_ms);
      default:
        return std::nullopt;
    }
  }

 private:
  bool OutputOn() const {
    return std::any_of(output_on_.begin(), output_on_.begin() + unit_.output_phases, [](bool on) { return on; });
  }

  double NominalHz() const { return parameters_.Value(kQuadrelParamNominalFrequency).value_or(0) == 1 ? 60 : 50; }

  QuadrelBatterySettings BatterySettings() const {
    QuadrelBatterySettings settings;
    settings.strings = parameters_.Value(kQuadrelParamBatteryStrings).value_or(settings.strings);
    settings.string_ah = parameters_.Value(kParamStringCapacity).value_or(settings.string_ah);
    settings.reserve_minutes = parameters_.Value(kQuadrelParamReserveMinutes).value_or(settings.reserve_minutes);
    return settings;
  }

  // (timer, delay in seconds as a 32-bit number): the shutdown timer (1) marks the shutdown as
  // pending unless its delay is "none"; like the other simulated units nothing is switched off. Both
  // delays show as the state's last shutdown request, "T1=<s>,T3=<s>" with -1 for none.
  std::optional<std::string> Timer(const BinaryRequest& request, SimState& state) {
    constexpr size_t kTimerBytes = 5;
    if (request.data.size() < kTimerBytes) return std::nullopt;
    uint32_t delay = 0;
    for (size_t i = 0; i < 4; ++i) delay |= uint32_t{QuadrelDataByte(request, 1 + i)} << (8 * i);
    const uint8_t timer = QuadrelDataByte(request, 0);
    if (timer == kQuadrelShutdownTimer) {
      shutdown_delay_ = delay;
      state.shutdown_active = delay != kQuadrelNoDelay;
    } else if (timer == kQuadrelRestartTimer) {
      restart_delay_ = delay;
    }
    state.shutdown_query = "T1=" + std::to_string(static_cast<int32_t>(shutdown_delay_)) +
                           ",T3=" + std::to_string(static_cast<int32_t>(restart_delay_));
    return request.data.substr(0, kTimerBytes);
  }

  // (0, 0) switches the beeper on, (0, 1) off, anything else asks. Reply byte 3: 0 on, 1 off.
  std::optional<std::string> Beeper(const BinaryRequest& request, SimState& state) {
    if (request.data.size() < 2) return std::nullopt;
    const uint8_t wanted = QuadrelDataByte(request, 1);
    if (wanted <= 1) state.beeper_on = wanted == 0;
    std::string reply = QuadrelReplyHead(request);
    AppendQuadrelByte(reply, state.beeper_on ? 0 : 1);
    return reply;
  }

  // (0, 1) forces the load onto the bypass, (0, 0) releases it, anything else asks.
  std::optional<std::string> ForcedBypass(const BinaryRequest& request) {
    if (request.data.size() < 2) return std::nullopt;
    const uint8_t wanted = QuadrelDataByte(request, 1);
    if (wanted <= 1) forced_bypass_ = wanted == 1;
    std::string reply = QuadrelReplyHead(request);
    AppendQuadrelByte(reply, forced_bypass_ ? 1 : 0);
    return reply;
  }

  // (0, phase, state): switches one phase's output; the reply repeats phase and state, with state
  // 255 when phase or state do not exist and nothing was switched.
  std::optional<std::string> OutputOnOff(const BinaryRequest& request, const SimState& state, int64_t now_ms) {
    if (request.data.size() < 3) return std::nullopt;
    const uint8_t phase = QuadrelDataByte(request, 1);
    const uint8_t wanted = QuadrelDataByte(request, 2);
    const bool valid = phase <= 2 && wanted <= 1;
    if (valid) output_on_[phase] = wanted == 1;
    log_.Observe(state, OutputOn(), clock_.Now(now_ms));
    std::string reply = QuadrelReplyHead(request);
    AppendQuadrelByte(reply, phase);
    AppendQuadrelByte(reply, valid ? wanted : kQuadrelByteOverrange);
    return reply;
  }

  std::string OutputStates(const BinaryRequest& request) const {
    std::string reply = QuadrelReplyHead(request);
    for (const bool on : output_on_) AppendQuadrelByte(reply, on ? 1 : 0);
    return reply;
  }

  // Reply: byte 2 repeated, the test state (byte 3), the last result (byte 4: percent, 254 before
  // any test). The result is taken when the peer first sees the finished test.
  std::optional<std::string> BatteryTest(const BinaryRequest& request, SimState& state, int64_t now_ms) {
    if (request.data.size() < 2) return std::nullopt;
    uint8_t test_state = kQuadrelTestIdle;
    if (state.TestInProgress(now_ms)) {
      test_state = kQuadrelTestBusy;
    } else if (QuadrelDataByte(request, 1) == kQuadrelTestStart) {
      // A test needs the mains to fall back on and a sound unit.
      if (QuadrelOnBattery(state) || state.ups_failed) {
        test_state = kQuadrelTestImpossible;
      } else {
        state.test_ends_ms = now_ms + kShortTestMs;
        test_started_ = true;
        log_.Add(kQuadrelEventTestStarted, clock_.Now(now_ms));
        test_state = kQuadrelTestBusy;
      }
    } else if (test_started_) {
      test_started_ = false;
      const double share = (state.battery_voltage - kEmptyCellVolts) / (kFullCellVolts - kEmptyCellVolts);
      last_result_ = QuadrelByte(std::clamp(share, 0.0, 1.0) * 100);
      log_.Add(kQuadrelEventTestEnded, clock_.Now(now_ms));
    }
    std::string reply = QuadrelReplyHead(request);
    AppendQuadrelByte(reply, test_state);
    AppendQuadrelByte(reply, last_result_);
    return reply;
  }

  QuadrelUnit unit_;
  QuadrelParameters parameters_;
  QuadrelClock clock_;
  QuadrelEventLog log_;
  std::array<bool, 3> output_on_{true, true, true};
  bool forced_bypass_ = false;
  bool test_started_ = false;  // a test this dialect started has not yet been seen finished
  uint8_t last_result_ = kQuadrelByteNotAvailable;
  uint32_t shutdown_delay_ = kQuadrelNoDelay;
  uint32_t restart_delay_ = kQuadrelNoDelay;
};

}  // namespace

std::unique_ptr<BinaryDialect> CreateQuadrelDialect(uint8_t configuration) {
  return std::make_unique<QuadrelDialect>(configuration);
}

std::unique_ptr<BinaryDialect> CreateQuadrelDialect() { return CreateQuadrelDialect(kQuadrelDefaultConfiguration); }

}  // namespace keep::tools
