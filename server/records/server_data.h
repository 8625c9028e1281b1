// The server's run-time state: flags and counters of the main cycle, the request in progress and
// the facts of this run. Owned by the server context and touched only on the main loop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/text_lists.h"

namespace keep::server {

// The values of TServerInfo::LaunchedBy: the service host's program, or the server itself, as the
// system names their files ("bin/svcrun" on POSIX, "bin\\svcrun.exe" on Windows).
std::string LaunchedByServiceHost();
std::string LaunchedByItself();

struct TServerInfo {
  bool ServerStarted = false;    // raises the "server started" event once
  uint8_t UpsConnectResult = 0;  // 0 none, 1 first identification succeeded, 2 it failed
  bool UpsConnecting = false;    // the first identification is pending
  bool ServerStopping = false;   // raises the "server stopping" event
  bool EventLogReady = false;    // the system event log writer exists
  std::string LaunchedBy;        // program that started the server, relative to the install folder
  bool CompletionDone = false;   // false while a request is with the UPS manager
};

struct TTcpCmdInfo {
  std::string Requester;  // client address, or "@" for the server's own requests
  uint16_t Code = 0;
  TStringList Params;  // the code followed by the request's fields
};

struct TServerData {
  bool ShutdownWarningDue = false;
  bool ScheduledShutdownDue = false;
  int32_t ScheduleIndex = 0;
  TServerInfo Info;
  uint16_t PollCounter = 0;
  uint16_t EventListCounter = 0;
  uint16_t BroadcastCounter = 0;
  uint16_t DataCounter = 0;
  int32_t SecondsOnBattery = 0;
  uint16_t ModelTime1 = 0;
  uint16_t ModelTime2 = 0;
  bool LinkFailed = false;
  bool LinkFailedSeen = false;
  TTcpCmdInfo Command;
  bool RecordNow = false;
  bool ProtocolReset = false;
  bool BroadcastNow = false;
  bool ShutdownActive = false;
  bool ShutdownNowNoRestart = false;
  // The battery charge estimate last written to the settings store, so an unchanged one is not
  // written again every second; empty until a write succeeds.
  std::optional<float> SavedBatteryCapacity;
};

// Clears the per-run counters and flags (at start and when the UPS link comes back).
void ResetServerState(TServerData& data);

}  // namespace keep::server
