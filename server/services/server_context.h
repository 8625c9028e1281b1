// The one object that owns the server's records and the objects the start sequence creates.
// There are no globals: a test can build several contexts in one process. Main loop only.
#pragma once

#include <memory>
#include <string>

#include "common/format_settings.h"
#include "server/records/server_data.h"
#include "server/records/setup_data.h"
#include "server/services/client_server.h"
#include "server/services/request_queue.h"
#include "server/services/server_environment.h"
#include "server/ups/ups_data.h"
#include "server/ups/ups_manager.h"

namespace keep::server {

class CommandStep;
class MainCycle;
class NutServer;
class PresenceServer;
class RemoteCommands;
class Scheduler;
class TNTEventLog;

// How the process was started (command-line switches).
struct ServerOptions {
  bool Debug = false;        // keep a traffic log of the UPS link
  bool ServiceMode = false;  // started by the service host
  bool Drill = false;        // rehearse a mains failure on the settings instead of serving
};

struct ServerContext {
  ServerContext(const ServerEnvironment& environment, const ServerOptions& options);
  ~ServerContext();
  ServerContext(const ServerContext&) = delete;
  ServerContext& operator=(const ServerContext&) = delete;

  ServerEnvironment env;
  bool Debug = false;
  bool ServiceMode = false;
  bool IsNT = false;
  bool IsVistaOrLater = false;

  TFormatSettings Format;
  TSetupData Setup;
  TUpsData Ups;
  TServerData Server;
  // The UPS link and its exchanges; created by the start sequence, freed by the stop sequence.
  std::unique_ptr<UpsManager> Manager;
  // Requests waiting for the UPS, the clients' and the server's own.
  RequestQueue Requests;
  // The TCP server for clients; declared after what it uses so it goes first.
  std::unique_ptr<ClientServer> Clients;
  // The listener of the plain-text UPS network protocol; after the manager, which tells it of replies.
  std::unique_ptr<NutServer> Nut;
  // The 100 ms step that hands queued requests to the UPS manager.
  std::unique_ptr<CommandStep> Commands;
  // The one-second main cycle (polls, countdown, samples); stopped while the UPS link is down.
  std::unique_ptr<MainCycle> Cycle;
  // Commands to the other computers' agents, the presence server (when enabled) and the writer to
  // the system's log of services.
  std::unique_ptr<RemoteCommands> Remote;
  std::unique_ptr<PresenceServer> Presence;
  std::unique_ptr<TNTEventLog> EventLog;
  // The plan of shutdowns and tests, loaded at start and whenever a client replaces it.
  std::unique_ptr<Scheduler> Schedule;

  // Language text LOGS/"SchedulerName" and a blank: the prefix of the scheduler's log lines.
  std::string SchedulerPrefix;

  // The process's limit of open descriptors as raised at start (0: unknown); the client cap keeps a
  // reserve of it for the server's own work.
  uint64_t DescriptorLimit = 0;

  // Lifecycle bookkeeping so the stop sequence runs once, whoever asks for it first.
  bool StartSequenceRan = false;
  bool StopSequenceRan = false;
};

// What the UPS manager is lent of `context`: the loop, the wall clock, the USB controller factory,
// the debug switch, the date format, the three records and the request queue's front.
UpsManagerContext UpsManagerContextOf(ServerContext& context);

}  // namespace keep::server
