#include "server/core/server_lifecycle.h"

#include "platform/platform_info.h"
#include "server/core/error_codes.h"
#include "server/core/error_reporter.h"
#include "server/core/settings.h"
#include "server/services/language.h"
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

  ResetServerState(context.Server);

  context.SchedulerPrefix = LanguageText(context.Setup, "LOGS", "SchedulerName") + " ";
  return true;
}

void StopSequence(ServerContext& context) {
  if (context.StopSequenceRan) return;
  context.StopSequenceRan = true;
  context.Server.Info.ServerStopping = true;
  // Everything the start sequence created is released here, in reverse order of creation.
  context.Setup.UpsSetup.Events.clear();
}

}  // namespace keep::server
