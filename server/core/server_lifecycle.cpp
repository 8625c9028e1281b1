#include "server/core/server_lifecycle.h"

#include "common/fill_params.h"
#include "platform/descriptor_limit.h"
#include "platform/platform_info.h"
#include "platform/tcp_client.h"
#include "server/core/error_reporter.h"
#include "server/records/command_codes.h"
#include "server/records/error_codes.h"
#include "server/records/server_data.h"
#include "server/services/battery_estimate.h"
#include "server/services/client_access.h"
#include "server/services/client_server.h"
#include "server/services/command_step.h"
#include "server/services/event_log.h"
#include "server/services/language.h"
#include "server/services/main_cycle.h"
#include "server/services/model_database.h"
#include "server/services/nut_server.h"
#include "server/services/presence_server.h"
#include "server/services/recording.h"
#include "server/services/remote_command.h"
#include "server/services/scheduler.h"
#include "server/services/settings.h"
#include "server/services/status_evaluation.h"
#include "server/services/ups_identification.h"

namespace keep::server {
namespace {

// The start-up codes of a listener that cannot start.
int ListenResult(int socket_code) {
  switch (socket_code) {
    case platform::kSocketErrorAddressInUse:
      return kErrorClientPortInUse;
    case platform::kSocketErrorNotSupported:
      return kErrorSocketType;
    default:
      return socket_code;
  }
}

int PresenceResult(int socket_code) {
  return socket_code == platform::kSocketErrorAddressInUse ? kErrorRemotePortInUse : ListenResult(socket_code);
}

// The server's events also go to the system's log of services. A source that cannot be registered
// costs only that log: the UPS is watched all the same, and the reason is in the server's own log.
void OpenEventLog(ServerContext& context) {
  if (!context.Server.Info.EventLogReady || !context.env.open_system_log) return;
  auto event_log = std::make_unique<TNTEventLog>(context.env.registry, context.env.open_system_log);
  event_log->SetAppName(kEventLogSourceName);
  std::string error;
  if (!event_log->Register(platform::ExecutablePath(), &error)) {
    WriteLogLine(context, error);
    context.Server.Info.EventLogReady = false;
    return;
  }
  context.EventLog = std::move(event_log);
}

bool AutonomyTestRunning(const ServerContext& context) {
  const TCode& state = context.Ups.Test.AutonomyTestState;
  return state == "1" || state == "2";
}

// A calibration test must not outlive the server: the stop request goes to the UPS at once,
// addressed to the local host so nobody outside receives its answer.
void SendAutonomyTestStop(ServerContext& context) {
  context.Requests.QueueRequest(kLocalStopRequester, BuildRequestFrame(kCodeAutonomyTest, {"0"}), true);
  context.Commands->Step();
}

}  // namespace

bool StartSequence(ServerContext& context) {
  context.StartSequenceRan = true;
  TServerInfo& info = context.Server.Info;

  context.IsVistaOrLater = platform::IsVistaOrLater();
  info.ServerStarted = true;
  info.UpsConnecting = true;

  context.Format = platform::FixedFormatSettings();

  context.IsNT = platform::IsNT();
  info.EventLogReady = context.IsNT;
  info.LaunchedBy = context.IsNT && context.ServiceMode ? LaunchedByServiceHost() : LaunchedByItself();

  const int settings_result = LoadSettings(context.env.registry, context.Setup);
  if (settings_result != kErrorInvalidSetup) {
    WriteLogLine(context, LanguageText(context.Setup, "LOGS", "NewSessionStart"));
  }
  if (settings_result != kErrorOk && ReportStartError(context, settings_result)) return false;
  if (const std::optional<InvalidSetting> invalid = FindInvalidAccessSetting(context.Setup.ServerSetup)) {
    // The start-up error says only that the setup is invalid; the log says which value and why.
    WriteLogLine(context, FillParams(LanguageTextOr(context.Setup, "LOGS", "SetupValueInvalid",
                                                    "Setting $ holds \"$\", which is not a valid value"),
                                     {invalid->name, invalid->text}));
    if (ReportStartError(context, kErrorInvalidSetup)) return false;
  }

  const int model_result = LoadModelRecord(context.env.registry, context.Setup, context.Ups, context.Server);
  if (model_result != kErrorOk && ReportStartError(context, model_result)) return false;
  // The autonomy shown before the first poll comes from the charge kept across restarts.
  UpdateAutonomy(context);

  ResetServerState(context.Server);

  context.Manager = std::make_unique<UpsManager>(UpsManagerContextOf(context));
  if (const int link_result = context.Manager->CreateLink();
      link_result != kErrorOk && ReportStartError(context, link_result)) {
    return false;
  }

  // A service gets a small limit of descriptors by default; the clients' cap is taken from what is
  // available after raising it, with a reserve kept for the server's own files and programs.
  context.DescriptorLimit = platform::RaiseDescriptorLimit();
  context.Clients = std::make_unique<ClientServer>(context);
  ClientServer* clients = context.Clients.get();
  AnswerRouter router;
  router.SendToClient = [clients](const std::string& target, const std::string* parameter, int code) {
    return clients->SendToClient(target, parameter, code);
  };
  router.NotifyAllClients = [clients](int code, const std::string* parameter) {
    clients->NotifyAllClients(code, parameter);
  };
  context.Commands = std::make_unique<CommandStep>(context, context.Requests, std::move(router));
  context.Cycle = std::make_unique<MainCycle>(context);
  context.Remote = std::make_unique<RemoteCommands>(context);
  context.Presence = std::make_unique<PresenceServer>(context);
  ServerContext* evaluated = &context;
  context.Commands->SetEvaluate([evaluated] { EvaluateUpsState(*evaluated); });
  clients->on_shutdown_requested = [evaluated] { EvaluateUpsState(*evaluated); };

  context.SchedulerPrefix = LanguageText(context.Setup, "LOGS", "SchedulerName") + " ";

  context.Schedule = std::make_unique<Scheduler>(context);
  context.Schedule->ReloadSchedule();
  context.Schedule->Start();
  clients->on_schedule_stored = [evaluated] { evaluated->Schedule->ReloadSchedule(); };

  // The client listener: a port in use or a missing socket type is reported and the server goes on
  // without it.
  if (const int listen_result = ListenResult(context.Clients->Start(context.Setup.ServerSetup.SrvListenPort));
      listen_result != kErrorOk && ReportStartError(context, listen_result)) {
    return false;
  }

  // The plain-text protocol's listener is optional: one that cannot start is logged and left off.
  context.Nut = std::make_unique<NutServer>(context);
  context.Nut->Start();

  if (context.Setup.ServerSetup.RsAliveEnabled) {
    if (const int presence_result = PresenceResult(context.Presence->Start(context.Setup.ServerSetup.RsAlivePort));
        presence_result != kErrorOk && ReportStartError(context, presence_result)) {
      return false;
    }
  }

  if (const int open_result = context.Manager->ConnectLink();
      open_result != kErrorOk && ReportStartError(context, open_result)) {
    return false;
  }

  context.Cycle->Enable(true);
  context.Commands->Enable(true);

  OpenEventLog(context);

  EvaluateUpsState(context);
  IdentifyUps(context);
  return true;
}

void BeginStop(ServerContext& context, std::function<void()> finish) {
  if (context.StopSequenceRan || context.Commands == nullptr || !AutonomyTestRunning(context)) {
    finish();
    return;
  }
  context.Server.Info.ServerStopping = true;
  // Nothing but the stop request's exchange may run in the pause: a main cycle tick would evaluate
  // a stopping server and the command step would hand the UPS other requests.
  if (context.Cycle != nullptr) context.Cycle->Enable(false);
  context.Commands->Enable(false);
  SendAutonomyTestStop(context);
  context.env.loop.AddTimer(kAutonomyTestStopWaitMs, false, [&context, finish = std::move(finish)] {
    if (context.Commands != nullptr) context.Commands->Step();
    finish();
  });
}

void StopSequence(ServerContext& context) {
  if (context.StopSequenceRan) return;
  context.StopSequenceRan = true;
  const bool stop_pending = !context.Server.Info.ServerStopping;
  context.Server.Info.ServerStopping = true;
  // Stopped without the pause of BeginStop (a fatal error, the loop already ended): the stop request
  // still reaches the UPS, its answer is not waited for.
  if (stop_pending && context.Commands != nullptr && AutonomyTestRunning(context)) SendAutonomyTestStop(context);
  EvaluateUpsState(context);
  // Everything the start sequence created is released here, in reverse order of creation: the
  // clients go before the link, so nobody is answered from a closing UPS link.
  if (context.Clients != nullptr) context.Clients->Stop();
  if (context.Nut != nullptr) context.Nut->Stop();
  if (context.Presence != nullptr) context.Presence->Stop();
  if (context.Cycle != nullptr) context.Cycle->Enable(false);
  if (context.Commands != nullptr) context.Commands->Enable(false);
  if (context.Manager != nullptr) {
    context.Manager->CloseLink();
    context.Manager.reset();
  }
  // Commands to other computers still under way are awaited (each is bounded by its time-out).
  context.Remote.reset();
  context.Presence.reset();
  context.EventLog.reset();
  context.Schedule.reset();
  context.Cycle.reset();
  context.Commands.reset();
  context.Clients.reset();
  context.Nut.reset();
  context.Requests.Clear();
  context.Setup.UpsSetup.Events.clear();
}

}  // namespace keep::server
