#include "server/core/server_lifecycle.h"

#include "platform/platform_info.h"
#include "platform/tcp_client.h"
#include "server/core/client_server.h"
#include "server/core/command_step.h"
#include "server/core/error_codes.h"
#include "server/core/error_reporter.h"
#include "server/core/settings.h"
#include "server/core/ups_identification.h"
#include "server/services/language.h"
#include "server/services/model_database.h"
#include "server/services/recording.h"
#include "server/services/server_data.h"

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
  info.LaunchedBy = context.IsNT && context.ServiceMode ? kLaunchedByServiceHost : kLaunchedByItself;

  const int settings_result = LoadSettings(context.env.registry, context.Setup);
  if (settings_result != kErrorInvalidSetup) {
    WriteLogLine(context, LanguageText(context.Setup, "LOGS", "NewSessionStart"));
  }
  if (settings_result != kErrorOk && ReportStartError(context, settings_result)) return false;

  const int model_result = LoadModelRecord(context.env.registry, context.Setup, context.Ups, context.Server);
  if (model_result != kErrorOk && ReportStartError(context, model_result)) return false;

  ResetServerState(context.Server);

  context.Manager = std::make_unique<UpsManager>(context);
  if (const int link_result = context.Manager->CreateLink();
      link_result != kErrorOk && ReportStartError(context, link_result)) {
    return false;
  }

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

  context.SchedulerPrefix = LanguageText(context.Setup, "LOGS", "SchedulerName") + " ";

  // The client listener: a port in use or a missing socket type is reported and the server goes on
  // without it.
  if (const int listen_result = ListenResult(context.Clients->Start(context.Setup.ServerSetup.SrvListenPort));
      listen_result != kErrorOk && ReportStartError(context, listen_result)) {
    return false;
  }

  if (const int open_result = context.Manager->ConnectLink();
      open_result != kErrorOk && ReportStartError(context, open_result)) {
    return false;
  }

  context.Commands->Enable(true);

  IdentifyUps(context);
  return true;
}

void StopSequence(ServerContext& context) {
  if (context.StopSequenceRan) return;
  context.StopSequenceRan = true;
  context.Server.Info.ServerStopping = true;
  // Everything the start sequence created is released here, in reverse order of creation: the
  // clients go before the link, so nobody is answered from a closing UPS link.
  if (context.Clients != nullptr) context.Clients->Stop();
  if (context.Commands != nullptr) context.Commands->Enable(false);
  if (context.Manager != nullptr) {
    context.Manager->CloseLink();
    context.Manager.reset();
  }
  context.Commands.reset();
  context.Clients.reset();
  context.Requests.Clear();
  context.Setup.UpsSetup.Events.clear();
}

}  // namespace keep::server
