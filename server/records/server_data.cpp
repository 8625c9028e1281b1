#include "server/records/server_data.h"

#include "platform/process.h"

namespace keep::server {

std::string LaunchedByServiceHost() { return platform::ProgramName("bin/svcrun"); }

std::string LaunchedByItself() { return platform::ProgramName("bin/keepd"); }

void ResetServerState(TServerData& data) {
  data.PollCounter = 0;
  data.EventListCounter = 0;
  data.BroadcastCounter = 0;
  data.DataCounter = 0;
  data.SecondsOnBattery = 0;
  data.LinkFailed = false;
  data.LinkFailedSeen = false;
  data.RecordNow = false;
  data.BroadcastNow = false;
  data.ShutdownActive = false;
  data.ShutdownNowNoRestart = false;
  data.ScheduledShutdownDue = false;
  data.Info.UpsConnectResult = 0;
  data.Info.CompletionDone = false;
  // The Halvora driver starts its exchange afresh after a reset.
  data.ProtocolReset = true;
}

}  // namespace keep::server
