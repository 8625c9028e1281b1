#include "server/services/server_context.h"

#include "server/services/command_step.h"
#include "server/services/event_log.h"
#include "server/services/main_cycle.h"
#include "server/services/nut_server.h"
#include "server/services/presence_server.h"
#include "server/services/remote_command.h"
#include "server/services/scheduler.h"

namespace keep::server {

// Out of line, where the step's class is complete.
ServerContext::ServerContext(const ServerEnvironment& environment, const ServerOptions& options)
    : env(environment), Debug(options.Debug), ServiceMode(options.ServiceMode) {}

ServerContext::~ServerContext() = default;

UpsManagerContext UpsManagerContextOf(ServerContext& context) {
  return UpsManagerContext{.loop = context.env.loop,
                           .wall = context.env.wall,
                           .hid_controllers = context.env.hid_controllers,
                           .debug = context.Debug,
                           .format = context.Format,
                           .setup = context.Setup,
                           .ups = context.Ups,
                           .server = context.Server,
                           .queue_internal_request = [&context](int code, const TStringList& fields) {
                             context.Requests.QueueInternalRequest(code, fields);
                           }};
}

}  // namespace keep::server
