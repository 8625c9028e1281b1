#include "server/services/main_cycle.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "server/services/battery_estimate.h"
#include "server/services/server_context.h"
#include "server/services/status_evaluation.h"

namespace keep::server {
namespace {

constexpr int kRequestMainData = 101;
constexpr int kRequestModularMainData = 131;
constexpr int kRequestDataSample = 1;
constexpr int kRequestEventList = 109;
// The protocol whose UPS reports its own autonomy and is read with the modular main-data request.
constexpr int32_t kProtocolModular = 4;
// Percentage points of load within which the stored calibration stays valid.
constexpr float kCalibrationLoadMargin = 10.0f;

bool OnBattery(const TUpsMainData& main) { return main.UpsStatus == "1" || main.UpsStatus == "2"; }

bool CalibrationTestRunning(const TUpsData& ups) {
  return ups.Test.AutonomyTestState == "1" || ups.Test.AutonomyTestState == "2";
}

}  // namespace

bool TickCounter(uint16_t& counter, uint16_t limit) {
  ++counter;
  if (counter < limit) return false;
  counter = 0;
  return true;
}

int32_t RoundedMinutes(int32_t seconds) {
  // Integer arithmetic, so the result never depends on the floating-point rounding mode.
  int64_t minutes = seconds / 60;
  int64_t rest = seconds % 60;
  if (rest < 0) {
    rest += 60;
    --minutes;
  }
  if (rest > 30 || (rest == 30 && (minutes & 1) != 0)) ++minutes;
  return static_cast<int32_t>(minutes);
}

std::string MinutesText(int32_t seconds) {
  const int32_t minutes = RoundedMinutes(seconds);
  return minutes < 0 ? "0" : std::to_string(minutes);
}

int32_t ShutdownSecondsLeft(const ServerContext& context) {
  const TUpsSetup& ups_setup = context.Setup.UpsSetup;
  const TServerSetup& server_setup = context.Setup.ServerSetup;
  const TUpsMainData& main = context.Ups.Main;
  const int32_t protocol = ups_setup.ProtocolSetup.ProtocolNumber;
  // The differences are taken in 64 bits: the autonomy values come from the UPS and may be extreme.
  const auto clamp = [](int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
  };
  if (ups_setup.UpsSmartAutonomy) {
    // Both formulas agree here: shut down when the UPS's own autonomy falls to the reserve.
    return clamp(int64_t{main.AutonomyTime} - server_setup.SrvDownTime);
  }
  const bool fixed =
      protocol == kProtocolModular || ((protocol == 2 || protocol == 5 || protocol == 6) && main.AutonomyFromUps != 0);
  if (fixed) return clamp(int64_t{server_setup.UpsFixedTime} - context.Server.SecondsOnBattery);
  if (main.CalibrationState == "&" || ups_setup.UpsLoadPercent == -1.0f) return main.AutonomyTime;
  // The fixed time, shortened by as much autonomy as this failure has used so far.
  const int64_t used = int64_t{main.AutonomyAtFailure} - main.AutonomyTime;
  const int64_t by_fixed_time = int64_t{server_setup.UpsFixedTime} - used;
  return clamp(by_fixed_time < main.AutonomyTime ? by_fixed_time : main.AutonomyTime);
}

MainCycle::MainCycle(ServerContext& context) : context_(context), timer_(context.env.loop) {
  timer_.SetInterval(kMainCycleIntervalMs);
  timer_.SetOnTimer([this] { OnTimer(); });
}

void MainCycle::Enable(bool enabled) {
  if (in_tick_) {
    // The tick restarts the timer at its end; remember a stop so that restart does not undo it.
    stopped_in_tick_ = !enabled;
    return;
  }
  timer_.SetEnabled(enabled);
}

bool MainCycle::Enabled() const { return in_tick_ ? !stopped_in_tick_ : timer_.Enabled(); }

void MainCycle::OnTimer() { Tick(); }

void MainCycle::Evaluate() {
  if (evaluate_) {
    evaluate_();
  } else {
    EvaluateUpsState(context_);
  }
}

void MainCycle::Tick() {
  // Ticks never overlap: the next period starts when this one has finished.
  timer_.SetEnabled(false);
  in_tick_ = true;
  stopped_in_tick_ = false;

  TServerData& server = context_.Server;
  TUpsData& ups = context_.Ups;
  TUpsMainData& main = ups.Main;
  const TSetupData& setup = context_.Setup;

  if (TickCounter(server.PollCounter, setup.ServerSetup.SrvPollingUps)) {
    const bool modular = setup.UpsSetup.ProtocolSetup.ProtocolNumber == kProtocolModular;
    context_.Requests.QueueInternalRequest(modular ? kRequestModularMainData : kRequestMainData, {});
  }

  // A running calibration test measures the autonomy by counting the seconds of discharge, so the
  // estimate and the calibration check stay out of its way until the test has stored its count:
  // the UPS is back on mains before the stop completes, and a recharge step then would wipe it.
  if (CalibrationTestRunning(ups)) {
    if (OnBattery(main)) ++main.AutonomyTime;
  } else {
    if (OnBattery(main)) {
      // Once a shutdown is under way the estimate no longer matters.
      if (!server.ShutdownActive && DischargeStep(context_) <= 0) Evaluate();
    } else {
      RechargeStep(context_);
    }
    SaveBatteryCapacity(context_);
    const float calibrated_load = setup.UpsSetup.UpsLoadPercent;
    if (calibrated_load != -1.0f && !(main.CalibrationState == "1")) {
      // The calibration holds only near the load at which it was measured.
      main.CalibrationState = std::fabs(calibrated_load - main.LoadR) > kCalibrationLoadMargin ? "@" : "0";
    }
  }

  // Low battery is still battery: the count goes on through it.
  if (OnBattery(main)) {
    ++server.SecondsOnBattery;
    if (!server.ShutdownActive && !(main.CalibrationState == "1") && RoundedMinutes(main.AutonomyTime) >= 1 &&
        TickCounter(server.BroadcastCounter, setup.ServerSetup.SrvBroadcast)) {
      server.BroadcastNow = true;
      Evaluate();
    }
  }

  if (setup.RecordingSetup.DataEnabled && TickCounter(server.DataCounter, setup.RecordingSetup.DataRate)) {
    // The sample is written when this request completes, so it holds fresh measurements.
    context_.Requests.QueueInternalRequest(kRequestDataSample, {});
  }

  if (TickCounter(server.EventListCounter, kEventListSeconds) && main.UpsStatus == "0" && main.Anomaly == "0" &&
      !(main.CalibrationState == "1")) {
    context_.Requests.QueueInternalRequest(kRequestEventList, {});
  }

  in_tick_ = false;
  if (!stopped_in_tick_) timer_.SetEnabled(true);
}

}  // namespace keep::server
