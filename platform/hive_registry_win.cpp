// On Windows the settings are the system's registry itself: there is no hive file to name, so the
// "path" of the store is the root every key lives below, and the single-instance lock (a named
// mutex) needs no folder.
#include <memory>
#include <string>

#include "platform/hive_registry.h"
#include "platform/registry.h"

namespace keep::platform {

std::unique_ptr<Registry> OpenHiveFile(const std::string& /*path*/) { return Registry::CreateSystem(); }

std::string HivePathFromEnvironment() { return std::string(kSystemRegistryRoot); }

std::string HiveFolderOf(const std::string& /*path*/) { return std::string(); }

bool SettingsInSystemRegistry() { return true; }

}  // namespace keep::platform
