// A complete installation of the server in a temporary folder, with a hive file of its own, as
// the integration tests start it: <temp>/install/ (the dist/ tree, the built model database
// bin/upsdb.ups, data/, srvtemp/) and <temp>/registry.reg.
#pragma once

#include <map>
#include <string>

#include "tests/support/temp_dir.h"

namespace keep::test {

// A Megatec model (protocol 1) of dist/bin/upsdb.txt.
inline constexpr char kMegatecTestModel[] = "Keep LineGuard 1000";

class InstallTree {
 public:
  InstallTree();

  const std::string& InstallPath() const { return install_; }  // ends with "/"
  const std::string& HivePath() const { return hive_; }
  std::string Folder() const { return temp_.path().string(); }
  // The environment a server of this installation runs with.
  std::map<std::string, std::string> Environment() const { return {{"VOLTRENA_REGISTRY", hive_}}; }

  // Rewrites the hive: the Globals key (left out when `install_path` is empty) and the server key
  // with `server_values` (lines such as "\"SrvListenPort\"=dword:00001689").
  void WriteHive(const std::string& install_path, const std::string& language_file,
                 const std::string& server_values = "") const;

  // Server values selecting the Megatec model of the shipped database on serial device `device`.
  static std::string SerialUpsValues(const std::string& device);

  std::string LogText() const;  // data/ups_log.txt

 private:
  TempDir temp_;
  std::string install_;
  std::string hive_;
};

}  // namespace keep::test
