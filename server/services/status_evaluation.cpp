#include "server/services/status_evaluation.h"

#include <string>

#include "server/records/server_data.h"
#include "server/services/client_server.h"
#include "server/services/command_step.h"
#include "server/services/event_dispatch.h"
#include "server/services/main_cycle.h"
#include "server/services/recording.h"
#include "server/services/server_context.h"

namespace keep::server {
namespace {

enum Event : uint8_t {
  kServerStarted = 0,
  kServerStopping = 1,
  kUpsIdentified = 2,
  kUpsNotIdentified = 3,
  kLinkLost = 4,
  kLinkRestored = 5,
  kMainsFailure = 6,
  kMainsRestored = 7,
  kLowBattery = 8,
  kCountdown = 9,
  kShutdown = 10,
  kShutdownWarning = 11,
  kOverloadBegins = 12,
  kOverloadEnds = 13,
  kBypassBegins = 14,
  kBypassEnds = 15,
  kMaintenanceBypassBegins = 16,
  kMaintenanceBypassEnds = 17,
  kOverheatBegins = 18,
  kOverheatEnds = 19,
  kFaultBegins = 20,
  kFaultEnds = 21,
};

constexpr int kRequestStopAutonomyTest = 4;
constexpr int kRequestEventList = 109;
constexpr int kNoticeLinkLost = 500;
constexpr int kNoticeLinkRestored = 501;
// Time the UPS is left alone after being asked to stop a calibration test.
constexpr int64_t kStopTestPauseMs = 1000;

bool OnBattery(const TCode& status) { return status == "1" || status == "2"; }

// One evaluation: the pending shutdown request travels through every event it raises.
class Evaluation {
 public:
  Evaluation(ServerContext& context, const EventRaiser& raise) : context_(context), raise_(raise) {}

  void Run() {
    TServerInfo& info = context_.Server.Info;
    const TCode& status = context_.Ups.Main.UpsStatus;
    if (info.ServerStarted && !info.ServerStopping) {
      ServerStarted();
    } else if (!info.ServerStarted && info.ServerStopping) {
      Raise(kServerStopping);
      context_.Server.LinkFailedSeen = context_.Server.LinkFailed;
    } else if (info.UpsConnecting && info.UpsConnectResult != 0) {
      FirstIdentification();
    } else if (!info.ServerStarted && !info.ServerStopping && !(status == "5") && !(status == "6")) {
      // An UPS that is off or testing is judged once it leaves that state, against what was seen
      // before it.
      AnomalyChange();
      StatusChange();
      Notices();
      LinkChange();
      ShutdownTriggers();
    }
    TServerData& server = context_.Server;
    if (pending_ && context_.Setup.ServerSetup.SrvDownEnabled && !server.ShutdownActive) {
      server.ShutdownActive = true;
      Raise(kShutdown);
    }
  }

 private:
  void Raise(uint8_t event, const TStringList& arguments = {}) { pending_ = raise_(event, arguments, pending_); }

  bool CalibrationTestRunning() const {
    const TCode& state = context_.Ups.Test.AutonomyTestState;
    return state == "1" || state == "2";
  }

  void ServerStarted() {
    const TServerSetup& setup = context_.Setup.ServerSetup;
    Raise(kServerStarted, {setup.UpsDevice, std::to_string(setup.SrvListenPort)});
    context_.Server.LinkFailedSeen = context_.Server.LinkFailed;
    context_.Server.Info.ServerStarted = false;
  }

  void FirstIdentification() {
    TServerInfo& info = context_.Server.Info;
    if (info.UpsConnectResult == 1) {
      Raise(kUpsIdentified, {context_.Ups.Info.ModelName});
      // A shutdown on its way makes the event list pointless.
      if (!pending_) context_.Requests.QueueInternalRequest(kRequestEventList, {});
    } else {
      Raise(kUpsNotIdentified);
    }
    info.UpsConnectResult = 0;
    info.UpsConnecting = false;
  }

  void AnomalyChange() {
    TUpsMainData& main = context_.Ups.Main;
    if (main.Anomaly == main.AnomalySeen) return;
    const char now = main.Anomaly.empty() ? '\0' : main.Anomaly.view()[0];
    switch (now) {
      case '1':
        Raise(kOverloadBegins);
        break;
      case '2':
        Raise(kOverheatBegins);
        break;
      case '3':
      case '4':
      case '5':
        Raise(kFaultBegins);
        break;
      case '0':
        if (main.AnomalySeen == "1") {
          Raise(kOverloadEnds);
        } else if (main.AnomalySeen == "2") {
          Raise(kOverheatEnds);
        } else {
          Raise(kFaultEnds);
        }
        break;
      default:
        break;
    }
    main.AnomalySeen = main.Anomaly;
  }

  void StatusChange() {
    TUpsMainData& main = context_.Ups.Main;
    TServerData& server = context_.Server;
    if (main.UpsStatus == main.UpsStatusSeen) return;
    const char now = main.UpsStatus.empty() ? '\0' : main.UpsStatus.view()[0];
    switch (now) {
      case '1':
      case '2':
        // Low battery is still battery: only leaving the mains is a mains failure, so a flapping
        // low-battery signal neither repeats the event nor restarts the count of seconds on battery.
        if (!OnBattery(main.UpsStatusSeen)) MainsFailure();
        if (now == '2') LowBattery();
        break;
      case '3':
        Raise(kBypassBegins);
        break;
      case '4':
        Raise(kMaintenanceBypassBegins);
        break;
      case '0':
        if (main.UpsStatusSeen == "3") {
          Raise(kBypassEnds);
        } else if (main.UpsStatusSeen == "4") {
          Raise(kMaintenanceBypassEnds);
        } else if (!(main.CalibrationState == "1")) {
          server.ShutdownActive = false;
          Raise(kMainsRestored);
        } else {
          // The end of a calibration test, not a return of the mains.
          main.CalibrationState = "0";
        }
        break;
      default:
        break;
    }
    main.UpsStatusSeen = main.UpsStatus;
  }

