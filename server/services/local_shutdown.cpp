#include "server/services/local_shutdown.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "common/file_names.h"
#include "common/text_lists.h"
#include "platform/process.h"
#include "server/services/host_integration.h"
#include "server/services/remote_command.h"
#include "server/services/scheduler.h"
#include "server/services/server_context.h"

namespace keep::server {
namespace {

constexpr int kRequestUpsShutdown = 2;
// Restart delay field meaning "stay off".
constexpr char kNoRestart[] = "@";

}  // namespace

int64_t ScriptWaitLimitMs(const TSetupData& setup) {
  int64_t limit = RemoteTimeoutMs(setup);
  if (setup.UpsSetup.UpsOffEnabled) {
    const int64_t half_off_delay = int64_t{setup.UpsSetup.UpsOffDelay} * 1000 / 2;
    limit = std::min(limit, std::max<int64_t>(half_off_delay, 0));
  }
  return limit;
}

void ShutdownLocal(ServerContext& context, bool from_scheduler) {
  const TUpsSetup& ups = context.Setup.UpsSetup;
  if (ups.UpsOffEnabled) {
    TStringList parameters{std::to_string(ups.UpsOffDelay)};
    if (from_scheduler && context.Schedule) {
      // A scheduled shutdown restarts at the moment its scheduler item names, or not at all.
      context.Schedule->AppendRestart(parameters);
    } else {
      parameters.push_back(ups.UpsOnEnabled ? std::to_string(ups.UpsOnDelay) : std::string(kNoRestart));
    }
    context.Requests.QueueInternalRequest(kRequestUpsShutdown, parameters);
  }
  // The other computers are told first: once the script runs this computer may go down at any
  // moment, taking the commands still under way with it. But the UPS counts down its switch-off delay
  // meanwhile, so a silent agent is waited for only a while, and commands raised after this point
  // (a countdown notice, say) not at all.
  auto run_script = [&context] { RunProgram(context, true, context.Setup.InstallPath + kShutdownScript, ""); };
  if (context.Remote) {
    context.Remote->AfterCommandsUnderWay(run_script, ScriptWaitLimitMs(context.Setup));
  } else {
    run_script();
  }
}

bool RunProgram(ServerContext& context, bool wait, const std::string& path, const std::string& parameters) {
  const bool batch = IsBatchFile(path);
  // Programs reach the person at the console this way even when the server runs as a service; such
  // a start never waits. Scripts run without a window, programs with their default one.
  if (context.IsVistaOrLater) return StartForUser(context, path, parameters, batch ? kShowHidden : kShowDefault);
  if (batch) return ShellStart(context, kShowHidden, path, parameters);
  return context.env.start_program(path, parameters, platform::StartOptions{wait, false});
}

}  // namespace keep::server
