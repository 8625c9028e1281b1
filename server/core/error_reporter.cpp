#include "server/core/error_reporter.h"

#include <string>

#include "common/fill_params.h"
#include "platform/system_error.h"
#include "server/core/server_lifecycle.h"
#include "server/records/error_codes.h"
#include "server/services/host_integration.h"
#include "server/services/language.h"
#include "server/services/recording.h"

namespace keep::server {
namespace {

std::string ErrorsText(const ServerContext& context, int code) {
  return LanguageText(context.Setup, "ERRORS", std::to_string(code));
}

}  // namespace

bool IsFatalStartError(int code) {
  switch (code) {
    case kErrorSocketType:
    case kErrorClientPortInUse:
    case kErrorRemotePortInUse:
      return false;
    default:
      return code != kErrorOk;
  }
}

std::string StartErrorMessage(const ServerContext& context, int code) {
  const TSetupData& setup = context.Setup;
  switch (code) {
    case kErrorInvalidSetup:
      return kInvalidSetupText;
    case kErrorServerObject:
    case kErrorModelDatabase:
    case kErrorSocketType:
    case kErrorLinkOrDatabase:
      return ErrorsText(context, code);
    case kErrorDeviceOpen:
      return FillParam(ErrorsText(context, code), setup.ServerSetup.UpsDevice);
    case kErrorClientPortInUse:
      return FillParam(ErrorsText(context, code), std::to_string(setup.ServerSetup.SrvListenPort));
    case kErrorRemotePortInUse:
      return FillParam(ErrorsText(context, code), std::to_string(setup.ServerSetup.RsAlivePort));
    default:
      return platform::SystemErrorText(code) + " (error code: " + std::to_string(code) + ")";
  }
}

bool ReportStartError(ServerContext& context, int code) {
  if (code == kErrorOk) return false;
  const std::string message = StartErrorMessage(context, code);
  const bool fatal = IsFatalStartError(code);
  if (fatal) {
    const std::string heading = ErrorsText(context, kErrorHeading);
    const std::string shown = heading + "\r\n" + message;
    context.env.echo_error(shown);
    ShowError(context, shown, true);
    WriteLogLine(context, heading + " - " + message);
    StopSequence(context);
  } else {
    context.env.echo_error(message);
    ShowError(context, message, true);
    WriteLogLine(context, message);
  }
  return fatal;
}

}  // namespace keep::server
