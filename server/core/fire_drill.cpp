#include "server/core/fire_drill.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "common/fill_params.h"
#include "platform/platform_info.h"
#include "server/core/error_reporter.h"
#include "server/records/error_codes.h"
#include "server/records/server_data.h"
#include "server/services/battery_estimate.h"
#include "server/services/client_access.h"
#include "server/services/drill_description.h"
#include "server/services/drill_environment.h"
#include "server/services/event_dispatch.h"
#include "server/services/event_log.h"
#include "server/services/host_integration.h"
#include "server/services/language.h"
#include "server/services/local_shutdown.h"
#include "server/services/main_cycle.h"
#include "server/services/model_database.h"
#include "server/services/remote_command.h"
#include "server/services/server_context.h"
#include "server/services/settings.h"
#include "server/services/status_evaluation.h"

namespace keep::server {
namespace {

constexpr uint8_t kEventMainsFailure = 6;
constexpr uint8_t kEventLowBattery = 8;
constexpr uint8_t kEventCountdown = 9;
constexpr uint8_t kEventShutdown = 10;
constexpr int kRequestMainData = 101;
constexpr int kRequestModularMainData = 131;
constexpr int32_t kProtocolModular = 4;
constexpr int32_t kLastKnownProtocol = 8;
// A countdown that has not ended after a day will not end by itself.
constexpr int32_t kRoadLimitSeconds = 86400;
constexpr char kShutdownAction[] = "$SHUTDOWN";

std::string RoadTime(int32_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "+%d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

std::string EventName(uint8_t event) {
  switch (event) {
    case kEventMainsFailure:
      return "mains failure";
    case 7:
      return "mains restored";
    case kEventLowBattery:
      return "low battery";
    case kEventCountdown:
      return "countdown notice";
    case kEventShutdown:
      return "shutdown of this computer";
    default:
      return "event";
  }
}

// The script is run by the system's shell, so it must be a file that can be read; an execute bit
// is not needed.
std::optional<std::string> ScriptProblem(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return "the shutdown script " + OneLine(path) + " is missing";
  if (!std::filesystem::is_regular_file(path, error)) {
    return "the shutdown script " + OneLine(path) + " is not a regular file";
  }
  if (!std::ifstream(path).is_open()) return "the shutdown script " + OneLine(path) + " cannot be read";
  return std::nullopt;
}

// One rehearsal from a UPS on mains to the end of a road, on a context of its own.
class Road {
 public:
  Road(const platform::Registry& registry, DateTime start, std::ostream& out)
      : env_(registry, start), context_(env_.Environment(), ServerOptions{}), out_(out) {}

  // Loads the settings and the model as the start sequence does. On a setup keepd would refuse to
  // start with, writes keepd's message to `err` and returns false. `notes` gets what the road takes
  // for granted (printed once, by the caller).
  bool Prepare(std::ostream& err, std::vector<std::string>* notes) {
    TServerInfo& info = context_.Server.Info;
    context_.IsVistaOrLater = platform::IsVistaOrLater();
    context_.Format = platform::FixedFormatSettings();
    context_.IsNT = platform::IsNT();
    info.EventLogReady = context_.IsNT;
    info.LaunchedBy = LaunchedByItself();

    const int settings_result = LoadSettings(context_.env.registry, context_.Setup);
    if (settings_result != kErrorOk) {
      err << FatalText(settings_result) << '\n';
      return false;
    }
    if (const std::optional<InvalidSetting> invalid = FindInvalidAccessSetting(context_.Setup.ServerSetup)) {
      err << FatalText(kErrorInvalidSetup) << '\n'
          << FillParams(LanguageTextOr(context_.Setup, "LOGS", "SetupValueInvalid",
                                       "Setting $ holds \"$\", which is not a valid value"),
                        {invalid->name, invalid->text})
          << '\n';
      return false;
    }
    context_.SchedulerPrefix = LanguageText(context_.Setup, "LOGS", "SchedulerName") + " ";

    TSetupData& setup = context_.Setup;
    const int model_result = LoadModelRecord(context_.env.registry, setup, context_.Ups, context_.Server);
    model_known_ = model_result == kErrorOk;
    const int32_t protocol = setup.UpsSetup.ProtocolSetup.ProtocolNumber;
    if (model_known_) {
      // What the UPS would answer when it is identified.
      context_.Ups.Info.ModelName = setup.UpsSetup.UpsModelName;
      Note(notes, "UPS: \"" + OneLine(setup.UpsSetup.UpsModelName) + "\" of the model database, protocol " +
                      std::to_string(protocol));
    } else {
      const std::string& name = setup.UpsSetup.UpsModelName;
      Note(notes, (name.empty() ? std::string("UPS: no model selected (UpsModelName)")
                                : "UPS: model \"" + OneLine(name) + "\" unknown") +
                      ", the drill goes on without it (keepd itself stops at start with: " +
                      OneLine(StartErrorMessage(context_, model_result)) + ")");
      TUpsMainData& main = context_.Ups.Main;
      main.UpsStatus = main.UpsStatusSeen = main.Anomaly = main.AnomalySeen = "0";
      main.CalibrationState = "&";
      context_.Ups.Test.AutonomyTestState = "0";
      // Whatever the charge: without a model the drill cannot know the autonomy.
      setup.UpsSetup.UpsBatteryCapacity = 100.0f;
    }
    // The UPS tells its own autonomy (or the server keeps no estimate for its protocol): unknown
    // here, so the drill has it report one that runs out at the fixed time.
    feed_autonomy_ = model_known_ && (protocol == kProtocolModular || protocol > kLastKnownProtocol);
    UpdateAutonomy(context_);
    ResetServerState(context_.Server);

    if (info.EventLogReady && context_.env.open_system_log) {
      auto event_log = std::make_unique<TNTEventLog>(context_.env.registry, context_.env.open_system_log);
      event_log->SetAppName(kEventLogSourceName);
      if (event_log->Register(platform::ExecutablePath(), nullptr)) context_.EventLog = std::move(event_log);
    }
    // The requests the road queues for the UPS: a status poll is answered at once (its completion
    // runs the evaluation, as in the server), a switch-off is described.
    context_.Requests.SetOnAdded([this] { TakeRequests(); });
    cycle_ = std::make_unique<MainCycle>(context_);
    cycle_->SetEvaluate([this] { Evaluate(); });
    return true;
  }

  // What decides when the countdown ends, in words; after Prepare.
  std::string CountdownBasis() const {
    const TSetupData& setup = context_.Setup;
    const std::string fixed = "UpsFixedTime (" + std::to_string(setup.ServerSetup.UpsFixedTime) + " s)";
    if (!model_known_) return "the autonomy of an unknown UPS is not known: the drill takes " + fixed;
    if (feed_autonomy_) {
      if (setup.UpsSetup.UpsSmartAutonomy) {
        return "the UPS's own autonomy down to SrvDownTime (" + std::to_string(setup.ServerSetup.SrvDownTime) +
               " s); a drill cannot know it and takes " + fixed;
      }
      return fixed + " on battery";
    }
    std::string basis = "the server's autonomy estimate, " + std::to_string(context_.Ups.Main.AutonomyTime) +
                        " s at the stored charge of " + FormatCharge() + " %";
    const int32_t protocol = setup.UpsSetup.ProtocolSetup.ProtocolNumber;
    if (protocol == 2 || protocol == 5 || protocol == 6)
      basis += " (a UPS that reports its own autonomy decides instead)";
    return basis;
  }

  // Suppresses the output of the events raised meanwhile (their findings still count).
  void SetQuiet(bool quiet) { quiet_ = quiet; }

  // The mains fail at +0; the UPS then stays on battery, second by second, until the shutdown event
  // or a day has passed.
  void MainsFailure() {
    if (feed_autonomy_) context_.Ups.Main.AutonomyTime = FedAutonomy();
    context_.Ups.Main.UpsStatus = "1";
    Evaluate();
  }

  void CountDown() {
    while (!shutdown_raised_ && seconds_ < kRoadLimitSeconds) {
      ++seconds_;
      env_.Clock().AdvanceMs(1000);
      if (feed_autonomy_) context_.Ups.Main.AutonomyTime = FedAutonomy();
      cycle_->Tick();
      if (poll_answered_) {
        poll_answered_ = false;
        Evaluate();
      }
    }
  }

  void LowBattery() {
    shutdown_asked_ = false;
    context_.Ups.Main.UpsStatus = "2";
    Evaluate();
  }

  const TSetupData& Setup() const { return context_.Setup; }
  int32_t Seconds() const { return seconds_; }
  bool ShutdownRaised() const { return shutdown_raised_; }
  // Whether an action of an event other than 10 asked for the shutdown (since LowBattery).
  bool ShutdownAsked() const { return shutdown_asked_; }
  bool ScriptRun() const { return script_run_; }
  bool ShutdownActionOnShutdownEvent() const { return shutdown_action_on_10_; }
  const std::vector<std::string>& RemoteProblems() const { return remote_problems_; }

 private:
  // The autonomy the UPS reports after `seconds_` on battery when the drill stands in for it: it
  // runs out at UpsFixedTime (with smart autonomy the server keeps SrvDownTime in reserve).
  int32_t FedAutonomy() const {
    const TSetupData& setup = context_.Setup;
    const int64_t total = int64_t{setup.ServerSetup.UpsFixedTime} +
                          (setup.UpsSetup.UpsSmartAutonomy ? setup.ServerSetup.SrvDownTime : 0) - seconds_;
    return static_cast<int32_t>(std::clamp<int64_t>(total, 0, INT32_MAX));
  }

  static void Note(std::vector<std::string>* notes, std::string text) {
    if (notes != nullptr) notes->push_back(std::move(text));
  }

  std::string FatalText(int code) const {
    return LanguageText(context_.Setup, "ERRORS", std::to_string(kErrorHeading)) + "\r\n" +
           StartErrorMessage(context_, code);
  }

  std::string FormatCharge() const {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(context_.Setup.UpsSetup.UpsBatteryCapacity));
    return text;
  }

  void Evaluate() {
    EvaluateUpsState(context_, [this](uint8_t event, const TStringList& arguments, bool pending) {
      return Raise(event, arguments, pending);
    });
  }

  void TakeRequests() {
    while (std::optional<QueuedRequest> request = context_.Requests.TakeNext()) {
      if (request->Code == kRequestMainData || request->Code == kRequestModularMainData) {
        poll_answered_ = true;
      } else if (request->Code == 2) {
        DrillAct act;
        act.kind = DrillAct::Kind::kUpsRequest;
        act.code = request->Code;
        if (!request->Params.empty()) act.fields.assign(request->Params.begin() + 1, request->Params.end());
        env_.Record(std::move(act));
      }
      // Data samples and event lists need the UPS: a drill leaves them out.
    }
  }

  void Print(const std::string& line) {
    if (!quiet_ && !brief_) out_ << line << '\n';
  }

  bool Raise(uint8_t event, const TStringList& arguments, bool pending) {
    if (event == kEventShutdown) shutdown_raised_ = true;
    // Every countdown notice runs the same actions: the first is shown in full.
    brief_ = event == kEventCountdown && countdown_seen_;
    std::string header = RoadTime(seconds_) + "  event " + std::to_string(event) + ": " + EventName(event);
    if (!arguments.empty()) header += " (" + OneLine(JoinText(arguments, ',')) + ")";
    if (event == kEventCountdown) {
      if (countdown_seen_) header += ", actions as at " + first_countdown_;
      countdown_seen_ = true;
      if (first_countdown_.empty()) first_countdown_ = RoadTime(seconds_);
    }
    if (!quiet_) out_ << header << '\n';
    env_.TakeActs();
    bool any_action = false;
    bool pending_before = pending;
    ActionWatcher watcher;
    watcher.before = [&](const TStringList& fields) {
      any_action = true;
      Print("  " + OneLine(JoinText(fields, ',')));
    };
    watcher.after = [&](const TStringList& fields, bool pending_now) {
      After(event, fields, pending_before, pending_now);
      pending_before = pending_now;
    };
    const bool result = RaiseEvent(context_, event, arguments, pending, watcher);
    if (!any_action) Print("  (no action configured)");
    brief_ = false;
    return result;
  }

  // What the action just run did, from what the environment recorded.
  void After(uint8_t event, const TStringList& fields, bool pending_before, bool pending_now) {
    const std::string& name = fields.front();
    const std::vector<DrillAct> acts = env_.TakeActs();
    bool script = false;
    for (const DrillAct& act : acts) {
      if (act.kind == DrillAct::Kind::kProgram && act.program == context_.Setup.InstallPath + ShutdownScript()) {
        script = true;
        script_run_ = true;
      }
      if (act.kind == DrillAct::Kind::kRemoteCommand) {
        if (const std::optional<std::string> problem = RemoteTargetProblem(context_.Setup, act.host, act.port)) {
          const std::string reason =
              "event " + std::to_string(event) + ", " + OneLine(JoinText(fields, ',')) + ": " + OneLine(*problem);
          if (std::find(remote_problems_.begin(), remote_problems_.end(), reason) == remote_problems_.end()) {
            remote_problems_.push_back(reason);
          }
        }
      }
      for (const std::string& line : DescribeAct(act, context_.Setup)) Print("    " + line);
    }
    if (name == kShutdownAction) {
      ShutdownAfter(event, script, pending_before, pending_now);
    } else if (acts.empty()) {
      Print("    " + NothingDone(fields));
    }
  }

  void ShutdownAfter(uint8_t event, bool script, bool pending_before, bool pending_now) {
    const TSetupData& setup = context_.Setup;
    if (!setup.ServerSetup.SrvDownEnabled) {
      Print("    nothing: SrvDownEnabled is off");
      return;
    }
    if (event != kEventShutdown) {
      if (pending_now) shutdown_asked_ = true;
      if (pending_now && !pending_before) Print("    asks for event 10 (shutdown of this computer)");
      if (pending_now && pending_before) Print("    asks for event 10, already asked for");
      return;
    }
    shutdown_action_on_10_ = true;
    if (!setup.UpsSetup.UpsOffEnabled) Print("    the UPS is not switched off (UpsOffEnabled is off)");
    if (!script) {
      const std::string path = setup.InstallPath + ShutdownScript();
      Print("    NO shutdown script run: " + ScriptProblem(path).value_or(OneLine(path) + " was not started"));
    }
  }

  // Why an action that recorded nothing did nothing.
  std::string NothingDone(const TStringList& fields) const {
    const std::string& name = fields.front();
    const std::string first = fields.size() > 1 ? fields[1] : std::string();
    if (name == "$LOG") return "nothing: LogEnabled is off";
    if (name == "$EMAIL" && first.empty()) return "nothing: no recipient";
    if (name == "$L_SHELL" && first.empty()) return "nothing: no program";
    if (name == "$L_SHELL") return "nothing: " + OneLine(first) + " is not a program file";
    if (name == "$POPUP") return "nothing: the note-box program is missing from bin/";
    if (name == "$EMAIL") return "nothing: " + OneLine(context_.Setup.InstallPath + MailOutProgram()) + " is missing";
    if (name == "$MSLOG") return "nothing: the severity must be 0, 1 or 2 (or there is no system log)";
    return "nothing: not an action keepd knows, skipped";
  }

  DrillEnvironment env_;
  ServerContext context_;
  std::ostream& out_;
  std::unique_ptr<MainCycle> cycle_;
  bool model_known_ = false;
  bool feed_autonomy_ = false;
  bool quiet_ = false;
  bool brief_ = false;
  int32_t seconds_ = 0;
  bool poll_answered_ = false;
  bool shutdown_raised_ = false;
  bool shutdown_asked_ = false;
  bool script_run_ = false;
  bool shutdown_action_on_10_ = false;
  bool countdown_seen_ = false;
  std::string first_countdown_;
  std::vector<std::string> remote_problems_;
};

}  // namespace

int RunFireDrill(const platform::Registry& registry, DateTime start, std::ostream& out, std::ostream& err) {
  Road road(registry, start, out);
  std::vector<std::string> notes;
  if (!road.Prepare(err, &notes)) return 1;
  const TSetupData& setup = road.Setup();

  out << "Fire drill: a mains failure on this configuration. Nothing is switched off, started, sent or written.\n";
  for (const std::string& note : notes) out << note << '\n';
  const bool down_enabled = setup.ServerSetup.SrvDownEnabled;
  if (down_enabled) out << "The countdown ends by " << road.CountdownBasis() << ".\n";

  out << "\nThe road:\n";
  road.MainsFailure();
  if (down_enabled) road.CountDown();
  if (!down_enabled) out << "  no countdown: SrvDownEnabled is off\n";
  if (down_enabled && !road.ShutdownRaised()) out << RoadTime(road.Seconds()) << "  the countdown has not ended\n";

  // The same failure with the battery running low at once.
  out << "\nIf the battery runs low first:\n";
  Road low(registry, start, out);
  if (low.Prepare(err, nullptr)) {
    low.SetQuiet(true);
    low.MainsFailure();
    low.SetQuiet(false);
    low.LowBattery();
    if (low.ShutdownAsked()) {
      out << "  event 8 asks for the shutdown: event 10 follows at once\n";
    } else if (low.ShutdownRaised()) {
      out << "  event 8 does not ask for the shutdown; event 10 follows as the countdown has ended\n";
    } else if (down_enabled) {
      out << "  event 8 does not ask for the shutdown: the countdown goes on\n";
    } else {
      out << "  no shutdown: SrvDownEnabled is off\n";
    }
  }

  std::vector<std::string> reasons;
  if (!down_enabled) {
    reasons.push_back("SrvDownEnabled is off: this computer is never shut down on battery");
  } else if (!road.ShutdownActionOnShutdownEvent()) {
    reasons.push_back(road.ShutdownRaised()
                          ? "event 10 (shutdown of this computer) has no $SHUTDOWN action: nothing shuts it down"
                          : "the countdown did not end within a day: event 10 never comes");
  }
  if (const std::optional<std::string> problem = ScriptProblem(setup.InstallPath + ShutdownScript())) {
    reasons.push_back(*problem);
  }
  std::vector<std::string> remote = road.RemoteProblems();
  for (const std::string& problem : low.RemoteProblems()) {
    if (std::find(remote.begin(), remote.end(), problem) == remote.end()) remote.push_back(problem);
  }
  for (const std::string& problem : remote) reasons.push_back("remote action not sent: " + problem);

  if (reasons.empty()) {
    out << "\nResult: this computer would be shut down " << RoadTime(road.Seconds()) << " after the mains fail.\n";
    return 0;
  }
  out << "\nResult: the road does NOT end as it should (reasons on standard error).\n";
  for (const std::string& reason : reasons) err << "keepd /DRILL: " << reason << '\n';
  return 1;
}

}  // namespace keep::server
