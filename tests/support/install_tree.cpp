#include "tests/support/install_tree.h"

#include <cstdlib>
#include <filesystem>

#include "tests/support/child_process.h"

namespace keep::test {

InstallTree::InstallTree() {
  namespace fs = std::filesystem;
  const fs::path install = temp_.path() / "install";
  fs::create_directories(install);
  fs::copy(fs::path(SourceFolder()) / "dist", install, fs::copy_options::recursive);
  // The build makes the model database from dist/bin/upsdb.txt; a missing one throws here, naming it.
  fs::copy_file(fs::path(BuildFolder()) / "upsdb.ups", install / "bin" / "upsdb.ups",
                fs::copy_options::overwrite_existing);
  fs::create_directories(install / "data");
  fs::create_directories(install / "srvtemp");
  install_ = install.string() + "/";
  hive_ = temp_.File("registry.reg");
  WriteHive(install_, "english.lng");
}

void InstallTree::WriteHive(const std::string& install_path, const std::string& language_file,
                            const std::string& server_values) const {
  std::string text = "REGEDIT4\n\n";
  if (!install_path.empty()) {
    text += "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Globals]\n";
    text += "\"InstallPath\"=\"" + install_path + "\"\n";
    text += "\"LanguageFile\"=\"" + language_file + "\"\n\n";
  }
  text += "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Powerkeep]\n" + server_values + "\n";
  WriteFileText(hive_, text);
}

std::string InstallTree::SerialUpsValues(const std::string& device) {
  // Port 0: the client listener takes a free port, so servers of parallel tests never collide.
  return "\"UpsModelName\"=\"" + std::string(kMegatecTestModel) + "\"\n\"UpsDevice\"=\"" + device +
         "\"\n\"SrvListenPort\"=dword:00000000\n";
}

std::string InstallTree::LogText() const { return ReadFileText(install_ + "data/ups_log.txt"); }

}  // namespace keep::test
