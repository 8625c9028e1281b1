#include "server/core/server_context.h"

#include "server/core/command_step.h"
#include "server/services/main_cycle.h"

namespace keep::server {

// Out of line, where the step's class is complete.
ServerContext::ServerContext(const ServerEnvironment& environment, const ServerOptions& options)
    : env(environment), Debug(options.Debug), ServiceMode(options.ServiceMode) {}

ServerContext::~ServerContext() = default;

}  // namespace keep::server
