// The switches of the server's command line.
#pragma once

#include <string>
#include <vector>

#include "server/services/server_context.h"

namespace keep::server {

// "/DEBUG", "/SRV" and "/DRILL" in any letter case and any order; every other parameter is ignored.
ServerOptions ParseSwitches(const std::vector<std::string>& parameters);

}  // namespace keep::server
