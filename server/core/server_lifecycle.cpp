#include "server/core/server_lifecycle.h"

#include "platform/platform_info.h"
#include "server/core/error_codes.h"
#include "server/core/error_reporter.h"
#include "server/core/settings.h"
#include "server/core/ups_identification.h"
#include "server/services/language.h"
#include "server/services/model_database.h"
#include "server/services/recording.h"
#include "server/services/server_data.h"

namespace keep::server {

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

  context.SchedulerPrefix = LanguageText(context.Setup, "LOGS", "SchedulerName") + " ";

  if (const int open_result = context.Manager->ConnectLink();
      open_result != kErrorOk && ReportStartError(context, open_result)) {
    return false;
  }

  IdentifyUps(context);
  return true;
}

void StopSequence(ServerContext& context) {
  if (context.StopSequenceRan) return;
  context.StopSequenceRan = true;
  context.Server.Info.ServerStopping = true;
  // Everything the start sequence created is released here, in reverse order of creation.
  if (context.Manager != nullptr) {
    context.Manager->CloseLink();
    context.Manager.reset();
  }
  context.Setup.UpsSetup.Events.clear();
}

}  // namespace keep::server
