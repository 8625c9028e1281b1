// The first check of a start, made before the instance lock is taken and before the start-up error
// reporting can work (it needs the installation to find its note-box program and language texts):
// there must be a hive to read, and it must name an installation folder that exists. Without this
// a first start with no configuration failed later with messages that named something else.
#pragma once

#include <string>

#include "platform/registry.h"

namespace keep::server {

// Empty when the configuration can be used; else the text for standard error, which says what is
// missing and how to name another hive. `registry` reads the hive at `hive_path`.
std::string ConfigurationProblem(const std::string& hive_path, const platform::Registry& registry);

}  // namespace keep::server
