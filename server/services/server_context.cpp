#include "server/services/server_context.h"

#include "server/services/command_step.h"
#include "server/services/event_log.h"
#include "server/services/main_cycle.h"
#include "server/services/presence_server.h"
#include "server/services/remote_command.h"
#include "server/services/scheduler.h"

namespace keep::server {

// Out of line, where the step's class is complete.
ServerContext::ServerContext(const ServerEnvironment& environment, const ServerOptions& options)
    : env(environment), Debug(options.Debug), ServiceMode(options.ServiceMode) {}

ServerContext::~ServerContext() = default;

}  // namespace keep::server
