#include "server/services/local_shutdown.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "common/file_names.h"
#include "common/text_lists.h"
#include "platform/process.h"
#include "server/services/host_integration.h"
#include "server/services/nut_server.h"
#include "server/services/remote_command.h"
#include "server/services/scheduler.h"
#include "server/services/server_context.h"

namespace keep::server {
namespace {

constexpr int kRequestUpsShutdown = 2;
// Restart delay field meaning "stay off".
constexpr char kNoRestart[] = "@";

}  // namespace

std::string ShutdownScript() { return platform::ScriptName("script/system/lcldown"); }

int64_t ScriptWaitLimitMs(const TSetupData& setup) {
  int64_t limit = RemoteTimeoutMs(setup);
  if (setup.UpsSetup.UpsOffEnabled) {
    const int64_t half_off_delay = int64_t{setup.UpsSetup.UpsOffDelay} * 1000 / 2;
    limit = std::min(limit, std::max<int64_t>(half_off_delay, 0));
  }
  return limit;
}

int64_t HostSyncLimitMs(const TSetupData& setup) {
  int64_t limit = int64_t{std::max(setup.ServerSetup.NutHostSyncSeconds, 0)} * 1000;
  if (setup.UpsSetup.UpsOffEnabled) {
    limit = std::min(limit, std::max<int64_t>(int64_t{setup.UpsSetup.UpsOffDelay} * 1000 / 2, 0));
  }
  return limit;
}

void ShutdownLocal(ServerContext& context, bool from_scheduler) {
  const TUpsSetup& ups = context.Setup.UpsSetup;
  // The secondaries watching this UPS through the network protocol learn it first, so they have the
  // whole switch-off delay to go down.
  if (context.Nut) context.Nut->BeginForcedShutdown();
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
  // The secondaries are waited for at the same time, so that they go down before this computer
  // takes their UPS server with it. The script runs once, when both waits are over.
  auto waits_left = std::make_shared<int>(2);
  auto one_wait_over = [&context, waits_left] {
    if (--*waits_left == 0) RunProgram(context, true, context.Setup.InstallPath + ShutdownScript(), "");
  };
  if (context.Remote) {
    context.Remote->AfterCommandsUnderWay(one_wait_over, ScriptWaitLimitMs(context.Setup));
  } else {
    one_wait_over();
  }
  if (context.Nut) {
    context.Nut->AfterSecondariesLeft(one_wait_over, HostSyncLimitMs(context.Setup));
  } else {
    one_wait_over();
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
