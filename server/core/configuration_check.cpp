#include "server/core/configuration_check.h"

#include <filesystem>

#include "platform/hive_file_check.h"
#include "platform/hive_registry.h"
#include "server/records/registry_keys.h"
#include "server/services/settings.h"

namespace keep::server {

namespace {

// Where the settings are the system's registry (Windows), the key read first stands for the hive
// file: the texts name it instead of a file, and there is no variable to point elsewhere.
std::string GlobalsKeyName() {
  return std::string(platform::kSystemRegistryRoot) + "\\" + std::string(regkeys::kGlobalsKey);
}

std::string HowToNameAHive() {
  if (platform::SettingsInSystemRegistry()) {
    return "keepd reads its settings from the registry keys " + GlobalsKeyName() + " and " +
           platform::kSystemRegistryRoot + "\\" + std::string(regkeys::kServerKey) +
           "; import them with \"reg import FILE.reg\".\n";
  }
  return std::string("keepd reads its settings from the hive file named by the environment variable ") +
         platform::kHivePathVariable + " (default " + platform::kDefaultHivePath +
         "); set it to the path of a hive that holds them.\n";
}

std::string RegistryKeyProblem() {
  const std::string key = GlobalsKeyName();
  const platform::HiveFileCheck check = platform::CheckHiveFile(key);
  switch (check.state) {
    case platform::HiveFileState::kReadable:
      return {};
    case platform::HiveFileState::kFileMissing:
    case platform::HiveFileState::kFolderMissing:
      return "keepd: no configuration: the registry key " + key + " does not exist (" + check.reason + ").\n";
    case platform::HiveFileState::kUnreadable:
      return "keepd: no configuration: the registry key " + key + " cannot be read (" + check.reason + ").\n";
  }
  return {};
}

std::string HiveFileProblem(const std::string& hive_path) {
  if (platform::SettingsInSystemRegistry()) return RegistryKeyProblem();
  const platform::HiveFileCheck check = platform::CheckHiveFile(hive_path);
  switch (check.state) {
    case platform::HiveFileState::kReadable:
      return {};
    case platform::HiveFileState::kFileMissing:
      return "keepd: no configuration: the hive file " + hive_path + " does not exist (" + check.reason + ").\n";
    case platform::HiveFileState::kFolderMissing:
      return "keepd: no configuration: the folder " + platform::HiveFolderOf(hive_path) + " of the hive file " +
             hive_path + " does not exist (" + check.reason + ").\n";
    case platform::HiveFileState::kUnreadable:
      return "keepd: no configuration: the hive file " + hive_path + " cannot be read (" + check.reason + ").\n";
  }
  return {};
}

std::string InstallFolderProblem(const std::string& hive_path, const platform::Registry& registry) {
  const std::string where = platform::SettingsInSystemRegistry()
                                ? "\"" + std::string(regkeys::kInstallPath) + "\" in " + GlobalsKeyName()
                                : "\"" + std::string(regkeys::kInstallPath) + "\" in [HKEY_LOCAL_MACHINE\\" +
                                      std::string(regkeys::kGlobalsKey) + "] of the hive file " + hive_path;
  const std::string install_path = GetInstallPath(registry);
  if (install_path.empty()) return "keepd: invalid configuration: no installation folder: " + where + " is not set.\n";
  std::error_code error;
  if (!std::filesystem::is_directory(install_path, error)) {
    return "keepd: invalid configuration: the installation folder " + install_path + " named by " + where +
           " does not exist or is not a folder.\n";
  }
  return {};
}

}  // namespace

std::string ConfigurationProblem(const std::string& hive_path, const platform::Registry& registry) {
  std::string problem = HiveFileProblem(hive_path);
  if (problem.empty()) problem = InstallFolderProblem(hive_path, registry);
  return problem.empty() ? problem : problem + HowToNameAHive();
}

}  // namespace keep::server