  void MainsFailure() {
    // A calibration test switches to battery on purpose: that is no mains failure.
    if (CalibrationTestRunning()) return;
    TUpsMainData& main = context_.Ups.Main;
    TServerData& server = context_.Server;
    main.AutonomyAtFailure = main.AutonomyTime;
    // Zeroed before the event, so the event's own messages count from this failure.
    server.BroadcastCounter = 0;
    server.SecondsOnBattery = 0;
    Raise(kMainsFailure);
  }

  void LowBattery() {
    if (CalibrationTestRunning()) {
      // The battery ran low during the calibration test: stop the test and let the UPS settle for a
      // second before anything else is sent to it.
      context_.Requests.QueueInternalRequest(kRequestStopAutonomyTest, {"0"});
      if (context_.Commands != nullptr) context_.Commands->Hold(kStopTestPauseMs);
    } else {
      Raise(kLowBattery);
    }
  }

  void Notices() {
    TServerData& server = context_.Server;
    const TServerSetup& setup = context_.Setup.ServerSetup;
    if (server.BroadcastNow) {
      // Once the shutdown runs there is nothing left to count down to.
      if (setup.SrvDownEnabled && !server.ShutdownActive)
        Raise(kCountdown, {MinutesText(ShutdownSecondsLeft(context_))});
      server.BroadcastNow = false;
    }
    if (setup.SrvDownEnabled && server.ShutdownWarningDue) {
      Raise(kShutdownWarning, {std::to_string(setup.SrvDownWarningTime / 60)});
      server.ShutdownWarningDue = false;
    }
    if (server.RecordNow) {
      server.RecordNow = false;
      WriteDataSample(context_);
    }
  }

  void LinkChange() {
    TServerData& server = context_.Server;
    if (server.LinkFailed == server.LinkFailedSeen || server.ShutdownActive) return;
    if (server.LinkFailed) {
      if (server.Info.UpsConnecting) {
        // The first identification failed; the next evaluation reports it.
        server.Info.UpsConnectResult = 2;
      } else {
        context_.Requests.Clear();
        server.Info.CompletionDone = false;
        // Move-assigned: copying the literal in place trips a false overlap warning of g++ 12 at -O2.
        server.Command.Requester = std::string(kInternalTarget);
        server.Command.Code = 0;
        Raise(kLinkLost);
        if (context_.Clients != nullptr) context_.Clients->NotifyAllClients(kNoticeLinkLost, nullptr);
        if (context_.Cycle != nullptr) context_.Cycle->Enable(false);
      }
    } else {
      Raise(kLinkRestored);
      if (context_.Clients != nullptr) context_.Clients->NotifyAllClients(kNoticeLinkRestored, nullptr);
      ResetServerState(server);
      context_.Requests.QueueInternalRequest(kRequestEventList, {});
      if (context_.Cycle != nullptr) context_.Cycle->Enable(true);
    }
    server.LinkFailedSeen = server.LinkFailed;
  }

  void ShutdownTriggers() {
    TServerData& server = context_.Server;
    TSetupData& setup = context_.Setup;
    const bool down_enabled = setup.ServerSetup.SrvDownEnabled;
    const TUpsMainData& main = context_.Ups.Main;
    if (down_enabled && OnBattery(main.UpsStatus) && !(main.CalibrationState == "1") && !server.ShutdownActive &&
        ShutdownSecondsLeft(context_) <= 0) {
      pending_ = true;
    }
    if (server.ScheduledShutdownDue) {
      if (down_enabled && !server.ShutdownActive) {
        server.ShutdownActive = true;
        Raise(kShutdown);
      }
      // Used by the shutdown just raised (its actions read it), taken up by the one already under way,
      // or not allowed: in no case may it raise a shutdown again at the next change of state.
      server.ScheduledShutdownDue = false;
    }
    if (server.ShutdownNowNoRestart) {
      server.ShutdownNowNoRestart = false;
      // One shutdown at a time: a client's request during one under way changes nothing.
      if (!server.ShutdownActive) {
        // The shutdown asked for by a client switches the UPS off without the timed restart.
        const bool restart = setup.UpsSetup.UpsOnEnabled;
        setup.UpsSetup.UpsOnEnabled = false;
        server.ShutdownActive = true;
        Raise(kShutdown);
        setup.UpsSetup.UpsOnEnabled = restart;
      }
    }
  }

  ServerContext& context_;
  const EventRaiser& raise_;
  bool pending_ = false;
};

}  // namespace

void EvaluateUpsState(ServerContext& context) {
  EvaluateUpsState(context, [&context](uint8_t event, const TStringList& arguments, bool pending) {
    return RaiseEvent(context, event, arguments, pending);
  });
}

void EvaluateUpsState(ServerContext& context, const EventRaiser& raise) { Evaluation(context, raise).Run(); }

}  // namespace keep::server
